#pragma once

#include <QSslCertificate>
#include <QString>
#include <QTemporaryDir>

// A real IMAP server for a suite: a private Dovecot on 127.0.0.1 that serves one Maildir++
// folder to one user, started by tools/dovecot-instance.sh (found through QB_TEST_TOOLS)
// on free ports and stopped when the object goes.
//
//     DovecotServer server(maildir.path(), {.tls = true});
//     QVERIFY2(server.start(), qPrintable(server.error()));
//
// A missing Dovecot is a failure that says to run scripts/setup.sh, never a skip. Run as
// root, the mail is read by nobody:nogroup: serve a ServableMaildir, or any folder under
// /tmp whose parents others can pass through; the Maildir is handed to that user at start.
struct DovecotOptions
{
    bool tls = false; // port() offers STARTTLS and imapsPort() implicit TLS, signed by ca()
    QString separator = QStringLiteral("/"); // the folder hierarchy separator LIST shows
};

class DovecotServer
{
public:
    explicit DovecotServer(QString maildir, DovecotOptions options = {});
    ~DovecotServer();
    DovecotServer(const DovecotServer &) = delete;
    DovecotServer &operator=(const DovecotServer &) = delete;

    // Starts the server and waits until it takes connections; on failure error() says why
    // and holds the server's log.
    bool start();
    void stop();
    bool isRunning() const { return m_running; }
    QString error() const { return m_error; }

    QString host() const { return QStringLiteral("127.0.0.1"); }
    quint16 port() const { return m_port; }
    quint16 imapsPort() const { return m_imapsPort; } // 0 without TLS
    QString user() const { return QStringLiteral("ann"); }
    QString password() const { return QStringLiteral("secret"); }
    // A file that holds password(), for the command line's --password-file.
    QString passwordFile() const;
    // imap://ann@127.0.0.1:PORT, as the command line's --store takes it.
    QString storeUrl() const;
    // The authority that signed the server's certificate (for 127.0.0.1 and localhost).
    static QString caPath();
    static QList<QSslCertificate> ca();
    // What the server logged so far (logins say "TLS" or "secured"), for failure messages.
    QString log() const;

    // Hands files written into a served Maildir after start() to the server's mail user.
    bool share(const QString &path);

private:
    bool startOnce();
    bool runScript(const QStringList &arguments);

    QString m_maildir;
    DovecotOptions m_options;
    QTemporaryDir m_instance;
    quint16 m_port = 0;
    quint16 m_imapsPort = 0;
    bool m_running = false;
    QString m_error;
};

// An empty Maildir (cur, new, tmp) in a folder of its own under /tmp that a server's mail
// user can reach, also when the suite runs as root; removed with the object.
class ServableMaildir
{
public:
    ServableMaildir();
    bool isValid() const { return !m_root.isEmpty(); }
    QString path() const { return m_root; }
    // Makes a Maildir++ subfolder ".Projects.2024" for {"Projects", "2024"}; its path.
    QString addFolder(const QStringList &levels) const;

private:
    QTemporaryDir m_dir;
    QString m_root;
};
