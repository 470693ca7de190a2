#include "UploadJob.h"

#include "APIServiceUpload.h"
#include "AppError.h"
#include "CancelToken.h"
#include "ErrorText.h"
#include "Format.h"
#include "Graphemes.h"
#include "Logging.h"
#include "ZipService.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtConcurrent>
#include <cstring>
#include <qcoro/qcorofuture.h>
#include <sys/stat.h>

namespace {
bool isDirectory(const QUrl& url) {
    return QFileInfo(url.toLocalFile()).isDir();
}

QString lastPathComponent(const QUrl& url) {
    return QFileInfo(QDir::cleanPath(url.toLocalFile())).fileName();
}

// A named pipe, device or socket would block the reader that opens it (or never end): refused by
// its type, before anything opens it; an unreadable file, before anything is sent. A dropped link
// stands for what it points at; a missing item fails later with the file system's own text.
void refuseUnsendable(const QList<QUrl>& urls) {
    for (const QUrl& url : urls) {
        const QByteArray path = QFile::encodeName(url.toLocalFile());
        struct stat info {};
        if (::stat(path.constData(), &info) != 0)
            continue;
        if (!S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode))
            throw AppError(QStringLiteral("„%1“ ist keine normale Datei und kein Ordner und kann nicht "
                                          "gesendet werden.")
                               .arg(lastPathComponent(url)));
        if (S_ISREG(info.st_mode) && ::access(path.constData(), R_OK) != 0)
            throw AppError(QStringLiteral("„%1“ kann nicht gelesen werden: %2")
                               .arg(lastPathComponent(url), QString::fromLocal8Bit(std::strerror(errno))));
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

// Names relative to `base`, the folder that holds the dropped one; a string prefix would cut a
// letter off when that is "/".
void collectFiles(const QString& folder, const QDir& base, QStringList& names) {
    // Hidden entries are skipped, and so is everything below a hidden folder.
    const QFileInfoList entries =
        QDir(folder).entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& entry : entries) {
        if (entry.isSymLink())
            continue;
        if (entry.isDir())
            collectFiles(entry.filePath(), base, names);
        else if (entry.isFile())
            names << base.relativeFilePath(entry.filePath());
    }
}
} // namespace

UploadJob::UploadJob(Request request, QObject* parent) : QObject(parent), m_request(std::move(request)) {}

UploadJob::~UploadJob() = default;

QStringList UploadJob::collectOriginalNames(const QList<QUrl>& urls) {
    QStringList names;
    for (const QUrl& url : urls) {
        if (!isDirectory(url)) {
            names << lastPathComponent(url);
            continue;
        }
        const QString folder = QDir::cleanPath(url.toLocalFile());
        const qsizetype before = names.size();
        collectFiles(folder, QDir(QFileInfo(folder).path()), names);
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
    if (m_isZipping == value)
        return;
    m_isZipping = value;
    Q_EMIT zippingChanged();
}

void UploadJob::setProgressText(const QString& value) {
    if (m_progressText == value)
        return;
    m_progressText = value;
    Q_EMIT progressTextChanged();
}

void UploadJob::setProgress(double value) {
    if (m_progress == value)
        return;
    m_progress = value;
    Q_EMIT progressChanged();
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
        } else {
            setZipping(true);
            setProgressText(QStringLiteral("ZIP erstellen..."));
            // Walking a large folder would block the panel.
            result.originalFileNames =
                co_await QtConcurrent::run(&UploadJob::collectOriginalNames, upload.urls);
            const QUrl archive =
                co_await ZipService::createZip(upload.urls, archiveName(upload.urls.first()), cancel);
            if (!self)
                co_return;
            fileToSend = archive.toLocalFile();
            result.fileName = archive.fileName();
            setZipping(false);
        }

        const QFileInfo info(fileToSend);
        const qint64 size = info.exists() ? info.size() : 0;
        setProgressText(QStringLiteral("Hochladen: %1 (%2)...").arg(result.fileName, Format::size(size)));
        setProgress(0.0);

        auto onProgress = [self, size](double fraction, double speed) {
            if (!self || self->m_done)
                return;
            self->m_speed = speed;
            self->setProgress(fraction);
            if (self->m_waiting)
                return;
            self->setProgressText(
                QStringLiteral("%1% von %2 – %3 – %4")
                    .arg(int(fraction * 100))
                    .arg(Format::size(size), Format::speed(speed), Format::remaining(fraction, speed, size)));
        };
        auto onState = [self, size](APIService::UploadState state) {
            if (!self || self->m_done)
                return;
            // Starting over is said until the new pass reports progress.
            self->m_waiting = state == APIService::UploadState::WaitingForNetwork;
            if (state == APIService::UploadState::WaitingForNetwork)
                self->setProgressText(QStringLiteral("%1% von %2 – Warte auf Verbindung…")
                                          .arg(int(self->m_progress * 100))
                                          .arg(Format::size(size)));
            else if (state == APIService::UploadState::StartingOver)
                self->setProgressText(QStringLiteral("Der Server hat den Upload verworfen – neuer Start…"));
        };
        result.response = co_await APIService::uploadOutgoing(
            fileToSend, upload.password, upload.generatePassword, onProgress, cancel, onState);
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
    if (pack && result.outcome == Result::Outcome::Succeeded)
        QFile::remove(fileToSend); // only the archive this job made; a dropped file is never deleted
    finish(std::move(result));
}
