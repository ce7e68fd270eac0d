#include "TLogManager.h"

#include "TLog.h"
#include "common/ProgramFolder.h"

#include <QDir>
#include <QFileInfo>

#include <cstdio>

TLogManager &TLogManager::instance()
{
    static TLogManager manager;
    return manager;
}

QString TLogManager::normalise(const QString &logName)
{
    if (logName.isEmpty())
        return {};
    if (!logName.contains(QLatin1Char('/')))
        return qb::writableProgramFolder() + logName;
    return QDir::cleanPath(QFileInfo(logName).absoluteFilePath());
}

TNullLog *TLogManager::Acquire(const QString &logName, bool append)
{
    const QString key = normalise(logName);
    QMutexLocker lock(&m_lock);
    for (const auto &log : Logs) {
        if (log->FileName == key) {
            ++log->RefCount;
            return log.get();
        }
    }
    if (key.isEmpty())
        Logs.push_back(std::make_unique<TNullLog>());
    else
        Logs.push_back(std::make_unique<TLog>(key, append));
    return Logs.back().get();
}

void TLogManager::Release(TNullLog *log)
{
    std::unique_ptr<TNullLog> closing; // freed after the lock is let go
    QMutexLocker lock(&m_lock);
    for (auto it = Logs.begin(); it != Logs.end(); ++it) {
        if (it->get() != log)
            continue;
        if (--log->RefCount <= 0) {
            closing = std::move(*it);
            Logs.erase(it);
        }
        return;
    }
}

void TLogManager::setMessageSink(MessageSink sink)
{
    TLogManager &manager = instance();
    QMutexLocker lock(&manager.m_sinkLock);
    manager.m_sink = std::move(sink);
}

void TLogManager::showFailure(const QString &text)
{
    MessageSink sink;
    {
        TLogManager &manager = instance();
        QMutexLocker lock(&manager.m_sinkLock);
        sink = manager.m_sink;
    }
    if (sink) {
        try {
            sink(text);
            return;
        } catch (...) {
        }
    }
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}

TNullLog *AcquireLog(const QString &logName, bool append)
{
    return TLogManager::instance().Acquire(logName, append);
}

void ReleaseLog(TNullLog *log)
{
    TLogManager::instance().Release(log);
}
