#pragma once

#include "RemoteMessage.h"
#include "ReplacementJournal.h"

#include <QByteArray>
#include <QString>

namespace imapstore {

class AccountSession;

// What a replacement did.
struct Replaced
{
    qint64 newUid = 0;
    bool oldLeft = false; // the old message is left marked \Deleted: no UID EXPUNGE here
};

// Puts the rewritten bytes of a message in its place: the copy is appended to the same
// mailbox with the message's flags and received date, and only then is the old message
// marked \Deleted and expunged by its UID alone (never a folder-wide EXPUNGE). Every step
// is journalled first, so that an interrupted replacement is finished later: at any moment
// the message is on the server at least once, and afterwards exactly once. uidValidity:
// the mailbox's when old was read; when the server has renumbered it since, nothing is
// done. When the old message went meanwhile (another program moved or deleted it), the
// copy goes too. Both throw qb::MailStoreError.
Replaced replaceMessage(AccountSession &session, const QString &mailbox, qint64 uidValidity,
                        const RemoteMessage &old, const QByteArray &rewritten);

// Finishes a replacement that a crash or a dropped connection left half done: when the
// copy (the message whose bytes hash as the journal says) is on the server the old
// message goes, else the old one stays and loses the \Deleted mark this program gave it.
void finishReplacement(AccountSession &session, const PendingReplacement &replacement);

} // namespace imapstore
