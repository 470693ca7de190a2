#include "services/UpdaterFeed.h"

#include "models/UpdaterError.h"

#include <QStringList>
#include <QVersionNumber>
#include <QXmlStreamReader>
#include <algorithm>

namespace {
const QString sparkleNamespace = QStringLiteral("http://www.andymatuschak.org/xml-namespaces/sparkle");

bool isSparkle(const QXmlStreamReader& xml, QLatin1StringView name) {
    return xml.namespaceUri() == sparkleNamespace && xml.name() == name;
}

bool isLoopback(const QString& host) {
    if (host == QLatin1StringView("localhost") || host == QLatin1StringView("::1"))
        return true;
    const QStringList parts = host.split(QLatin1Char('.'));
    if (parts.size() != 4 || parts.front() != QLatin1StringView("127"))
        return false;
    return std::all_of(parts.begin(), parts.end(), [](const QString& part) {
        bool ok = false;
        return !part.isEmpty() && part.size() <= 3 && part.toUInt(&ok) <= 255 && ok;
    });
}

// Only web links: the download is fetched and the notes link is offered for a click, so a feed
// must not point them at local files or scripts, nor at plain http that anyone on the way can answer.
QUrl resolved(const QUrl& base, const QString& text) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return {};
    const QUrl url = base.resolved(QUrl(trimmed));
    return UpdaterFeed::isAllowedURL(url) ? url : QUrl();
}

// "beta10" after "beta9": runs of digits compare by their value, everything else character by character.
int compareSuffixes(QStringView a, QStringView b) {
    const auto digits = [](QStringView text, qsizetype from) {
        qsizetype end = from;
        while (end < text.size() && text[end].isDigit())
            ++end;
        QStringView run = text.sliced(from, end - from);
        while (run.size() > 1 && run.front() == QLatin1Char('0'))
            run = run.sliced(1);
        return std::pair{run, end};
    };
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            const auto [numberA, endA] = digits(a, i);
            const auto [numberB, endB] = digits(b, j);
            if (numberA.size() != numberB.size())
                return numberA.size() < numberB.size() ? -1 : 1;
            if (const int order = numberA.compare(numberB))
                return order < 0 ? -1 : 1;
            i = endA;
            j = endB;
        } else if (a[i] != b[j]) {
            return a[i] < b[j] ? -1 : 1;
        } else {
            ++i;
            ++j;
        }
    }
    return int(i < a.size()) - int(j < b.size());
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
    const QString textA = a.trimmed();
    const QString textB = b.trimmed();
    qsizetype suffixA = 0;
    qsizetype suffixB = 0;
    // normalized() drops trailing zeros, so that "1.2" and "1.2.0" are the same version.
    const QVersionNumber numbersA = QVersionNumber::fromString(textA, &suffixA).normalized();
    const QVersionNumber numbersB = QVersionNumber::fromString(textB, &suffixB).normalized();
    if (const int order = QVersionNumber::compare(numbersA, numbersB))
        return order;
    // A pre-release comes before its release, never equal to it: a tester of "1.1.0-beta1" is
    // offered "1.1.0", and whoever runs "1.1.0" is never offered its beta.
    const QStringView preA = QStringView(textA).sliced(suffixA);
    const QStringView preB = QStringView(textB).sliced(suffixB);
    if (preA.isEmpty() || preB.isEmpty())
        return int(preA.isEmpty()) - int(preB.isEmpty());
    return compareSuffixes(preA, preB);
}

bool UpdaterFeed::isAllowedURL(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty())
        return false;
    return scheme == QLatin1StringView("https") ||
           (scheme == QLatin1StringView("http") && isLoopback(url.host().toLower()));
}
