#pragma once

#include <QByteArray>
#include <QString>

// One attachment found by folder analysis: a row of the attachment grid and the
// handle by which a job finds the attachment again. Immutable once made.
struct TAttach
{
    const QString Subject;
    const QString From;
    const QString Folder; // the folder's path label, ending with "\"
    const qint64 Size;    // the whole email in bytes; 0 when unknown
    const QString Filename;
    const QString Type;
    const double Date; // the received time as an automation date
    const QString EntryId;
    const int AttachmentIndex; // 1-based position among the email's attachments
    const QString StoreId;
    const qint64 AttachmentSize = 0; // the attachment's own decoded bytes; 0 when unknown
    // The email's version when it was read (mailstore::EmailSummary::version), which a
    // job checks before it changes the email; empty when the store keeps none.
    const QByteArray Version = {};
};

// The Type of an attachment: the text after the last "." of its file name (when no
// "\" or ":" follows that dot), at most 10 characters, letter case kept.
QString attachmentType(const QString &filename);
