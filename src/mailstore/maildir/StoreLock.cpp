#include "StoreLock.h"

#include "common/Error.h"
#include "common/FileSystem.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace maildir {

StoreLock::StoreLock(const QString &root, const std::function<bool(int)> &stillWaiting)
{
    const QString path = root + QStringLiteral("/quillbrook.lock");
    m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW,
                  0600);
    if (m_fd < 0) {
        throw qb::MailStoreError(
            QStringLiteral("Cannot lock the mail store %1: %2").arg(root, qb::systemErrorText()));
    }
    QElapsedTimer waited;
    waited.start();
    while (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            const QString why = qb::systemErrorText();
            ::close(m_fd);
            throw qb::MailStoreError(
                QStringLiteral("Cannot lock the mail store %1: %2").arg(root, why));
        }
        if (!stillWaiting(int(waited.elapsed() / 1000))) {
            ::close(m_fd);
            throw qb::MailStoreError(
                QStringLiteral("Another program is changing the mail store %1; try again when "
                               "it has finished")
                    .arg(root));
        }
        QThread::msleep(200);
    }
}

StoreLock::~StoreLock()
{
    ::close(m_fd); // releases the lock
}

} // namespace maildir
