#include "SingleInstance.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

// Re-executed with this variable set to a socket path, the test binary plays a
// second start of the client: it hands its arguments over and exits with the
// outcome as its code.
static const char* const secondStartVariable = "ZANVOLT_TEST_SECOND_START";

namespace {
QString touch(const QTemporaryDir& dir, const QString& name) {
    QFile file(dir.filePath(name));
    file.open(QIODevice::WriteOnly);
    return file.fileName();
}

// Keeps this process's event loop turning, so that the running instance answers.
int secondStart(const QString& socketPath, const QStringList& arguments, const QString& workingDir) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(secondStartVariable), socketPath);
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(workingDir);
    QSignalSpy finished(&process, &QProcess::finished);
    process.start(QCoreApplication::applicationFilePath(), arguments);
    return finished.wait(20000) && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

constexpr int handedOver = int(SingleInstance::Outcome::HandedOver);
constexpr int refused = int(SingleInstance::Outcome::Refused);
} // namespace

class TestSingleInstance : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void secondStartHandsOverToTheRunningOne() {
        QTemporaryDir dir;
        const QString socketPath =
            touch(dir, QStringLiteral("instance.socket")); // left by an instance that died
        SingleInstance running(socketPath);
        QCOMPARE(running.start({}), SingleInstance::Outcome::Primary);
        QCOMPARE(QFile::permissions(socketPath) & 0x0077, QFileDevice::Permissions()); // private to the user
        QSignalSpy files(&running, &SingleInstance::filesReceived);
        QSignalSpy shows(&running, &SingleInstance::showRequested);

        const QString absolute = touch(dir, QStringLiteral("Bericht März #1.pdf"));
        touch(dir, QStringLiteral("relative.txt"));
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("Ordner")));
        QCOMPARE(secondStart(socketPath, {absolute, "relative.txt", "Ordner"}, dir.path()), handedOver);
        QCOMPARE(files.size(), 1);
        QCOMPARE(
            files.first().first().value<QList<QUrl>>(),
            (QList<QUrl>{QUrl::fromLocalFile(absolute), QUrl::fromLocalFile(dir.filePath("relative.txt")),
                         QUrl::fromLocalFile(dir.filePath("Ordner"))}));

        QCOMPARE(secondStart(socketPath, {}, dir.path()), handedOver);
        QCOMPARE(shows.size(), 1);

        // No file URL among the arguments: refused, nothing shown.
        const QStringList noFiles{"https://example.com/a.txt", dir.filePath("gone.txt")};
        QCOMPARE(secondStart(socketPath, noFiles, dir.path()), refused);
        QCOMPARE(secondStart(socketPath, {QString()}, dir.path()), refused);
        QCOMPARE(shows.size(), 1);
        QCOMPARE(files.size(), 1);

        // Of a mixed list only the files are taken.
        QCOMPARE(secondStart(socketPath, noFiles + QStringList{absolute}, dir.path()), handedOver);
        QCOMPARE(files.last().first().value<QList<QUrl>>(), QList<QUrl>{QUrl::fromLocalFile(absolute)});

        // A link to nothing is taken too, so that the upload says it cannot be sent.
        const QString dangling = dir.filePath(QStringLiteral("Verweis"));
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("weg")), dangling));
        QCOMPARE(secondStart(socketPath, {absolute, dangling}, dir.path()), handedOver);
        QCOMPARE(files.last().first().value<QList<QUrl>>(),
                 (QList<QUrl>{QUrl::fromLocalFile(absolute), QUrl::fromLocalFile(dangling)}));
    }
};

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QString socketPath = qEnvironmentVariable(secondStartVariable);
    if (!socketPath.isEmpty())
        return int(SingleInstance(socketPath).start(app.arguments().mid(1)));
    TestSingleInstance test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_singleinstance.moc"
