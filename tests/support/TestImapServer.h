#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// A real IMAP server that a suite starts on 127.0.0.1 and stops when the object goes,
// serving one Maildir++ folder to one user through a script of tools/ (found through
// QB_TEST_TOOLS). A missing server is a failure that says to run scripts/setup.sh,
// never a skip.
class TestImapServer
{
public:
    virtual ~TestImapServer();
    TestImapServer(const TestImapServer &) = delete;
    TestImapServer &operator=(const TestImapServer &) = delete;

    // Starts the server and waits until it takes connections; on failure error() says why
    // and holds the server's log.
    bool start();
    void stop();
    bool isRunning() const { return m_running; }
    QString error() const { return m_error; }
    // "Dovecot" or "Courier", for failure messages and data tags.
    virtual QString product() const = 0;

    QString host() const { return QStringLiteral("127.0.0.1"); }
    quint16 port() const { return m_port; }
    QString user() const { return QStringLiteral("ann"); }
    QString password() const { return QStringLiteral("secret"); }
    // A file that holds password(), for the command line's --password-file.
    QString passwordFile() const;
    // imap://ann@127.0.0.1:PORT, as the command line's --store takes it.
    QString storeUrl() const;
    // What the server logged so far, for failure messages.
    virtual QString log() const = 0;
    // Hands files written into a served Maildir after start() to the server's mail user.
    virtual bool share(const QString &path);

protected:
    TestImapServer(QString script, QString maildir);
    // Starts the instance on port() (and whatever else it needs); false with error() set.
    virtual bool startOnce() = 0;
    bool runScript(const QStringList &arguments);
    static quint16 freePort();

    QString m_script; // the file name under tools/
    QString m_maildir;
    QTemporaryDir m_instance;
    quint16 m_port = 0;
    bool m_running = false;
    QString m_error;
};

// The suite's server: Dovecot, or the one that QB_IMAP_SERVER names ("courier"), so that
// ctest runs one suite against each.
std::unique_ptr<TestImapServer> makeSuiteServer(const QString &maildir);
