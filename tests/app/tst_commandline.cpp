#include "DevServer.h"
#include "RecordedRequests.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

// The built `zanvolt` binary as a script runs it: its own HOME and XDG folders, the credentials in
// the session's keyring (stored with secret-tool, as a user could), the bundled server on loopback.
namespace {
struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

QProcessEnvironment environmentFor(const QString& home, const QString& runtime) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/.local/share"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/.cache"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    // An unreachable server is given up after a second instead of a quarter of an hour.
    env.insert(QStringLiteral("ZANVOLT_GIVE_UP_SECONDS"), QStringLiteral("1"));
    // No display of any kind: the command line must not need one.
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    return env;
}

Run run(const QProcessEnvironment& env, const QStringList& arguments, const QString& workingDir = {}) {
    QProcess process;
    process.setProcessEnvironment(env);
    if (!workingDir.isEmpty())
        process.setWorkingDirectory(workingDir);
    process.start(QStringLiteral(ZANVOLT_BINARY), arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return {};
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

void secretTool(const QStringList& arguments, const QByteArray& input = {}) {
    QProcess tool;
    tool.start(QStringLiteral("secret-tool"), arguments);
    tool.write(input);
    tool.closeWriteChannel();
    QVERIFY(tool.waitForFinished(20000));
}

void storeCredentials(const QString& serverURL, const QString& apiKey) {
    const QJsonObject credentials{{QStringLiteral("serverURL"), serverURL},
                                  {QStringLiteral("apiKey"), apiKey}};
    secretTool({"store", "--label=Zanvolt", "service", "com.zanvolt.Zanvolt", "account", "credentials"},
               QJsonDocument(credentials).toJson(QJsonDocument::Compact));
}

void clearCredentials() {
    secretTool({"clear", "service", "com.zanvolt.Zanvolt", "account", "credentials"});
}

QJsonArray historyOf(const QString& home) {
    QFile file(home + QStringLiteral("/.zanvolt/history.json"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).array();
}
} // namespace

class TestCommandLine : public QObject {
    Q_OBJECT

    DevServer server;
    QTemporaryDir scratch;
    QString home, runtime, files;
    QProcessEnvironment env;

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(server.start());
        home = scratch.filePath(QStringLiteral("home"));
        runtime = scratch.filePath(QStringLiteral("run"));
        files = scratch.filePath(QStringLiteral("files"));
        for (const QString& dir : {home, runtime, files})
            QVERIFY(QDir().mkpath(dir));
        QFile::setPermissions(runtime,
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        env = environmentFor(home, runtime);
        storeCredentials(server.baseURL(), server.apiKey());
    }

    void cleanupTestCase() { clearCredentials(); }

    void helpAndVersion() {
        const Run help = run(env, {"--help"});
        QVERIFY(help.exitCode == 0 &&
                help.out.contains(QStringLiteral("zanvolt send [--password] [--json] DATEI…")));
        QCOMPARE(run(env, {"--version"}).out, QStringLiteral("Zanvolt " ZANVOLT_VERSION "\n"));
    }

    void sendAloneUploadsPrintsTheLinkAndRecordsIt() {
        writeFile(files + QStringLiteral("/Angebot März.txt"), QByteArray("Angebot März\n").repeated(1000));
        const Run plain = run(env, {"send", "Angebot März.txt"}, files);
        QCOMPARE(plain.exitCode, 0);
        QVERIFY2(plain.err.isEmpty(), qPrintable(plain.err)); // no progress bar into a pipe
        QCOMPARE(plain.out.count(QLatin1Char('\n')), 1);
        const QString link = plain.out.trimmed();

        // The transfer is in the history the panel lists.
        QCOMPARE(historyOf(home).first().toObject().value("downloadURL").toString(), link);

        // --password has the server make one; --json gives one object with the link and it.
        const Run json =
            run(env, {"send", "--password", "--json", files + QStringLiteral("/Angebot März.txt")});
        QCOMPARE(json.exitCode, 0);
        const QJsonObject answer = QJsonDocument::fromJson(json.out.toUtf8()).object();
        QCOMPARE(answer.keys(), (QStringList{"code", "downloadURL", "fileName", "password"})); // sorted
        QVERIFY(!answer.value("password").toString().isEmpty());
        QCOMPARE(historyOf(home).size(), 2);

        // A name that is not UTF-8 (Latin-1), given through a shell: a QProcess argument is text.
        QProcess shell;
        shell.setProcessEnvironment(env);
        shell.setWorkingDirectory(files);
        shell.start(QStringLiteral("/bin/sh"),
                    {"-c", "n=$(printf 'M\\374ller.txt'); echo x >\"$n\"; exec \"$0\" send \"$n\"",
                     QStringLiteral(ZANVOLT_BINARY)});
        QVERIFY(shell.waitForFinished(60000) && shell.exitCode() == 0);
        QCOMPARE(historyOf(home).first().toObject().value("fileName").toString(),
                 QStringLiteral("M\ufffdller.txt"));
    }

    void failuresSayWhyAndExitWithTheirCode() {
        const auto check = [this](const QStringList& arguments, int code, const QString& message) {
            const Run result = run(env, arguments, files);
            QVERIFY2(result.exitCode == code, qPrintable(QStringLiteral("%1 → %2: %3")
                                                             .arg(arguments.join(' '))
                                                             .arg(result.exitCode)
                                                             .arg(result.err)));
            QVERIFY2(result.err.contains(message), qPrintable(result.err));
            QVERIFY(result.out.isEmpty());
        };
        writeFile(files + QStringLiteral("/x.txt"), "x");
        check({"send"}, 2, QStringLiteral("Keine Dateien angegeben."));
        check({"--bogus"}, 2, QStringLiteral("zanvolt: Unbekannte Option 'bogus'."));
        check({"list", "extra"}, 2, QStringLiteral("Unerwartetes Argument: extra"));
        check({"send", "fehlt.txt"}, 5, QStringLiteral("zanvolt: Datei nicht gefunden: fehlt.txt"));

        storeCredentials(server.baseURL(), QStringLiteral("0000"));
        check({"send", "x.txt"}, 4, QStringLiteral("zanvolt: Server-Fehler 401"));
        check({"list"}, 4, QStringLiteral("zanvolt: Netzwerk-Fehler: Fehler beim Laden der Transfers\n"));
        storeCredentials(QStringLiteral("https://127.0.0.1:1"), server.apiKey());
        check({"send", "x.txt"}, 4, QStringLiteral("127.0.0.1"));
        clearCredentials();
        check({"send", "x.txt"}, 3, QStringLiteral("zanvolt: Server-URL nicht konfiguriert"));
        check({"list"}, 3, QStringLiteral("zanvolt: Server-URL nicht konfiguriert"));
        storeCredentials(server.baseURL(), server.apiKey());
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/")); // no store
        for (const QStringList& arguments : {QStringList{"send", "x.txt"}, QStringList{"list"}})
            check(arguments, 3, QStringLiteral("zanvolt: Der Schlüsselbund ist gesperrt"));
        env = environmentFor(home, runtime);
    }

    void listAndInboxPrintTheServersRecords() {
        server.seedTransfer({{QStringLiteral("Preisliste.pdf"), "pdf"}});
        const QString token =
            server.seedIncoming(QStringLiteral("Müller GmbH\x1b[2J\u202E"),
                                {{QStringLiteral("Plan.dwg"), "dwg"}}, QStringLiteral("A-17"));

        const Run list = run(env, {"list"});
        QCOMPARE(list.exitCode, 0);
        const QStringList lines = list.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QVERIFY(lines.first().startsWith(QStringLiteral("Name")));
        const qsizetype linkColumn = lines.first().indexOf(QStringLiteral("Link"));
        const auto row = std::find_if(lines.begin(), lines.end(), [](const QString& l) {
            return l.startsWith(QStringLiteral("Preisliste.pdf"));
        });
        QVERIFY(row != lines.end());
        QCOMPARE(row->indexOf(server.baseURL()), linkColumn); // aligned under its heading
        QVERIFY(row->endsWith(QLatin1Char('-'))); // not downloaded yet; no blanks after the last column

        const Run inbox = run(env, {"inbox"});
        QVERIFY(inbox.out.startsWith(QStringLiteral("Kunde")) && inbox.out.contains(QStringLiteral("A-17")));
        // Into a pipe the server's text passes unchanged: it is data.
        QVERIFY(inbox.out.contains(QStringLiteral("Müller GmbH\x1b[2J\u202E")));
        const Run inboxJson = run(env, {"inbox", "--json"});
        const QJsonObject upload = QJsonDocument::fromJson(inboxJson.out.toUtf8()).array().first().toObject();
        QCOMPARE(upload.value("token").toString(), token);
        QCOMPARE(upload.value("customerName").toString(), QStringLiteral("Müller GmbH\x1b[2J\u202E"));
    }

    void onATerminal() {
        // script(1) gives the command a terminal for stdout and stderr; its output is the terminal's.
        const auto onTerminal = [this](const QString& command) {
            QProcess process;
            process.setProcessEnvironment(env);
            process.setWorkingDirectory(files);
            process.start(QStringLiteral("script"),
                          {"-qec", QStringLiteral("'%1' %2").arg(QStringLiteral(ZANVOLT_BINARY), command),
                           "/dev/null"});
            return process.waitForFinished(60000) ? QString::fromUtf8(process.readAllStandardOutput())
                                                  : QString();
        };
        writeFile(files + QStringLiteral("/gross.bin"), QByteArray(12 * 1024 * 1024, 'g'));
        const QString upload = onTerminal(QStringLiteral("send gross.bin"));
        QVERIFY2(upload.contains(QStringLiteral("Hochladen: gross.bin (12.0 MB)...")), qPrintable(upload));
        QVERIFY(upload.contains(QStringLiteral("% von 12.0 MB – ")));
        // The bar is cleared before the link, which stands on a line of its own.
        QVERIFY(upload.contains(QStringLiteral("\r\x1b[K") + server.baseURL()));

        // A customer's name cannot move the cursor, clear the screen or turn the text around.
        const QString inbox = onTerminal(QStringLiteral("inbox"));
        QVERIFY2(inbox.contains(QStringLiteral("Müller GmbH?[2J?")), qPrintable(inbox));
        QVERIFY(!inbox.contains(QLatin1Char('\x1b')));
    }

    void sendHandsOverToTheRunningClient() {
        // The client keeps its own home: what lands in its history came through it.
        const QString clientHome = scratch.filePath(QStringLiteral("client-home"));
        QDir().mkpath(clientHome);
        QProcessEnvironment clientEnv = environmentFor(clientHome, runtime);
        clientEnv.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        QProcess client;
        client.setProcessEnvironment(clientEnv);
        client.start(QStringLiteral(ZANVOLT_BINARY), {});
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(runtime + QStringLiteral("/com.zanvolt.Zanvolt.socket")),
                                 20000);

        writeFile(files + QStringLiteral("/übergeben.txt"), "über");
        const QString cliHome = scratch.filePath(QStringLiteral("cli-home"));
        QDir().mkpath(cliHome);
        const Run handed =
            run(environmentFor(cliHome, runtime), {"send", "--password", "übergeben.txt"}, files);
        QCOMPARE(handed.exitCode, 0);
        const QStringList lines = handed.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2); // link and password
        QVERIFY(historyOf(cliHome).isEmpty());
        // The running client records it, on its own history thread.
        QTRY_COMPARE(historyOf(clientHome).first().toObject().value("downloadURL").toString(), lines.first());

        // Ctrl-C on a command whose upload runs: the upload is withdrawn, nothing of it completes.
        const QString chunkPath = QStringLiteral("/api/upload-chunk");
        const qsizetype chunksBefore = requestsTo(server, chunkPath).size();
        const qsizetype completedBefore = requestsTo(server, QStringLiteral("/api/upload-complete")).size();
        server.delayNext(chunkPath, 1, 5000);
        writeFile(files + QStringLiteral("/abgebrochen.txt"), "weg");
        QProcess interrupted;
        interrupted.setProcessEnvironment(environmentFor(cliHome, runtime));
        interrupted.setWorkingDirectory(files);
        interrupted.start(QStringLiteral(ZANVOLT_BINARY), {"send", "abgebrochen.txt"});
        QTRY_VERIFY_WITH_TIMEOUT(requestsTo(server, chunkPath).size() > chunksBefore, 20000);
        ::kill(pid_t(interrupted.processId()), SIGINT);
        QVERIFY(interrupted.waitForFinished(10000));
        // Uploads run one at a time: this one ends only after the interrupted one has.
        QCOMPARE(run(environmentFor(cliHome, runtime), {"send", "übergeben.txt"}, files).exitCode, 0);
        QTRY_COMPARE(historyOf(clientHome).size(), 2);
        QCOMPARE(requestsTo(server, QStringLiteral("/api/upload-complete")).size(), completedBefore + 1);

        // A failure in the client comes back with its kind: the server's is exit code 4.
        server.failNext(QStringLiteral("/api/upload-complete"), 3, 500, "kaputt");
        const Run failed = run(environmentFor(cliHome, runtime), {"send", "übergeben.txt"}, files);
        QCOMPARE(failed.exitCode, 4);
        QVERIFY2(failed.err.contains("Server-Fehler 500: kaputt"), qPrintable(failed.err));

        client.terminate();
        QVERIFY(client.waitForFinished(10000));
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
