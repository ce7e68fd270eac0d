#include "SavedFilePlacer.h"

#include "SaveNaming.h"
#include "common/Error.h"
#include "common/FileSystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <unistd.h>

namespace {

bool sameContent(const QString &a, const QString &b)
{
    QFile first(a);
    QFile second(b);
    if (first.size() != second.size() || !first.open(QIODevice::ReadOnly) ||
        !second.open(QIODevice::ReadOnly))
        return false;
    constexpr qint64 chunk = 1 << 16;
    while (!first.atEnd()) {
        if (first.read(chunk) != second.read(chunk))
            return false;
    }
    return true;
}

// Moves from to to unless to exists; false (errno EEXIST) when it does.
bool moveWithoutReplacing(const QByteArray &from, const QByteArray &to)
{
    if (::link(from.constData(), to.constData()) != 0)
        return false;
    ::unlink(from.constData());
    return true;
}

struct TemporaryFile
{
    QString path;
    ~TemporaryFile()
    {
        if (!path.isEmpty())
            QFile::remove(path);
    }
};

} // namespace

QString SavedFilePlacer::place(const QString &wantedPath, SavedFileList &savedFiles,
                               const std::function<void(const QString &)> &write)
{
    const QString folder = QFileInfo(wantedPath).path();
    if (!QDir().mkpath(folder))
        throw qb::Error(QStringLiteral("Cannot create the folder %1").arg(folder));

    TemporaryFile temporary;
    temporary.path =
        folder + QStringLiteral("/.qb-%1.part")
                     .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'));
    write(temporary.path);

    const QByteArray from = QFile::encodeName(temporary.path);
    for (int number = 1;; ++number) {
        const QString candidate = number == 1 ? wantedPath : numberedPath(wantedPath, number);
        if (savedFiles.contains(candidate))
            continue;
        if (moveWithoutReplacing(from, QFile::encodeName(candidate))) {
            temporary.path.clear();
        } else if (errno != EEXIST) {
            throw qb::Error(
                QStringLiteral("Cannot save %1: %2").arg(candidate, qb::systemErrorText()));
        } else if (!sameContent(temporary.path, candidate)) {
            continue;
        }
        // The name must be on disk before the attachment may leave its email.
        qb::syncDirectory(folder);
        savedFiles.add(candidate);
        return candidate;
    }
}
