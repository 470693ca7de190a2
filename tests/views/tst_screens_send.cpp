#include "PopoverView.h"
#include "RecordingDesktopServices.h"
#include "RenameFileSheet.h"
#include "SendenTabView.h"
#include "TestServerFixture.h"
#include "TransferManager.h"
#include "TransferRowView.h"
#include "UpdaterBackend.h"
#include "UpdaterManager.h"
#include "UserDefaults.h"

#include <QDir>
#include <QScrollArea>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

namespace {
constexpr int runTimeout = 30000;
}

// Writes PNGs of the panel's send-side states to <build>/tests/screenshots for review.
class TestScreensSend : public QObject {
    Q_OBJECT

    QTemporaryDir home;
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<TestServerFixture> fixture;
    std::unique_ptr<UserDefaults> defaults;
    RecordingDesktopServices desktop;
    std::unique_ptr<TransferManager> manager;
    std::unique_ptr<UpdaterManager> updater;
    std::unique_ptr<PopoverView> panel;

    TransferServer& server() { return fixture->server(); }

    QUrl writeFile(const QString& name, const QByteArray& content) {
        QFile file(dir->filePath(name));
        if (!file.open(QIODevice::WriteOnly))
            qFatal("cannot write %s", qPrintable(name));
        file.write(content);
        return QUrl::fromLocalFile(file.fileName());
    }

    void shoot(QWidget* widget, const QString& name) {
        QTest::qWait(50); // let layouts and fades settle
        const QString folder = QCoreApplication::applicationDirPath() + QStringLiteral("/screenshots");
        QVERIFY(QDir().mkpath(folder));
        const QImage image = widget->grab().toImage();
        QVERIFY(!image.isNull());
        QVERIFY(image.save(folder + QStringLiteral("/send-") + name + QStringLiteral(".png")));
    }

private Q_SLOTS:
    void initTestCase() {
        // A download below lands in the Downloads folder of this home.
        qputenv("HOME", QFile::encodeName(home.path()));
        qunsetenv("XDG_CONFIG_HOME");
    }

    void init() {
        dir = std::make_unique<QTemporaryDir>();
        fixture = std::make_unique<TestServerFixture>();
        defaults = std::make_unique<UserDefaults>(dir->filePath(QStringLiteral("settings.ini")));
        TransferManager::Environment env;
        env.historyDirectory = dir->filePath(QStringLiteral("history"));
        env.secretStore = &fixture->store();
        env.desktop = &desktop;
        env.defaults = defaults.get();
        env.firstPollDelay = env.pollInterval = std::chrono::hours(1);
        fixture->storeCredentials(QString(), QString());
        manager = std::make_unique<TransferManager>(env);
        fixture->storeCredentials(server().baseURL(), server().apiKey());
        manager->setShowSettings(false);
        updater = std::make_unique<UpdaterManager>(UpdaterManager::Environment{nullptr, defaults.get()});
        panel = std::make_unique<PopoverView>(manager.get(), &desktop, defaults.get(), updater.get());
        panel->resize(UserDefaults::defaultPopoverWidth, UserDefaults::defaultPopoverHeight);
        panel->show();
    }

    void cleanup() {
        panel.reset();
        updater.reset();
        manager.reset();
        fixture.reset();
    }

    void hint() { shoot(panel.get(), QStringLiteral("hint")); }

    void bannerAndProgress() {
        manager->uploadFiles(
            {writeFile(QStringLiteral("Quartalsbericht Q1 2024 – endgültige Fassung.pdf"), "q")},
            QStringLiteral("Sonne-Mond-42"), false);
        QTRY_VERIFY_WITH_TIMEOUT(manager->justCompleted() && !manager->isUploading(), runTimeout);
        shoot(panel.get(), QStringLiteral("banner"));

        server().delayNext(QStringLiteral("/api/upload-complete"), 3, 3000);
        for (const char* name : {"eins.txt", "zwei.txt", "drei.txt"})
            manager->uploadFiles({writeFile(QString::fromLatin1(name), name)}, std::nullopt, false);
        QTRY_VERIFY_WITH_TIMEOUT(manager->uploadPercent() > 0.99, runTimeout);
        shoot(panel.get(), QStringLiteral("progress"));
        manager->cancelUpload();
        QTRY_VERIFY_WITH_TIMEOUT(!manager->isUploading(), runTimeout);
    }

    void listWithRows() {
        const QDateTime now = QDateTime::currentDateTimeUtc();
        const QString locked = server().seedTransfer({{QStringLiteral("Angebot_Müller_GmbH.pdf"), "a"}},
                                                     QStringLiteral("Kiwi-7731"), now);
        server().seedTransfer({{QStringLiteral("Fotos_Baustelle.jpg"), "1"},
                               {QStringLiteral("Plan.dwg"), "2"},
                               {QStringLiteral("Kalkulation.xlsx"), "3"},
                               {QStringLiteral("Vertrag.docx"), "4"}},
                              {}, now.addSecs(-3600));
        server().seedTransfer({{QStringLiteral("Prospekt.indd"), "i"}}, {}, now.addDays(-2));
        server().seedTransfer({{QStringLiteral("notizen"), "n"}}, {}, now.addDays(-3));
        server().failNext(QStringLiteral("/api/outgoing/missing/password"), 1, 500,
                          "Der Server hat die Anfrage nicht verstanden, weil das Passwort fehlt und der Code "
                          "unbekannt ist. Bitte erneut versuchen oder den Administrator fragen.");
        QCoro::waitFor(manager->refreshOutgoing());
        QCoro::waitFor(manager->revealPassword(QStringLiteral("missing")));
        const QList<TransferRowView*> rows = panel->sendTab()->rows();
        QCOMPARE(rows.size(), 4);
        QCOMPARE(rows.first()->transfer().code, locked);
        rows.first()->revealPassword();
        QTRY_VERIFY_WITH_TIMEOUT(rows.first()->passwordVisible() && !rows.first()->isLoadingPassword(),
                                 runTimeout);
        for (QToolButton* button : rows.value(1)->findChildren<QToolButton*>())
            if (button->accessibleName() == QStringLiteral("Dateiliste"))
                button->click();
        TransferRowView::setCopiedOverlayDuration(std::chrono::seconds(5));
        rows.value(2)->copyLinkAction();
        QTest::qWait(300); // the overlay fades in
        shoot(panel.get(), QStringLiteral("list"));

        rows.value(2)->openRenameSheet();
        RenameFileSheet* sheet = rows.value(2)->renameSheet();
        QVERIFY(sheet);
        shoot(sheet, QStringLiteral("rename"));
        server().failNext(QStringLiteral("/api/outgoing/") + rows.value(2)->transfer().code +
                              QStringLiteral("/files"),
                          1, 409, "Eine Datei mit diesem Namen gibt es in diesem Transfer bereits.");
        sheet->setBasis(QStringLiteral("Prospekt Frühjahr"));
        sheet->save();
        QTRY_VERIFY_WITH_TIMEOUT(sheet->errorText(), runTimeout);
        shoot(sheet, QStringLiteral("rename-failed"));
        sheet->setBasis(QString(61, QLatin1Char('x')));
        shoot(sheet, QStringLiteral("rename-too-long"));

        // At the narrowest panel, with a downloaded file, nothing may be pushed out of view.
        sheet->close();
        QCoro::waitFor(manager->downloadOutgoing(rows.value(1)->transfer()));
        QCoro::waitFor(manager->refreshOutgoing());
        QVERIFY(panel->sendTab()->rows().value(1)->transfer().downloadedAt);
        shoot(panel.get(), QStringLiteral("list-downloaded"));
        panel->resize(UserDefaults::minimumPopoverWidth, UserDefaults::defaultPopoverHeight);
        QTest::qWait(0);
        QWidget* content =
            panel->sendTab()->findChild<QScrollArea*>(QStringLiteral("transferList"))->widget();
        QVERIFY(content->width() <= content->parentWidget()->width());
        shoot(panel.get(), QStringLiteral("list-narrow"));
    }
};

QTEST_MAIN(TestScreensSend)
#include "tst_screens_send.moc"
