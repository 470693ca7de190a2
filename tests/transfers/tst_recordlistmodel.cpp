#include "RecordListModel.h"

#include <QAbstractItemModelTester>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>

namespace {
struct Record {
    QString key;
    int version = 0;
    bool operator==(const Record&) const = default;
};

using Model = RecordListModel<Record>;

Model* makeModel(QObject* parent) {
    return new Model([](const Record& r) { return r.key; }, std::equal_to<Record>(),
                     [](const Record& r) { return r.key + QString::number(r.version); }, parent);
}

QStringList keysOf(const QAbstractItemModel& model) {
    QStringList keys;
    for (int row = 0; row < model.rowCount(); ++row)
        keys << model.index(row, 0).data(Model::KeyRole).toString();
    return keys;
}
} // namespace

// The list model behind both tabs: a new list turns into the fewest row changes.
class TestRecordListModel : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Random lists (repeated keys, reorders, removals, insertions, changed records) one after the
    // other: after each the rows are the list, the rows held by the view still show their key, and
    // the model was never reset.
    void everyListBecomesTheFewestRowChanges() {
        QObject owner;
        Model* model = makeModel(&owner);
        QAbstractItemModelTester tester(model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy resets(model, &QAbstractItemModel::modelReset);
        QSignalSpy inserted(model, &QAbstractItemModel::rowsInserted);
        QSignalSpy removed(model, &QAbstractItemModel::rowsRemoved);
        QSignalSpy moved(model, &QAbstractItemModel::layoutChanged);
        QRandomGenerator random(20241207);
        for (int step = 0; step < 400; ++step) {
            QList<Record> next = model->records();
            const int edits = int(random.bounded(1, 5));
            for (int e = 0; e < edits; ++e) {
                const int at = next.isEmpty() ? 0 : int(random.bounded(next.size()));
                switch (random.bounded(next.isEmpty() ? 1 : 6)) {
                case 0: // a new key, or one of the keys again
                    next.insert(at, {random.bounded(4) == 0 && !next.isEmpty()
                                         ? next[int(random.bounded(next.size()))].key
                                         : QString::number(random.bounded(60)),
                                     0});
                    break;
                case 1:
                    next.remove(at);
                    break;
                case 2:
                    next.move(at, int(random.bounded(next.size())));
                    break;
                default:
                    ++next[at].version;
                }
            }
            // Which key each row held before, seen through the indexes a view keeps.
            const QStringList keysBefore = keysOf(*model);
            QList<QPersistentModelIndex> held;
            for (int row = 0; row < model->rowCount(); ++row)
                held << model->index(row, 0);
            inserted.clear(), removed.clear(), moved.clear();

            model->assign(next);

            QCOMPARE(model->records(), next);
            QStringList wanted;
            for (const Record& record : next)
                wanted << record.key;
            QCOMPARE(keysOf(*model), wanted);
            for (int i = 0; i < held.size(); ++i) {
                if (held[i].isValid())
                    QCOMPARE(held[i].data(Model::KeyRole).toString(), keysBefore[i]);
                else if (keysBefore.count(keysBefore[i]) <= wanted.count(keysBefore[i]))
                    QFAIL(qPrintable(
                        QStringLiteral("row of a kept key %1 went at step %2").arg(keysBefore[i]).arg(step)));
            }
            // Nothing at all for an equal list; no reordering unless kept keys changed places.
            if (keysBefore == wanted)
                QVERIFY(inserted.isEmpty() && removed.isEmpty() && moved.isEmpty());
        }
        QVERIFY(resets.isEmpty());
        QVERIFY(model->rowCount() > 0);
    }

    void aChangedRecordIsReportedAloneAndTheTextIsTheRowsText() {
        QObject owner;
        Model* model = makeModel(&owner);
        model->assign({{"a", 0}, {"b", 0}, {"c", 0}});
        QSignalSpy changed(model, &QAbstractItemModel::dataChanged);
        QSignalSpy inserted(model, &QAbstractItemModel::rowsInserted);
        model->assign({{"x", 0}, {"a", 0}, {"b", 1}, {"c", 0}});
        QCOMPARE(inserted.size(), 1);
        QCOMPARE(inserted[0][1].toInt(), 0);
        QCOMPARE(inserted[0][2].toInt(), 0);
        QCOMPARE(changed.size(), 1);
        QCOMPARE(changed[0][0].toModelIndex().row(), 2);
        QCOMPARE(changed[0][1].toModelIndex().row(), 2);
        QCOMPARE(model->index(2, 0).data(Qt::DisplayRole).toString(), QStringLiteral("b1"));
        QCOMPARE(model->index(2, 0).data(Qt::AccessibleTextRole).toString(), QStringLiteral("b1"));
    }
};

QTEST_MAIN(TestRecordListModel)
#include "tst_recordlistmodel.moc"
