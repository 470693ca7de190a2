#include "RecordedRequests.h"
#include "SessionFixture.h"
#include "TemporaryHome.h"
#include "TestFiles.h"
#include "services/APIServiceIncoming.h"
#include "services/PrivateTempDir.h"

#include <QCoroTask>
#include <QDir>
#include <QFile>
#include <QTest>
#include <sys/stat.h>
#include <unistd.h>

// Files the user cannot read, handed over alone or inside a folder. Run without the right to
// read every file (tests/CMakeLists.txt drops it when the tests run as root): otherwise nothing
// here would be unreadable.
class TestUnprivileged : public QObject {
    Q_OBJECT

    std::unique_ptr<SessionFixture> fixture;

    void send(const QString& relativePath) {
        fixture->uploads->uploadFiles({QUrl::fromLocalFile(fixture->dir.filePath(relativePath))},
                                      std::nullopt, false);
        QTRY_VERIFY_WITH_TIMEOUT(!fixture->uploads->isUploading(), 30000);
    }

    void setMode(const QString& relativePath, mode_t mode) {
        QCOMPARE(::chmod(QFile::encodeName(fixture->dir.filePath(relativePath)).constData(), mode), 0);
    }

private Q_SLOTS:
    void init() { fixture = std::make_unique<SessionFixture>(); }
    void cleanup() { fixture.reset(); }

    void unreadableItemsFailTheUploadInsteadOfLeavingThemOut() {
        fixture->file(QStringLiteral("Akte/offen.txt"), "offen");
        fixture->file(QStringLiteral("Akte/geheim.txt"), "geheim");
        fixture->file(QStringLiteral("Akte/Unterordner/tief.txt"), "tief");
        fixture->file(QStringLiteral("einzeln.txt"), "einzeln");
        const QStringList unreadable{QStringLiteral("Akte/Unterordner"), QStringLiteral("Akte/geheim.txt"),
                                     QStringLiteral("einzeln.txt")};
        auto restore = qScopeGuard([&] {
            for (const QString& path : unreadable)
                setMode(path, 0700);
        });
        setMode(QStringLiteral("einzeln.txt"), 0);

        // zip left out an unreadable folder's contents without a word, and an unreadable file with a
        // bare "Permission denied". Each is now a failure naming the item, and nothing goes out.
        for (const QString& path : unreadable.first(2)) {
            setMode(path, 0);
            send(QStringLiteral("Akte"));
            const QString expected =
                QStringLiteral("„%1“ kann nicht gepackt werden: ").arg(fixture->dir.filePath(path));
            QVERIFY2(fixture->uploads->error().value_or(QString()).startsWith(expected),
                     qPrintable(fixture->uploads->error().value_or(QStringLiteral("<kein Fehler>"))));
            setMode(path, 0700);
        }
        // Alone, a file is read as it is sent.
        send(QStringLiteral("einzeln.txt"));
        QCOMPARE(fixture->uploads->error().value_or(QString()),
                 QStringLiteral("„einzeln.txt“ kann nicht gelesen werden: Permission denied"));
        QVERIFY(requestLines(fixture->server(), QStringLiteral("/api/")).isEmpty());
        QVERIFY(fixture->sent->transfers().isEmpty());
        QVERIFY(QDir(PrivateTempDir::path()).entryList({QStringLiteral("*.zip")}, QDir::Files).isEmpty());
    }

    // An inbox that takes no file: the download fails saying where and why; the upload stays unmarked.
    void anInboxThatTakesNoFileFailsTheDownload() {
        TemporaryHome home;
        const QByteArray inbox = QFile::encodeName(APIService::incomingFolder());
        QVERIFY(QDir().mkpath(APIService::incomingFolder()));
        QCOMPARE(::chmod(inbox.constData(), 0555), 0);
        auto restore = qScopeGuard([&] { ::chmod(inbox.constData(), 0700); });
        fixture->server().seedIncoming(QStringLiteral("Müller GmbH"), {{QStringLiteral("Plan.dwg"), "plan"}});
        ReceivedUploads* received = fixture->received;
        QCoro::waitFor(received->refresh());
        QCoro::waitFor(received->downloadIncoming(received->uploads().value(0)));
        QCOMPARE(received->error().value_or(QString()),
                 QStringLiteral("Die Datei kann nicht in „%1“ gespeichert werden: Permission denied")
                     .arg(APIService::incomingFolder()));
        QVERIFY(!received->uploads().value(0).isDownloaded);
    }
};

QTEST_GUILESS_MAIN(TestUnprivileged)
#include "tst_unprivileged.moc"
