#pragma once

#include "mailstore/MailStore.h"

#include <QDateTime>

struct stat;

namespace mime {
class ParsedEmail;
}

namespace maildir {

// The size, modification time and inode of an email file. A file keeps its unique name
// for life and its content never changes under it, so a file whose stamp differs from the
// one seen before is not the file read before.
struct FileStamp
{
    qint64 size = 0;
    qint64 modifiedNs = 0; // nanoseconds since the epoch
    qint64 inode = 0;      // within the folder's file system

    static FileStamp of(const struct stat &info);
    // The received time the store gives an email: the file's modification time.
    QDateTime receivedTime() const;
    friend bool operator==(const FileStamp &, const FileStamp &) = default;
};

// What analysis lists of a parsed email file with this stamp.
mailstore::EmailSummary summaryOf(const mime::ParsedEmail &email, const FileStamp &stamp);

// A digest of the summary's subject, sender and attachment names, which tells its email
// from another written in its file with the same stamp. Empty for an email without
// attachments, which no job changes.
QByteArray textDigest(const mailstore::EmailSummary &summary);
// A summary's version (mailstore::EmailSummary::version): the file's stamp and the
// summary's text digest; empty without a digest.
QByteArray versionOf(const FileStamp &stamp, const QByteArray &digest);
// The text digest within a version.
QByteArray digestOf(const QByteArray &version);

// Reads the email file at path with one read into scratch's buffer, whose memory serves
// again for the next file unless it grew past what is worth keeping, and parses its
// headers and MIME structure, remembering header values in scratch; no body is decoded.
// *stamp gets the file's stamp. Throws qb::MailStoreError when the file cannot be read.
mailstore::EmailSummary readSummary(const QString &path, mailstore::ReadingScratch &scratch,
                                    FileStamp *stamp);

} // namespace maildir
