#pragma once

#include "TNullLog.h"

#include <QFile>
#include <QMutex>

// The action log in a file: comma-separated entries of four columns (date, time, level,
// message), one a line, CR LF line ends; the message is written as it is, but for its
// controls and line separators, which become spaces, so a reader takes everything
// after the third comma as the message. Only a log or a new file is written (LogFile.h).
// A new file starts with a five-line header. Jobs that name the same file share
// one TLog, so entries are written one at a time under a lock.
//
// The first failure to open or write disables the log and is shown to the user once
// ("Error writing to log file ... - logging is now disabled"); the job goes on.
class TLog : public TNullLog
{
public:
    TLog(const QString &fileName, bool append);
    ~TLog() override;

    void WriteLine(TLogLevel level, const QString &dateText, const QString &timeText,
                   const QString &message) override;
    void Log(TLogLevel level, const QString &message) override;

    bool disabled() const;

private:
    void open(bool append);
    // Writes one line and hands it to the system, so that no entry is lost to a
    // crash and a full disk shows up at the entry it hits.
    void writeLine(const QString &line);
    void disable(int messageId, const QString &reason);

    mutable QMutex m_lock;
    QFile m_file;
    bool Disabled = false;
};
