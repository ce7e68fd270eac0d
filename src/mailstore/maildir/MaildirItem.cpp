#include "MaildirItem.h"

#include "common/Error.h"
#include "mailstore/mime/ParsedEmail.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace maildir {

namespace {

class NamedAttachment : public mailstore::Attachment
{
public:
    explicit NamedAttachment(QString filename) : m_filename(std::move(filename)) {}
    QString filename() override { return m_filename; }

private:
    QString m_filename;
};

class AttachmentCollection : public mailstore::Attachments
{
public:
    explicit AttachmentCollection(QStringList names) : m_names(std::move(names)) {}
    int count() override { return int(m_names.size()); }
    std::shared_ptr<mailstore::Attachment> item(int index) override
    {
        if (index < 1 || index > count())
            throw qb::MailStoreError(QStringLiteral("No attachment at position %1").arg(index));
        return std::make_shared<NamedAttachment>(m_names.at(index - 1));
    }

private:
    QStringList m_names;
};

} // namespace

MaildirItem::MaildirItem(std::shared_ptr<Session> session, std::shared_ptr<FolderNode> folder,
                         QString folderEntryId, MessageFile file)
    : m_session(std::move(session)), m_folder(std::move(folder)),
      m_folderEntryId(std::move(folderEntryId)), m_file(std::move(file))
{
}

std::optional<MessageFile> MaildirItem::findFile(Session &session, const FolderNode &folder,
                                                 const QString &uniqueName, bool listingIsStale)
{
    for (const bool refresh : {listingIsStale, true}) {
        const auto listing = session.listing(folder, refresh);
        const auto found = listing->indexOfUnique.constFind(uniqueName);
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
    for (const mime::AttachmentPart &part : email.attachments())
        summary.attachmentNames << part.filename;
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
    return Session::itemEntryId(m_folderEntryId, m_file.uniqueName);
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
    return mime::ParsedEmail::fromFile(path()).body();
}

std::shared_ptr<mailstore::Attachments> MaildirItem::attachments()
{
    return std::make_shared<AttachmentCollection>(summary().attachmentNames);
}

} // namespace maildir
