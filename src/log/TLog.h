#pragma once

#include "TNullLog.h"

#include <QFile>
#include <QMutex>

// The action log in a file: comma-separated entries, one a line, CR LF line ends; a
// message's controls and line separators are written as spaces, and a message with a
// comma or a quote is one quoted field. Every entry ends in the two document columns
// (LogDocument.h). Only a log or a new file is written (LogFile.h).
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
                   const QString &message, const LogDocument &document = {}) override;
    void Log(TLogLevel level, const QString &message, const LogDocument &document = {}) override;

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
