#pragma once

#include "UndoPatch.h"
#include "common/FileDescriptor.h"

#include <QDateTime>
#include <QJsonObject>
#include <QString>

#include <vector>

// The record a detach or save job keeps of the emails it changed, in the folder the
// files were saved to, so that each email can be put back exactly as it was. Paths in it
// are relative to that folder, so the folder may move as a whole.
//
// It is a file of JSON lines, appended one line at a time and flushed to disk before
// the email the line names is replaced; a line cut short by a crash ends it and is left
// out. The lines: the job, then per email what reverses its change, a line once the
// change is stored (with the email's new id) and a line once it was put back.
namespace undo {

struct EmailRecord
{
    int number = 0; // 1 to the number of emails, in the order the job changed them
    QString storeId;
    QString folderId;      // the entry id of the email's folder
    QString entryId;       // the email's id before the change
    QString storedEntryId; // its id once the change was stored; empty until then
    QString undoneEntryId; // its id once it was put back; empty until then
    QString label;         // folder label and subject, as the job's log names the email
    QString messageId;
    QByteArray beforeSha256;
    qint64 beforeSize = 0;
    QByteArray afterSha256;
    qint64 afterSize = 0;
    int attachments = 0; // the job's attachments in it
    std::vector<SavedFileRef> files;
    std::vector<ReversedSpan> spans;

    bool stored() const { return !storedEntryId.isEmpty(); }
    bool undone() const { return !undoneEntryId.isEmpty(); }
};

struct JobRecord
{
    QString id;
    QString action; // "detach" or "save"
    QDateTime started;
    QString path; // of the record file
    QString root; // the folder of saved files that its paths start from
    std::vector<EmailRecord> emails;
};

// The folder of a destination's records, and a record's file in it.
QString recordFolderOf(const QString &root);
QString recordPathOf(const QString &root, const QString &jobId);
// The records kept under root, oldest first; none when there are none.
QStringList recordsUnder(const QString &root);

// Reads a record: a regular file, not a link, of a bounded size, whose every line is
// what a record holds. Throws qb::Error naming the file and what is wrong with it.
JobRecord readJobRecord(const QString &path);

// Appends the lines of one job's record, each written whole and flushed to disk.
class RecordWriter
{
public:
    // A new record for a new job under root; throws qb::Error when it cannot be made.
    static RecordWriter create(const QString &root, const QString &jobId, const QString &action,
                               const QDateTime &started);
    // An existing record, to add what an undo did; a line that a crash cut short at its
    // end goes first. Throws qb::Error.
    static RecordWriter append(const QString &path);
    const QString &path() const { return m_path; }
    // Each throws qb::Error when the line cannot be written and flushed.
    void addEmail(const EmailRecord &email);
    void addStored(int number, const QString &entryId);
    void addUndone(int number, const QString &entryId);

private:
    RecordWriter(qb::FileDescriptor fd, QString path);
    void addLine(const QJsonObject &line);

    qb::FileDescriptor m_fd;
    QString m_path;
    qint64 m_size = 0; // up to the end of the last whole line
};

// A new job's id: its start time and a random part, usable as a file name.
QString newJobId(const QDateTime &started);

} // namespace undo
