#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

namespace imapstore {

// A message being replaced by its rewritten copy: what is needed to tell, after a crash
// or a dropped connection, whether the copy reached the server.
struct PendingReplacement
{
    QString mailbox;
    qint64 uidValidity = 0;
    qint64 oldUid = 0;
    bool oldWasDeleted = false; // the user had marked it \Deleted before
    QByteArray messageId;       // may be empty
    qint64 newSize = 0;         // the copy's size in bytes, as APPEND sends it
    qint64 crlfSize = 0;        // and with every line end as CR LF, as a server may count it
    // SHA-256 (hex) of the copy with every line end as CR LF (copyDigest): the copy is the
    // message whose bytes hash the same, never one that only looks like it. Empty in an
    // entry of an older journal, whose copy cannot be told.
    QByteArray sha256;

    bool operator==(const PendingReplacement &other) const = default;
};

// What tells a copy: the SHA-256 (hex) of bytes with every line end as CR LF.
QByteArray copyDigest(QByteArrayView bytes, qint64 *crlfSize = nullptr);

// The replacements of one account that have begun and not yet ended, in a file of the
// user's state folder, on disk before the server is asked for anything.
class ReplacementJournal
{
public:
    explicit ReplacementJournal(QString path);

    // The journal of an account in $XDG_STATE_HOME/quillbrook/imap/ (~/.local/state).
    static QString pathFor(const QString &storeId);

    // Entries that cannot be read are left out, with a line on stderr.
    std::vector<PendingReplacement> pending() const;
    // Both throw qb::MailStoreError when the journal cannot be written to disk.
    void add(const PendingReplacement &replacement);
    void remove(const PendingReplacement &replacement);

private:
    void write(const std::vector<PendingReplacement> &entries);

    QString m_path;
};

} // namespace imapstore
