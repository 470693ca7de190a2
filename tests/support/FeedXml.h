#pragma once

#include <QByteArray>
#include <QCryptographicHash>
#include <QList>
#include <QString>

// One release in an update feed.
struct FeedEntry {
    QString version;
    QString file;
    qint64 length = 0;
    QByteArray signature;
    bool versionOnEnclosure = false; // the older feed form
};

// What the release tooling signs for one release: its version and its file's SHA-512, together.
inline QByteArray releaseMessage(const QString& version, const QByteArray& file) {
    return "Zanvolt-Update " + version.toUtf8() + "\n" +
           QCryptographicHash::hash(file, QCryptographicHash::Sha512).toHex() + "\n";
}

// A signed update feed as the release tooling writes it; each release's notes are at notes/<version>.html.
inline QByteArray feedXml(const QList<FeedEntry>& entries) {
    QString xml = QStringLiteral("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                                 "<rss version=\"2.0\" xmlns:sparkle=\"http://www.andymatuschak.org/"
                                 "xml-namespaces/sparkle\">\n<channel><title>Zanvolt</title>\n");
    for (const FeedEntry& e : entries) {
        xml += QStringLiteral("<item><title>Version %1</title>").arg(e.version);
        if (!e.versionOnEnclosure)
            xml += QStringLiteral("<sparkle:version>%1</sparkle:version>").arg(e.version);
        xml += QStringLiteral("<sparkle:releaseNotesLink>notes/%1.html</sparkle:releaseNotesLink>")
                   .arg(e.version);
        xml += QStringLiteral("<enclosure url=\"%1\" length=\"%2\" type=\"application/octet-stream\"")
                   .arg(e.file)
                   .arg(e.length);
        if (e.versionOnEnclosure)
            xml += QStringLiteral(" sparkle:version=\"%1\"").arg(e.version);
        if (!e.signature.isEmpty())
            xml += QStringLiteral(" sparkle:edSignature=\"%1\"").arg(QString::fromLatin1(e.signature));
        xml += QStringLiteral("/></item>\n");
    }
    return (xml + QStringLiteral("</channel></rss>\n")).toUtf8();
}
