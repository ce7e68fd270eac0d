// How long the registry hive reader takes, and how much memory, on a hive of many
// ordinary keys and on one key path of many levels.
//   hive_bench keys N     N keys side by side, each with a text and a number
//   hive_bench levels N   one key path of N levels, the root's included
#include "common/Error.h"
#include "settings/Hive.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <cstdio>

namespace {

long peakResidentKilobytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return -1;
}

QByteArray manyKeys(int count)
{
    QByteArray content = "REGEDIT4\n";
    for (int i = 0; i < count; ++i) {
        content += "\n[HKEY_CURRENT_USER\\Software\\Bench\\Key" + QByteArray::number(i) + "]\n";
        content += "\"Text\"=\"value " + QByteArray::number(i) + "\"\n";
        content += "\"Number\"=dword:0000002a\n";
    }
    return content;
}

QByteArray deepKey(int levels)
{
    QByteArray content = "REGEDIT4\n\n[HKEY_CURRENT_USER";
    for (int i = 1; i < levels; ++i)
        content += "\\k";
    return content + "]\n\"Text\"=\"deep\"\n";
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    bool ok = false;
    const int count = arguments.size() == 3 ? arguments[2].toInt(&ok) : 0;
    if (!ok || count <= 0 ||
        (arguments[1] != QLatin1String("keys") && arguments[1] != QLatin1String("levels"))) {
        std::fputs("usage: hive_bench keys|levels N\n", stderr);
        return 1;
    }
    const QByteArray content =
        arguments[1] == QLatin1String("keys") ? manyKeys(count) : deepKey(count);
    QElapsedTimer timer;
    timer.start();
    QString outcome = QStringLiteral("read");
    try {
        const Hive hive = Hive::parse(content);
    } catch (const qb::Error &e) {
        outcome = QStringLiteral("refused (%1)").arg(e.message());
    }
    std::printf("%s %d: %lld ms, %s, %lld bytes, peak memory %ld MB\n", qPrintable(arguments[1]),
                count, timer.elapsed(), qPrintable(outcome), static_cast<long long>(content.size()),
                peakResidentKilobytes() / 1024);
    return 0;
}
