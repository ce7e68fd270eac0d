#pragma once

#include <QMutex>
#include <QStringList>
#include <QtGlobal>

// Collects the warnings logged, from any thread, while it lives; they are not printed.
class WarningLog
{
public:
    WarningLog() : m_previous(qInstallMessageHandler(&WarningLog::handle)) { current() = this; }
    ~WarningLog()
    {
        qInstallMessageHandler(m_previous);
        current() = nullptr;
    }
    WarningLog(const WarningLog &) = delete;
    WarningLog &operator=(const WarningLog &) = delete;

    QStringList lines() const
    {
        QMutexLocker lock(&m_mutex);
        return m_lines;
    }

private:
    static WarningLog *&current()
    {
        static WarningLog *log = nullptr;
        return log;
    }
    static void handle(QtMsgType type, const QMessageLogContext &, const QString &text)
    {
        WarningLog *log = current();
        if (log && type == QtWarningMsg) {
            QMutexLocker lock(&log->m_mutex);
            log->m_lines << text;
        }
    }

    QtMessageHandler m_previous;
    mutable QMutex m_mutex;
    QStringList m_lines;
};
