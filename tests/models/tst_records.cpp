#include "AppError.h"
#include "IncomingUpload.h"
#include "TransferItem.h"

#include <QJsonDocument>
#include <QTest>

namespace {
QJsonObject object(const char* json) {
    return QJsonDocument::fromJson(QByteArray(json)).object();
}

template <typename Decode> QString decodeError(Decode decode) {
    try {
        decode();
    } catch (const AppError& error) {
        return error.localizedDescription();
    }
    return QStringLiteral("<decoded>");
}
} // namespace

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
        QVERIFY(first.originalFileNames.isEmpty());
        QVERIFY(!first.hasPassword);
        QVERIFY(!first.password);
        QVERIFY(!first.downloadedAt);

        TransferItem item = first;
        item.password = QStringLiteral("geheim");
        const QByteArray written = item.toJson().toJson();
        QVERIFY(!written.contains("password"));
        QVERIFY(!written.contains("downloadedAt"));
        // Members in the record's order, the UUID upper-case, empty lists kept.
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

    void transferItemRejectsWrongTypes() {
        using F = IsoDate::Fraction;
        QVERIFY(decodeError([] {
                    TransferItem::fromJson(
                        object(R"({"code":"a","downloadURL":"u", "uploadDate":"2024-05-01T12:30:45Z"})"),
                        F::Forbidden);
                }).contains(QStringLiteral("„fileName“")));
        QVERIFY(
            decodeError([] {
                TransferItem::fromJson(
                    object(
                        R"({"fileName":"f","code":"a","downloadURL":"u", "uploadDate":"2024-05-01T12:30:45Z","hasPassword":"yes"})"),
                    F::Forbidden);
            }).contains(QStringLiteral("falschen Typ")));
        QVERIFY(
            decodeError([] {
                TransferItem::fromJson(
                    object(
                        R"({"id":"nope","fileName":"f","code":"a", "downloadURL":"u","uploadDate":"2024-05-01T12:30:45Z"})"),
                    F::Forbidden);
            }).contains(QStringLiteral("„id“")));
        QCOMPARE(
            decodeError([] {
                TransferItem::fromJson(
                    object(
                        R"({"fileName":"f","code":"a","downloadURL":"u", "uploadDate":"2024-05-01T12:30:45.123Z"})"),
                    F::Forbidden);
            }),
            QStringLiteral("Ungültiges Datum: 2024-05-01T12:30:45.123Z"));
        // Null optionals are absent.
        const auto item = TransferItem::fromJson(
            object(
                R"({"fileName":"f","code":"a","downloadURL":"u", "uploadDate":"2024-05-01T12:30:45Z","downloadedAt":null,"hasPassword":null,"originalFileNames":null})"),
            F::Forbidden);
        QVERIFY(!item.downloadedAt);
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

        QVERIFY(
            decodeError([] {
                IncomingUpload::fromJson(
                    object(
                        R"({"token":"t","files":[], "uploadDate":"2024-05-01T12:30:45Z","isDownloaded":true})"),
                    F::Optional);
            }).contains(QStringLiteral("customerName")));
        QVERIFY(decodeError([] {
                    IncomingFile::fromJson(object(R"({"name":"a","size":"12","sizeFormatted":"12 B"})"));
                }).contains(QStringLiteral("„size“")));
        QVERIFY(decodeError([] {
                    IncomingFile::fromJson(object(R"({"name":"a","size":1.5,"sizeFormatted":"x"})"));
                }).contains(QStringLiteral("„size“")));
        QVERIFY(
            decodeError([] {
                IncomingUpload::fromJson(
                    object(
                        R"({"token":"t","customerName":"c","files":[], "uploadDate":"2024-05-01T12:30:45Z","isDownloaded":1})"),
                    F::Optional);
            }).contains(QStringLiteral("isDownloaded")));
    }
};

QTEST_GUILESS_MAIN(TestRecords)
#include "tst_records.moc"
