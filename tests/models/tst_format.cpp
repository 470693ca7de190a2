#include "Format.h"

#include <QLocale>
#include <QTest>
#include <clocale>
#include <cstdio>

namespace {
struct Case {
    QString text;
    const char* expected;
};
} // namespace

// The panel's number and date texts, checked under the C locale and again under a German one:
// the desktop's locale must never turn "1.5 MB" into "1,5 MB".
class TestFormat : public QObject {
    Q_OBJECT

    void checkAll() {
        const QList<Case> cases = {
            {Format::size(-5), "-5 B"},
            {Format::size(0), "0 B"},
            {Format::size(1023), "1023 B"},
            {Format::size(1024), "1 KB"},
            {Format::size(1536), "2 KB"},
            {Format::size(2560), "2 KB"}, // 2.5: exact halves round to even, as printf does
            {Format::size(3584), "4 KB"}, // 3.5
            {Format::size(1048575), "1024 KB"},
            {Format::size(1048576), "1.0 MB"},
            {Format::size(1310720), "1.2 MB"}, // 1.25
            {Format::size(1572864), "1.5 MB"},
            {Format::size(1073741823), "1024.0 MB"},
            {Format::size(1073741824), "1.00 GB"},
            {Format::size(1207959552), "1.12 GB"}, // 1.125
            {Format::size(5905580032), "5.50 GB"},
            {Format::speed(0), "..."},
            {Format::speed(-3), "..."},
            {Format::speed(512), "0 KB/s"},
            {Format::speed(2560), "2 KB/s"},
            {Format::speed(1048575), "1024 KB/s"},
            {Format::speed(1048576), "1.0 MB/s"},
            {Format::speed(1310720), "1.2 MB/s"},
            {Format::remaining(0.01, 1000, 100000), "berechne..."},
            {Format::remaining(0.5, 0, 100000), "berechne..."},
            {Format::remaining(0.5, 1000, 120000), "ca. 1 Min."},
            {Format::remaining(0.5, 100, 800000), "ca. 1h 6 Min."},
            {Format::remaining(0.5, 1, 7800), "ca. 1h 5 Min."},
            {Format::remaining(0.5, 1, 1440), "ca. 12 Min."},
            {Format::remaining(0.5, 1, 84), "ca. 42s"},
            {Format::remaining(0.5, 1, 119), "ca. 59s"},
            {Format::remaining(0.5, 1, 120), "ca. 1 Min."},
            {Format::dateTime(QDateTime(QDate(2024, 12, 31), QTime(23, 59, 30))), "31.12.2024 23:59"},
            {Format::downloadedAt(QDateTime(QDate(2024, 3, 5), QTime(7, 4))), "05.03.24 - 07:04"},
            {Format::dayAndTime(QDateTime(QDate(2024, 3, 5), QTime(7, 4))), "05.03. 07:04"},
        };
        for (const Case& c : cases)
            QCOMPARE(c.text, QString::fromUtf8(c.expected));
        // Far beyond what 64 bits of seconds hold: any text, but no undefined behaviour.
        QVERIFY(Format::remaining(0.02, 1e-300, Q_INT64_C(1) << 62).startsWith(QStringLiteral("ca. ")));
    }

private Q_SLOTS:
    void textsUnderTheCLocale() { checkAll(); }

    void textsUnderAGermanLocale() {
        // As QApplication does with a German desktop.
        QVERIFY2(std::setlocale(LC_ALL, "de_DE.UTF-8"), "the de_DE.UTF-8 locale is not installed");
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        char probe[16];
        std::snprintf(probe, sizeof probe, "%.1f", 1.5);
        QCOMPARE(probe, "1,5"); // the C library really writes German numbers now
        checkAll();
        std::setlocale(LC_ALL, "C");
        QLocale::setDefault(QLocale::c());
    }

    void shownTextLosesOnlyControls() {
        // An override would make the name read "rechnungexe.pdf".
        QCOMPARE(Format::shown(QStringLiteral("rechnung\u202Efdp.exe")), QStringLiteral("rechnungfdp.exe"));
        QCOMPARE(Format::shown(QStringLiteral("a\u2066b\u200Fc\u0007d\u001b[31me\u009bf\u007Fg")),
                 QStringLiteral("abcd[31mefg"));
        // Line breaks of a message, and everything printable, emoji included, stay.
        const QString printable = QStringLiteral("Grüße\nvon Ärzte 😀 <b>&amp;</b> \u05E9\u05DC\u05D5\u05DD");
        QCOMPARE(Format::shown(printable), printable);
    }
};

QTEST_GUILESS_MAIN(TestFormat)
#include "tst_format.moc"
