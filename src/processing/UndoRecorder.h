#pragma once

#include "UndoRecord.h"
#include "mailstore/MailStore.h"

#include <QDateTime>
#include <QString>

#include <map>
#include <optional>

// Keeps the undo record of one detach or save job: before each email is replaced, what
// reverses its change goes into the record, proven first (the original rebuilt in memory
// from the rewritten email and the saved files as they lie on disk has the original's
// SHA-256) and flushed to disk; once the change is stored, the email's new id follows.
// The record is made with the first email the job changes.
class UndoRecorder
{
public:
    // root: the folder the job saves to; action: "detach" or "save".
    UndoRecorder(QString root, QString action);

    // A saved file of the email about to be saved, by the attachment's position in it.
    struct SavedAttachment
    {
        int position = 0;
        QString path; // absolute, below root
        QString sha256;
        bool created = false; // false: the same content was there already
    };
    // Makes email's next save() record its change first; a record that cannot be written
    // refuses the save. A store that cannot tell its changes is not recorded.
    void watch(mailstore::Item &email, const QString &storeId, const QString &label,
               const std::vector<SavedAttachment> &saved);
    // After the watched save() stored the change.
    void stored(mailstore::Item &email);

    // The record's path; empty until an email was recorded.
    QString recordPath() const;

private:
    void record(const mailstore::EmailRewrite &rewrite, undo::EmailRecord email,
                const std::map<int, int> &fileOfPosition);

    QString m_root;
    QString m_action;
    QDateTime m_started;
    QString m_jobId;
    std::optional<undo::RecordWriter> m_writer;
    int m_emails = 0;
    int m_pending = 0;      // the email recorded whose save has not been seen to succeed
    bool m_watched = false; // the store tells its changes
};
