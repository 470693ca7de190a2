#include "Appcast.h"
#include "FeedUpdaterBackend.h"
#include "Settings.h"
#include "TestFiles.h"
#include "TransferServer.h"
#include "UpdateDialogs.h"
#include "UpdateWindowRaiser.h"
#include "UpdaterManager.h"

#include <QApplication>
#include <QCoroTask>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>
#include <memory>

using namespace std::chrono_literals;

namespace {
QList<QWidget*> visibleUpdateDialogs() {
    QList<QWidget*> found;
    for (QWidget* window : QApplication::topLevelWidgets())
        if (window->isVisible() && UpdateDialogs::isUpdateDialog(window))
            found << window;
    return found;
}

QMessageBox* visibleBox(const QString& text) {
    for (QWidget* window : visibleUpdateDialogs())
        if (auto* box = qobject_cast<QMessageBox*>(window); box && box->text() == text)
            return box;
    return nullptr;
}

QStringList buttonTexts(QMessageBox* box, bool accessible) {
    QStringList texts;
    for (QAbstractButton* button : box->buttons())
        texts << (accessible ? button->accessibleName() : button->text());
    texts.sort();
    return texts;
}

} // namespace

class TestUpdateDialogs : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

private Q_SLOTS:
    void windowRaisingRule() {
        QVERIFY(UpdateWindowRaiser::shouldRaiseWindow(true, QStringLiteral("AKTUALISIERUNG läuft"), false));
        QVERIFY(UpdateWindowRaiser::shouldRaiseWindow(true, QStringLiteral("Zanvolt-Update"), false));
        QVERIFY(UpdateWindowRaiser::shouldRaiseWindow(true, QStringLiteral("Hinweis"), true));
        QVERIFY(!UpdateWindowRaiser::shouldRaiseWindow(true, QStringLiteral("Einstellungen"), false));
        QVERIFY(!UpdateWindowRaiser::shouldRaiseWindow(false, QStringLiteral("Aktualisierung"), true));
        QVERIFY(!UpdateWindowRaiser::shouldRaiseWindow(true, QString(), true));
    }

    void matchingWindowsAreRaisedShortlyAfterTheAnnouncement() {
        Settings defaults(m_dir.filePath(QStringLiteral("raise.ini")));
        FeedUpdaterBackend::Options unconfigured;
        unconfigured.feedURL.clear();
        unconfigured.defaults = &defaults;
        UpdaterManager manager({std::make_unique<FeedUpdaterBackend>(unconfigured), &defaults});
        UpdateDialogs::attach(manager);

        QWidget update, untitled, other;
        update.setWindowTitle(QStringLiteral("Zanvolt – Softwareaktualisierung"));
        other.setWindowTitle(QStringLiteral("Notizen"));
        for (QWidget* window : {&update, &untitled, &other})
            window->show();
        other.activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), &other);
        QSignalSpy hiddenOrShown(update.windowHandle(), &QWindow::visibleChanged);

        Q_EMIT manager.updateDialogWillShow();
        QTest::qWait(50);
        QCOMPARE(QApplication::activeWindow(), &other); // not before the dialog could show
        QTRY_COMPARE(QApplication::activeWindow(), &update);
        // Brought forward as it is: its window is neither hidden nor re-created (no flicker).
        QCOMPARE(hiddenOrShown.size(), 0);
        QVERIFY(update.isVisible());
    }

    void dialogsFollowTheAnnouncementAndCarryTheirTexts() {
        TransferServer::Options serverOptions;
        serverOptions.plainHttp = true;
        TransferServer server(serverOptions);
        QVERIFY(server.start());
        const QString feedDir = m_dir.filePath(QStringLiteral("feed"));
        QDir().mkpath(feedDir);
        server.setUpdateFeedDirectory(feedDir);
        const QString updates = server.baseURL() + QStringLiteral("/updates/");
        const QByteArray newProgram(4096, 'z');
        writeFile(feedDir + QStringLiteral("/zanvolt-2"), newProgram);
        // Signed, but not with the key the client trusts.
        writeFile(
            feedDir + QStringLiteral("/appcast.xml"),
            appcast({{"2.0.0", updates + "zanvolt-2", newProgram.size(), QByteArray(64, 'x').toBase64()}}));
        const QString program = m_dir.filePath(QStringLiteral("zanvolt"));
        writeFile(program, QByteArrayLiteral("old"));

        Settings defaults(m_dir.filePath(QStringLiteral("dialogs.ini")));
        FeedUpdaterBackend::Options options;
        options.feedURL = updates + QStringLiteral("appcast.xml");
        options.publicKey = QByteArray(32, 'k').toBase64();
        options.currentVersion = QStringLiteral("1.0");
        options.programFile = program;
        options.defaults = &defaults;
        options.relaunch = [](QString) { QFAIL("nothing may be installed"); };
        auto owned = std::make_unique<FeedUpdaterBackend>(options);
        FeedUpdaterBackend* backend = owned.get();
        UpdaterManager manager({std::move(owned), &defaults});
        UpdateDialogs::attach(manager);
        QList<int> visibleAtAnnouncement;
        connect(&manager, &UpdaterManager::updateDialogWillShow,
                [&] { visibleAtAnnouncement << visibleUpdateDialogs().size(); });

        auto offer = backend->runCheck(true);
        QMessageBox* box = nullptr;
        QTRY_VERIFY((box = visibleBox(QStringLiteral("Zanvolt 2.0.0 ist verfügbar."))));
        QCOMPARE(visibleAtAnnouncement, QList<int>{0});
        QCOMPARE(box->windowTitle(), QStringLiteral("Software-Update"));
        QCOMPARE(box->accessibleName(), QStringLiteral("Zanvolt 2.0.0 ist verfügbar."));
        QCOMPARE(buttonTexts(box, false), (QStringList{"Installieren", "Später"}));
        QCOMPARE(buttonTexts(box, true), (QStringList{"Installieren", "Später"}));
        QLabel* notes = nullptr;
        for (QLabel* label : box->findChildren<QLabel*>())
            if (label->text().contains(updates + QStringLiteral("notes/2.0.0.html")))
                notes = label;
        QVERIFY(notes && notes->openExternalLinks());
        QTRY_VERIFY(box->windowFlags() & Qt::WindowStaysOnTopHint);

        QPushButton* later = nullptr;
        for (QAbstractButton* button : box->buttons())
            if (button->text() == QStringLiteral("Später"))
                later = qobject_cast<QPushButton*>(button);
        QTest::mouseClick(later, Qt::LeftButton);
        QCoro::waitFor(std::move(offer));
        QCOMPARE(server.requests().size(), 1); // the feed only

        // Accepted through the test seam: downloaded, refused, and the progress window gone for the error.
        UpdateDialogs::setNextAnswer(UpdateDialogs::Answer::accept);
        auto install = backend->runCheck(true);
        QMessageBox* failure = nullptr;
        QTRY_VERIFY((failure = visibleBox(QStringLiteral("Die Aktualisierung ist fehlgeschlagen."))));
        QCOMPARE(failure->informativeText(),
                 QStringLiteral("Die Signatur des Updates ist ungültig. Es wurde nichts installiert."));
        QCOMPARE(visibleUpdateDialogs().size(), 1);
        QCOMPARE(server.requests().last().path, QStringLiteral("/updates/zanvolt-2"));
        failure->buttons().first()->click();
        QCoro::waitFor(std::move(install));
        QCOMPARE(visibleAtAnnouncement, (QList<int>{0, 0, 0, 0})); // offer; offer, progress, error
        QVERIFY(backend->canCheckForUpdates());

        QTRY_VERIFY(visibleUpdateDialogs().isEmpty());
    }
};

QTEST_MAIN(TestUpdateDialogs)
#include "tst_updatedialogs.moc"
