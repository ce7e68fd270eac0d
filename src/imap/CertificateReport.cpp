#include "imap/CertificateReport.h"

#include <QCryptographicHash>
#include <QStringList>

namespace imap {

namespace {

QString names(const QStringList &parts)
{
    return parts.isEmpty() ? QStringLiteral("(none)") : parts.join(QStringLiteral(", "));
}

} // namespace

QString fingerprintText(const QByteArray &digest)
{
    return QString::fromLatin1(digest.toHex(':').toUpper());
}

QByteArray sha256Fingerprint(const QSslCertificate &certificate)
{
    return certificate.isNull() ? QByteArray() : certificate.digest(QCryptographicHash::Sha256);
}

QString certificateFailureText(const QString &server, const QList<QSslError> &errors,
                               const QSslCertificate &certificate)
{
    QStringList problems;
    for (const QSslError &error : errors) {
        if (!problems.contains(error.errorString()))
            problems << error.errorString();
    }
    QString text =
        QStringLiteral("The certificate of the IMAP server %1 could not be verified: %2.")
            .arg(server, names(problems));
    if (certificate.isNull())
        return text + QStringLiteral(" The server sent no certificate.");
    text +=
        QStringLiteral("\nSubject: %1\nIssuer: %2\nValid from %3 to %4\nSHA-256 fingerprint: %5")
            .arg(names(certificate.subjectDisplayName().isEmpty()
                           ? certificate.subjectInfo(QSslCertificate::CommonName)
                           : QStringList{certificate.subjectDisplayName()}),
                 names(certificate.issuerDisplayName().isEmpty()
                           ? certificate.issuerInfo(QSslCertificate::CommonName)
                           : QStringList{certificate.issuerDisplayName()}),
                 certificate.effectiveDate().toUTC().toString(Qt::ISODate),
                 certificate.expiryDate().toUTC().toString(Qt::ISODate),
                 fingerprintText(sha256Fingerprint(certificate)));
    return text;
}

} // namespace imap
