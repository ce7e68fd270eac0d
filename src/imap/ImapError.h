#pragma once

// The failures of the IMAP layer. Each one derives from qb::MailStoreError so a caller
// that shows a store's errors shows these too; none ever carries a password.

#include "common/Error.h"

#include <QByteArray>

namespace imap {

// Cannot connect, the connection dropped, the server said BYE, a timeout, or the server
// broke the protocol. The message names host:port and what happened; the connection is
// closed afterwards.
class ConnectionError : public qb::MailStoreError
{
public:
    using qb::MailStoreError::MailStoreError;
    const char *className() const override { return "ConnectionError"; }
};

// A command answered with a tagged NO or BAD. The connection stays usable.
class CommandFailed : public qb::MailStoreError
{
public:
    // commandName: the command's verb only ("LOGIN", "UID FETCH"), never its arguments.
    CommandFailed(const QByteArray &commandName, QByteArray status, QByteArray responseCode,
                  QByteArray serverText);
    const char *className() const override { return "CommandFailed"; }

    const QByteArray &status() const { return m_status; }             // "NO" or "BAD"
    const QByteArray &responseCode() const { return m_responseCode; } // e.g. "TRYCREATE", or empty
    const QByteArray &serverText() const { return m_serverText; }

private:
    QByteArray m_status;
    QByteArray m_responseCode;
    QByteArray m_serverText;
};

// The server refused the user's login (a NO to LOGIN or AUTHENTICATE).
using LoginRefused = qb::LoginRefused;

// The server's certificate did not verify. The message lists the errors and the
// certificate's subject, issuer, validity and SHA-256 fingerprint; fingerprint() is the raw
// digest, which TlsTrust::trustedFingerprint accepts to trust exactly this certificate.
class CertificateError : public qb::MailStoreError
{
public:
    CertificateError(QString message, QByteArray fingerprint);
    const char *className() const override { return "CertificateError"; }

    const QByteArray &fingerprint() const { return m_fingerprint; }

private:
    QByteArray m_fingerprint;
};

// The caller's cancel check asked to stop. A command in flight is abandoned, so the
// connection is closed.
class Cancelled : public qb::MailStoreError
{
public:
    Cancelled();
    const char *className() const override { return "Cancelled"; }
};

} // namespace imap
