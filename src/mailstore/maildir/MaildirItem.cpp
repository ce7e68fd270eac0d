#include "MaildirItem.h"

#include "Replacement.h"
#include "common/Error.h"
#include "mailstore/mime/EmailEditor.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace maildir {

namespace {

class MaildirAttachment : public mailstore::Attachment
{
public:
    MaildirAttachment(std::shared_ptr<MaildirItem> item, int index, QString filename)
        : m_item(std::move(item)), m_index(index), m_filename(std::move(filename))
    {
    }
    QString filename() override { return m_filename; }
    void saveAsFile(const QString &path) override { m_item->saveAttachment(m_index, path); }
    void remove() override { m_item->removeAttachment(m_index); }

private:
    std::shared_ptr<MaildirItem> m_item;
    int m_index;
    QString m_filename;
};

class AttachmentCollection : public mailstore::Attachments
{
public:
    AttachmentCollection(std::shared_ptr<MaildirItem> item, QStringList names)
        : m_item(std::move(item)), m_names(std::move(names))
    {
    }
    int count() override { return int(m_names.size()); }
    std::shared_ptr<mailstore::Attachment> item(int index) override
    {
        if (index < 1 || index > count())
            throw qb::MailStoreError(QStringLiteral("No attachment at position %1").arg(index));
        return std::make_shared<MaildirAttachment>(m_item, index, m_names.at(index - 1));
    }

private:
    std::shared_ptr<MaildirItem> m_item;
    QStringList m_names;
};

QStringList namesOf(const mime::ParsedEmail &email)
{
    QStringList names;
    for (const mime::AttachmentPart &part : email.attachments())
        names << part.filename;
    return names;
}

} // namespace

MaildirItem::MaildirItem(std::shared_ptr<Session> session, const Session::Store &store,
                         std::shared_ptr<FolderNode> folder, QString folderEntryId,
                         MessageFile file)
    : m_session(std::move(session)), m_store(store), m_folder(std::move(folder)),
      m_folderEntryId(std::move(folderEntryId)), m_file(std::move(file)),
      m_entryId(Session::itemEntryId(m_folderEntryId, m_file.uniqueName))
{
}

std::optional<MessageFile> MaildirItem::findFile(Session &session, const FolderNode &folder,
                                                 const QString &uniqueName, bool listingIsStale)
{
    QString name = uniqueName;
    if (const auto replaced = session.replacementOf(folder, uniqueName))
        name = replaced->uniqueName;
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

MaildirItem::Summary MaildirItem::read(const QString &path)
{
    struct stat info = {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) {
        throw qb::MailStoreError(QStringLiteral("Cannot read the email %1: %2")
                                     .arg(path, QString::fromLocal8Bit(strerror(errno))));
    }
    const mime::ParsedEmail email = mime::ParsedEmail::fromFile(path);
    Summary summary;
    summary.subject = email.subject();
    summary.senderName = email.senderName();
    summary.size = qint64(info.st_size);
    summary.receivedTime = QDateTime::fromMSecsSinceEpoch(qint64(info.st_mtim.tv_sec) * 1000 +
                                                          info.st_mtim.tv_nsec / 1000000);
    summary.attachmentNames = namesOf(email);
    return summary;
}

const MaildirItem::Summary &MaildirItem::summary()
{
    if (!m_summary) {
        const QString first = path();
        try {
            m_summary = read(first);
        } catch (const qb::MailStoreError &) {
            // Renamed between the look-up and the read: follow it once.
            if (QFile::exists(first))
                throw;
            m_summary = read(path());
        }
    }
    return *m_summary;
}

mime::ParsedEmail &MaildirItem::email()
{
    if (!m_email)
        m_email = mime::ParsedEmail::fromFile(path());
    return *m_email;
}

QStringList MaildirItem::attachmentNames()
{
    return m_email ? namesOf(*m_email) : summary().attachmentNames;
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
    return m_email ? m_email->body() : mime::ParsedEmail::fromFile(path()).body();
}

void MaildirItem::setBody(const QString &text)
{
    mime::setBodyText(email(), text);
    m_changed = true;
}

std::shared_ptr<mailstore::Attachments> MaildirItem::attachments()
{
    return std::make_shared<AttachmentCollection>(shared_from_this(), attachmentNames());
}

void MaildirItem::saveAttachment(int index, const QString &path)
{
    mime::writeAttachment(email(), index, path);
}

void MaildirItem::removeAttachment(int index)
{
    mime::removeAttachment(email(), index);
    m_changed = true;
}

void MaildirItem::save()
{
    if (!m_changed)
        return;
    path(); // follow a flag change by another mail program, to keep its flags
    const mime::ParsedEmail &changed = email();
    const QStringList expected = namesOf(changed);
    const MessageFile old = m_file;
    m_file = replaceEmailFile(
        *m_store.journal, *m_folder, old, [&](int fd) { mime::writeEmail(changed, fd); },
        [&](const QString &written) {
            // Never put a file in place that reads differently from what was meant.
            if (namesOf(mime::ParsedEmail::fromFile(written)) != expected)
                throw qb::MailStoreError(
                    QStringLiteral("The rewritten email would not read back as "
                                   "intended; the email is left unchanged"));
        });
    m_session->recordReplacement(*m_folder, old.uniqueName, m_file);
    m_summary.reset();
    m_changed = false;
}

} // namespace maildir
