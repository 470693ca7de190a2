#include "services/HistoryStore.h"

#include "models/AppError.h"
#include "models/Logging.h"
#include "services/APIService.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>

HistoryStore::HistoryStore(const QString& directory) {
    const QString folder = directory.isEmpty() ? QDir::homePath() + QStringLiteral("/.zanvolt") : directory;
    // The history holds the user's links: keep the folder private. Failures are
    // ignored here and show up as failed (ignored) writes later.
    if (!QDir(folder).exists() && QDir().mkpath(folder))
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    m_filePath = QDir(folder).filePath(QStringLiteral("history.json"));
}

HistoryStore::Contents HistoryStore::read() const {
    QFile file(m_filePath);
    if (!file.exists())
        return {};
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(lcTransfers) << "history file unreadable:" << file.errorString();
        return {{}, true};
    }
    const QByteArray bytes = file.readAll();
    Contents contents;
    const auto entry = [&](const QJsonValue& value) {
        try {
            if (!value.isObject())
                throw AppError(QStringLiteral("entry is not an object"));
            contents.items.append(TransferItem::fromJson(value.toObject(), IsoDate::Fraction::Forbidden));
        } catch (const AppError& error) {
            qCWarning(lcTransfers) << "history entry skipped:" << error.message();
            contents.damaged = true;
        }
    };
    // Entry by entry, so that a long history's records do not lie among a parsed document's pieces.
    if (APIService::forEachListedObject(bytes, entry))
        return contents;
    contents = {};
    const QJsonDocument document = QJsonDocument::fromJson(bytes);
    if (!document.isArray()) {
        qCWarning(lcTransfers) << "history file is not a JSON array";
        return {{}, true};
    }
    for (const QJsonValue& value : document.array())
        entry(value);
    return contents;
}

QString HistoryStore::keepUnreadable() {
    QFile file(m_filePath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    if (!m_keptCopy.isEmpty() && bytes == m_keptBytes && QFile::exists(m_keptCopy))
        return m_keptCopy;
    const QString base = m_filePath + QStringLiteral(".unreadable-") +
                         QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-dd'T'HH-mm-ss'Z'"));
    QString target = base;
    for (int n = 2; QFileInfo::exists(target); ++n)
        target = base + QLatin1Char('-') + QString::number(n);
    QSaveFile copy(target);
    if (!copy.open(QIODevice::WriteOnly))
        return {};
    copy.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    if (copy.write(bytes) != bytes.size() || !copy.flush() || !copy.commit())
        return {};
    m_keptCopy = target;
    m_keptBytes = bytes;
    return target;
}

bool HistoryStore::add(const TransferItem& item) {
    Contents contents = read();
    if (contents.damaged && keepUnreadable().isEmpty())
        return false;
    contents.items.prepend(item);
    if (contents.items.size() > maxEntries)
        contents.items.resize(maxEntries);
    return save(contents.items);
}

bool HistoryStore::remove(const TransferItem& item) {
    Contents contents = read();
    if (contents.damaged && keepUnreadable().isEmpty())
        return false;
    contents.items.removeIf([&](const TransferItem& entry) { return entry.code == item.code; });
    return save(contents.items);
}

bool HistoryStore::save(const QList<TransferItem>& items) {
    OrderedJson array = OrderedJson::array();
    for (const TransferItem& item : items)
        array.append(item.toJson());

    QSaveFile file(m_filePath);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    // QSaveFile::commit() does not see an error that only the final flush
    // meets (a full disk), so flush first: the old file must survive a failed write.
    const QByteArray bytes = array.toJson(OrderedJson::Format::Pretty);
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}
