#include "IsoDate.h"

#include <QTest>

class TestIsoDate : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void acceptsOnlyInternetDateTimes() {
        using F = IsoDate::Fraction;
        const auto plain = IsoDate::parse(QStringLiteral("2024-05-01T12:30:45Z"), F::Optional);
        QVERIFY(plain);
        QCOMPARE(plain->toUTC(), QDateTime(QDate(2024, 5, 1), QTime(12, 30, 45), Qt::UTC));
        const auto offset = IsoDate::parse(QStringLiteral("2024-05-01T12:30:45.500+02:00"), F::Optional);
        QVERIFY(offset);
        QCOMPARE(offset->toUTC(), QDateTime(QDate(2024, 5, 1), QTime(10, 30, 45, 500), Qt::UTC));
        QVERIFY(!IsoDate::parse(QStringLiteral("2024-05-01T12:30:45.500Z"), F::Forbidden));
        for (const char* bad : {"2024-05-01", "2024-05-01T12:30:45", "2024-05-01 12:30:45Z",
                                "2024-05-01T12:30Z", "2024-13-01T12:30:45Z", " 2024-05-01T12:30:45Z"})
            QVERIFY2(!IsoDate::parse(QString::fromLatin1(bad), F::Optional), bad);
        QCOMPARE(IsoDate::format(*offset), QStringLiteral("2024-05-01T10:30:45Z"));
    }
};

QTEST_GUILESS_MAIN(TestIsoDate)
#include "tst_isodate.moc"
