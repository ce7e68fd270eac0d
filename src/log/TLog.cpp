#include "TLog.h"

#include "LogDateTime.h"
#include "LogFile.h"
#include "TLogManager.h"
#include "common/Error.h"
#include "common/Format.h"
#include "lang/TStringLoader.h"

#include <unistd.h>

namespace {

// One entry is one line, whatever reads the file: a line break inside a message (a
// subject can hold one) would forge entries. Readers break lines at more than CR and
// LF (VT, FF, FS to RS, NEL, U+2028 and U+2029), a NUL ends the text for many, and ESC
// drives the terminal of whoever prints the log, so every C0 and C1 control, DEL and
// both Unicode separators become spaces.
QString onOneLine(QString message)
{
    for (QChar &c : message) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7F && u <= 0x9F) || u == 0x2028 || u == 0x2029)
            c = QLatin1Char(' ');
    }
    return message;
}

} // namespace

TLog::TLog(const QString &fileName, bool append)
{
    FileName = fileName;
    if (FileName.isEmpty()) {
        Disabled = true;
        return;
    }
    try {
        open(append);
    } catch (const qb::Error &e) {
        disable(970, e.message());
    }
}

TLog::~TLog()
{
    m_file.close();
}

bool TLog::disabled() const
{
    QMutexLocker lock(&m_lock);
    return Disabled;
}

void TLog::open(bool append)
{
    bool needsHeader = false;
    const int fd = openLogFile(FileName, append, &needsHeader);
    if (!m_file.open(fd, QIODevice::WriteOnly | QIODevice::Append, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        throw qb::Error(m_file.errorString());
    }
    if (!needsHeader)
        return;
    const QDateTime now = QDateTime::currentDateTime();
    const QString date = LogDateText(now);
    const QString time = LogTimeText(now);
    const QString info = LevelName(llInfo);
    writeLine(logHeaderLine());
    writeLine(QString());
    writeLine(LoadLangString(930, QStringLiteral("date,time,level,message")));
    writeLine(qb::format(LoadLangString(940, QStringLiteral("%s,%s,%s,Log file started")),
                         {date, time, info}));
    writeLine(qb::format(LoadLangString(950, QStringLiteral("%s,%s,%s,%s")),
                         {date, time, info, QStringLiteral("Quillbrook")}));
}

void TLog::writeLine(const QString &line)
{
    const QByteArray bytes = line.toUtf8() + "\r\n";
    if (m_file.write(bytes) != bytes.size() || !m_file.flush())
        throw qb::Error(m_file.errorString());
}

void TLog::disable(int messageId, const QString &reason)
{
    Disabled = true;
    QString text;
    try {
        text =
            qb::format(LoadLangString(messageId, QStringLiteral("Error writing to log file %s - "
                                                                "logging is now disabled\r\n%s")),
                       {FileName, reason});
    } catch (const qb::Error &e) {
        text = QStringLiteral("Error writing to log file %1 - logging is now disabled\r\n%2")
                   .arg(FileName, reason);
    }
    TLogManager::showFailure(text);
}

void TLog::WriteLine(TLogLevel level, const QString &dateText, const QString &timeText,
                     const QString &message)
{
    QMutexLocker lock(&m_lock);
    if (Disabled)
        return;
    try {
        writeLine(qb::format(LoadLangString(980, QStringLiteral("%s,%s,%s,%s")),
                             {dateText, timeText, LevelName(level), onOneLine(message)}));
    } catch (const qb::Error &e) {
        // The lock stays held while the user reads the message, so it is shown once.
        disable(990, e.message());
    }
}

void TLog::Log(TLogLevel level, const QString &message)
{
    const QDateTime now = QDateTime::currentDateTime();
    QString date;
    QString time;
    try {
        date = LogDateText(now);
        time = LogTimeText(now);
    } catch (const qb::Error &e) {
        QMutexLocker lock(&m_lock);
        if (!Disabled)
            disable(990, e.message());
        return;
    }
    WriteLine(level, date, time, message);
}
