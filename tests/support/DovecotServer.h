#pragma once

#include "support/TestImapServer.h"

#include <QSslCertificate>
#include <QString>
#include <QTemporaryDir>

// A private Dovecot on 127.0.0.1 that serves one Maildir++ folder to one user, started by
// tools/dovecot-instance.sh on free ports.
//
//     DovecotServer server(maildir.path(), {.tls = true});
//     QVERIFY2(server.start(), qPrintable(server.error()));
//
// Run as root, the mail is read by nobody:nogroup: serve a ServableMaildir, or any folder under
// /tmp whose parents others can pass through; the Maildir is handed to that user at start.
struct DovecotOptions
{
    bool tls = false; // port() offers STARTTLS and imapsPort() implicit TLS, signed by ca()
    QString separator = QStringLiteral("/"); // the folder hierarchy separator LIST shows
};

class DovecotServer : public TestImapServer
{
public:
    explicit DovecotServer(QString maildir, DovecotOptions options = {});
    ~DovecotServer() override;
    QString product() const override { return QStringLiteral("Dovecot"); }

    quint16 imapsPort() const { return m_imapsPort; } // 0 without TLS
    // The authority that signed the server's certificate (for 127.0.0.1 and localhost).
    static QString caPath();
    static QList<QSslCertificate> ca();
    // What the server logged so far (logins say "TLS" or "secured"), for failure messages.
    QString log() const override;
    bool share(const QString &path) override;

private:
    bool startOnce() override;

    DovecotOptions m_options;
    quint16 m_imapsPort = 0;
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
