#include "APIError.h"
#include "CancelledError.h"
#include "ErrorText.h"
#include "IncomingUpload.h"
#include "IsoDate.h"
#include "KeychainError.h"
#include "PlatformError.h"
#include "TransferItem.h"
#include "Utf8.h"
#include "ZipError.h"

#include <QJsonDocument>
#include <QTest>
#include <stdexcept>

namespace {
QJsonObject object(const char* json) {
    return QJsonDocument::fromJson(QByteArray(json)).object();
}
} // namespace

// The records' JSON coding, the one date form they accept, the user's texts of errors and the
// strict UTF-8 decoding messages go through.
class TestRecords : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void transferItemDefaultsAndPassword() {
        const QJsonObject minimal = object(
            R"({"fileName":"a.pdf","code":"K7X2","downloadURL":"dl/K7X2", "uploadDate":"2024-05-01T12:30:45Z","password":"geheim"})");
        const auto first = TransferItem::fromJson(minimal, IsoDate::Fraction::Forbidden);
        const auto second = TransferItem::fromJson(minimal, IsoDate::Fraction::Forbidden);
        QVERIFY(!first.id.isNull());
        QVERIFY(first.id != second.id);
        QVERIFY(!first.password); // never read from a record

        TransferItem item = first;
        item.password = QStringLiteral("geheim");
        const QByteArray written = item.toJson().toJson();
        // The defaults, in the record's member order, the UUID upper-case, empty lists kept, and
        // neither the password nor an unset date.
        const QString expected =
            QStringLiteral(R"({"id":"%1","fileName":"a.pdf","code":"K7X2",)"
                           R"("downloadURL":"dl/K7X2","uploadDate":"2024-05-01T12:30:45Z",)"
                           R"("originalFileNames":[],"hasPassword":false})")
                .arg(item.id.toString(QUuid::WithoutBraces).toUpper());
        QCOMPARE(QString::fromUtf8(written), expected);

        item.downloadedAt = QDateTime(QDate(2024, 5, 2), QTime(8, 0), Qt::UTC);
        const auto reread = TransferItem::fromJson(QJsonDocument::fromJson(item.toJson().toJson()).object(),
                                                   IsoDate::Fraction::Forbidden);
        QCOMPARE(reread.downloadedAt, item.downloadedAt);
        QCOMPARE(reread.id, item.id);
        QVERIFY(!reread.password);
    }

    void isoDatesAreOnlyInternetDateTimes() {
        using F = IsoDate::Fraction;
        const auto plain = IsoDate::parse(QStringLiteral("2024-05-01T12:30:45Z"), F::Optional);
        QVERIFY(plain);
        QCOMPARE(plain->toUTC(), QDateTime(QDate(2024, 5, 1), QTime(12, 30, 45), Qt::UTC));
        const auto offset = IsoDate::parse(QStringLiteral("2024-05-01T12:30:45.500+02:00"), F::Optional);
        QVERIFY(offset);
        QCOMPARE(offset->toUTC(), QDateTime(QDate(2024, 5, 1), QTime(10, 30, 45, 500), Qt::UTC));
        QVERIFY(!IsoDate::parse(QStringLiteral("2024-05-01T12:30:45.500Z"), F::Forbidden));
        for (const char* bad : {"2024-05-01", "2024-05-01T12:30:45", "2024-05-01 12:30:45Z",
                                "2024-05-01T12:30Z", "2024-13-01T12:30:45Z", " 2024-05-01T12:30:45Z"})
            QVERIFY2(!IsoDate::parse(QString::fromLatin1(bad), F::Optional), bad);
        QCOMPARE(IsoDate::format(*offset), QStringLiteral("2024-05-01T10:30:45Z"));
    }

    void incomingUploadRules() {
        using F = IsoDate::Fraction;
        const auto upload = IncomingUpload::fromJson(
            object(
                R"({"token":"t1","code":null,"customerName":"Müller GmbH", "files":[{"name":"Plan.pdf","size":9007199254740993,"sizeFormatted":"8 PB"}], "uploadDate":"2024-05-01T12:30:45.5+02:00","isDownloaded":false,"totalSize":null})"),
            F::Optional);
        QCOMPARE(upload.customerName, QStringLiteral("Müller GmbH"));
        QVERIFY(!upload.code && !upload.auftragsnummer && !upload.nachricht && !upload.totalSize &&
                !upload.totalSizeFormatted && !upload.downloadURL);
        QCOMPARE(upload.files.size(), 1);
        QCOMPARE(upload.files[0].size, Q_INT64_C(9007199254740993)); // beyond a double's exact integers
        const QByteArray written = upload.toJson().toJson();
        QVERIFY(!written.contains("code") && !written.contains("totalSize"));
        QVERIFY(written.contains(R"("size":9007199254740993)"));
    }

    // Inputs fuzz/fuzz_isodate.cpp found: accepted although not written back readably, or taken
    // as another instant than the text writes. An invalid expected date means "refused".
    void isoDateFuzzFindings_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QDateTime>("expected");
        QTest::newRow("UTC year 10000") << QStringLiteral("9999-12-31T23:59:59-05:30") << QDateTime();
        QTest::newRow("UTC year 0") << QStringLiteral("0001-01-01T00:00:00+00:30") << QDateTime();
        QTest::newRow("last writable") << QStringLiteral("9999-12-31T23:59:59Z")
                                       << QDateTime(QDate(9999, 12, 31), QTime(23, 59, 59), Qt::UTC);
        QTest::newRow("first writable")
            << QStringLiteral("0001-01-01T00:30:00+00:30") << QDateTime(QDate(1, 1, 1), QTime(0, 0), Qt::UTC);
        QTest::newRow("hour 24") << QStringLiteral("0024-05-01T24:00:00Z") << QDateTime();
        QTest::newRow("fraction beyond ms") << QStringLiteral("1999-12-31T23:59:59.999999999-05:30")
                                            << QDateTime(QDate(2000, 1, 1), QTime(5, 29, 59, 999), Qt::UTC);
    }

    void isoDateFuzzFindings() {
        QFETCH(QString, text);
        QFETCH(QDateTime, expected);
        const auto parsed = IsoDate::parse(text, IsoDate::Fraction::Optional);
        QCOMPARE(parsed.has_value(), expected.isValid());
        if (!parsed)
            return;
        QCOMPARE(parsed->toUTC(), expected);
        const auto reread = IsoDate::parse(IsoDate::format(*parsed), IsoDate::Fraction::Forbidden);
        QVERIFY(reread);
        QCOMPARE(reread->toUTC(), expected.addMSecs(-expected.time().msec()));
    }

    // The one translation of a caught exception into the user's text and its kind.
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

QTEST_GUILESS_MAIN(TestRecords)
#include "tst_records.moc"
