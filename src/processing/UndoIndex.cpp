#include "UndoIndex.h"

#include "common/Error.h"
#include "common/FileDescriptor.h"
#include "common/FileSystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>

namespace undo {

namespace {

constexpr qint64 maxIndexSize = 16 * 1024 * 1024;

} // namespace

QString indexPath()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || QDir::isRelativePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/quillbrook/undo-records");
}

void addToIndex(const QString &recordPath)
{
    const QString path = indexPath();
    if (!qb::makePathDurably(QFileInfo(path).path()))
        throw qb::Error(
            QStringLiteral("Cannot make the folder of %1: %2").arg(path, qb::systemErrorText()));
    const qb::FileDescriptor fd(::open(QFile::encodeName(path).constData(),
                                       O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC,
                                       0600));
    if (!fd.isOpen() || !qb::writeAll(fd.get(), QFile::encodeName(recordPath) + '\n') ||
        ::fdatasync(fd.get()) != 0)
        throw qb::Error(QStringLiteral("Cannot write %1: %2").arg(path, qb::systemErrorText()));
}

QStringList indexedRecords()
{
    QFile file(indexPath());
    if (QFileInfo(file).isSymLink() || !file.open(QIODevice::ReadOnly))
        return {};
    QStringList records;
    for (const QByteArray &line : file.read(maxIndexSize).split('\n')) {
        const QString path = QFile::decodeName(line);
        if (path.isEmpty() || !QDir::isAbsolutePath(path) || !QFileInfo::exists(path))
            continue;
        records.removeAll(path);
        records << path;
    }
    return records;
}

} // namespace undo
