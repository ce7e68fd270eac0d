#pragma once

#include "DetachLog.h"
#include "mailstore/MailStore.h"

#include <QString>

#include <functional>
#include <memory>
#include <vector>

class TNullLog;

// After the user moved a folder of saved files from one place to another, moves the
// links of the notes that an action log records from there to the new place: each note
// is changed in place, in one rewrite of the store's own per email (flags and received
// date kept, journalled, read back before it replaces the old one), and only to a file
// that is there. The log gets a relink entry per note, so that a later relink with the
// same log looks for the new links. Running it again changes nothing.
class RelinkJob
{
public:
    enum class Kind {
        Done,     // relinked
        Refused,  // the email was left as it is
        NotFound, // no email (any longer) links to the file: done before, or the email is gone
    };
    struct Report
    {
        int done = 0;
        int refused = 0;
        int notFound = 0;
        bool cancelled = false;
    };

    struct Callbacks
    {
        std::function<void(const QString &)> status;
        std::function<void(Kind, const QString &)> outcome;
        std::function<bool()> cancelled;
    };

    // from and to are folders; log gets an entry for each change, refusal and missing
    // email, and may be a null log.
    RelinkJob(QString from, QString to, TNullLog &log, Callbacks callbacks);

    // Relinks the records whose files were under the old folder.
    Report run(mailstore::Namespace &mapi, const std::vector<DetachRecord> &records);

    // The records whose files were under the folder from.
    static std::vector<DetachRecord> recordsUnder(const std::vector<DetachRecord> &records,
                                                  const QString &from);
    // path as it is after the move: under to when it was under from.
    static QString movedPath(const QString &path, const QString &from, const QString &to);

private:
    struct Wanted;
    struct EmailWork;

    std::vector<EmailWork> findEmails(mailstore::Namespace &mapi, std::vector<Wanted> &wanted);
    void relink(mailstore::Namespace &mapi, EmailWork &work);
    void say(Kind kind, const QString &text);

    QString m_from;
    QString m_to;
    TNullLog &m_log;
    Callbacks m_callbacks;
    Report m_report;
};
