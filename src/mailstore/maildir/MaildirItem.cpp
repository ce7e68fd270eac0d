#include "MaildirItem.h"

#include "Replacement.h"
#include "SummaryCache.h"
#include "SummaryReading.h"
#include "common/Error.h"
#include "common/FileSystem.h"
#include "mailstore/ItemAttachments.h"
#include "mailstore/mime/DecodedSize.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace maildir {

MaildirItem::MaildirItem(std::shared_ptr<Session> session,
                         std::shared_ptr<const Session::Store> store,
                         std::shared_ptr<FolderNode> folder, QString folderEntryId,
                         MessageFile file)
    : m_session(std::move(session)), m_store(std::move(store)), m_folder(std::move(folder)),
      m_folderEntryId(std::move(folderEntryId)), m_file(std::move(file)),
      m_entryId(Session::itemEntryId(m_folderEntryId, m_file.uniqueName))
{
}

std::optional<MessageFile> MaildirItem::findFile(Session &session, const FolderNode &folder,
                                                 const QString &uniqueName, bool listingIsStale)
{
    QString name = uniqueName;
    if (const auto replaced = session.replacementOf(folder, uniqueName)) {
        // Written by this session: where it was put, unless another program moved it since.
        if (!listingIsStale)
            return replaced;
        name = replaced->uniqueName;
    }
    for (const bool refresh : {listingIsStale, true}) {
        const auto listing = session.listing(folder, refresh);
        const auto found = listing->indexOfUnique.constFind(name);
        if (found != listing->indexOfUnique.cend())
            return listing->files[size_t(*found)];
    }
    return std::nullopt;
}

QString MaildirItem::path()
{
    QString current = m_folder->directory + QLatin1Char('/') + m_file.relativePath;
    if (QFile::exists(current))
        return current;
    const auto moved = findFile(*m_session, *m_folder, m_file.uniqueName, true);
    if (!moved) {
        throw qb::MailStoreError(QStringLiteral("The email %1 is no longer in the folder %2")
                                     .arg(m_file.uniqueName, m_folder->directory));
    }
    m_file = *moved;
    return m_folder->directory + QLatin1Char('/') + m_file.relativePath;
}

const mailstore::EmailSummary &MaildirItem::summary()
{
    if (!m_summary) {
        const QString first = path();
        mailstore::ReadingScratch scratch;
        FileStamp stamp;
        try {
            m_summary = readSummary(first, scratch, &stamp);
        } catch (const qb::MailStoreError &) {
            // Renamed between the look-up and the read: follow it once.
            if (QFile::exists(first))
                throw;
            m_summary = readSummary(path(), scratch, &stamp);
        }
    }
    return *m_summary;
}

mailstore::SummarySource MaildirItem::summarySource()
{
    if (m_edit || m_summary)
        return {}; // read already, or changed in memory: this item knows better
    const QString path = m_folder->directory + QLatin1Char('/') + m_file.relativePath;
    std::shared_ptr<PendingSummaries> pending;
    if (const auto cached = m_session->cachedFolder(*m_folder)) {
        SummaryCache &cache = *m_session->summaryCache();
        if (cached->trusted()) {
            auto known = cached->find(m_file);
            m_session->fileChecked(*m_folder, !known);
            if (known)
                return {std::move(known), {}};
        } else {
            // This file is checked now: its entry is true, or it is read, or it goes.
            m_session->fileChecked(*m_folder, true);
            struct stat info = {};
            if (cached->size() > 0 && m_session->fileStatus(*m_folder, m_file, &info) &&
                S_ISREG(info.st_mode)) {
                if (auto known = cached->find(m_file, FileStamp::of(info)))
                    return {std::move(known), {}};
            }
            if (cached->holds(m_file))
                cache.outdated(*cached, m_file.uniqueName);
        }
        if (cache.pending()->count() >= SummaryCache::storeBatch)
            cache.store();
        pending = cache.pending();
    }
    return {std::nullopt,
            [path, directory = m_folder->directory, uniqueName = m_file.uniqueName, pending](
                mailstore::ReadingScratch &scratch) -> std::optional<mailstore::EmailSummary> {
                FileStamp stamp;
                std::optional<mailstore::EmailSummary> summary;
                try {
                    summary = readSummary(path, scratch, &stamp);
                } catch (const std::exception &) {
                    return std::nullopt; // the item reads it again, following a rename
                }
                if (pending)
                    pending->add(directory, uniqueName, stamp, *summary);
                return summary;
            }};
}

mime::EmailEdit &MaildirItem::edit()
{
    if (!m_edit) {
        QByteArray bytes;
        struct stat info = {};
        mime::readEmailFile(path(), bytes, &info);
        m_edit.emplace(mime::ParsedEmail(std::move(bytes)));
        m_editStamp = FileStamp::of(info);
    }
    return *m_edit;
}

QString MaildirItem::attachmentName(int index)
{
    if (m_edit)
        return m_edit->attachment(index).filename;
    const QStringList &names = summary().attachmentNames;
    if (index < 1 || index > names.size())
        throw qb::MailStoreError(QStringLiteral("No attachment at position %1").arg(index));
    return names.at(index - 1);
}

qint64 MaildirItem::attachmentSize(int index)
{
    if (m_edit)
        return mime::attachmentSizeOf(m_edit->original(), m_edit->attachment(index).node);
    const mailstore::EmailSummary &known = summary();
    if (index < 1 || index > known.attachmentNames.size())
        throw qb::MailStoreError(QStringLiteral("No attachment at position %1").arg(index));
    return known.attachmentSizes.value(index - 1);
}

int MaildirItem::attachmentCount()
{
    return m_edit ? m_edit->attachmentCount() : int(summary().attachmentNames.size());
}

QString MaildirItem::subject()
{
    return summary().subject;
}

QString MaildirItem::senderName()
{
    return summary().senderName;
}

QString MaildirItem::entryId()
{
    return m_entryId;
}

qint64 MaildirItem::size()
{
    return summary().size;
}

QDateTime MaildirItem::receivedTime()
{
    return summary().receivedTime;
}

QString MaildirItem::body()
{
    return m_edit ? m_edit->original().body() : mime::ParsedEmail::fromFile(path()).body();
}

QByteArray MaildirItem::version()
{
    return summary().version;
}

QString MaildirItem::changedSince(const QByteArray &version)
{
    if (version.isEmpty())
        return {};
    // What is checked is what is changed: the bytes the edit was read from.
    const mime::EmailEdit &email = edit();
    if (summaryOf(email.original(), m_editStamp).version == version)
        return {};
    // Rewritten under its name, which leaves the folder's stamp as it was: the cache would
    // go on vouching for the old email's row.
    if (SummaryCache *cache = m_session->summaryCache())
        cache->forget(m_folder->directory, m_file.uniqueName);
    return QStringLiteral("the email file %1 is not the one that was analysed: it was written "
                          "anew since; analyse the folder again")
        .arg(m_folder->directory + QLatin1Char('/') + m_file.relativePath);
}

QString MaildirItem::unchangeableReason()
{
    struct stat info = {};
    const QString current = path();
    if (::lstat(QFile::encodeName(current).constData(), &info) == 0 && S_ISLNK(info.st_mode)) {
        return QStringLiteral("The email file %1 is a link to an email kept elsewhere; change "
                              "it in its own folder")
            .arg(current);
    }
    return edit().refusal();
}

void MaildirItem::appendToBody(const QString &text)
{
    edit().appendNote(text);
}

void MaildirItem::replaceInBody(const QString &text, const QString &replacement)
{
    edit().replaceNote(text, replacement);
}

QString MaildirItem::attachmentType(int index)
{
    const mime::EmailEdit &email = edit();
    return QString::fromLatin1(email.original().tree().node(email.attachment(index).node).mimeType);
}

std::shared_ptr<mailstore::Attachments> MaildirItem::attachments()
{
    return std::make_shared<mailstore::ItemAttachments<MaildirItem>>(shared_from_this());
}

mailstore::SavedContent MaildirItem::saveAttachment(int index, const QString &path)
{
    mime::EmailEdit &email = edit();
    struct stat info = {};
    const mode_t mode = ::stat(QFile::encodeName(this->path()).constData(), &info) == 0
                            ? info.st_mode & 0666
                            : 0600;
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        throw qb::MailStoreError(
            QStringLiteral("Cannot write %1: %2").arg(path, qb::systemErrorText()));
    }
    struct Closer
    {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    // The saved file is as private as the email it comes from, whatever the umask.
    ::fchmod(fd, mode);
    try {
        const mime::EmailEdit::Saved saved = email.writeAttachment(index, fd);
        return {saved.bytes, saved.damage};
    } catch (const qb::Error &e) {
        throw qb::MailStoreError(QStringLiteral("Cannot write %1: %2").arg(path, e.message()));
    }
}

void MaildirItem::removeAttachment(int index)
{
    edit().removeAttachment(index);
}

void MaildirItem::save()
{
    m_unchangedAfterFailure = true;
    if (!m_edit || !m_edit->changed())
        return;
    path(); // follow a flag change by another mail program, to keep its flags
    const mime::EmailEdit &changed = *m_edit;
    const MessageFile old = m_file;
    std::optional<mailstore::EmailSummary> written;
    // Set on the way out: a failure before the rewrite's check passed left the old file alone.
    struct Outcome
    {
        MaildirItem *item;
        const std::optional<mailstore::EmailSummary> &checked;
        ~Outcome() { item->m_unchangedAfterFailure = !checked; }
    } outcome{this, written};
    m_file = replaceEmailFile(
        *m_store->journal, *m_folder, old, [&](int fd) { changed.writeTo(fd); },
        [&](const QString &path) {
            // Never put a file in place that reads differently from what was meant.
            const mime::ParsedEmail email = mime::ParsedEmail::fromFile(path);
            changed.verify(email);
            if (const mailstore::RewriteWatcher watcher = std::exchange(m_watcher, {}))
                watcher({changed.original(), email.bytes(), changed.changedSpans(),
                         changed.removedAttachments()});
            written = summaryOf(email, FileStamp());
        },
        &m_editStamp);
    m_session->recordReplacement(*m_folder, old.uniqueName, m_file);
    if (SummaryCache *cache = m_session->summaryCache()) {
        // The next analysis finds the new file known and the old one gone.
        struct stat info = {};
        const QString now = m_folder->directory + QLatin1Char('/') + m_file.relativePath;
        if (written && ::stat(QFile::encodeName(now).constData(), &info) == 0)
            cache->replace(m_folder->directory, old.uniqueName, m_file.uniqueName,
                           FileStamp::of(info), *written);
        else
            cache->forget(m_folder->directory, old.uniqueName);
    }
    m_summary.reset();
    m_edit.reset();
}

bool MaildirItem::watchNextSave(mailstore::RewriteWatcher watcher)
{
    m_watcher = std::move(watcher);
    return true;
}

QString MaildirItem::storedEntryId()
{
    return Session::itemEntryId(m_folderEntryId, m_file.uniqueName);
}

QByteArray MaildirItem::content()
{
    return edit().original().bytes();
}

void MaildirItem::replaceContent(const QByteArray &bytes)
{
    path(); // follow a flag change by another mail program, to keep its flags
    edit(); // the stamp the file must still have
    const MessageFile old = m_file;
    m_file = replaceEmailFile(
        *m_store->journal, *m_folder, old,
        [&](int fd) {
            if (!qb::writeAll(fd, bytes))
                throw qb::MailStoreError(
                    QStringLiteral("Cannot write the email: %1").arg(qb::systemErrorText()));
        },
        [&](const QString &path) {
            if (mime::ParsedEmail::fromFile(path).bytes() != bytes)
                throw qb::MailStoreError(
                    QStringLiteral("The email written does not read back as it should"));
        },
        &m_editStamp);
    m_session->recordReplacement(*m_folder, old.uniqueName, m_file);
    if (SummaryCache *cache = m_session->summaryCache())
        cache->forget(m_folder->directory, old.uniqueName);
    m_summary.reset();
    m_edit.reset();
}

} // namespace maildir
