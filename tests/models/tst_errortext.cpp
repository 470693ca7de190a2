#include "APIError.h"
#include "CancelledError.h"
#include "ErrorText.h"
#include "KeychainError.h"
#include "PlatformError.h"
#include "Utf8.h"
#include "ZipError.h"

#include <QTest>
#include <stdexcept>

// The one translation of a caught exception into the user's text and its kind, and the strict
// UTF-8 decoding messages go through.
class TestErrorText : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void kindsAndTexts() {
        const auto check = [](const std::exception& error, ErrorKind kind, const QString& text) {
            const ErrorText described = describeError(error);
            QCOMPARE(described.kind, kind);
            QCOMPARE(described.text, text);
        };
        check(APIError::httpError(500, QStringLiteral("kaputt")), ErrorKind::Server,
              QStringLiteral("Server-Fehler 500: kaputt"));
        check(APIError::networkError(QStringLiteral("weg")), ErrorKind::Network,
              QStringLiteral("Netzwerk-Fehler: weg"));
        check(APIError::noServerURL(), ErrorKind::Configuration,
              QStringLiteral("Server-URL nicht konfiguriert"));
        check(APIError::noAPIKey(), ErrorKind::Configuration, QStringLiteral("API-Key nicht konfiguriert"));
        check(CancelledError(), ErrorKind::Cancelled, QStringLiteral("Abgebrochen"));
        check(ZipError::noFiles(), ErrorKind::Zip, QStringLiteral("Keine Dateien zum Zippen"));
        check(KeychainError::saveFailed(-25299), ErrorKind::Keychain,
              QStringLiteral("Keychain-Fehler: -25299"));
        check(PlatformError(QStringLiteral("Datei „ä“ fehlt")), ErrorKind::Platform,
              QStringLiteral("Datei „ä“ fehlt"));
        check(std::runtime_error("kein Speicher"), ErrorKind::Unknown, QStringLiteral("kein Speicher"));
    }

    void strictUtf8() {
        QCOMPARE(decodeUtf8Strict("Gr\xc3\xbc\xc3\x9f\x65"), std::optional<QString>(QStringLiteral("Grüße")));
        QCOMPARE(decodeUtf8Strict(QByteArray()), std::optional<QString>(QString()));
        QCOMPARE(decodeUtf8Strict("abc\xc3"), std::nullopt);      // cut off inside a character
        QCOMPARE(decodeUtf8Strict("\xc0\xaf"), std::nullopt);     // overlong
        QCOMPARE(decodeUtf8Strict("\xed\xa0\x80"), std::nullopt); // a surrogate
    }
};

QTEST_GUILESS_MAIN(TestErrorText)
#include "tst_errortext.moc"
