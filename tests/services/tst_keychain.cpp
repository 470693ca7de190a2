#include "InMemorySecretStore.h"
#include "KeychainError.h"
#include "KeychainService.h"
#include "LibsecretStore.h"
#include "WaitForTask.h"

#include <QProcess>
#include <QTest>

using KeychainService::Credentials;

namespace {
QString run(const QStringList& arguments, const QByteArray& input = {}) {
    QProcess process;
    process.start(QStringLiteral("secret-tool"), arguments);
    process.write(input);
    process.closeWriteChannel();
    process.waitForFinished(10000);
    return QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError());
}

const QStringList itemAttributes = {"service", "com.zanvolt.Zanvolt", "account", "credentials"};
} // namespace

class TestKeychain : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void lenientDecodingAndCompleteness() {
        InMemorySecretStore store;
        auto put = [&](const QByteArray& json) {
            store.items[{KeychainService::serviceName, "credentials"}] = json;
        };
        QVERIFY(!KeychainService::loadCredentials(store));

        put(R"({"serverURL":"srv"})");
        QCOMPARE(KeychainService::loadCredentials(store), (Credentials{"srv", ""}));
        QVERIFY(!KeychainService::hasCredentials(store));
        put(R"({"serverURL":"srv","apiKey":null})");
        QCOMPARE(KeychainService::loadCredentials(store), (Credentials{"srv", ""}));
        put("not json");
        QVERIFY(!KeychainService::loadCredentials(store));
        put(R"({"serverURL":"srv","apiKey":42})");
        QVERIFY(!KeychainService::loadCredentials(store));
        put(R"({"serverURL":" ","apiKey":" "})"); // a blank counts as content
        QVERIFY(KeychainService::hasCredentials(store));

        KeychainService::saveCredentials({"srv-a", "k1"}, store);
        KeychainService::saveCredentials({"srv-b", "k2"}, store);
        QCOMPARE(store.items.size(), 1);
        QCOMPARE(store.items.first(), QByteArray(R"({"serverURL":"srv-b","apiKey":"k2"})"));

        store.failStoresWith = -25299;
        QCOMPARE(failureOf([&] {
                     KeychainService::saveCredentials({"srv-c", "k3"}, store);
                 }),
                 QStringLiteral("Keychain-Fehler: -25299"));
        // The previous pair survives a failed save.
        QCOMPARE(KeychainService::loadCredentials(store), (Credentials{"srv-b", "k2"}));
    }

    void secretServiceRoundTrip() {
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            QSKIP("needs the D-Bus session with gnome-keyring that scripts/test.sh starts");
        LibsecretStore store;
        KeychainService::saveCredentials({"srv-eins", "key-1"}, store);
        KeychainService::saveCredentials({"srv-zwei", "key-2"}, store);
        QCOMPARE(KeychainService::loadCredentials(store), (Credentials{"srv-zwei", "key-2"}));
        QCOMPARE(run(QStringList{"lookup"} + itemAttributes),
                 QStringLiteral(R"({"serverURL":"srv-zwei","apiKey":"key-2"})"));
        // Exactly one item carries these attributes.
        QCOMPARE(run(QStringList{"search", "--all"} + itemAttributes).count(QStringLiteral("\nlabel = ")), 1);

        run(QStringList{"store", "--label=admin"} + itemAttributes,
            R"({"serverURL":"srv-admin","apiKey":"a"})");
        QCOMPARE(KeychainService::loadCredentials(store), (Credentials{"srv-admin", "a"}));
        QCOMPARE(run(QStringList{"search", "--all"} + itemAttributes).count(QStringLiteral("\nlabel = ")), 1);

        QCOMPARE(store.remove(KeychainService::serviceName, "credentials"), 0);
        QVERIFY(!KeychainService::loadCredentials(store));
    }

    void noSecretServiceIsAFailure() {
        if (qEnvironmentVariableIsSet("ZANVOLT_KEYCHAIN_CHILD")) {
            LibsecretStore store;
            // Never taken for "nothing stored".
            QVERIFY(failureOf([&] {
                        KeychainService::loadCredentials(store);
                    }).startsWith(QStringLiteral("Der Schlüsselbund ist gesperrt oder nicht erreichbar")));
            try {
                KeychainService::saveCredentials({"srv", "k"}, store);
                QFAIL("saving without a Secret Service must throw");
            } catch (const KeychainError& error) {
                QVERIFY(error.status() != 0);
            }
            return;
        }
        // libsecret keeps its bus connection for the process: check in a child
        // whose session bus leads nowhere.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("ZANVOLT_KEYCHAIN_CHILD"), QStringLiteral("1"));
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                           QStringLiteral("unix:path=/nonexistent"));
        QProcess child;
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("noSecretServiceIsAFailure")});
        QVERIFY(child.waitForFinished(60000));
        QVERIFY2(child.exitCode() == 0, child.readAllStandardOutput().constData());
    }
};

QTEST_GUILESS_MAIN(TestKeychain)
#include "tst_keychain.moc"
