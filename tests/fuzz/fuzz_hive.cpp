// Feeds arbitrary bytes to the registry hive reader: it must never crash, hang or
// run out of memory, every failure must name a line or the file's size, and a hive
// it reads must read back the same once written.
#include "common/Error.h"
#include "settings/Hive.h"

#include <QRegularExpression>

#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void fail(const char *what, const QByteArray &detail)
{
    std::fprintf(stderr, "%s: %s\n", what, detail.constData());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    QByteArray written;
    try {
        written = Hive::parse(bytes).serialize();
    } catch (const qb::Error &e) {
        static const QRegularExpression known(
            QStringLiteral("^(line [1-9][0-9]*: .+|the file is larger than 16 MiB)$"),
            QRegularExpression::DotMatchesEverythingOption);
        if (!known.match(e.message()).hasMatch())
            fail("unexpected message", e.message().toUtf8());
        return 0;
    }
    try {
        const QByteArray again = Hive::parse(written).serialize();
        if (again != written)
            fail("written differently after reading back", again);
    } catch (const qb::Error &e) {
        fail("what was written cannot be read back", e.message().toUtf8());
    }
    return 0;
}
