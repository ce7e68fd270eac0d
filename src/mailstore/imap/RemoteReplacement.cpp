#include "RemoteReplacement.h"

#include "AccountSession.h"
#include "common/Error.h"
#include "imap/ImapError.h"

#include <algorithm>
#include <cstdio>

namespace imapstore {

namespace {

QByteArray appendFlags(const QByteArrayList &flags)
{
    QByteArrayList kept;
    for (const QByteArray &flag : flags) {
        // \Recent belongs to the server; the copy starts without \Deleted unless the
        // user had set it.
        if (flag.compare("\\Recent", Qt::CaseInsensitive) != 0)
            kept << flag;
    }
    return '(' + kept.join(' ') + ')';
}

bool hasDeleted(const QByteArrayList &flags)
{
    for (const QByteArray &flag : flags) {
        if (flag.compare("\\Deleted", Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
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

// The copies of a replacement on the server: newer than the old message, of the copy's
// size, with its Message-ID when it has one.
std::vector<qint64> copiesOf(imap::Connection &server, const PendingReplacement &replacement)
{
    imap::Command search("UID SEARCH UID");
    search.atom(QByteArray::number(replacement.oldUid + 1) + ":*")
        .atom("LARGER")
        .atom(QByteArray::number(replacement.newSize - 1))
        .atom("SMALLER")
        .atom(QByteArray::number(replacement.newSize + 1));
    if (!replacement.messageId.isEmpty())
        search.atom("HEADER").string("Message-ID").string(replacement.messageId);
    std::vector<qint64> copies = searchUids(server, search);
    // "n:*" always matches the highest UID, even one below n.
    std::erase_if(copies, [&](qint64 uid) { return uid <= replacement.oldUid; });
    return copies;
}

bool exists(imap::Connection &server, qint64 uid)
{
    imap::Command search("UID SEARCH UID");
    search.atom(QByteArray::number(uid));
    const std::vector<qint64> found = searchUids(server, search);
    return std::find(found.begin(), found.end(), uid) != found.end();
}

// Marks the old message \Deleted and expunges it alone; false when the server cannot
// expunge one message by its UID, and it is left marked.
bool removeOld(imap::Connection &server, qint64 uid)
{
    imap::Command store("UID STORE");
    store.atom(QByteArray::number(uid)).raw(" +FLAGS.SILENT (\\Deleted)");
    server.run(store);
    if (!server.hasCapability("UIDPLUS"))
        return false;
    imap::Command expunge("UID EXPUNGE");
    expunge.atom(QByteArray::number(uid));
    server.run(expunge);
    return true;
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
    session.select(pending.mailbox, true);
    const std::vector<qint64> copies = copiesOf(session.connection(), pending);
    if (copies.empty())
        return false;
    if (result.newUid <= 0 && copies.size() == 1)
        result.newUid = copies.front();
    result.oldLeft = !session.connection().hasCapability("UIDPLUS");
    return result.newUid > 0;
}

} // namespace

Replaced replaceMessage(AccountSession &session, const QString &mailbox, const RemoteMessage &old,
                        const QByteArray &rewritten)
{
    PendingReplacement pending;
    pending.mailbox = mailbox;
    pending.uidValidity = session.select(mailbox, true);
    pending.oldUid = old.uid;
    pending.oldWasDeleted = hasDeleted(old.flags);
    pending.messageId = old.messageId;
    pending.newSize = rewritten.size();
    session.journal().add(pending);

    Replaced result;
    try {
        imap::Command append("APPEND");
        append.mailbox(mailbox).raw(' ' + appendFlags(old.flags));
        if (!old.internalDate.isEmpty())
            append.raw(" \"" + old.internalDate + '"');
        append.literal(rewritten);
        const imap::Response appended = session.connection().run(append);

        if (appended.code == "APPENDUID" && appended.codeArgs.size() == 2 &&
            appended.codeArgs.at(0).number() == pending.uidValidity) {
            result.newUid = appended.codeArgs.at(1).number();
        } else {
            session.select(mailbox, true);
            const std::vector<qint64> copies = copiesOf(session.connection(), pending);
            if (copies.size() == 1)
                result.newUid = copies.front();
        }
        if (result.newUid <= 0) {
            // The copy is there but cannot be told apart: both stay, nothing is lost.
            session.journal().remove(pending);
            throw qb::MailStoreError(QStringLiteral(
                "The changed email was stored, but the server did not say where; the original "
                "email is kept beside it"));
        }
        session.select(mailbox, true);
        // The connection is asked for again after each select, which may have replaced it.
        result.oldLeft = !removeOld(session.connection(), old.uid);
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
    if (exists(server, replacement.oldUid)) {
        if (!copiesOf(server, replacement).empty()) {
            removeOld(server, replacement.oldUid);
        } else if (!replacement.oldWasDeleted) {
            imap::Command store("UID STORE");
            store.atom(QByteArray::number(replacement.oldUid)).raw(" -FLAGS.SILENT (\\Deleted)");
            server.run(store);
        }
    }
    session.journal().remove(replacement);
}

} // namespace imapstore
