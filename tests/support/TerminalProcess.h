#pragma once

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

// Runs a program with its stderr on a pseudo-terminal, as a user at a terminal sees
// it: the program shows its progress there. The test plays the terminal: it reads what
// the program prints and can hold the output (Ctrl+S), which stops the program at its
// next write there, at a moment the test chooses rather than one a timer guesses.
class TerminalProcess
{
public:
    TerminalProcess()
    {
        termios modes{};
        cfmakeraw(&modes);
        modes.c_iflag |= IXON; // Ctrl+S and Ctrl+Q hold and release the output
        modes.c_cc[VSTART] = 0x11;
        modes.c_cc[VSTOP] = 0x13;
        modes.c_cc[VMIN] = 1;
        if (openpty(&m_terminal, &m_programSide, nullptr, &modes, nullptr) != 0)
            return;
        fcntl(m_terminal, F_SETFL, fcntl(m_terminal, F_GETFL) | O_NONBLOCK);
        // Only the program's stderr stays open in the program.
        fcntl(m_terminal, F_SETFD, FD_CLOEXEC);
        fcntl(m_programSide, F_SETFD, FD_CLOEXEC);
    }
    ~TerminalProcess()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(10000);
        }
        closeProgramSide();
        if (m_terminal >= 0)
            ::close(m_terminal);
    }
    TerminalProcess(const TerminalProcess &) = delete;
    TerminalProcess &operator=(const TerminalProcess &) = delete;

    bool opened() const { return m_terminal >= 0 && m_programSide >= 0; }
    QProcess &process() { return m_process; }

    // Starts the program with stderr on the terminal, stdin empty and stdout as the
    // process() is set up.
    bool start(const QString &program, const QStringList &arguments)
    {
        const int programSide = m_programSide;
        m_process.setStandardInputFile(QProcess::nullDevice());
        m_process.setChildProcessModifier([programSide] {
            // The test's own Ctrl+C handling is not the program's.
            std::signal(SIGINT, SIG_DFL);
            ::dup2(programSide, STDERR_FILENO);
        });
        m_process.start(program, arguments);
        const bool started = m_process.waitForStarted(10000);
        closeProgramSide(); // the terminal reports the end of output once the program exits
        return started;
    }

    // Reads until the output holds text; false when the program ends first or time runs out.
    bool readUntil(const QByteArray &text, int msecs = 30000)
    {
        const QDeadlineTimer deadline(msecs);
        while (!m_output.contains(text)) {
            if (!readSome(50) && (m_ended || deadline.hasExpired()))
                return false;
        }
        return true;
    }

    void holdOutput() { typeKey(0x13); }
    void releaseOutput() { typeKey(0x11); }

    void sendSignal(int signal) { ::kill(pid_t(m_process.processId()), signal); }

    // Whether the program has taken a signal sent to it: no longer pending for the
    // process means a thread is running its handler or has run it.
    bool signalTaken(int signal, int msecs = 10000)
    {
        const QDeadlineTimer deadline(msecs);
        const QByteArray path = "/proc/" + QByteArray::number(m_process.processId()) + "/status";
        while (!deadline.hasExpired()) {
            QFile status(QString::fromLatin1(path));
            if (!status.open(QIODevice::ReadOnly))
                return false;
            for (const QByteArray &line : status.readAll().split('\n')) {
                if (line.startsWith("ShdPnd:") &&
                    (line.mid(7).trimmed().toULongLong(nullptr, 16) & (1ULL << (signal - 1))) == 0)
                    return true;
            }
            QThread::msleep(10);
        }
        return false;
    }

    // Reads the rest of the output and waits for the program to end; its exit status,
    // or -1 when it crashed or did not end in time.
    int finish(int msecs = 60000)
    {
        const QDeadlineTimer deadline(msecs);
        while (!m_ended && !deadline.hasExpired())
            readSome(50);
        if (!m_process.waitForFinished(int(qMax<qint64>(deadline.remainingTime(), 1000))))
            return -1;
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }

    // Everything the program printed on the terminal so far.
    const QByteArray &output() const { return m_output; }

private:
    bool readSome(int msecs)
    {
        pollfd ready{m_terminal, POLLIN, 0};
        if (::poll(&ready, 1, msecs) <= 0)
            return false;
        char buffer[4096];
        const ssize_t count = ::read(m_terminal, buffer, sizeof buffer);
        if (count <= 0) {
            // EIO: every program-side descriptor is closed, the program has ended.
            m_ended = count == 0 || errno != EAGAIN;
            return false;
        }
        m_output.append(buffer, count);
        return true;
    }

    void typeKey(char key)
    {
        if (::write(m_terminal, &key, 1) != 1)
            qWarning("cannot type on the terminal");
    }

    void closeProgramSide()
    {
        if (m_programSide >= 0)
            ::close(m_programSide);
        m_programSide = -1;
    }

    int m_terminal = -1;
    int m_programSide = -1;
    QProcess m_process;
    QByteArray m_output;
    bool m_ended = false;
};
