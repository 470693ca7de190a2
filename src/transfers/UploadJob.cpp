#include "transfers/UploadJob.h"

#include "models/AppError.h"
#include "models/ErrorText.h"
#include "models/Format.h"
#include "models/Graphemes.h"
#include "models/LocalPath.h"
#include "models/Logging.h"
#include "models/Utf8.h"
#include "net/CancelToken.h"
#include "services/APIServiceUpload.h"
#include "services/OffMainThread.h"
#include "services/StagingFolder.h"
#include "services/ZipService.h"
#include "transfers/SetIfChanged.h"

#include "models/UserText.h"
#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {
bool isDirectory(const QUrl& url) {
    struct stat info {};
    return ::stat(LocalPath::bytes(url).constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

QString lastPathComponent(const QUrl& url) {
    return QFileInfo(QDir::cleanPath(url.toLocalFile())).fileName();
}

// A named pipe, device or socket would block the reader that opens it (or never end): refused by
// its type, before anything opens it; an unreadable file, before anything is sent. A dropped link
// stands for what it points at; a missing item fails later with the file system's own text.
void refuseUnsendable(const QList<QUrl>& urls) {
    for (const QUrl& url : urls) {
        const QByteArray path = LocalPath::bytes(url);
        struct stat info {};
        if (::stat(path.constData(), &info) != 0) {
            // A link to nothing would otherwise vanish from the items without a word.
            if (::lstat(path.constData(), &info) == 0 && S_ISLNK(info.st_mode))
                throw AppError(QCoreApplication::translate(
                                   "UploadJob",
                                   "„%1“ verweist auf nichts (das Ziel der Verknüpfung fehlt) und kann "
                                   "nicht gesendet werden.")
                                   .arg(lastPathComponent(url)));
            continue;
        }
        if (!S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode))
            throw AppError(QCoreApplication::translate(
                               "UploadJob", "„%1“ ist keine normale Datei und kein Ordner und kann nicht "
                                            "gesendet werden.")
                               .arg(lastPathComponent(url)));
        if (S_ISREG(info.st_mode) && ::access(path.constData(), R_OK) != 0)
            throw AppError(UserText::unreadableFile(lastPathComponent(url),
                                                    QString::fromLocal8Bit(std::strerror(errno))));
    }
}

// Quotes, line breaks and backslashes would break the server's
// Content-Disposition headers and the names shown in the panel.
QString sanitizedName(QString name) {
    for (const QChar c : {QLatin1Char('"'), QLatin1Char('\n'), QLatin1Char('\r'), QLatin1Char('\\')})
        name.replace(c, QLatin1Char('_'));
    return name;
}

QString withoutExtension(const QString& name) {
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 ? name.left(dot) : name;
}

QString archiveName(const QUrl& first) {
    const QString base = Graphemes::left(sanitizedName(withoutExtension(lastPathComponent(first))), 60);
    return base + QLatin1Char('_') + QDate::currentDate().toString(QStringLiteral("dd-MM-yyyy")) +
           QStringLiteral(".zip");
}

// The names below `folder`, each after `prefix`; bytes that are not UTF-8 are listed replaced.
void collectFiles(const QByteArray& folder, const QString& prefix, QStringList& names) {
    DIR* entries = ::opendir(folder.constData());
    if (!entries)
        return;
    QList<QByteArray> children;
    while (const dirent* entry = ::readdir(entries)) {
        // Hidden entries are skipped, and so is everything below a hidden folder.
        if (entry->d_name[0] != '.')
            children.append(entry->d_name);
    }
    ::closedir(entries);
    QList<std::pair<QString, QByteArray>> sorted;
    for (const QByteArray& child : children)
        sorted.append({LocalPath::text(child), child});
    std::sort(sorted.begin(), sorted.end());
    for (const auto& [name, child] : sorted) {
        const QByteArray path = folder + '/' + child;
        struct stat info {};
        if (::lstat(path.constData(), &info) != 0)
            continue;
        if (S_ISDIR(info.st_mode))
            collectFiles(path, prefix + name + u'/', names);
        else if (S_ISREG(info.st_mode))
            names << prefix + name;
    }
}
} // namespace

UploadJob::UploadJob(Request request, ServerConnection server, QObject* parent)
    : QObject(parent), m_request(std::move(request)), m_server(std::move(server)) {}

UploadJob::~UploadJob() = default;

QStringList UploadJob::collectOriginalNames(const QList<QUrl>& urls) {
    QStringList names;
    for (const QUrl& url : urls) {
        if (!isDirectory(url)) {
            names << lastPathComponent(url);
            continue;
        }
        QByteArray folder = LocalPath::bytes(url);
        while (folder.size() > 1 && folder.endsWith('/'))
            folder.chop(1);
        const qsizetype before = names.size();
        collectFiles(folder, lastPathComponent(url) + u'/', names);
        if (names.size() == before)
            names << lastPathComponent(url);
    }
    return names;
}

void UploadJob::start() {
    m_cancel = new CancelToken(this);
    run();
}

void UploadJob::cancel() {
    m_cancelled = true;
    if (m_cancel)
        m_cancel->cancel();
}

void UploadJob::setZipping(bool value) {
    setIfChanged(this, m_isZipping, value, &UploadJob::zippingChanged);
}

void UploadJob::setProgressText(const QString& value) {
    setIfChanged(this, m_progressText, value, &UploadJob::progressTextChanged);
}

void UploadJob::setProgress(double value) {
    setIfChanged(this, m_progress, value, &UploadJob::progressChanged);
}

void UploadJob::finish(Result result) {
    m_done = true;
    Q_EMIT finished(result);
}

QCoro::Task<> UploadJob::run() {
    QPointer<UploadJob> self(this);
    const UploadJob::Request upload = m_request;
    const QPointer<CancelToken> cancel = m_cancel;
    const bool pack = upload.urls.size() > 1 || isDirectory(upload.urls.first());
    QString fileToSend;
    Result result;
    try {
        refuseUnsendable(upload.urls);
        if (!pack) {
            fileToSend = upload.urls.first().toLocalFile();
            result.fileName = sanitizedName(lastPathComponent(upload.urls.first()));
            const QByteArray path = LocalPath::bytes(upload.urls.first());
            if (!decodeUtf8Strict(path)) {
                // A name that is not UTF-8 cannot be opened through a QString: sent through a link
                // whose name has the invalid bytes replaced, which is then its name on the server.
                m_staging = std::make_unique<StagingFolder>();
                fileToSend = m_staging->path() + u'/' + lastPathComponent(upload.urls.first());
                if (::symlink(path.constData(), QFile::encodeName(fileToSend).constData()) != 0)
                    throw AppError(UserText::unreadableFile(lastPathComponent(upload.urls.first()),
                                                            QString::fromLocal8Bit(std::strerror(errno))));
            }
        } else {
            setZipping(true);
            setProgressText(QCoreApplication::translate("UploadJob", "ZIP erstellen..."));
            // Walking a large folder would block the panel.
            std::function<QStringList()> collect = [urls = upload.urls] {
                return collectOriginalNames(urls);
            };
            result.originalFileNames = co_await offMainThread(std::move(collect));
            if (!self)
                co_return;
            m_staging = std::make_unique<StagingFolder>();
            const QUrl archive = co_await ZipService::createZip(upload.urls, archiveName(upload.urls.first()),
                                                                cancel, m_staging->path());
            if (!self)
                co_return;
            fileToSend = archive.toLocalFile();
            result.fileName = archive.fileName();
            setZipping(false);
        }

        const QFileInfo info(fileToSend);
        const qint64 size = info.exists() ? info.size() : 0;
        setProgressText(QCoreApplication::translate("UploadJob", "Hochladen: %1 (%2)...")
                            .arg(result.fileName, Format::size(size)));
        setProgress(0.0);

        auto onProgress = [self, size](double fraction, double speed) {
            if (!self || self->m_done)
                return;
            self->m_speed = speed;
            self->setProgress(fraction);
            if (self->m_waiting)
                return;
            self->setProgressText(
                QCoreApplication::translate("UploadJob", "%1% von %2 – %3 – %4")
                    .arg(int(fraction * 100))
                    .arg(Format::size(size), Format::speed(speed), Format::remaining(fraction, speed, size)));
        };
        auto onState = [self, size](APIService::UploadState state) {
            if (!self || self->m_done)
                return;
            // Starting over is said until the new pass reports progress.
            const bool waiting = state == APIService::UploadState::WaitingForNetwork;
            if (std::exchange(self->m_waiting, waiting) != waiting)
                Q_EMIT self->waitingChanged();
            if (state == APIService::UploadState::WaitingForNetwork)
                self->setProgressText(
                    QCoreApplication::translate("UploadJob", "%1% von %2 – Warte auf Verbindung…")
                        .arg(int(self->m_progress * 100))
                        .arg(Format::size(size)));
            else if (state == APIService::UploadState::StartingOver)
                self->setProgressText(QCoreApplication::translate(
                    "UploadJob", "Der Server hat den Upload verworfen – neuer Start…"));
        };
        result.response = co_await APIService::uploadOutgoing(
            m_server, fileToSend, upload.password, upload.generatePassword, onProgress, cancel, onState);
        if (!self)
            co_return;
        result.outcome = Result::Outcome::Succeeded;
    } catch (const std::exception& error) {
        if (!self)
            co_return;
        const ErrorText failure = describeError(error);
        result.outcome = m_cancelled ? Result::Outcome::Cancelled : Result::Outcome::Failed;
        result.errorText = failure.text;
        result.errorKind = failure.kind;
        qCInfo(lcUpload) << "upload ended without a transfer:" << failure.text;
    }
    // Whatever the outcome: nothing runs the same upload again, and a tray client runs for weeks.
    // Only the run's own folder goes; a dropped file is never deleted.
    m_staging.reset();
    finish(std::move(result));
}
