// Large lists: the real panel on the real transfers layer against the bundled server seeded with
// many sent transfers and customer uploads, and a large history file. Reports the start, the longest
// main-thread stall while the lists load and while a poll changes a few records, the memory above
// idle and scrolling through both lists.
// Usage: bench_lists [transfers] [uploads] [history entries] (default 20000 20000 40000).
// The history shares its first entries' codes with the server's transfers, the rest are older ones
// the server no longer lists. Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise.
#include "RecordingDesktopServices.h"
#include "TestServerFixture.h"
#include "platform/Settings.h"
#include "services/OffMainThread.h"
#include "transfers/ClientSession.h"
#include "transfers/ReceivedUploads.h"
#include "transfers/SentTransfers.h"
#include "transfers/UpdaterManager.h"
#include "views/PanelView.h"
#include "views/ReceiveTab.h"
#include "views/RowListView.h"
#include "views/SendTab.h"

#include "FakeUpdaterBackend.h"

#include <QApplication>
#include <QCoroTask>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QTimer>
#include <cstdio>
#include <malloc.h>

namespace {

long rssKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return 0;
}

// What malloc has handed out and not had back, in KiB: set beside VmRSS, it tells the records
// themselves from memory freed but kept by the allocator.
long heapKiB() {
    const struct mallinfo2 info = mallinfo2();
    return long((info.uordblks + info.hblkhd) / 1024);
}

// The largest gap between the ticks of a 2 ms timer: how long the event loop was blocked.
class StallProbe : public QObject {
public:
    StallProbe() {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(2);
        connect(&m_timer, &QTimer::timeout, this,
                [this] { m_longest = std::max(m_longest, m_clock.restart()); });
    }
    void start() {
        m_longest = 0;
        m_clock.start();
        m_timer.start();
    }
    qint64 stop() {
        m_timer.stop();
        return std::max(m_longest, m_clock.elapsed());
    }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_longest = 0;
};

// Runs the event loop until `done` holds (checked every millisecond).
template <typename Done> void spinUntil(Done done) {
    while (!done())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
}

QCoro::Task<> refreshBoth(ClientSession* session, bool* done) {
    co_await session->refreshLists();
    *done = true;
}

// What the poll does, run to its end.
void poll(ClientSession& session) {
    bool done = false;
    auto task = refreshBoth(&session, &done);
    spinUntil([&] { return done; });
}

QJsonArray filesJson(const QStringList& names) {
    QJsonArray files;
    for (const QString& name : names)
        files.append(QJsonObject{{"name", name}, {"size", 123456}, {"sizeFormatted", "120,6 KB"}});
    return files;
}

// One sent transfer as the server lists it: some with several files, some with a password, one in
// ten downloaded, long names.
QJsonObject transferJson(int i, const QDateTime& now, QStringList& codes) {
    const QString code = QStringLiteral("c%1x").arg(i, 7, 10, QLatin1Char('0'));
    codes << code;
    QStringList names{QStringLiteral("Bericht %1 mit einem recht langen Namen für die Anzeige.pdf").arg(i)};
    if (i % 4 == 0)
        names << QStringLiteral("Anlage %1.xlsx").arg(i) << QStringLiteral("Foto %1.jpg").arg(i);
    QJsonObject object{{"code", code},
                       {"files", filesJson(names)},
                       {"downloadURL", QStringLiteral("https://transfer.example.com/d/") + code},
                       {"createdAt", now.addSecs(-60 * i).toString(Qt::ISODateWithMs)},
                       {"isDownloaded", i % 10 == 0},
                       {"totalSize", 123456 * names.size()},
                       {"totalSizeFormatted", "361,7 KB"},
                       {"hasPassword", i % 5 == 0}};
    if (i % 10 == 0)
        object.insert("downloadedAt", now.addSecs(-30 * i).toString(Qt::ISODateWithMs));
    return object;
}

QJsonObject uploadJson(int i, const QDateTime& now) {
    QStringList names{QStringLiteral("Scan %1.pdf").arg(i)};
    if (i % 3 == 0)
        names << QStringLiteral("Foto %1.jpg").arg(i) << QStringLiteral("Rechnung %1.pdf").arg(i);
    QJsonObject object{{"token", QStringLiteral("t%1x").arg(i, 7, 10, QLatin1Char('0'))},
                       {"customerName", QStringLiteral("Kundin Nummer %1 GmbH & Co. KG").arg(i)},
                       {"files", filesJson(names)},
                       {"uploadDate", now.addSecs(-60 * i).toString(Qt::ISODate)},
                       {"isDownloaded", i % 4 == 0},
                       {"totalSize", 123456 * names.size()},
                       {"totalSizeFormatted", "361,7 KB"},
                       {"code", QStringLiteral("u%1").arg(i)}};
    if (i % 2)
        object.insert("auftragsnummer", QStringLiteral("A-2024-%1").arg(i));
    if (i % 7 == 0)
        object.insert("nachricht", QStringLiteral("Bitte bis Freitag prüfen, danke!"));
    return object;
}

// Newest first, as the client writes it; about 235 bytes an entry, as in the file that was reported.
void writeHistory(const QString& path, const QStringList& serverCodes, int entries) {
    OrderedJson array = OrderedJson::array();
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (int i = 0; i < entries; ++i) {
        TransferItem item;
        item.code =
            i < serverCodes.size() ? serverCodes[i] : QStringLiteral("h%1x").arg(i, 7, 10, QLatin1Char('0'));
        item.fileName = QStringLiteral("Unterlagen %1.zip").arg(i);
        item.downloadURL = QStringLiteral("https://transfer.example.com/d/") + item.code;
        item.uploadDate = now.addSecs(-60 * i);
        if (i % 4 == 0)
            item.originalFileNames = {QStringLiteral("Angebot %1.pdf").arg(i), QStringLiteral("Plan.dwg")};
        item.hasPassword = i % 3 == 0;
        array.append(item.toJson());
    }
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(array.toJson(OrderedJson::Format::Pretty));
}

struct ScrollFigures {
    int pages = 0;
    double msPerPage = 0;
    qint64 longestMs = 0;
};

ScrollFigures scrollThrough(RowListView* list) {
    QScrollBar* bar = list->verticalScrollBar();
    ScrollFigures figures;
    QElapsedTimer total;
    total.start();
    for (int value = 0; value <= bar->maximum(); value += bar->pageStep()) {
        QElapsedTimer page;
        page.start();
        bar->setValue(value);
        list->viewport()->repaint();
        figures.longestMs = std::max(figures.longestMs, page.elapsed());
        ++figures.pages;
    }
    figures.msPerPage = double(total.elapsed()) / std::max(1, figures.pages);
    return figures;
}

} // namespace

int main(int argc, char** argv) {
    limitMallocArenas(); // as the client does
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int transfers = argc > 1 ? atoi(argv[1]) : 20000;
    const int uploads = argc > 2 ? atoi(argv[2]) : 20000;
    const int historyEntries = argc > 3 ? atoi(argv[3]) : 40000;

    TestServerFixture fixture;
    DevServer& server = fixture.server();
    // The server's own seeding stores every record on disk one by one (minutes for thousands): its
    // list answers are built here in the server's shape and served through its test controls.
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QStringList codes;
    QJsonArray outgoing;
    for (int i = 0; i < transfers; ++i)
        outgoing.append(transferJson(i, now, codes));
    QJsonArray incoming;
    for (int i = 0; i < uploads; ++i)
        incoming.append(uploadJson(i, now));
    QByteArray outgoingBody, incomingBody;
    const auto prepare = [&] {
        outgoingBody = QJsonDocument(outgoing).toJson();
        incomingBody = QJsonDocument(incoming).toJson();
    };
    // Made beforehand: the benchmark's own work must not count as the client's.
    const auto serve = [&] {
        server.failNext(QStringLiteral("/api/outgoing"), 1, 200, outgoingBody);
        server.failNext(QStringLiteral("/api/incoming"), 1, 200, incomingBody);
    };
    prepare();
    std::printf("server lists: %d transfers (%.1f MB), %d customer uploads (%.1f MB)\n", transfers,
                outgoingBody.size() / 1e6, uploads, incomingBody.size() / 1e6);

    QTemporaryDir dir;
    const QString historyDir = dir.filePath(QStringLiteral("history"));
    writeHistory(historyDir + QStringLiteral("/history.json"), codes, historyEntries);
    std::printf("history: %d entries, %.1f MB\n", historyEntries,
                QFileInfo(historyDir + QStringLiteral("/history.json")).size() / 1e6);

    Settings settings(dir.filePath(QStringLiteral("settings.ini")));
    RecordingDesktopServices desktop;
    StallProbe probe;
    QCoreApplication::processEvents();
    const long idle = rssKiB();
    const long idleHeap = heapKiB();

    // Start: building the session and the panel, showing it, the first poll, both lists complete.
    probe.start();
    QElapsedTimer clock;
    clock.start();
    ClientSession::Environment environment;
    environment.historyDirectory = historyDir;
    environment.secretStore = &fixture.store();
    environment.desktop = &desktop;
    environment.settings = &settings;
    environment.firstPollDelay = std::chrono::hours(1); // run below, as it would run
    environment.pollInterval = std::chrono::hours(1);
    ClientSession session(fixture.http(), environment);
    session.setShowSettings(false);
    UpdaterManager updater(UpdaterManager::Environment{std::make_unique<FakeUpdaterBackend>(), &settings});
    PanelView panel(&session, &updater);
    panel.resize(Settings::defaultPanelWidth, Settings::defaultPanelHeight);
    panel.show();
    QCoreApplication::processEvents();
    const qint64 shown = clock.elapsed();
    // The history is read on the thread pool and fills the send list when it is read.
    bool historyRead = false;
    QObject::connect(session.sent(), &SentTransfers::historyRead, [&] { historyRead = true; });
    spinUntil([&] { return historyRead; });
    panel.sendTab()->list()->viewport()->repaint();
    const qint64 withHistory = clock.elapsed();
    const qint64 shownStall = probe.stop();
    probe.start();
    serve();
    poll(session);
    panel.sendTab()->list()->viewport()->repaint();
    const qint64 loaded = clock.elapsed();
    const qint64 loadStall = probe.stop();
    const long afterLoad = rssKiB();
    std::printf("start: panel shown %lld ms, history in the list %lld ms (longest stall %lld ms), both lists "
                "complete %lld ms (longest stall while loading %lld ms)\n",
                shown, withHistory, shownStall, loaded, loadStall);
    std::printf("rows: %d sent, %d received\n", session.sent()->model()->rowCount(),
                session.received()->model()->rowCount());
    std::printf("memory: idle %ld MiB, after loading %ld MiB (+%ld MiB; heap in use +%ld MiB)\n", idle / 1024,
                afterLoad / 1024, (afterLoad - idle) / 1024, (heapKiB() - idleHeap) / 1024);

    // A poll that changes a few records: new ones on both sides, one downloaded.
    for (int i = 0; i < 3; ++i)
        outgoing.prepend(transferJson(transfers + i, now.addSecs(60), codes));
    incoming.prepend(uploadJson(uploads, now.addSecs(60)));
    QJsonObject downloaded = incoming[5].toObject();
    downloaded.insert(QStringLiteral("isDownloaded"), true);
    incoming.replace(5, downloaded);
    prepare();
    serve();
    const int sentBefore = session.sent()->model()->rowCount();
    const int receivedBefore = session.received()->model()->rowCount();
    probe.start();
    clock.restart();
    poll(session);
    panel.sendTab()->list()->viewport()->repaint();
    const qint64 pollTime = clock.elapsed();
    const qint64 pollStall = probe.stop();
    std::printf("poll: %d → %d sent, %d → %d received in %lld ms, longest stall %lld ms\n", sentBefore,
                session.sent()->model()->rowCount(), receivedBefore, session.received()->model()->rowCount(),
                pollTime, pollStall);
    std::printf("memory after the poll: +%ld MiB above idle (heap in use +%ld MiB)\n",
                (rssKiB() - idle) / 1024, (heapKiB() - idleHeap) / 1024);
    // Once what the poll let go has been freed and trimmed on the thread pool.
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    std::printf("memory once the thread pool is idle: +%ld MiB above idle (heap in use +%ld MiB, free but "
                "held by malloc %ld MiB)\n",
                (rssKiB() - idle) / 1024, (heapKiB() - idleHeap) / 1024, long(mallinfo2().fordblks >> 20));

    const ScrollFigures sentScroll = scrollThrough(panel.sendTab()->list());
    std::printf("scroll send tab: %d pages, %.2f ms per page, slowest %lld ms\n", sentScroll.pages,
                sentScroll.msPerPage, sentScroll.longestMs);
    session.setSelectedTab(1);
    QCoreApplication::processEvents();
    const ScrollFigures receivedScroll = scrollThrough(panel.receiveTab()->list());
    std::printf("scroll receive tab: %d pages, %.2f ms per page, slowest %lld ms\n", receivedScroll.pages,
                receivedScroll.msPerPage, receivedScroll.longestMs);
    // A finished upload is shown at once and written into the (long) history off the main thread.
    TransferItem uploaded;
    uploaded.fileName = QStringLiteral("Gerade hochgeladen.pdf");
    uploaded.code = QStringLiteral("neu-hochgeladen");
    uploaded.downloadURL = QStringLiteral("https://transfer.example.com/d/neu-hochgeladen");
    uploaded.uploadDate = QDateTime::currentDateTimeUtc();
    probe.start();
    clock.restart();
    const QFileInfo historyFile(historyDir + QStringLiteral("/history.json"));
    const qint64 longHistory = historyFile.size();
    session.sent()->addUploaded(uploaded);
    panel.sendTab()->list()->viewport()->repaint();
    // Written off the main thread: done when the file holds the last entries only.
    spinUntil([&] { return QFileInfo(historyFile.filePath()).size() < longHistory; });
    const qint64 recorded = clock.elapsed();
    std::printf("history after an upload: %lld ms, longest stall %lld ms\n", recorded, probe.stop());

    std::printf("memory at the end: +%ld MiB above idle\n", (rssKiB() - idle) / 1024);
    return 0;
}
