#include "services/FeedUpdaterBackend.h"

#include "models/CancelledError.h"
#include "models/ErrorText.h"
#include "models/Logging.h"
#include "models/UpdaterError.h"
#include "models/UserText.h"
#include "net/CancelToken.h"
#include "net/HttpEngine.h"
#include "net/HttpError.h"
#include "platform/Settings.h"
#include "services/OffMainThread.h"
#include "services/PrivateTempDir.h"
#include "services/UpdaterSignature.h"
#include "services/UpdaterUserDriver.h"

#include <QCoreApplication>
#include <QCoroFuture>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QThread>
#include <sys/stat.h>

namespace {
// Updates are only ever fetched with the system's certificate checks: unlike
// the company server, an update source is never trusted on first contact.
HttpRequest updateRequest(const QUrl& url) {
    HttpRequest request;
    request.url = url.toEncoded();
    request.trustOnFirstUse = false;
    return request;
}

QCoro::Task<QList<UpdaterFeed::Item>> fetchFeed(HttpEngine& http, QUrl url) {
    HttpResponse response;
    try {
        response = co_await http.send(updateRequest(url));
    } catch (const HttpError& error) {
        throw UpdaterError::feedUnreadable(error.message());
    }
    if (response.status != 200)
        throw UpdaterError::feedUnreadable(
            QCoreApplication::translate("FeedUpdaterBackend", "HTTP-Status %1").arg(response.status));
    co_return UpdaterFeed::parse(response.body, url);
}

// Streams the file into the private temporary folder and returns its path; the caller removes it.
// A body longer than announced is cut off at once instead of filling the disk.
QCoro::Task<QString> download(HttpEngine& http, UpdaterFeed::Item update, QString label,
                              QPointer<UpdaterUserDriver> driver, QPointer<CancelToken> cancel) {
    HttpRequest request = updateRequest(update.downloadURL);
    request.downloadFolder = PrivateTempDir::path();
    request.maxFileSize = update.length;
    const HttpEngine::ProgressHandler progress = [driver, label, length = update.length,
                                                  cancel](qint64, qint64 received) {
        if (driver)
            driver->showProgress(label, received, length, cancel);
    };
    HttpResponse response;
    try {
        response = co_await http.send(std::move(request), cancel, progress);
    } catch (const HttpError& error) {
        if (error.kind() == HttpError::Kind::ResponseTooLarge)
            throw UpdaterError::wrongLength();
        throw UpdaterError::downloadFailed(error.message());
    }
    if (response.status != 200)
        throw UpdaterError::downloadFailed(
            QCoreApplication::translate("FeedUpdaterBackend", "HTTP-Status %1").arg(response.status));
    if (QFileInfo(response.filePath).size() != update.length) {
        QFile::remove(response.filePath);
        throw UpdaterError::wrongLength();
    }
    co_return response.filePath;
}

bool sameFile(const QByteArray& a, const QByteArray& b) {
    struct stat first {};
    struct stat second {};
    return ::stat(a.constData(), &first) == 0 && ::stat(b.constData(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

// $APPIMAGE is inherited by everything started from an AppImage, a terminal included: it names this
// program only when it is the running file itself, or when the AppImage runtime's mount ($APPDIR,
// a mount point of its own) holds the running executable. Anything else must never be replaced.
bool isRunningAppImage(const QString& appImage) {
    if (appImage.isEmpty())
        return false;
    const QByteArray running = QByteArrayLiteral("/proc/self/exe");
    if (sameFile(QFile::encodeName(appImage), running))
        return true;
    const QString mount = QFileInfo(qEnvironmentVariable("APPDIR")).canonicalFilePath();
    const QString executable = QFileInfo(QString::fromUtf8(running)).canonicalFilePath();
    if (mount.isEmpty() || mount == QLatin1StringView("/") ||
        !executable.startsWith(mount + QLatin1Char('/')) || !QFileInfo(appImage).isFile())
        return false;
    struct stat root {};
    struct stat above {};
    return ::stat(QFile::encodeName(mount).constData(), &root) == 0 &&
           ::stat(QFile::encodeName(mount + QStringLiteral("/..")).constData(), &above) == 0 &&
           root.st_dev != above.st_dev;
}

struct Staged {
    std::shared_ptr<QSaveFile> file;
    std::optional<UpdaterError> error;
};

// Runs on a worker thread. Checks and writes the very same bytes (one mapping of the download), so
// nothing can change between the check and the copy. The signature must cover the offered version
// as well. The new file is written beside the program, flushed and given the program's permissions,
// but not yet renamed over it.
Staged verifyAndStage(QString downloaded, QString version, qint64 length, QByteArray signature,
                      QByteArray publicKey, QString target, QThread* owner) {
    QFile file(downloaded);
    if (!file.open(QIODevice::ReadOnly))
        return {nullptr, UpdaterError::downloadFailed(file.errorString())};
    if (file.size() != length || length <= 0)
        return {nullptr, UpdaterError::wrongLength()};
    const uchar* data = file.map(0, length);
    if (!data)
        return {nullptr, UpdaterError::downloadFailed(file.errorString())};
    const QByteArrayView bytes(data, length);
    if (!UpdaterSignature::verify(UpdaterSignature::signedMessage(version, bytes), signature, publicKey))
        return {nullptr, UpdaterError::badSignature()};

    auto staged = std::make_shared<QSaveFile>(target);
    if (!staged->open(QIODevice::WriteOnly) || staged->write(bytes.data(), length) != length ||
        !staged->flush() || !staged->setPermissions(QFile::permissions(target)))
        return {nullptr, UpdaterError::installFailed(staged->errorString())};
    staged->moveToThread(owner);
    return {staged, std::nullopt};
}

// The new instance must not find this one still running: it would hand itself over to it and exit.
void relaunchAfterExit(const QString& program) {
    QProcess::startDetached(
        QStringLiteral("/bin/sh"),
        {QStringLiteral("-c"),
         QStringLiteral("while kill -0 \"$1\" 2>/dev/null; do sleep 0.2; done; exec \"$2\""),
         QStringLiteral("zanvolt-relaunch"), QString::number(QCoreApplication::applicationPid()), program});
    QCoreApplication::quit();
}

QString releaseNotes(const UpdaterFeed::Item& update) {
    if (update.releaseNotesLink.isEmpty())
        return {};
    return QStringLiteral("<br><a href=\"%1\">Versionshinweise anzeigen</a>")
        .arg(QString::fromUtf8(update.releaseNotesLink.toEncoded()).toHtmlEscaped());
}
} // namespace

FeedUpdaterBackend::FeedUpdaterBackend(QObject* parent) : FeedUpdaterBackend(Options{}, parent) {}

FeedUpdaterBackend::FeedUpdaterBackend(Options options, QObject* parent)
    : UpdaterBackend(parent), m_options(std::move(options)) {
    if (m_options.defaults) {
        m_defaults = m_options.defaults;
    } else {
        m_ownDefaults = std::make_unique<Settings>();
        m_defaults = m_ownDefaults.get();
    }
    if (!m_options.relaunch)
        m_options.relaunch = relaunchAfterExit;
    if (!m_options.http)
        m_ownHttp = std::make_unique<HttpEngine>();
    m_http = m_options.http ? m_options.http : m_ownHttp.get();
    m_firstCheck.setSingleShot(true);
    connect(&m_firstCheck, &QTimer::timeout, this, [this] {
        if (checksAutomatically())
            checkForUpdatesInBackground();
    });
    if (auto* app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, &FeedUpdaterBackend::installOnQuit);
}

FeedUpdaterBackend::~FeedUpdaterBackend() = default;

bool FeedUpdaterBackend::checksAutomatically() const {
    return m_defaults->updaterFlag(Settings::UpdaterKey::enableAutomaticChecks).value_or(false);
}

void FeedUpdaterBackend::setChecksAutomatically(bool value) {
    m_defaults->setUpdaterFlag(Settings::UpdaterKey::enableAutomaticChecks, value);
}

// Kept for whoever reads the setting; this backend downloads only after the user chose to install.
void FeedUpdaterBackend::setDownloadsAutomatically(bool value) {
    m_defaults->setUpdaterFlag(Settings::UpdaterKey::automaticallyUpdate, value);
}

void FeedUpdaterBackend::setCheckInterval(std::chrono::milliseconds interval) {
    m_checkInterval = interval;
}

// Without a stored time of the last check, the own schedule is one check soon after start: a client
// that is restarted every day would otherwise never reach the daily timer's first tick.
void FeedUpdaterBackend::restartSchedule() {
    m_firstCheck.stop();
    m_firstCheck.start(m_options.firstCheckDelay);
}

bool FeedUpdaterBackend::isConfigured() const {
    const auto key = QByteArray::fromBase64Encoding(m_options.publicKey.trimmed(),
                                                    QByteArray::AbortOnBase64DecodingErrors);
    return UpdaterFeed::isAllowedURL(QUrl(m_options.feedURL, QUrl::StrictMode)) && key &&
           key.decoded.size() == 32;
}

QString FeedUpdaterBackend::unavailableReason() const {
    if (isConfigured())
        return {};
    return canReplaceProgramFile()
               ? QCoreApplication::translate("FeedUpdaterBackend", "Keine Update-Quelle eingerichtet.")
               : QCoreApplication::translate("FeedUpdaterBackend",
                                             "Updates kommen über die Paketverwaltung.");
}

bool FeedUpdaterBackend::canCheckForUpdates() const {
    return !m_sessionActive && isConfigured();
}

void FeedUpdaterBackend::setSessionActive(bool active) {
    const bool could = canCheckForUpdates();
    m_sessionActive = active;
    if (canCheckForUpdates() != could)
        Q_EMIT canCheckForUpdatesChanged(canCheckForUpdates());
}

void FeedUpdaterBackend::checkForUpdatesInBackground() {
    runCheck(false);
}

void FeedUpdaterBackend::checkForUpdates() {
    runCheck(true);
}

QString FeedUpdaterBackend::programFile() const {
    QString path = m_options.programFile;
    if (path.isEmpty() && isRunningAppImage(qEnvironmentVariable("APPIMAGE")))
        path = qEnvironmentVariable("APPIMAGE");
    if (path.isEmpty())
        path = QCoreApplication::applicationFilePath();
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? path : canonical;
}

bool FeedUpdaterBackend::canReplaceProgramFile() const {
    const QFileInfo program(programFile());
    return program.isFile() && program.isWritable() && QFileInfo(program.absolutePath()).isWritable();
}

QCoro::Task<> FeedUpdaterBackend::runCheck(bool userInitiated) {
    if (!canCheckForUpdates())
        co_return;
    const QPointer<FeedUpdaterBackend> self(this);
    setSessionActive(true);
    bool reportFailure = userInitiated;
    std::optional<QString> failure;
    try {
        co_await runSession(userInitiated, &reportFailure);
    } catch (const CancelledError&) {
    } catch (const std::exception& error) {
        failure = describeError(error).text;
    } catch (...) {
        failure = UserText::unknownError();
    }
    if (failure && !reportFailure)
        qCInfo(lcUpdate) << "update check failed quietly:" << *failure;
    if (!self)
        co_return;
    const QPointer<UpdaterUserDriver> driver = userDriver();
    if (driver)
        driver->hideProgress();
    if (failure && reportFailure && driver) {
        Q_EMIT dialogWillShow();
        try {
            co_await driver->inform(UserText::updateFailed(), failure->toHtmlEscaped());
        } catch (...) {
            qCWarning(lcUpdate) << "the failure dialog could not be shown";
        }
    }
    if (self)
        self->setSessionActive(false);
}

QCoro::Task<> FeedUpdaterBackend::runSession(bool userInitiated, bool* reportFailure) {
    const QPointer<FeedUpdaterBackend> self(this);
    const QString current = m_options.currentVersion;
    const QList<UpdaterFeed::Item> items =
        co_await fetchFeed(*m_http, QUrl(m_options.feedURL, QUrl::StrictMode));
    if (!self)
        co_return;
    const QPointer<UpdaterUserDriver> driver = userDriver();
    if (!driver)
        co_return;
    const std::optional<UpdaterFeed::Item> update = UpdaterFeed::newestUpdate(items, current);
    if (!update) {
        if (!userInitiated)
            co_return;
        Q_EMIT dialogWillShow();
        co_await driver->inform(
            QCoreApplication::translate("FeedUpdaterBackend", "Zanvolt ist auf dem neuesten Stand."),
            QCoreApplication::translate("FeedUpdaterBackend",
                                        "Version %1 ist die neueste verfügbare Version.")
                .arg(current.toHtmlEscaped()));
        co_return;
    }

    // The package manager brings the update; telling so at every background check would only nag.
    const bool packageManaged = !canReplaceProgramFile();
    if (packageManaged && !userInitiated)
        co_return;
    *reportFailure = true;
    Q_EMIT dialogWillShow();
    const QString headline = QCoreApplication::translate("FeedUpdaterBackend", "Zanvolt %1 ist verfügbar.")
                                 .arg(update->displayVersion.toHtmlEscaped());
    const QString installed = QCoreApplication::translate("FeedUpdaterBackend", "Installiert ist Version %1.")
                                  .arg(current.toHtmlEscaped());
    if (packageManaged) {
        co_await driver->inform(headline, installed +
                                              QCoreApplication::translate("FeedUpdaterBackend",
                                                                          " Diese Installation wird über die "
                                                                          "Paketverwaltung aktualisiert.") +
                                              releaseNotes(*update));
        co_return;
    }
    const bool install =
        co_await driver->ask(headline, installed + releaseNotes(*update),
                             QCoreApplication::translate("FeedUpdaterBackend", "Installieren"),
                             QCoreApplication::translate("FeedUpdaterBackend", "Später"));
    if (!install || !self || !driver)
        co_return;
    if (update->edSignature.isEmpty())
        throw UpdaterError::missingSignature();
    if (update->length <= 0)
        throw UpdaterError::wrongLength();

    const QString label = QCoreApplication::translate("FeedUpdaterBackend", "Zanvolt %1 wird geladen …")
                              .arg(update->displayVersion);
    const auto cancelOwner = std::make_unique<CancelToken>();
    const QPointer<CancelToken> cancel = cancelOwner.get();
    Q_EMIT dialogWillShow();
    driver->showProgress(label, 0, update->length, cancel);
    const QString downloaded = co_await download(*m_http, *update, label, driver, cancel);
    if (!self) {
        QFile::remove(downloaded);
        co_return;
    }
    const QString target = programFile();
    const QByteArray publicKey = m_options.publicKey;
    std::function<Staged()> stage = [downloaded, version = update->version, length = update->length,
                                     signature = update->edSignature, publicKey, target, owner = thread()] {
        return verifyAndStage(downloaded, version, length, signature, publicKey, target, owner);
    };
    const Staged staged = co_await offMainThread(std::move(stage));
    QFile::remove(downloaded);
    if (staged.error)
        throw *staged.error;
    if (!self)
        co_return;
    if (driver)
        driver->hideProgress();
    self->handOver(staged.file);
}

void FeedUpdaterBackend::handOver(std::shared_ptr<QSaveFile> staged) {
    const QPointer<FeedUpdaterBackend> self(this);
    const QString target = staged->fileName();
    const auto relaunch = m_options.relaunch;
    auto install = [self, staged, target, relaunch] {
        if (!staged->isOpen())
            return; // already installed at quit
        if (!staged->commit()) {
            if (self && self->userDriver()) {
                Q_EMIT self->dialogWillShow();
                self->userDriver()->inform(
                    UserText::updateFailed(),
                    UpdaterError::installFailed(staged->errorString()).message().toHtmlEscaped());
            }
            return;
        }
        relaunch(target);
    };
    // Kept for the quit as well: an install the controller holds back while the client is busy
    // would otherwise be lost when the user quits first. Whichever runs first installs it.
    m_installOnQuit = staged;
    requestInstall(install);
}

void FeedUpdaterBackend::installOnQuit() {
    if (auto staged = std::exchange(m_installOnQuit, nullptr); staged && staged->isOpen())
        staged->commit();
}
