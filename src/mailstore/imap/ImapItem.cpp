#include "ImapItem.h"

#include "RemoteReplacement.h"
#include "common/Error.h"
#include "common/FileDescriptor.h"
#include "common/FileSystem.h"
#include "mailstore/ItemAttachments.h"
#include "mailstore/mime/DecodedSize.h"
#include "mailstore/mime/ParsedEmail.h"

#include <QCryptographicHash>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace imapstore {

namespace {

// The bytes EmailEdit writes, kept in memory for APPEND.
QByteArray writtenBytes(const mime::EmailEdit &edit)
{
    const int fd = ::memfd_create("quillbrook-email", MFD_CLOEXEC);
    if (fd < 0) {
        throw qb::MailStoreError(QStringLiteral("Cannot make room for the changed email: %1")
                                     .arg(qb::systemErrorText()));
    }
    const qb::FileDescriptor closer(fd);
    edit.writeTo(fd);
    struct stat info = {};
    if (::fstat(fd, &info) != 0)
        throw qb::MailStoreError(QStringLiteral("Cannot read the changed email back"));
    QByteArray bytes(qsizetype(info.st_size), Qt::Uninitialized);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::pread(fd, bytes.data() + done, size_t(bytes.size() - done), done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            throw qb::MailStoreError(QStringLiteral("Cannot read the changed email back"));
        done += got;
    }
    return bytes;
}

} // namespace

ImapItem::ImapItem(std::shared_ptr<AccountSession> session, QString mailbox, QString folderEntryId,
                   qint64 uidValidity, RemoteMessage message)
    : m_session(std::move(session)), m_mailbox(std::move(mailbox)),
      m_folderEntryId(std::move(folderEntryId)), m_uidValidity(uidValidity),
      m_message(std::move(message)),
      m_entryId(entryIdOf(m_folderEntryId, m_uidValidity, m_message.uid))
{
}

QString ImapItem::entryIdOf(const QString &folderEntryId, qint64 uidValidity, qint64 uid)
{
    return folderEntryId + QStringLiteral("::") + QString::number(uidValidity) + QLatin1Char('.') +
           QString::number(uid);
}

bool ImapItem::splitEntryId(const QString &entryId, QString *folderEntryId, qint64 *uidValidity,
                            qint64 *uid)
{
    const qsizetype split = entryId.lastIndexOf(QLatin1String("::"));
    if (split < 0)
        return false;
    const QStringList numbers = entryId.mid(split + 2).split(QLatin1Char('.'));
    if (numbers.size() != 2)
        return false;
    bool validityOk = false;
    bool uidOk = false;
    *uidValidity = numbers.at(0).toLongLong(&validityOk);
    *uid = numbers.at(1).toLongLong(&uidOk);
    *folderEntryId = entryId.left(split);
    return validityOk && uidOk && *uid > 0;
}

QString ImapItem::subject()
{
    return m_message.summary.subject;
}

QString ImapItem::senderName()
{
    return m_message.summary.senderName;
}

QString ImapItem::entryId()
{
    return m_entryId;
}

qint64 ImapItem::size()
{
    return m_message.summary.size;
}

QDateTime ImapItem::receivedTime()
{
    return m_message.summary.receivedTime;
}

mailstore::SummarySource ImapItem::summarySource()
{
    if (m_edit)
        return {};
    return {m_message.summary, {}};
}

QByteArray ImapItem::fetchSection(const QByteArray &section)
{
    m_session->selectSame(m_mailbox, false, m_uidValidity);
    imap::Command fetch("UID FETCH");
    fetch.atom(QByteArray::number(m_message.uid)).atom("(BODY.PEEK[" + section + "])");
    std::optional<QByteArray> content;
    const QByteArray item = "BODY[" + section + ']';
    m_session->connection().run(fetch, [&](const imap::Response &response) {
        const imap::Value *uid = imap::fetchItem(response, "UID");
        if (response.name != "FETCH" || !uid || uid->number() != m_message.uid)
            return;
        if (const imap::Value *value = imap::fetchItem(response, item))
            content = value->nstring();
    });
    if (!content) {
        throw qb::MailStoreError(QStringLiteral("The email \"%1\" is no longer in the folder %2")
                                     .arg(m_message.summary.subject, m_mailbox));
    }
    return *content;
}

mime::EmailEdit &ImapItem::edit()
{
    if (m_edit)
        return *m_edit;
    mime::ParsedEmail email(fetchSection(QByteArray()));
    // The rows came from the server's reading of the email; a change must act on the
    // same attachments, or it would remove another one than the one chosen.
    QStringList names;
    for (const mime::AttachmentPart &part : email.attachments())
        names << part.filename;
    if (names != m_message.summary.attachmentNames) {
        throw qb::MailStoreError(QStringLiteral(
            "The server reads the parts of this email differently from this program; it is "
            "left as it is"));
    }
    m_edit.emplace(std::move(email));
    return *m_edit;
}

QString ImapItem::attachmentName(int index)
{
    if (m_edit)
        return m_edit->attachment(index).filename;
    const QStringList &names = m_message.summary.attachmentNames;
    if (index < 1 || index > names.size())
        throw qb::MailStoreError(QStringLiteral("No attachment at position %1").arg(index));
    return names.at(index - 1);
}

qint64 ImapItem::attachmentSize(int index)
{
    if (m_edit)
        return mime::attachmentSizeOf(m_edit->original(), m_edit->attachment(index).node);
    const std::vector<RemotePart> &parts = m_message.attachments;
    if (index < 1 || index > int(parts.size()))
        throw qb::MailStoreError(QStringLiteral("No attachment at position %1").arg(index));
    return parts[size_t(index - 1)].decodedSize;
}

int ImapItem::attachmentCount()
{
    return m_edit ? m_edit->attachmentCount() : int(m_message.summary.attachmentNames.size());
}

QString ImapItem::body()
{
    return m_edit ? m_edit->original().body() : mime::ParsedEmail(fetchSection({})).body();
}

QString ImapItem::unchangeableReason()
{
    // The structure tells signed and encrypted emails apart without downloading them.
    return m_edit || m_message.signedOrEncrypted ? edit().refusal() : QString();
}

void ImapItem::appendToBody(const QString &text)
{
    edit().appendNote(text);
}

void ImapItem::replaceInBody(const QString &text, const QString &replacement)
{
    edit().replaceNote(text, replacement);
}

QString ImapItem::attachmentType(int index)
{
    if (m_edit)
        return QString::fromLatin1(
            m_edit->original().tree().node(m_edit->attachment(index).node).mimeType);
    if (index < 1 || index > int(m_message.attachments.size()))
        throw qb::MailStoreError(QStringLiteral("No attachment at position %1").arg(index));
    return QString::fromLatin1(m_message.attachments[size_t(index - 1)].mimeType);
}

void ImapItem::removeAttachment(int index)
{
    edit().removeAttachment(index);
}

std::shared_ptr<mailstore::Attachments> ImapItem::attachments()
{
    return std::make_shared<mailstore::ItemAttachments<ImapItem>>(shared_from_this());
}

mailstore::SavedContent ImapItem::saveAttachment(int index, const QString &path)
{
    // Saved from the same reading of the whole email as the removal uses: a server's text
    // of one part can differ from it (a stray CR before a boundary), and the file would
    // then not be the part the email loses.
    mime::EmailEdit &email = edit();
    const mime::AttachmentPart &part = email.attachment(index);
    qb::FileDescriptor file(::open(QFile::encodeName(path).constData(),
                                   O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!file.isOpen()) {
        throw qb::MailStoreError(
            QStringLiteral("Cannot write %1: %2").arg(path, qb::systemErrorText()));
    }
    try {
        const mime::EmailEdit::Saved saved = email.writeAttachment(index, file.get());
        m_savedFiles.push_back({std::move(file), part.node, part.filename});
        return {saved.bytes, saved.damage};
    } catch (const qb::Error &e) {
        throw qb::MailStoreError(QStringLiteral("Cannot write %1: %2").arg(path, e.message()));
    }
}

QStringList ImapItem::takeSaveNotices()
{
    return std::exchange(m_saveNotices, {});
}

void ImapItem::save()
{
    if (!m_edit || !m_edit->changed())
        return;
    m_unchangedAfterFailure = true;
    // Each file saved from the email holds what the email held, or the email stays.
    for (const SavedFile &file : m_savedFiles) {
        if (qb::sha256OfFile(file.fd.get()) !=
            QCryptographicHash::hash(m_edit->original().decodedContent(file.node),
                                     QCryptographicHash::Sha256)) {
            throw qb::MailStoreError(
                QStringLiteral("The file saved for the attachment %1 does not hold it; the "
                               "email is left as it is")
                    .arg(file.name));
        }
    }
    const QByteArray rewritten = writtenBytes(*m_edit);
    mime::ParsedEmail stored(rewritten);
    // Never store an email that reads differently from what was meant.
    m_edit->verify(stored);
    if (const mailstore::RewriteWatcher watcher = std::exchange(m_watcher, {}))
        watcher(
            {m_edit->original(), rewritten, m_edit->changedSpans(), m_edit->removedAttachments()});
    // From here on a failure may leave the change half made on the server, for the next
    // job's start to finish.
    m_unchangedAfterFailure = false;
    // The email in progress is always stored whole, Cancel or not.
    const AccountSession::CancelShield shield(*m_session);
    const Replaced replaced =
        replaceMessage(*m_session, m_mailbox, m_uidValidity, m_message, rewritten);
    m_message.uid = replaced.newUid;
    noteOldLeft(replaced);
    m_message.summary.size = rewritten.size();
    // From here on the item is the stored copy, read from the bytes sent.
    m_edit.emplace(std::move(stored));
    m_savedFiles.clear();
}

void ImapItem::noteOldLeft(const Replaced &replaced)
{
    if (replaced.oldLeft) {
        m_saveNotices << QStringLiteral(
                             "The server cannot remove one message alone (no UIDPLUS): the "
                             "original of \"%1\" is left in %2 marked deleted, for your mail "
                             "program to remove")
                             .arg(m_message.summary.subject, m_mailbox);
    }
}

bool ImapItem::watchNextSave(mailstore::RewriteWatcher watcher)
{
    m_watcher = std::move(watcher);
    return true;
}

QString ImapItem::storedEntryId()
{
    return entryIdOf(m_folderEntryId, m_uidValidity, m_message.uid);
}

QByteArray ImapItem::content()
{
    return fetchSection(QByteArray());
}

void ImapItem::replaceContent(const QByteArray &bytes)
{
    const AccountSession::CancelShield shield(*m_session);
    const Replaced replaced =
        replaceMessage(*m_session, m_mailbox, m_uidValidity, m_message, bytes);
    m_message.uid = replaced.newUid;
    noteOldLeft(replaced);
    m_message.summary.size = bytes.size();
    m_edit.reset();
    m_savedFiles.clear();
}

} // namespace imapstore
