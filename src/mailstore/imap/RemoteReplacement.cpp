#include "RemoteReplacement.h"

#include "AccountSession.h"
#include "common/Error.h"
#include "imap/ImapError.h"

#include <algorithm>
#include <cstdio>
#include <functional>

namespace imapstore {

namespace {

QByteArray appendFlags(const QByteArrayList &flags)
{
    QByteArrayList kept;
    for (const QByteArray &flag : flags) {
        // \Recent belongs to the server; a copy marked \Deleted would be listed by no
        // analysis and expunged by the next mail program.
        if (flag.compare("\\Recent", Qt::CaseInsensitive) != 0 &&
            flag.compare("\\Deleted", Qt::CaseInsensitive) != 0)
            kept << flag;
    }
    return '(' + kept.join(' ') + ')';
}

std::vector<qint64> searchUids(imap::Connection &server, const imap::Command &search)
{
    std::vector<qint64> found;
    server.run(search, [&](const imap::Response &response) {
        if (response.name != "SEARCH")
            return;
        for (const imap::Value &value : response.values) {
            bool ok = false;
            const qint64 uid = value.number(&ok);
            if (ok)
                found.push_back(uid);
        }
    });
    return found;
}

// Of candidates, the first whose bytes hash as the copy's did, or 0.
qint64 firstWithCopysBytes(imap::Connection &server, const PendingReplacement &replacement,
                           const std::vector<qint64> &candidates)
{
    // One at a time: each may be as large as the copy.
    for (const qint64 uid : candidates) {
        imap::Command fetch("UID FETCH");
        fetch.atom(QByteArray::number(uid)).atom("(BODY.PEEK[])");
        bool same = false;
        server.run(fetch, [&](const imap::Response &response) {
            const imap::Value *found = imap::fetchItem(response, "UID");
            const imap::Value *body = imap::fetchItem(response, "BODY[]");
            if (response.name == "FETCH" && found && found->number() == uid && body)
                same = copyDigest(body->nstring()) == replacement.sha256;
        });
        if (same)
            return uid;
    }
    return 0;
}

// The UIDs above the old one that the search finds (with the copy's Message-ID when it
// has one), newest first: the copy was appended last.
std::vector<qint64> newerUids(imap::Connection &server, const PendingReplacement &replacement,
                              const QByteArray &sizeCriteria)
{
    imap::Command search("UID SEARCH UID");
    search.atom(QByteArray::number(replacement.oldUid + 1) + ":*");
    if (!sizeCriteria.isEmpty())
        search.raw(' ' + sizeCriteria);
    if (!replacement.messageId.isEmpty())
        search.atom("HEADER").string("Message-ID").string(replacement.messageId);
    std::vector<qint64> uids = searchUids(server, search);
    // "n:*" always matches the highest UID, even one below n.
    std::erase_if(uids, [&](qint64 uid) { return uid <= replacement.oldUid; });
    std::sort(uids.begin(), uids.end(), std::greater<>());
    return uids;
}

// The copy of a replacement on the server, or 0: among the messages newer than the old
// one, with its Message-ID when it has one, the first whose bytes hash as the copy's did.
// A message that only looks like the copy never counts as it. Those of the copy's size
// are fetched first; as Courier's sizes are estimates, the newest others then.
qint64 findCopy(imap::Connection &server, const PendingReplacement &replacement)
{
    if (replacement.sha256.isEmpty())
        return 0; // an older journal's entry: its copy cannot be told
    const QByteArray sizes =
        "LARGER " + QByteArray::number(std::min(replacement.newSize, replacement.crlfSize) - 1) +
        " SMALLER " + QByteArray::number(std::max(replacement.newSize, replacement.crlfSize) + 1);
    const std::vector<qint64> ofItsSize = newerUids(server, replacement, sizes);
    if (const qint64 copy = firstWithCopysBytes(server, replacement, ofItsSize))
        return copy;
    std::vector<qint64> others = newerUids(server, replacement, {});
    std::erase_if(others, [&](qint64 uid) {
        return std::find(ofItsSize.begin(), ofItsSize.end(), uid) != ofItsSize.end();
    });
    // Bounded: a folder that grew by thousands since is not read whole for one copy.
    constexpr size_t mostOthers = 200;
    if (others.size() > mostOthers)
        others.resize(mostOthers);
    return firstWithCopysBytes(server, replacement, others);
}

bool exists(imap::Connection &server, qint64 uid)
{
    imap::Command search("UID SEARCH UID");
    search.atom(QByteArray::number(uid));
    const std::vector<qint64> found = searchUids(server, search);
    return std::find(found.begin(), found.end(), uid) != found.end();
}

enum class Removal {
    Expunged,
    LeftMarked, // the server cannot expunge one message by its UID
    Gone,       // no message has the UID any more: another program moved or deleted it
};

// Marks the message \Deleted and expunges it alone.
Removal markAndExpunge(imap::Connection &server, qint64 uid)
{
    bool marked = false;
    imap::Command store("UID STORE");
    store.atom(QByteArray::number(uid)).raw(" +FLAGS (\\Deleted)");
    server.run(store, [&](const imap::Response &response) {
        const imap::Value *found = imap::fetchItem(response, "UID");
        if (response.name == "FETCH" && found && found->number() == uid)
            marked = true;
    });
    // A server may leave out the answer for a message whose flags did not change.
    if (!marked && !exists(server, uid))
        return Removal::Gone;
    if (!server.hasCapability("UIDPLUS"))
        return Removal::LeftMarked;
    imap::Command expunge("UID EXPUNGE");
    expunge.atom(QByteArray::number(uid));
    server.run(expunge);
    return Removal::Expunged;
}

// The old message went while its copy was stored: the copy goes too, or the email would
// be on the server twice (the other program's move) or back (its deletion).
[[noreturn]] void takeCopyBack(AccountSession &session, const PendingReplacement &pending,
                               qint64 copy)
{
    // Out of the journal first: a crash or a drop from here on leaves the copy beside the
    // moved email, never takes the copy for the email.
    session.journal().remove(pending);
    const bool expunged = markAndExpunge(session.connection(), copy) == Removal::Expunged;
    throw qb::MailStoreError(
        expunged ? QStringLiteral("Another program moved or deleted the email in %1 meanwhile; "
                                  "the changed copy was taken away again")
                       .arg(pending.mailbox)
                 : QStringLiteral("Another program moved or deleted the email in %1 meanwhile; "
                                  "the changed copy is left there marked deleted, as the server "
                                  "cannot remove one message alone")
                       .arg(pending.mailbox));
}

// After the connection dropped in the middle of a replacement: on a new connection (the
// session opens one once) the replacement is finished as one a crash interrupted, and the
// change is made when the copy reached the server. True then, with the copy's UID in result.
bool finishedAfterDrop(AccountSession &session, const PendingReplacement &pending, Replaced &result)
{
    // Reopening a locked session finishes every journalled replacement, this one too.
    session.connection();
    const std::vector<PendingReplacement> left = session.journal().pending();
    if (std::find(left.begin(), left.end(), pending) != left.end())
        finishReplacement(session, pending);
    const qint64 copy = session.currentUid(pending.mailbox, pending.oldUid);
    if (copy == pending.oldUid) {
        // Not changed; a renumbered mailbox is the reason to give.
        session.selectSame(pending.mailbox, true, pending.uidValidity);
        return false;
    }
    result.newUid = copy;
    result.oldLeft = !session.connection().hasCapability("UIDPLUS");
    return true;
}

} // namespace

Replaced replaceMessage(AccountSession &session, const QString &mailbox, qint64 uidValidity,
                        const RemoteMessage &old, const QByteArray &rewritten)
{
    PendingReplacement pending;
    pending.mailbox = mailbox;
    pending.uidValidity = uidValidity;
    pending.oldUid = old.uid;
    pending.oldWasDeleted = old.deleted;
    pending.messageId = old.messageId;
    pending.newSize = rewritten.size();
    pending.sha256 = copyDigest(rewritten, &pending.crlfSize);
    // The old UID names the message only while the mailbox keeps its numbering.
    session.selectSame(mailbox, true, uidValidity);
    session.journal().add(pending);

    Replaced result;
    try {
        imap::Command append("APPEND");
        append.mailbox(mailbox).raw(' ' + appendFlags(old.flags));
        if (!old.internalDate.isEmpty())
            append.raw(" \"" + old.internalDate + '"');
        append.literal(rewritten);
        const imap::Response appended = session.connection().run(append);

        if (appended.code == "APPENDUID" && appended.codeArgs.size() == 2) {
            if (appended.codeArgs.at(0).number() != uidValidity) {
                session.journal().remove(pending);
                throw qb::MailStoreError(
                    QStringLiteral("The server renumbered the folder %1 while the changed email "
                                   "was stored; the original email is kept beside it")
                        .arg(mailbox));
            }
            result.newUid = appended.codeArgs.at(1).number();
        } else {
            session.selectSame(mailbox, true, uidValidity);
            result.newUid = findCopy(session.connection(), pending);
        }
        if (result.newUid <= 0) {
            // The copy is there but cannot be told apart: both stay, nothing is lost.
            session.journal().remove(pending);
            throw qb::MailStoreError(QStringLiteral(
                "The changed email was stored, but the server did not say where; the original "
                "email is kept beside it"));
        }
        session.selectSame(mailbox, true, uidValidity);
        // The connection is asked for again after each select, which may have replaced it.
        switch (markAndExpunge(session.connection(), old.uid)) {
        case Removal::Gone:
            takeCopyBack(session, pending, result.newUid);
        case Removal::LeftMarked:
            result.oldLeft = true;
            break;
        case Removal::Expunged:
            break;
        }
    } catch (const imap::ConnectionError &) {
        // Once the copy is on the server the change is made, whatever step the drop cut:
        // the job must say so, not report a failure for an email that changed.
        if (!finishedAfterDrop(session, pending, result))
            throw;
    }
    session.journal().remove(pending);
    session.recordReplacement(mailbox, old.uid, result.newUid);
    return result;
}

void finishReplacement(AccountSession &session, const PendingReplacement &replacement)
{
    qint64 validity = 0;
    try {
        validity = session.select(replacement.mailbox, true);
    } catch (const imap::CommandFailed &) {
        session.journal().remove(replacement); // the mailbox is gone, and with it both
        return;
    }
    if (validity != replacement.uidValidity) {
        // The UIDs of the journal no longer mean these messages: nothing can be decided.
        std::fprintf(stderr,
                     "quillbrook: the mailbox %s was renumbered; a replacement of message %lld "
                     "there is left as it is\n",
                     qPrintable(replacement.mailbox), static_cast<long long>(replacement.oldUid));
        session.journal().remove(replacement);
        return;
    }
    imap::Connection &server = session.connection();
    const bool oldThere = exists(server, replacement.oldUid);
    const qint64 copy = findCopy(server, replacement);
    if (copy > 0) {
        // The copy is the email now (with the old one gone, the interrupted run had
        // expunged it).
        if (oldThere)
            markAndExpunge(server, replacement.oldUid);
        session.recordReplacement(replacement.mailbox, replacement.oldUid, copy);
    } else if (oldThere && !replacement.oldWasDeleted) {
        imap::Command store("UID STORE");
        store.atom(QByteArray::number(replacement.oldUid)).raw(" -FLAGS.SILENT (\\Deleted)");
        server.run(store);
    }
    session.journal().remove(replacement);
}

} // namespace imapstore
