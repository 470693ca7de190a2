#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>
#include <optional>

// The update feed: an RSS 2.0 feed in the sparkle XML namespace
// ("http://www.andymatuschak.org/xml-namespaces/sparkle"). Per <item>:
//   <sparkle:version> (or the enclosure attribute sparkle:version) — the version, dotted numbers with
//   an optional pre-release suffix ("1.1.0-beta1");
//   <sparkle:shortVersionString> (element or enclosure attribute) — the version shown, optional;
//   <sparkle:releaseNotesLink> — the release notes page, optional;
//   <enclosure url="…" length="…" sparkle:edSignature="…"/> — the new program file itself (an AppImage
//   or executable, no archive), its size in bytes and the base64 Ed25519 signature of the version
//   together with the file (UpdaterSignature::signedMessage).
// Links are https only (plain http on the loopback interface, for local testing).
class UpdaterFeed {
public:
    struct Item {
        QString version;
        QString displayVersion; // the short version string, else the version
        QUrl releaseNotesLink;  // empty when the item has none
        QUrl downloadURL;
        qint64 length = -1;     // -1 when missing or not a number
        QByteArray edSignature; // base64 as written; empty when missing
    };

    // Items without a version or an enclosure URL are skipped; relative URLs are resolved against
    // `feedURL`. Throws UpdaterError::feedUnreadable when the text is not well-formed XML or no RSS.
    static QList<Item> parse(const QByteArray& xml, const QUrl& feedURL);

    // The item with the highest version above `currentVersion`, if any.
    static std::optional<Item> newestUpdate(const QList<Item>& items, const QString& currentVersion);

    // Compares dotted numbers ("1.10" > "1.9", "1.2" == "1.2.0"); a pre-release suffix comes before the
    // release ("1.1.0-beta1" < "1.1.0-beta10" < "1.1.0"). Negative, zero or positive.
    static int compareVersions(const QString& a, const QString& b);

    // Whether updates may be fetched from `url`: https, or http to the loopback interface.
    static bool isAllowedURL(const QUrl& url);
};
