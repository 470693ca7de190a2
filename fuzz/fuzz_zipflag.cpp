// The UTF-8 flag patch on an arbitrary file: it may only set bit 11 of header flag fields, never
// grow or shrink the file, never touch anything beside it, and fails only with an AppError.
#include "FuzzCheck.h"
#include "models/AppError.h"
#include "services/ZipService.h"

#include <QDir>
#include <QFile>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <unistd.h>

namespace {
QString folder;
QString archive;
QString neighbour;
const QByteArray neighbourBytes = QByteArrayLiteral("PK\x03\x04 the file beside the archive");

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    FUZZ_REQUIRE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    FUZZ_REQUIRE(file.write(bytes) == bytes.size());
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    FUZZ_REQUIRE(file.open(QIODevice::ReadOnly));
    return file.readAll();
}

void patch() {
    try {
        ZipService::setUtf8Flag(archive);
    } catch (const AppError&) {
    }
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // A private folder of this run; the fuzzed archive and its neighbour are the only files in it.
    QByteArray pattern = QFile::encodeName(QDir::tempPath()) + "/zanvolt-fuzz-zip-XXXXXX";
    FUZZ_REQUIRE(::mkdtemp(pattern.data()) != nullptr);
    folder = QFile::decodeName(pattern);
    archive = folder + QStringLiteral("/archive.zip");
    neighbour = folder + QStringLiteral("/neighbour");
    std::atexit([] { QDir(folder).removeRecursively(); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray before(reinterpret_cast<const char*>(data), qsizetype(size));
    writeFile(archive, before);
    writeFile(neighbour, neighbourBytes);

    // Twice: the second run starts from the first one's result.
    patch();
    patch();

    const QByteArray after = readFile(archive);
    FUZZ_REQUIRE(after.size() == before.size());
    for (qsizetype i = 0; i < before.size(); ++i)
        FUZZ_REQUIRE(after[i] == before[i] || after[i] == char(before[i] | 0x08));
    FUZZ_REQUIRE(readFile(neighbour) == neighbourBytes);
    const QStringList names =
        QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    FUZZ_REQUIRE(names.size() == 2);
    return 0;
}
