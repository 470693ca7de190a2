#include "ServerControls.h"

#include <algorithm>
#include <chrono>

bool ServerControls::matches(const QString& pattern, const QString& path) {
    if (pattern.endsWith(u'*'))
        return path.startsWith(QStringView(pattern).chopped(1));
    return path == pattern;
}

void ServerControls::add(Kind kind, const QString& path, int count, int status, const QByteArray& body,
                         int milliseconds, qint64 bytes) {
    if (count <= 0)
        return;
    std::lock_guard lock(mutex_);
    rules_.append({kind, path, count, status, body, milliseconds, bytes});
}

ServerControls::Action ServerControls::take(const QString& rawPath, const QString& decodedPath) {
    Action action;
    std::lock_guard lock(mutex_);
    bool outcomeTaken = false;
    bool delayTaken = false;
    bool truncateTaken = false;
    for (auto& rule : rules_) {
        if (!matches(rule.path, rawPath) && !matches(rule.path, decodedPath))
            continue;
        if (rule.kind == Kind::Truncate) {
            if (truncateTaken)
                continue;
            truncateTaken = true;
            action.truncateAfter = rule.bytes;
            action.stallMilliseconds = rule.milliseconds;
        } else if (rule.kind == Kind::Delay) {
            if (delayTaken)
                continue;
            delayTaken = true;
            action.delayMilliseconds = rule.milliseconds;
        } else {
            if (outcomeTaken)
                continue;
            outcomeTaken = true;
            action.drop = rule.kind == Kind::Drop;
            action.fail = rule.kind == Kind::Fail;
            action.garble = rule.kind == Kind::Garble;
            action.redirect = rule.kind == Kind::Redirect;
            action.status = rule.status;
            action.body = rule.body;
        }
        --rule.remaining;
    }
    rules_.removeIf([](const Rule& rule) { return rule.remaining <= 0; });
    return action;
}

qint64 ServerControls::begin(const QString& method, const QString& rawPath, const QString& decodedPath,
                             const QMap<QString, QString>& headers) {
    std::lock_guard lock(mutex_);
    const qint64 id = nextId_++;
    DevServer::RecordedRequest request{method, rawPath, headers, 0, {}, QDateTime::currentDateTimeUtc()};
    entries_.append({id, request, decodedPath, ++sequence_, 0});
    return id;
}

ServerControls::Entry* ServerControls::entryLocked(qint64 id) {
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
        if (it->id == id)
            return &*it;
    }
    return nullptr;
}

bool ServerControls::recordsBodies() const {
    std::lock_guard lock(mutex_);
    return recordBodies_;
}

void ServerControls::appendBody(qint64 id, const char* data, size_t size) {
    std::lock_guard lock(mutex_);
    if (Entry* entry = entryLocked(id))
        entry->request.body.append(data, qsizetype(size));
}

void ServerControls::finish(qint64 id, qint64 bodySize) {
    std::lock_guard lock(mutex_);
    if (Entry* entry = entryLocked(id)) {
        entry->request.bodySize = bodySize;
        entry->endSequence = ++sequence_;
    }
}

void ServerControls::setRecordBodies(bool record) {
    std::lock_guard lock(mutex_);
    recordBodies_ = record;
}

QList<DevServer::RecordedRequest> ServerControls::requests() const {
    std::lock_guard lock(mutex_);
    QList<DevServer::RecordedRequest> list;
    list.reserve(entries_.size());
    for (const auto& entry : entries_)
        list.append(entry.request);
    return list;
}

void ServerControls::clear() {
    std::lock_guard lock(mutex_);
    entries_.clear();
}

int ServerControls::maxInFlight(const QString& path) const {
    std::lock_guard lock(mutex_);
    // Each request is an interval of sequence numbers; the answer is the deepest overlap.
    QList<std::pair<qint64, int>> events;
    for (const auto& entry : entries_) {
        if (!matches(path, entry.request.path) && !matches(path, entry.decodedPath))
            continue;
        events.append({entry.startSequence, +1});
        if (entry.endSequence != 0)
            events.append({entry.endSequence, -1});
    }
    std::sort(events.begin(), events.end());
    int current = 0;
    int most = 0;
    for (const auto& [sequence, step] : events) {
        current += step;
        most = std::max(most, current);
    }
    return most;
}

bool ServerControls::sleep(int milliseconds) {
    std::unique_lock lock(mutex_);
    return !wake_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return interrupted_; });
}

void ServerControls::interrupt() {
    {
        std::lock_guard lock(mutex_);
        interrupted_ = true;
    }
    wake_.notify_all();
}

void ServerControls::resume() {
    std::lock_guard lock(mutex_);
    interrupted_ = false;
}

void ServerControls::startOutage(int milliseconds) {
    std::lock_guard lock(mutex_);
    outageEnd_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
}

bool ServerControls::inOutage() const {
    std::lock_guard lock(mutex_);
    return std::chrono::steady_clock::now() < outageEnd_;
}
