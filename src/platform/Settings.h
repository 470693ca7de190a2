#pragma once

#include <QString>
#include <QVariant>
#include <memory>
#include <optional>

class QSettings;

// The client's few lasting preferences, kept with QSettings under
// "Zanvolt"/"Zanvolt". Only the five keys below are ever written, and every
// read applies the value's missing-value rule, so a damaged or hand-edited
// file never yields an unusable panel size.
class Settings {
public:
    static constexpr int minimumPanelWidth = 320;
    static constexpr int minimumPanelHeight = 400;
    static constexpr int defaultPanelWidth = 380;
    static constexpr int defaultPanelHeight = 560;

    // The two flags the updater keeps; it decides their missing-value rules.
    enum class UpdaterKey { enableAutomaticChecks, automaticallyUpdate };

    // The per-user settings file of the desktop.
    Settings();
    // An INI file at the given path, for tests.
    explicit Settings(const QString& filePath);

    // Missing, not a number, or below the minimum reads as the default.
    int panelWidth() const;
    int panelHeight() const;
    void setPanelSize(int width, int height);

    // True unless the stored value is the Boolean false.
    bool autoCopyLink() const;
    void setAutoCopyLink(bool value);

    bool contains(UpdaterKey key) const;
    // Empty when the key is missing or holds no Boolean.
    std::optional<bool> updaterFlag(UpdaterKey key) const;
    void setUpdaterFlag(UpdaterKey key, bool value);

    static QString keyName(UpdaterKey key);

private:
    std::unique_ptr<QSettings> open() const;
    int size(const QString& key, int minimum, int fallback) const;
    std::optional<bool> boolValue(const QString& key) const;
    void write(const QString& key, const QVariant& value);

    std::optional<QString> m_filePath;
};
