#include "platform/Settings.h"

#include <QSettings>
#include <cmath>
#include <limits>

namespace {
const QString panelWidthKey = QStringLiteral("popoverWidth");
const QString panelHeightKey = QStringLiteral("popoverHeight");
const QString autoCopyLinkKey = QStringLiteral("autoCopyLink");
} // namespace

Settings::Settings() = default;

Settings::Settings(const QString& filePath) : m_filePath(filePath) {}

// A fresh QSettings per access keeps this a plain value that any number of
// owners can hold; Qt shares the parsed file between instances in the process.
std::unique_ptr<QSettings> Settings::open() const {
    if (m_filePath)
        return std::make_unique<QSettings>(*m_filePath, QSettings::IniFormat);
    return std::make_unique<QSettings>(QStringLiteral("Zanvolt"), QStringLiteral("Zanvolt"));
}

int Settings::panelWidth() const {
    return size(panelWidthKey, minimumPanelWidth, defaultPanelWidth);
}

int Settings::panelHeight() const {
    return size(panelHeightKey, minimumPanelHeight, defaultPanelHeight);
}

void Settings::setPanelSize(int width, int height) {
    auto settings = open();
    settings->setValue(panelWidthKey, width);
    settings->setValue(panelHeightKey, height);
    settings->sync();
}

int Settings::size(const QString& key, int minimum, int fallback) const {
    bool ok = false;
    const double value = open()->value(key).toDouble(&ok);
    if (!ok || !std::isfinite(value) || value < minimum)
        return fallback;
    return static_cast<int>(std::min(std::round(value), double(std::numeric_limits<int>::max())));
}

bool Settings::autoCopyLink() const {
    return boolValue(autoCopyLinkKey).value_or(true);
}

void Settings::setAutoCopyLink(bool value) {
    write(autoCopyLinkKey, value);
}

bool Settings::contains(UpdaterKey key) const {
    return open()->contains(keyName(key));
}

std::optional<bool> Settings::updaterFlag(UpdaterKey key) const {
    return boolValue(keyName(key));
}

void Settings::setUpdaterFlag(UpdaterKey key, bool value) {
    write(keyName(key), value);
}

QString Settings::keyName(UpdaterKey key) {
    switch (key) {
    case UpdaterKey::enableAutomaticChecks:
        return QStringLiteral("SUEnableAutomaticChecks");
    case UpdaterKey::automaticallyUpdate:
        return QStringLiteral("SUAutomaticallyUpdate");
    }
    Q_UNREACHABLE();
}

// The INI file keeps no types: a Boolean written by setValue(bool) reads back
// as the text "true" or "false". Exactly those two texts count as a Boolean;
// "1", "yes" or a number do not, so a hand-edited value falls back.
std::optional<bool> Settings::boolValue(const QString& key) const {
    const QVariant value = open()->value(key);
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    if (value.typeId() != QMetaType::QString)
        return std::nullopt;
    const QString text = value.toString();
    if (text == QLatin1String("true"))
        return true;
    if (text == QLatin1String("false"))
        return false;
    return std::nullopt;
}

void Settings::write(const QString& key, const QVariant& value) {
    auto settings = open();
    // Every start sets the updater's flags: an unchanged value costs no write of the file.
    // (The file keeps text: a stored Boolean reads back as "true" or "false".)
    if (settings->contains(key) && settings->value(key).toString() == value.toString())
        return;
    settings->setValue(key, value);
    settings->sync();
}
