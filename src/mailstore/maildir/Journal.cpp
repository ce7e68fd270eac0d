#include "Journal.h"

#include "common/Error.h"
#include "common/FileSystem.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace maildir {

namespace {

const QString journalPrefix = QStringLiteral("quillbrook-journal-");

// The files of a folder whose unique name is uniqueName, in cur/ and new/.
QStringList filesNamed(const QString &folderDirectory, const QString &uniqueName)
{
    QStringList found;
    const QString withInfo = uniqueName + QLatin1Char(':');
    for (const QString &sub : {QStringLiteral("cur"), QStringLiteral("new")}) {
        const QDir dir(folderDirectory + QLatin1Char('/') + sub);
        for (const QString &name : dir.entryList(QDir::Files | QDir::Hidden)) {
            if (name == uniqueName || name.startsWith(withInfo))
                found << dir.filePath(name);
        }
    }
    return found;
}

void finish(const QString &root, const QString &line)
{
    const QStringList fields = line.split(QLatin1Char('\t'));
    if (fields.size() != 3)
        return;
    const QString folder = QDir::cleanPath(root + QLatin1Char('/') + fields[0]);
    if (!folder.startsWith(QDir::cleanPath(root)))
        return; // a journal never names anything outside its store
    const QString &oldName = fields[1];
    const QString &newName = fields[2];
    if (oldName.isEmpty() || newName.isEmpty() || oldName.contains(QLatin1Char('/')) ||
        newName.contains(QLatin1Char('/')))
        return;
    if (!filesNamed(folder, newName).isEmpty()) {
        for (const QString &old : filesNamed(folder, oldName))
            QFile::remove(old);
    } else {
        QFile::remove(folder + QStringLiteral("/tmp/") + newName);
    }
}

} // namespace

Journal::Journal(QString root) : m_root(std::move(root)) {}

Journal::~Journal()
{
    if (m_fd < 0)
        return;
    if (!m_unfinished) {
        // The removals of old files must be on disk before their record goes.
        for (const QString &folder : std::as_const(m_folders)) {
            qb::syncDirectory(folder + QStringLiteral("/cur"));
            qb::syncDirectory(folder + QStringLiteral("/new"));
        }
        QFile::remove(m_path);
    }
    ::close(m_fd);
}

void Journal::record(const QString &folderDirectory, const QString &oldUniqueName,
                     const QString &newUniqueName)
{
    if (m_fd < 0) {
        // Locked before it takes its name, so recovery never mistakes it for a dead one.
        const QString id = QString::number(QRandomGenerator::global()->generate64(), 16);
        const QString creating = m_root + QStringLiteral("/.") + journalPrefix + id;
        m_path = m_root + QLatin1Char('/') + journalPrefix + id;
        m_fd = ::open(QFile::encodeName(creating).constData(),
                      O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0600);
        if (m_fd < 0 || ::flock(m_fd, LOCK_EX | LOCK_NB) != 0 ||
            ::rename(QFile::encodeName(creating).constData(),
                     QFile::encodeName(m_path).constData()) != 0) {
            const QString why = qb::systemErrorText();
            if (m_fd >= 0) {
                ::close(m_fd);
                QFile::remove(creating);
            }
            m_fd = -1;
            throw qb::MailStoreError(
                QStringLiteral("Cannot start the journal %1: %2").arg(m_path, why));
        }
        qb::syncDirectory(m_root);
    }
    if (!m_folders.contains(folderDirectory))
        m_folders << folderDirectory;
    const QString relative = QDir(m_root).relativeFilePath(folderDirectory);
    const QByteArray line = (relative + QLatin1Char('\t') + oldUniqueName + QLatin1Char('\t') +
                             newUniqueName + QLatin1Char('\n'))
                                .toUtf8();
    if (::write(m_fd, line.constData(), size_t(line.size())) != line.size() ||
        ::fdatasync(m_fd) != 0)
        throw qb::MailStoreError(
            QStringLiteral("Cannot write the journal %1: %2").arg(m_path, qb::systemErrorText()));
}

void Journal::recover(const QString &root)
{
    const QDir dir(root);
    for (const QString &name : dir.entryList({journalPrefix + QLatin1Char('*')}, QDir::Files)) {
        const QString path = dir.filePath(name);
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) { // its session has ended
            QFile file;
            if (file.open(fd, QIODevice::ReadOnly)) {
                for (const QByteArray &line : file.readAll().split('\n'))
                    finish(root, QString::fromUtf8(line));
                file.close();
            }
            QFile::remove(path);
        }
        ::close(fd);
    }
}

} // namespace maildir
