#include "APIRequest.h"
#include "CancelledError.h"
#include "HttpEngine.h"
#include "TestServerFixture.h"
#include "WaitForTask.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

// The engine's own lifetime: what a quit in the middle of a transfer leaves.
class TestHttpEngine : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void quittingMidDownloadLeavesNothingAndRefusesLaterRequests() {
        TestServerFixture fixture;
        const QString code =
            fixture.server().seedTransfer({{QStringLiteral("gross.bin"), QByteArray(96 << 20, 'z')}});
        QVERIFY(!code.isEmpty());
        QTemporaryDir folder;
        HttpRequest request;
        request.url =
            (fixture.server().baseURL() + QStringLiteral("/d/") + code + QStringLiteral("/file/gross.bin"))
                .toUtf8();
        request.downloadFolder = folder.path();

        qint64 receivedAtQuit = 0;
        bool partSeen = false;
        const HttpEngine::ProgressHandler quitOnFirstBytes = [&](qint64, qint64 received) {
            if (received == 0 || receivedAtQuit != 0)
                return;
            receivedAtQuit = received;
            partSeen = !QDir(folder.path())
                            .entryList({QStringLiteral("*.part")}, QDir::Files | QDir::Hidden)
                            .isEmpty();
            HttpEngine::instance().stop();
        };
        QCOMPARE(failureOf(HttpEngine::instance().send(request, nullptr, quitOnFirstBytes)),
                 CancelledError().message());
        QVERIFY(receivedAtQuit > 0 && receivedAtQuit < (96 << 20));
        QVERIFY(partSeen);
        QCOMPARE(QDir(folder.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList());

        // Nothing goes out any more once the engine is stopped.
        const int seen = fixture.server().requests().size();
        QCOMPARE(failureOf(waitForTask(APIRequest::prepare(QByteArrayLiteral("/api/outgoing")))
                               .send(QByteArrayLiteral("GET"))),
                 CancelledError().message());
        QCOMPARE(fixture.server().requests().size(), seen);
    }
};

QTEST_GUILESS_MAIN(TestHttpEngine)
#include "tst_httpengine.moc"
