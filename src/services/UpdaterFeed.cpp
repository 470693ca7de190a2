#include "UpdaterFeed.h"

#include "UpdaterError.h"

#include <QVersionNumber>
#include <QXmlStreamReader>

namespace {
const QString sparkleNamespace = QStringLiteral("http://www.andymatuschak.org/xml-namespaces/sparkle");

bool isSparkle(const QXmlStreamReader& xml, QLatin1StringView name) {
    return xml.namespaceUri() == sparkleNamespace && xml.name() == name;
}

// Only web links: the download is fetched and the notes link is offered for a click, so a feed
// must not point them at local files or scripts.
QUrl resolved(const QUrl& base, const QString& text) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return {};
    const QUrl url = base.resolved(QUrl(trimmed));
    return url.scheme() == QLatin1StringView("https") || url.scheme() == QLatin1StringView("http") ? url
                                                                                                   : QUrl();
}

// Reads one <item>; the reader stands on its start element.
std::optional<UpdaterFeed::Item> readItem(QXmlStreamReader& xml, const QUrl& feedURL) {
    UpdaterFeed::Item item;
    QString shortVersion;
    QString enclosureVersion;
    QString enclosureShortVersion;
    while (xml.readNextStartElement()) {
        if (isSparkle(xml, QLatin1StringView("version"))) {
            item.version = xml.readElementText().trimmed();
        } else if (isSparkle(xml, QLatin1StringView("shortVersionString"))) {
            shortVersion = xml.readElementText().trimmed();
        } else if (isSparkle(xml, QLatin1StringView("releaseNotesLink"))) {
            item.releaseNotesLink = resolved(feedURL, xml.readElementText());
        } else if (xml.namespaceUri().isEmpty() && xml.name() == QLatin1StringView("enclosure")) {
            const QXmlStreamAttributes attributes = xml.attributes();
            item.downloadURL = resolved(feedURL, attributes.value(QLatin1StringView("url")).toString());
            bool ok = false;
            const qint64 length = attributes.value(QLatin1StringView("length")).toLongLong(&ok);
            item.length = ok && length >= 0 ? length : -1;
            item.edSignature = attributes.value(sparkleNamespace, QLatin1StringView("edSignature"))
                                   .toString()
                                   .trimmed()
                                   .toLatin1();
            enclosureVersion = attributes.value(sparkleNamespace, QLatin1StringView("version")).toString();
            enclosureShortVersion =
                attributes.value(sparkleNamespace, QLatin1StringView("shortVersionString")).toString();
            xml.skipCurrentElement();
        } else {
            xml.skipCurrentElement();
        }
    }
    if (item.version.isEmpty())
        item.version = enclosureVersion.trimmed();
    if (shortVersion.isEmpty())
        shortVersion = enclosureShortVersion.trimmed();
    item.displayVersion = shortVersion.isEmpty() ? item.version : shortVersion;
    if (QVersionNumber::fromString(item.version).isNull() || !item.downloadURL.isValid() ||
        item.downloadURL.isEmpty())
        return std::nullopt;
    return item;
}
} // namespace

QList<UpdaterFeed::Item> UpdaterFeed::parse(const QByteArray& text, const QUrl& feedURL) {
    QXmlStreamReader xml(text);
    QList<Item> items;
    if (!xml.readNextStartElement() || xml.name() != QLatin1StringView("rss"))
        throw UpdaterError::feedUnreadable(QStringLiteral("kein RSS-Feed"));
    while (xml.readNextStartElement()) {
        if (xml.name() != QLatin1StringView("channel")) {
            xml.skipCurrentElement();
            continue;
        }
        while (xml.readNextStartElement()) {
            if (xml.name() == QLatin1StringView("item") && xml.namespaceUri().isEmpty()) {
                if (auto item = readItem(xml, feedURL))
                    items.append(*item);
            } else {
                xml.skipCurrentElement();
            }
        }
    }
    if (xml.hasError())
        throw UpdaterError::feedUnreadable(xml.errorString());
    return items;
}

std::optional<UpdaterFeed::Item> UpdaterFeed::newestUpdate(const QList<Item>& items,
                                                           const QString& currentVersion) {
    std::optional<Item> newest;
    for (const Item& item : items) {
        if (compareVersions(item.version, currentVersion) <= 0)
            continue;
        if (!newest || compareVersions(item.version, newest->version) > 0)
            newest = item;
    }
    return newest;
}

int UpdaterFeed::compareVersions(const QString& a, const QString& b) {
    // normalized() drops trailing zeros, so that "1.2" and "1.2.0" are the same version.
    return QVersionNumber::compare(QVersionNumber::fromString(a.trimmed()).normalized(),
                                   QVersionNumber::fromString(b.trimmed()).normalized());
}
