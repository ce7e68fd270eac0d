#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

// A Maildir of emails "Email 0" to "Email n-1" from Ann, each with one PDF attachment.
inline bool makeMaildir(const QString &root, int emails)
{
    for (const char *sub : {"cur", "new", "tmp"})
        QDir().mkpath(root + QLatin1Char('/') + QLatin1String(sub));
    for (int i = 0; i < emails; ++i) {
        QFile file(root + QStringLiteral("/cur/%1.host:2,S").arg(i));
        if (!file.open(QIODevice::WriteOnly))
            return false;
        file.write("From: Ann <a@example.com>\nSubject: Email " + QByteArray::number(i) +
                   "\nContent-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: "
                   "text/plain\n\nhi\n"
                   "--b\nContent-Type: application/pdf; name=\"f.pdf\"\n\nx\n--b--\n");
    }
    return true;
}
