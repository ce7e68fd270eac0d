#pragma once

#include <QByteArray>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QThread>

#include <atomic>
#include <memory>
#include <vector>

// An IMAP server on 127.0.0.1 that plays a script for one connection: lines the client must
// send and bytes to answer with. It runs on a thread of its own, blocking, so the blocking
// client can run on the test's thread. What went differently from the script is kept for
// finish(). After the script it answers LOGOUT and reports any other line as unexpected.
class ScriptedImapServer
{
public:
    enum class Tls { None, Implicit };
    // Tls::Implicit, and startTls(), use the test authority's certificate for 127.0.0.1.
    explicit ScriptedImapServer(Tls tls = Tls::None);
    ~ScriptedImapServer();
    ScriptedImapServer(const ScriptedImapServer &) = delete;
    ScriptedImapServer &operator=(const ScriptedImapServer &) = delete;

    ScriptedImapServer &send(const QByteArray &bytes);
    // One byte per write, so that the client reads them in as many pieces.
    ScriptedImapServer &sendBytewise(const QByteArray &bytes);
    // The next line from the client, without CRLF, must be this.
    ScriptedImapServer &expect(const QByteArray &line);
    // The client must send nothing for this long.
    ScriptedImapServer &expectSilence(int milliseconds);
    ScriptedImapServer &pause(int milliseconds);
    ScriptedImapServer &startTls();
    // Hangs up at once.
    ScriptedImapServer &drop();

    // Listens; the script runs for the first connection.
    void start();
    quint16 port() const { return m_port; }
    // How many steps of the script are done, so a test can act at a given one.
    int stepsDone() const { return m_stepsDone.load(); }
    // Waits for the script to end and the client to leave; what went wrong, if anything.
    QStringList finish();

    static QString tlsFile(const char *name);

private:
    struct Step
    {
        enum class Kind { Send, SendBytewise, Expect, Silence, Pause, StartTls, Drop };
        Kind kind;
        QByteArray bytes;
        int milliseconds = 0;
    };
    void run(class QSslSocket &socket);
    void addError(const QString &error);

    Tls m_tls;
    std::vector<Step> m_steps;
    std::unique_ptr<QThread> m_thread;
    quint16 m_port = 0;
    mutable QMutex m_lock;
    QStringList m_errors;
    std::atomic<int> m_stepsDone{0};
};
