// Feeds arbitrary bytes to the settings file reader: it must never crash or hang,
// and every failure must be one of the reader's own messages.
#include "common/Error.h"
#include "settings/TSettings.h"

#include <QBuffer>
#include <QRegularExpression>

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size)
{
    QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    TSettings settings;
    try {
        settings.readStream(buffer);
    } catch (const qb::Error &e) {
        static const QRegularExpression known(
            QStringLiteral(
                "^(Stream read error|Invalid stream format|Invalid property value|"
                "Error reading TSettings\\.TSettings: (Invalid property value|Stream read error)|"
                "Error reading TSettings\\.(.*): Property \\3 does not exist)$"),
            QRegularExpression::DotMatchesEverythingOption);
        if (!known.match(e.message()).hasMatch()) {
            std::fprintf(stderr, "unexpected message: %s\n", e.message().toUtf8().constData());
            std::abort();
        }
    }
    return 0;
}
