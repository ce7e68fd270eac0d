#pragma once

#include <QByteArray>
#include <QFile>
#include <QFileInfo>

#include <sys/inotify.h>
#include <unistd.h>

// Counts how often a new file takes a path, as an atomic save does: renamed over the
// old one, or linked in place when there was none. Watches the folder with inotify.
class ReplacementCounter
{
public:
    explicit ReplacementCounter(const QString &path)
        : m_fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)),
          m_name(QFile::encodeName(QFileInfo(path).fileName()))
    {
        if (m_fd >= 0)
            inotify_add_watch(m_fd, QFile::encodeName(QFileInfo(path).path()).constData(),
                              IN_MOVED_TO | IN_CREATE);
    }
    ~ReplacementCounter()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    ReplacementCounter(const ReplacementCounter &) = delete;
    ReplacementCounter &operator=(const ReplacementCounter &) = delete;

    bool watching() const { return m_fd >= 0; }

    // The new files since the last call.
    int take()
    {
        int count = 0;
        alignas(inotify_event) char buffer[4096];
        for (;;) {
            const ssize_t length = ::read(m_fd, buffer, sizeof buffer);
            if (length <= 0)
                return count;
            for (ssize_t at = 0; at < length;) {
                const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
                if (event->len > 0 && QByteArray(event->name) == m_name)
                    ++count;
                at += ssize_t(sizeof(inotify_event) + event->len);
            }
        }
    }

private:
    int m_fd;
    QByteArray m_name;
};
