#include "SaveNaming.h"

#include "common/AutomationDate.h"
#include "common/Text.h"
#include "mailstore/AttachText.h"
#include "mailstore/TAttach.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

QString safeOrBlank(const QString &text)
{
    const QString safe = SafeFileName(text);
    return safe.isEmpty() ? QStringLiteral("blank") : safe;
}

// Where the extension of the last path component starts, or -1.
qsizetype extensionStart(const QString &path)
{
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    return dot > path.lastIndexOf(QLatin1Char('/')) ? dot : -1;
}

} // namespace

QString SaveFileName(const TAttach &record)
{
    return qb::firstCharacters(safeOrBlank(record.Subject), 40) + QLatin1Char('.') +
           SafeFileName(record.Type);
}

QString destinationPath(const QString &saveFolder, const TAttach &record)
{
    QString path = saveFolder;
    QStringList levels = record.Folder.split(QLatin1Char('\\'));
    if (!levels.isEmpty() && levels.last().isEmpty())
        levels.removeLast(); // the label's closing "\"
    for (const QString &level : levels)
        path += safeOrBlank(level) + QLatin1Char('/');
    return path + SaveFileName(record);
}

bool SavedFileList::contains(const QString &path) const
{
    return m_folded.contains(path.toCaseFolded());
}

void SavedFileList::add(const QString &path)
{
    m_folded.insert(path.toCaseFolded());
}

QString numberedPath(const QString &path, int number)
{
    const qsizetype dot = extensionStart(path);
    const QString stem = dot < 0 ? path : path.left(dot);
    const QString extension = dot < 0 ? QString() : path.mid(dot);
    return stem + QLatin1Char('_') + QString::number(number) + extension;
}

QString UniquePath(const QString &path, const SavedFileList &savedFiles)
{
    QString candidate = path;
    for (int i = 2; savedFiles.contains(candidate); ++i)
        candidate = numberedPath(path, i);
    return candidate;
}

QString FileLink(const QString &path)
{
    QString link = QStringLiteral("file://");
    const QByteArray bytes = path.toUtf8();
    for (const char c : bytes) {
        const auto code = uchar(c);
        // "%", "#" and "?" too: otherwise a name holding them would read as an
        // escape, a fragment or a query, and the link would lead elsewhere.
        if (code <= 32 || code >= 127 || c == '%' || c == '#' || c == '?')
            link += QStringLiteral("%%1").arg(code, 2, 16, QLatin1Char('0')).toUpper();
        else
            link += QLatin1Char(c);
    }
    return link;
}

void SetFileTimes(const QString &path, double automationDate)
{
    const qint64 msecs = qb::fromAutomationDate(automationDate).toMSecsSinceEpoch();
    const qint64 seconds = msecs >= 0 ? msecs / 1000 : (msecs - 999) / 1000;
    timespec times[2];
    times[0].tv_sec = time_t(seconds);
    times[0].tv_nsec = long(msecs - seconds * 1000) * 1000000;
    times[1] = times[0];
    utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW);
}

QString bodyNote(bool saved, bool deleted, const QString &filename, const QString &link)
{
    if (!saved)
        return QStringLiteral("\r\nAttached file %1 deleted (not saved)\r\n").arg(filename);
    if (!deleted)
        return QStringLiteral("\r\nAttached file %1 copied to %2\r\n").arg(filename, link);
    return QStringLiteral("\r\nAttached file %1 detached and saved as %2\r\n").arg(filename, link);
}
