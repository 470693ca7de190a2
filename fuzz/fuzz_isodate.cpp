// The date rule on arbitrary text: only internet date-times are accepted, the accepted instant is the
// one the text writes, and what the client writes back is accepted again.
#include "FuzzCheck.h"
#include "models/IsoDate.h"

#include <cstddef>
#include <cstdint>

namespace {
using F = IsoDate::Fraction;

int number(const QString& text, qsizetype from, qsizetype length) {
    bool ok = false;
    const int value = text.mid(from, length).toInt(&ok);
    FUZZ_REQUIRE(ok);
    return value;
}

// The fields as written must be the fields of the accepted instant, seen at the written offset:
// Qt must not have rolled anything over (an hour 24, a day 31 in a 30-day month).
void checkFields(const QString& text, const QDateTime& date) {
    FUZZ_REQUIRE(text.size() >= 20 && text[10] == u'T');
    int offsetSeconds = 0;
    if (!text.endsWith(u'Z')) {
        const QString zone = text.right(6);
        offsetSeconds = (number(zone, 1, 2) * 60 + number(zone, 4, 2)) * 60;
        if (zone[0] == u'-')
            offsetSeconds = -offsetSeconds;
    }
    const QDateTime local = date.toOffsetFromUtc(offsetSeconds);
    FUZZ_REQUIRE(local.date().year() == number(text, 0, 4));
    FUZZ_REQUIRE(local.date().month() == number(text, 5, 2));
    FUZZ_REQUIRE(local.date().day() == number(text, 8, 2));
    FUZZ_REQUIRE(local.time().hour() == number(text, 11, 2));
    FUZZ_REQUIRE(local.time().minute() == number(text, 14, 2));
    FUZZ_REQUIRE(local.time().second() == number(text, 17, 2));
}

void checkAccepted(const QString& text, const QDateTime& date) {
    FUZZ_REQUIRE(date.isValid());
    checkFields(text, date);
    // The history file stores dates in this form and reads them with fractions forbidden.
    const QString written = IsoDate::format(date);
    const auto reread = IsoDate::parse(written, F::Forbidden);
    if (!reread)
        std::fprintf(stderr, "written form not accepted: %s\n", qPrintable(written));
    FUZZ_REQUIRE(reread);
    // Only the fraction is dropped.
    const qint64 ms = date.toMSecsSinceEpoch();
    const qint64 wholeSeconds = ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
    FUZZ_REQUIRE(reread->toMSecsSinceEpoch() == wholeSeconds * 1000);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const auto strict = IsoDate::parse(text, F::Forbidden);
    const auto lenient = IsoDate::parse(text, F::Optional);
    if (strict) {
        // Forbidding fractions only ever narrows what is accepted.
        FUZZ_REQUIRE(lenient && *lenient == *strict);
        FUZZ_REQUIRE(!text.contains(u'.'));
    }
    if (lenient)
        checkAccepted(text, *lenient);
    return 0;
}
