#include "FileDigest.h"

#include "common/Error.h"

#include <QCryptographicHash>
#include <QFile>

QString fileSha256(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw qb::Error(QStringLiteral("Cannot read %1: %2").arg(path, file.errorString()));
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file))
        throw qb::Error(QStringLiteral("Cannot read %1: %2").arg(path, file.errorString()));
    return QString::fromLatin1(hash.result().toHex());
}
