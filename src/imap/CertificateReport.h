#pragma once

// The text of a certificate that did not verify, for the user to judge: what was wrong
// and which certificate it was, down to its SHA-256 fingerprint.

#include <QByteArray>
#include <QList>
#include <QSslCertificate>
#include <QSslError>
#include <QString>

namespace imap {

// "AB:CD:..." for a raw digest.
QString fingerprintText(const QByteArray &digest);
QByteArray sha256Fingerprint(const QSslCertificate &certificate);

// server: "host:port". certificate may be null when the server sent none.
QString certificateFailureText(const QString &server, const QList<QSslError> &errors,
                               const QSslCertificate &certificate);

} // namespace imap
