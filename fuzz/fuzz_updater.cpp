// The update feed and the signature check on arbitrary bytes. The whole input is read as a feed;
// it is also split at its first two line breaks into signature, public key (both base64) and the
// signed data, as the download check gets them.
#include "FuzzCheck.h"
#include "models/AppError.h"
#include "services/UpdaterFeed.h"
#include "services/UpdaterSignature.h"

#include <QVersionNumber>
#include <cstddef>
#include <cstdint>

namespace {
const QUrl feedURL(QStringLiteral("https://updates.example.com/zanvolt/feed.xml"));

int sign(int value) {
    return (value > 0) - (value < 0);
}

void checkFeed(const QByteArray& input) {
    QList<UpdaterFeed::Item> items;
    try {
        items = UpdaterFeed::parse(input, feedURL);
    } catch (const AppError&) {
        return;
    }
    for (const UpdaterFeed::Item& item : items) {
        FUZZ_REQUIRE(!QVersionNumber::fromString(item.version).isNull());
        FUZZ_REQUIRE(!item.displayVersion.isEmpty());
        FUZZ_REQUIRE(item.downloadURL.isValid() && !item.downloadURL.isEmpty());
        FUZZ_REQUIRE(item.length >= -1);
        FUZZ_REQUIRE(UpdaterFeed::compareVersions(item.version, item.version) == 0);
        for (const UpdaterFeed::Item& other : items)
            FUZZ_REQUIRE(sign(UpdaterFeed::compareVersions(item.version, other.version)) ==
                         -sign(UpdaterFeed::compareVersions(other.version, item.version)));
    }
    const QString current = QStringLiteral("0.1.0");
    if (const auto newest = UpdaterFeed::newestUpdate(items, current)) {
        FUZZ_REQUIRE(UpdaterFeed::compareVersions(newest->version, current) > 0);
        for (const UpdaterFeed::Item& item : items)
            FUZZ_REQUIRE(UpdaterFeed::compareVersions(item.version, newest->version) <= 0);
    } else {
        for (const UpdaterFeed::Item& item : items)
            FUZZ_REQUIRE(UpdaterFeed::compareVersions(item.version, current) <= 0);
    }
}

void checkSignature(const QByteArray& input) {
    const qsizetype first = input.indexOf('\n');
    const qsizetype second = first < 0 ? -1 : input.indexOf('\n', first + 1);
    if (second < 0)
        return;
    const QByteArray signature = input.left(first);
    const QByteArray key = input.mid(first + 1, second - first - 1);
    QByteArray data = input.mid(second + 1);
    if (!UpdaterSignature::verify(data, signature, key))
        return;
    // A valid signature covers every bit of the data.
    const qsizetype at = data.isEmpty() ? 0 : qsizetype(quint8(signature.at(0))) % data.size();
    if (data.isEmpty())
        data.append('\0');
    else
        data[at] = char(data[at] ^ 0x01);
    FUZZ_REQUIRE(!UpdaterSignature::verify(data, signature, key));
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    const QByteArray input(reinterpret_cast<const char*>(bytes), qsizetype(size));
    checkFeed(input);
    checkSignature(input);
    return 0;
}
