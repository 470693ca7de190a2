#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// Names the server hands out or accepts: file names, codes, tokens, passwords, size texts.
class ServerNames {
public:
    // A stored file name: valid UTF-8, 1…255 bytes, no "/", "\\" or NUL, not "." or "..".
    static std::optional<QString> fileName(const QByteArray& utf8);
    static bool isValidFileName(const QString& name);
    // Codes and tokens become folder names, so only these characters are ever accepted.
    static bool isSafeId(const QString& id);

    static QByteArray percentDecode(const QByteArray& encoded);
    static QByteArray percentEncodeSegment(const QString& segment);

    static QString newToken();
    static QString newCode();
    static QString newPassword();
    static QString newApiKey();

    static QString formatSize(qint64 bytes);
};
