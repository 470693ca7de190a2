#include "TransferHistoryService.h"

#include "AppError.h"
#include "Logging.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>

TransferHistoryService::TransferHistoryService(const QString& directory) {
    const QString folder = directory.isEmpty() ? QDir::homePath() + QStringLiteral("/.zanvolt") : directory;
    // The history holds the user's links: keep the folder private. Failures are
    // ignored here and show up as failed (ignored) writes later.
    if (!QDir(folder).exists() && QDir().mkpath(folder))
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    m_fileURL = QDir(folder).filePath(QStringLiteral("history.json"));
}

QList<TransferItem> TransferHistoryService::load() const {
    QFile file(m_fileURL);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    if (!document.isArray())
        return {};
    QList<TransferItem> items;
    try {
        for (const QJsonValue& value : document.array()) {
            if (!value.isObject())
                return {};
            items.append(TransferItem::fromJson(value.toObject(), IsoDate::Fraction::Forbidden));
        }
    } catch (const AppError& error) {
        qCWarning(lcTransfers) << "history file unreadable, showing none:" << error.message();
        return {};
    }
    return items;
}

void TransferHistoryService::add(const TransferItem& item) {
    QList<TransferItem> items = load();
    items.prepend(item);
    if (items.size() > maxEntries)
        items.resize(maxEntries);
    save(items);
}

void TransferHistoryService::remove(const TransferItem& item) {
    QList<TransferItem> items = load();
    items.removeIf([&](const TransferItem& entry) { return entry.code == item.code; });
    save(items);
}

void TransferHistoryService::save(const QList<TransferItem>& items) {
    OrderedJson array = OrderedJson::array();
    for (const TransferItem& item : items)
        array.append(item.toJson());

    QSaveFile file(m_fileURL);
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    // QSaveFile::commit() does not see an error that only the final flush
    // meets (a full disk), so flush first: the old file must survive a failed write.
    const QByteArray bytes = array.toJson(OrderedJson::Format::Pretty);
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        file.cancelWriting();
        return;
    }
    file.commit();
}
