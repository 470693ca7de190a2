#include "LocalPath.h"
#include "PrivateTempDir.h"
#include "RecordedRequests.h"
#include "SessionFixture.h"
#include "TestFiles.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <unistd.h>

namespace {
constexpr int runTimeout = 30000;
const QString completePath = QStringLiteral("/api/upload-complete");
const QString today = QDate::currentDate().toString(QStringLiteral("dd-MM-yyyy"));
} // namespace

// Drives the upload queue and run of the uploads against the bundled server.
class TestUploadRun : public QObject {
    Q_OBJECT

    std::unique_ptr<SessionFixture> fixture;
    Uploads* uploads = nullptr;
    SentTransfers* sent = nullptr;

    // The published run state after every change, as the panel would see it.
    QStringList states;

    int completions() { return requestsTo(fixture->server(), completePath).size(); }
    QString completedName(int index = -1) {
        const auto bodies = requestsTo(fixture->server(), completePath);
        return QJsonDocument::fromJson(bodies.value(index < 0 ? bodies.size() - 1 : index).body)
            .object()[QStringLiteral("name")]
            .toString();
    }
    QUrl file(const QString& name, const QByteArray& content) { return fixture->file(name, content); }
    void waitIdle() { QTRY_VERIFY_WITH_TIMEOUT(!uploads->isUploading(), runTimeout); }

private Q_SLOTS:
    void init() {
        fixture = std::make_unique<SessionFixture>();
        uploads = fixture->uploads;
        sent = fixture->sent;
        states.clear();
        auto snapshot = [this] {
            const QString state = QStringLiteral("%1 %2 [%3] %4")
                                      .arg(uploads->isUploading())
                                      .arg(uploads->isZipping())
                                      .arg(uploads->progressText())
                                      .arg(uploads->progress());
            if (states.isEmpty() || states.last() != state)
                states << state;
        };
        for (auto signal : {&Uploads::isUploadingChanged, &Uploads::isZippingChanged,
                            &Uploads::progressTextChanged, &Uploads::progressChanged})
            connect(uploads, signal, this, snapshot);
    }

    void cleanup() { fixture.reset(); }

    void singleFileIsSentUnchanged() {
        const QUrl dropped = file(QStringLiteral("Bericht \"final\".pdf"), QByteArray(3000, 'x'));
        QSignalSpy zipping(uploads, &Uploads::isZippingChanged);
        uploads->uploadFiles({dropped}, std::nullopt, false);
        waitIdle();

        QVERIFY(zipping.isEmpty());
        QVERIFY(QFile::exists(dropped.toLocalFile())); // a dropped file is never deleted
        QCOMPARE(completedName(), QStringLiteral("Bericht \"final\".pdf"));
        const TransferItem listed = sent->transfers().value(0);
        QCOMPARE(listed.fileName, QStringLiteral("Bericht _final_.pdf"));
        QVERIFY(listed.originalFileNames.isEmpty());
        QVERIFY(listed.downloadURL.startsWith(fixture->server().baseURL()));
        QVERIFY(uploads->justCompleted());
        QCOMPARE(uploads->justCompleted()->fileName, listed.fileName);
        QVERIFY(!uploads->error());
        QCOMPARE(states.first(), QStringLiteral("1 0 [] 0"));
        QCOMPARE(states.value(1), QStringLiteral("1 0 [Hochladen: Bericht _final_.pdf (3 KB)...] 0"));
        const QRegularExpression finalReport(
            QStringLiteral(R"(^1 0 \[100% von 3 KB – [0-9.]+ (KB|MB)/s – ca\. 0s\] 1$)"));
        QVERIFY2(!states.filter(finalReport).isEmpty(), qPrintable(states.join(QLatin1Char('\n'))));
        QCOMPARE(states.last(), QStringLiteral("0 0 [] 0"));

        // A name that is not UTF-8 (Latin-1) is sent, its invalid byte replaced in the name.
        const QByteArray latin = QFile::encodeName(fixture->dir.path()) + "/M\xfcller-Preisliste.txt";
        const int fd = ::open(latin.constData(), O_CREAT | O_WRONLY, 0600);
        QVERIFY(fd >= 0 && ::write(fd, "preis", 5) == 5 && ::close(fd) == 0);
        uploads->uploadFiles({LocalPath::url(latin)}, std::nullopt, false);
        waitIdle();
        QCOMPARE(completedName(), QStringLiteral("M\ufffdller-Preisliste.txt"));
        QCOMPARE(sent->transfers().value(0).fileName, QStringLiteral("M\ufffdller-Preisliste.txt"));
    }

    void severalItemsArePackedIntoOneArchive() {
        const QUrl report = file(QStringLiteral("in/Bericht.pdf"), "report");
        const QUrl annex = file(QStringLiteral("in/Anlage.pdf"), "annex");
        file(QStringLiteral("in/Ordner/a.txt"), "a");
        file(QStringLiteral("in/Ordner/sub/b.txt"), "b");
        file(QStringLiteral("in/Ordner/.hidden"), "h");
        const QUrl folder = QUrl::fromLocalFile(fixture->dir.filePath(QStringLiteral("in/Ordner")));
        uploads->uploadFiles({report, annex, folder}, std::nullopt, false);
        waitIdle();

        const QString expectedName = QStringLiteral("Bericht_%1.zip").arg(today);
        QCOMPARE(completedName(), expectedName);
        const TransferItem listed = sent->transfers().value(0);
        QCOMPARE(listed.fileName, expectedName);
        QCOMPARE(listed.originalFileNames,
                 (QStringList{"Bericht.pdf", "Anlage.pdf", "Ordner/a.txt", "Ordner/sub/b.txt"}));
        QVERIFY(!QFile::exists(PrivateTempDir::path() + QLatin1Char('/') + expectedName));
        QVERIFY(states.contains(QStringLiteral("1 1 [ZIP erstellen...] 0")));
        QVERIFY(!uploads->error());

        // The archive is named after the first item, cut at sixty characters (not bytes).
        const QString stem = QString(74, QLatin1Char('a')) + QStringLiteral("ä");
        uploads->uploadFiles({file(stem + QStringLiteral(".txt"), "1"), annex}, std::nullopt, false);
        waitIdle();
        QCOMPARE(completedName(), QString(60, u'a') + u'_' + today + QStringLiteral(".zip"));

        // Two runs packing a folder of the same name at once (two scripts sending "Zwilling") stage
        // apart, and each run's archive goes when it ends.
        file(QStringLiteral("Zwilling/a.bin"), randomBytes(300'000));
        const QUrl twin = QUrl::fromLocalFile(fixture->dir.filePath(QStringLiteral("Zwilling")));
        fixture->server().delayNext(QStringLiteral("/api/upload-chunk"), 1, 1500);
        UploadJob::Request request;
        request.urls = {twin};
        UploadJob first(request), second(request);
        QList<UploadJob::Result::Outcome> outcomes;
        for (UploadJob* job : {&first, &second})
            connect(job, &UploadJob::finished, this,
                    [&](const UploadJob::Result& r) { outcomes << r.outcome; });
        first.start();
        second.start();
        QTRY_COMPARE_WITH_TIMEOUT(outcomes.size(), 2, runTimeout);
        QCOMPARE(outcomes, QList<UploadJob::Result::Outcome>(2, UploadJob::Result::Outcome::Succeeded));
        QDirIterator left(PrivateTempDir::path(), {QStringLiteral("Zwilling_*")}, QDir::Files,
                          QDirIterator::Subdirectories);
        QVERIFY2(!left.hasNext(), qPrintable(left.next()));
    }

    void folderDirectlyUnderTheRootKeepsItsNames() {
        if (geteuid() != 0)
            QSKIP("needs a folder directly under /, which only root may make");
        QTemporaryDir folder(QStringLiteral("/zanvolt-test-XXXXXX"));
        QVERIFY(folder.isValid());
        writeFile(folder.filePath(QStringLiteral("readme.txt")), "r");
        writeFile(folder.filePath(QStringLiteral("tool/b.txt")), "b");
        uploads->uploadFiles({QUrl::fromLocalFile(folder.path())}, std::nullopt, false);
        waitIdle();
        const QString name = QFileInfo(folder.path()).fileName();
        QCOMPARE(sent->transfers().value(0).originalFileNames,
                 (QStringList{name + QStringLiteral("/readme.txt"), name + QStringLiteral("/tool/b.txt")}));
        QVERIFY(!uploads->error());
    }

    void dropsWhileRunningAreQueued() {
        fixture->server().delayNext(completePath, 1, 800);
        QList<QUrl> urls;
        for (const char* name : {"eins.txt", "zwei.txt", "drei.txt"})
            urls << file(QString::fromLatin1(name), name);
        QList<int> counts;
        connect(uploads, &Uploads::queueCountChanged, this, [&] { counts << uploads->queueCount(); });
        for (const QUrl& url : urls)
            uploads->uploadFiles({url}, std::nullopt, false);
        QTRY_VERIFY_WITH_TIMEOUT(completions() == 3 && !uploads->isUploading(), runTimeout);
        QCOMPARE(counts, (QList<int>{1, 2, 1, 0}));
        QStringList order;
        for (int i = 0; i < 3; ++i)
            order << completedName(i);
        QCOMPARE(order, (QStringList{"eins.txt", "zwei.txt", "drei.txt"}));
        QCOMPARE(sent->transfers().size(), 3);
        QCOMPARE(sent->transfers().first().fileName, QStringLiteral("drei.txt"));
    }

    void cancellingStartsTheNextUpload() {
        const QUrl big = file(QStringLiteral("gross.bin"), QByteArray(11 * 1024 * 1024, 'g'));
        const QUrl small = file(QStringLiteral("klein.txt"), "k");
        fixture->server().delayNext(QStringLiteral("/api/upload-chunk"), 3, 3000);
        uploads->uploadFiles({big}, std::nullopt, false);
        uploads->uploadFiles({small}, std::nullopt, false);
        QTRY_VERIFY_WITH_TIMEOUT(fixture->server().maxInFlight(QStringLiteral("/api/upload-chunk")) > 0,
                                 runTimeout);
        // The next upload starts at once and clears the message again: keep every one.
        QStringList messages;
        connect(uploads, &Uploads::errorChanged, this,
                [&] { messages << uploads->error().value_or(QString()); });
        QElapsedTimer cancelled;
        cancelled.start();
        uploads->cancelUpload();
        QTRY_VERIFY_WITH_TIMEOUT(messages.contains(QStringLiteral("Upload abgebrochen")), 5000);
        QVERIFY(cancelled.elapsed() < 2000); // aborted, not waiting for the delayed chunk answers
        QTRY_VERIFY_WITH_TIMEOUT(completions() == 1 && !uploads->isUploading(), runTimeout);
        QCOMPARE(completedName(), QStringLiteral("klein.txt"));
        // Only the second upload announced itself; the cancelled one stayed quiet.
        QCOMPARE(fixture->desktop.notifications.size(), 1);
        QCOMPARE(fixture->desktop.notifications.first().title, QStringLiteral("Upload abgeschlossen"));
        QVERIFY(!uploads->error()); // cleared when the next run started
    }

    void serverFailureIsReported() {
        fixture->server().failNext(completePath, 1, 500, "kaputt");
        uploads->uploadFiles({file(QStringLiteral("Plan.pdf"), "a")}, std::nullopt, false);
        waitIdle();
        const QString message = QStringLiteral("Server-Fehler 500: kaputt");
        QCOMPARE(uploads->error(), std::optional<QString>(message));
        QCOMPARE(fixture->desktop.notifications,
                 (QList<RecordingDesktopServices::Notification>{
                     {QStringLiteral("Upload fehlgeschlagen"), message, {}}}));
        QCOMPARE(fixture->desktop.failures, QStringList{QStringLiteral("Upload fehlgeschlagen")});
        QVERIFY(sent->transfers().isEmpty());
        QVERIFY(!uploads->justCompleted());
        QCOMPARE(states.last(), QStringLiteral("0 0 [] 0"));
    }

    void linkCopyingAndNotificationTexts() {
        const QUrl dropped = file(QStringLiteral("f.txt"), "f");
        const QString withPasswordCopied = QStringLiteral("Link + Passwort kopiert");
        struct Case {
            bool autoCopy;
            std::optional<QString> password;
            QString body;
        };
        const QList<Case> cases = {
            {true, QStringLiteral("geheim-123"), withPasswordCopied},
            {false, QStringLiteral("geheim-123"), QStringLiteral("Upload fertig — Passwort im Banner")},
            {true, std::nullopt, QStringLiteral("Link kopiert – bereit zum Teilen")},
            {false, std::nullopt, QStringLiteral("Klicken um Link zu kopieren")},
        };
        for (const Case& c : cases) {
            fixture->settings.setAutoCopyLink(c.autoCopy);
            fixture->desktop = RecordingDesktopServices();
            uploads->uploadFiles({dropped}, c.password, false);
            waitIdle();
            const auto done = uploads->justCompleted();
            QVERIFY(done);
            QCOMPARE(done->password, c.password);
            QCOMPARE(fixture->desktop.notifications.value(0).body, c.body);
            QCOMPARE(fixture->desktop.notifications.value(0).downloadURL,
                     std::optional<QString>(done->downloadURL));
            const QStringList expectedCopy =
                !c.autoCopy  ? QStringList()
                : c.password ? QStringList{QStringLiteral("Download-Link: %1\nPasswort: %2")
                                               .arg(done->downloadURL, *c.password)}
                             : QStringList{done->downloadURL};
            QCOMPARE(fixture->desktop.copiedTexts, expectedCopy);
            QCOMPARE(sent->transfers().value(0).password, c.password); // carried into the reloaded list
            QCOMPARE(sent->transfers().value(0).hasPassword, c.password.has_value());
        }
        // Passwords live in memory only, the key in the secret store only: no file the runs wrote
        // (history, settings, certificate pins, temporary folder) holds either.
        QVERIFY(QFile::exists(fixture->historyPath() + QStringLiteral("/history.json")));
        for (const QString& folder : {fixture->dir.path(), PrivateTempDir::path()}) {
            QDirIterator files(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
            while (files.hasNext()) {
                const QByteArray content = readAll(files.next());
                QVERIFY2(!content.contains("geheim-123"), qPrintable(files.filePath()));
                QVERIFY2(!content.contains(fixture->server().apiKey().toUtf8()),
                         qPrintable(files.filePath()));
            }
        }
    }

    void nothingToSendOrNoServer() {
        uploads->uploadFiles({}, std::nullopt, false);
        QVERIFY(!uploads->isUploading());
        QCOMPARE(uploads->queueCount(), 0);

        fixture->storeCredentials(fixture->server().baseURL(), QString());
        const QUrl dropped = file(QStringLiteral("f.txt"), "f");
        uploads->uploadFiles({dropped}, std::nullopt, false);
        QTRY_VERIFY(fixture->session->showSettings());
        QVERIFY(!uploads->isUploading());
        QVERIFY(!uploads->error());
        QCOMPARE(uploads->queueCount(), 0);
        QVERIFY(fixture->server().requests().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestUploadRun)
#include "tst_uploadrun.moc"
