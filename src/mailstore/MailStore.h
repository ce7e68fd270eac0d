#pragma once

// The mailstore layer: this interface, its Maildir and in-memory stores, the
// attachment records and list, and the MIME reading and rewriting of emails.
// Links the common and settings layers and GMime; no worker, no window.

#include "common/Error.h"
#include "mailstore/EmailRewrite.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <any>
#include <functional>
#include <memory>
#include <optional>

// The mail store seen as an object model: application, namespace, folders,
// items (emails) and attachments. Every backend (Maildir, IMAP, the in-memory
// test store) offers these operations.
//
// Conventions: collections are 1-based, item(1) to item(count()). A look-up
// that finds nothing returns a null pointer; a failure throws qb::MailStoreError
// carrying its message. Objects of one application belong to the thread that
// created it.
namespace mailstore {

class Folder;
class Item;
class Attachment;

template <class T> class Collection
{
public:
    virtual ~Collection() = default;
    virtual int count() = 0;
    // Member i, 1-based. Throws when i is out of range or the member cannot be read.
    virtual std::shared_ptr<T> item(int index) = 0;
};

using Folders = Collection<Folder>;
using Items = Collection<Item>;
using Attachments = Collection<Attachment>;

// The folder type that holds mail; other types (calendars, contacts) are not walked
// by the folder chooser.
constexpr int MailItemType = 0;
// getDefaultFolder's argument for the Inbox.
constexpr int DefaultInbox = 6;

// What saving an attachment wrote.
struct SavedContent
{
    qint64 bytes = 0;
    // Why the content did not decode cleanly (a damaged transfer encoding), or
    // an empty text when it did: the file then holds what could be decoded.
    QString damage;
};

class Attachment
{
public:
    virtual ~Attachment() = default;
    virtual QString filename() = 0;
    // Writes the decoded content to a new file at path, whole, and flushes it to
    // disk. The file gets the permissions of the email it comes from.
    virtual SavedContent saveAsFile(const QString &path) = 0;
    // Removes the attachment from its email in memory (the store's "delete");
    // save() stores the change. Later positions move down by one.
    virtual void remove() = 0;
    // The content's size once decoded, as closely as the store can tell it without
    // decoding (mime/DecodedSize.h); 0 when it cannot tell.
    virtual qint64 decodedSize() { return 0; }
    // The declared "type/subtype" in lower case; empty when the store cannot tell.
    virtual QString contentType() { return {}; }
};

// What analysis lists of one email, read in one go.
struct EmailSummary
{
    QString subject;
    QString senderName;
    qint64 size = 0;
    QDateTime receivedTime;
    QStringList attachmentNames; // in the order of the attachments collection
    // Each attachment's decoded size, parallel to attachmentNames; 0 when unknown.
    QList<qint64> attachmentSizes;
    // What tells the email read from any other one that may later stand in its place (a
    // file rewritten under its name): Item::changedSince compares it before a change. The
    // store's own coding; empty where it cannot tell.
    QByteArray version;
};

// What the readings run on one thread keep from one email to the next: a buffer to read
// into, so that they need not allocate one each, and whatever else the store finds worth
// keeping (what it made of header values seen before).
struct ReadingScratch
{
    QByteArray buffer;
    std::any kept;
};

// Reads one email's summary on any thread, apart from the objects of its store. Nothing
// when the email cannot be read this way: it is then read through its item.
using SummaryReading = std::function<std::optional<EmailSummary>(ReadingScratch &scratch)>;

// How analysis gets an email's summary: known at once, or by a reading it may run elsewhere.
struct SummarySource
{
    std::optional<EmailSummary> known;
    SummaryReading reading;
};

class Item
{
public:
    virtual ~Item() = default;
    virtual QString subject() = 0;
    virtual QString senderName() = 0;
    virtual QString entryId() = 0;
    // The whole email in bytes.
    virtual qint64 size() = 0;
    virtual QDateTime receivedTime() = 0;
    virtual QString body() = 0;
    // The version (EmailSummary::version) of the email as this item read it.
    virtual QByteArray version() { return {}; }
    // Why the email is no longer the one whose version was read (another email was
    // written in its place since), or an empty text when it is or the store cannot tell.
    // Asked before anything is done to it, so that nothing is done to another email.
    virtual QString changedSince(const QByteArray &version)
    {
        Q_UNUSED(version);
        return {};
    }
    // Why the email cannot be changed (signed or encrypted, not a file of its
    // own folder...), or an empty text when it can. Asked before anything is done
    // to it, so that nothing is saved for a change that cannot be made.
    virtual QString unchangeableReason() = 0;
    // Appends text to the end of the body in memory, leaving what is there as it
    // is; save() stores the change.
    virtual void appendToBody(const QString &text) = 0;
    // A note that appendToBody added, changed in place to replacement, in memory until
    // save() (which refuses when no text part holds the note).
    virtual void replaceInBody(const QString &text, const QString &replacement)
    {
        Q_UNUSED(text);
        Q_UNUSED(replacement);
        throw qb::MailStoreError(QStringLiteral("This mail store cannot change notes"));
    }
    // Stores the changes made to the email, all at once.
    virtual void save() = 0;
    // The next save() tells watcher of its change before it stores it; false when this
    // store cannot tell its changes.
    virtual bool watchNextSave(RewriteWatcher watcher)
    {
        Q_UNUSED(watcher);
        return false;
    }
    // The id of the email as stored now: after save() or replaceContent(), the new copy's.
    virtual QString storedEntryId() { return entryId(); }
    // The entry id of the folder that holds the email; empty when the store cannot tell.
    virtual QString folderEntryId() { return {}; }
    // The email's bytes as they are stored now.
    virtual QByteArray content()
    {
        throw qb::MailStoreError(QStringLiteral("This mail store cannot read whole emails"));
    }
    // Puts bytes in the place of the email in one step that a crash cannot leave half
    // done, keeping its flags and received date; refuses, changing nothing, when the
    // email is no longer the one content() read.
    virtual void replaceContent(const QByteArray &bytes)
    {
        Q_UNUSED(bytes);
        throw qb::MailStoreError(QStringLiteral("This mail store cannot replace emails"));
    }
    // What the last save() did that the user should know of although it succeeded (an old
    // copy left behind on a server that cannot remove one message alone), once each.
    virtual QStringList takeSaveNotices() { return {}; }
    // After save() failed: true when the store is sure that nothing of the change reached
    // it, so that what was saved for the change may go; false when it cannot tell.
    virtual bool unchangedAfterFailedSave() { return false; }
    virtual std::shared_ptr<Attachments> attachments() = 0;
    // For analysis, when the store can do better than value by value: the summary it knows
    // already, or a reading that may run on another thread. Neither by default.
    virtual SummarySource summarySource() { return {}; }
};

class Folder
{
public:
    virtual ~Folder() = default;
    virtual QString name() = 0;
    virtual QString entryId() = 0;
    virtual QString storeId() = 0;
    virtual int defaultItemType() = 0;
    virtual std::shared_ptr<Items> items() = 0;
    virtual std::shared_ptr<Folders> folders() = 0;
    // What the folder holds that is left out of items() and folders() (a named pipe
    // among the emails, a link leading out of the store, folders nested too deep),
    // one line each with the reason, so that nothing is left out without a word.
    virtual QStringList skippedEntries() = 0;
};

class Namespace
{
public:
    virtual ~Namespace() = default;
    // The stores' top folders.
    virtual std::shared_ptr<Folders> folders() = 0;
    virtual std::shared_ptr<Folder> getDefaultFolder(int folderType) = 0;
    // An empty storeId searches every store.
    virtual std::shared_ptr<Folder> getFolderFromId(const QString &entryId,
                                                    const QString &storeId) = 0;
    virtual std::shared_ptr<Item> getItemFromId(const QString &entryId, const QString &storeId) = 0;
    // Keeps other programs that honour the same lock from changing the stores
    // until this namespace is gone. While another one holds them, calls
    // stillWaiting(seconds waited) about once a second; when it returns false,
    // gives up and throws qb::MailStoreError.
    virtual void lockForChanges(const std::function<bool(int)> &stillWaiting) = 0;
    // What the stores' servers asked to be shown to the user since the last call (an IMAP
    // [ALERT]), each once.
    virtual QStringList takeServerAlerts() { return {}; }
};

class Application
{
public:
    virtual ~Application() = default;
    virtual std::shared_ptr<Namespace> getNamespace(const QString &type) = 0;
};

// Creates a new application object with a session of its own; each worker calls
// it on its own thread. Throws qb::MailStoreError when the store cannot be opened.
using ApplicationFactory = std::function<std::shared_ptr<Application>()>;

} // namespace mailstore
