#include "InMemorySecretStore.h"
#include "WaitForTask.h"
#include "services/KeychainService.h"
#include "services/LibsecretStore.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
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

        // (What a save writes, and that it replaces the one item: secretServiceRoundTrip.)
        KeychainService::saveCredentials({"srv-b", "k2"}, store);
        // A key that would end its header and start another is never stored.
        for (const QString& key :
             {QStringLiteral("k\r"), QStringLiteral("k\nX-Injected: ja"), QStringLiteral("k") + QChar(0)})
            QCOMPARE(failureOf([&] {
                         KeychainService::saveCredentials({"srv-c", key}, store);
                     }),
                     QStringLiteral("Der API-Schlüssel enthält unzulässige Zeichen."));
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

        QCOMPARE(store.remove(KeychainService::serviceName, "credentials"), 0);
        QVERIFY(!KeychainService::loadCredentials(store));
    }

    void anAbsentOrLockedStoreIsAFailure() {
        const QString child = qEnvironmentVariable("ZANVOLT_KEYCHAIN_CHILD");
        if (child == QLatin1String("absent")) {
            LibsecretStore store;
            // Never taken for "nothing stored".
            QVERIFY(failureOf([&] {
                        KeychainService::loadCredentials(store);
                    }).startsWith(QStringLiteral("Der Schlüsselbund ist gesperrt oder nicht erreichbar")));
            const QString saving = failureOf([&] { KeychainService::saveCredentials({"srv", "k"}, store); });
            // GLib's words, never a bare status number.
            bool number = false;
            saving.mid(17).toInt(&number);
            QVERIFY2(saving.startsWith(QStringLiteral("Keychain-Fehler: ")) && saving.size() > 20 && !number,
                     qPrintable(saving));
            return;
        }
        if (child == QLatin1String("locked")) {
            // A keyring of its own, locked; with no display its unlock prompt fails at once, as one
            // the user dismisses: the item is still there, only locked.
            QProcess daemon;
            daemon.start(QStringLiteral("gnome-keyring-daemon"), {"--unlock", "--components=secrets"});
            daemon.write("zanvolt-locked");
            daemon.closeWriteChannel();
            QVERIFY(daemon.waitForFinished(20000));
            LibsecretStore store;
            KeychainService::saveCredentials({"srv", "k"}, store);
            QProcess lock;
            lock.start(QStringLiteral("dbus-send"),
                       {"--session", "--print-reply", "--dest=org.freedesktop.secrets",
                        "/org/freedesktop/secrets", "org.freedesktop.Secret.Service.Lock",
                        "array:objpath:/org/freedesktop/secrets/collection/login"});
            QVERIFY(lock.waitForFinished(20000) && lock.exitCode() == 0);
            QByteArray data;
            QCOMPARE(store.find(KeychainService::serviceName, "credentials", &data), SecretStore::itemLocked);
            QCOMPARE(
                failureOf([&] { KeychainService::loadCredentials(store); }),
                QStringLiteral("Der Schlüsselbund ist gesperrt oder nicht erreichbar (Keychain-Fehler: Der "
                               "Schlüsselbund wurde nicht entsperrt). Die gespeicherten Einstellungen "
                               "bleiben erhalten."));
            QCOMPARE(store.find(KeychainService::serviceName, "FTP_HOST", &data), SecretStore::itemNotFound);
            return;
        }
        // libsecret keeps its bus connection for the process: check in children, one whose session
        // bus leads nowhere, one on a private bus with a locked keyring.
        for (const QString& kind : {QStringLiteral("absent"), QStringLiteral("locked")}) {
            if (kind == QLatin1String("locked") &&
                QStandardPaths::findExecutable("dbus-run-session").isEmpty())
                QSKIP("needs dbus-run-session and gnome-keyring");
            QTemporaryDir data;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("ZANVOLT_KEYCHAIN_CHILD"), kind);
            environment.insert(QStringLiteral("XDG_DATA_HOME"), data.path());
            environment.remove(QStringLiteral("DISPLAY"));
            environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
            const QStringList self{QCoreApplication::applicationFilePath(),
                                   QStringLiteral("anAbsentOrLockedStoreIsAFailure")};
            QProcess child;
            if (kind == QLatin1String("absent")) {
                environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                                   QStringLiteral("unix:path=/nonexistent"));
                child.setProgram(self.first());
                child.setArguments(self.mid(1));
            } else {
                environment.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
                child.setProgram(QStringLiteral("dbus-run-session"));
                child.setArguments(QStringList{QStringLiteral("--")} + self);
            }
            child.setProcessEnvironment(environment);
            child.start();
            QVERIFY(child.waitForFinished(60000));
            QVERIFY2(child.exitCode() == 0, child.readAllStandardOutput().constData());
        }
    }
};

QTEST_GUILESS_MAIN(TestKeychain)
#include "tst_keychain.moc"
