#include "FreedSpace.h"

#include "mailstore/TAttach.h"
#include "mailstore/maildir/MaildirLayout.h"
#include "mailstore/maildir/MaildirSession.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSet>

namespace {

// Calls visit for the folder and every folder below it.
template <class Visit> void walk(const maildir::FolderNode &folder, const Visit &visit)
{
    visit(folder);
    for (const auto &child : folder.children)
        walk(*child, visit);
}

} // namespace

QString freedSizeText(qint64 bytes, const QLocale &locale)
{
    if (bytes < 1000)
        return QStringLiteral("%1 bytes").arg(bytes);
    static const char *const units[] = {"KB", "MB", "GB", "TB"};
    double value = double(bytes) / 1000;
    int unit = 0;
    // 999,950 bytes would round to "1000.0 KB": the next unit reads better.
    while (value >= 999.95 && unit < 3) {
        value /= 1000;
        ++unit;
    }
    return locale.toString(value, 'f', 1) + QLatin1Char(' ') + QLatin1String(units[unit]);
}

namespace {

void add(RowTotals &totals, QSet<QString> &emails, const TAttach &record)
{
    ++totals.attachments;
    emails.insert(record.StoreId + QLatin1Char('\n') + record.EntryId);
    totals.emails = int(emails.size());
    if (record.AttachmentSize > 0)
        totals.attachmentBytes += record.AttachmentSize;
    else
        ++totals.unknownSizes;
}

} // namespace

RowTotals totalsOf(const std::vector<std::shared_ptr<const TAttach>> &records)
{
    RowTotals totals;
    QSet<QString> emails;
    for (const auto &record : records)
        add(totals, emails, *record);
    return totals;
}

QString freeableSize(const RowTotals &totals)
{
    if (totals.attachments > 0 && totals.unknownSizes == totals.attachments)
        return QStringLiteral("an unknown size");
    const QString size = freedSizeText(totals.attachmentBytes);
    return totals.unknownSizes > 0 ? QStringLiteral("at least ") + size : size;
}

QString freeableText(const RowTotals &totals)
{
    if (totals.attachments == 0)
        return {};
    return QStringLiteral("in %1 email(s), Delete or Detach frees %2")
        .arg(totals.emails)
        .arg(freeableSize(totals));
}

TouchedFolders::TouchedFolders(const std::vector<std::shared_ptr<const TAttach>> &records)
{
    // An email's entry id is its folder's, "::" and its unique name; a Maildir folder's
    // entry id is what the session makes of the store and the folder.
    QHash<QString, QSet<QString>> folderIdsByStore;
    for (const auto &record : records) {
        QString folderId;
        QString uniqueName;
        if (maildir::Session::splitItemEntryId(record->EntryId, &folderId, &uniqueName) &&
            folderId.startsWith(record->StoreId))
            folderIdsByStore[record->StoreId].insert(folderId);
    }
    for (auto it = folderIdsByStore.cbegin(); it != folderIdsByStore.cend(); ++it) {
        const QString &root = it.key();
        if (!QFileInfo(root).isAbsolute() || !QFileInfo(root).isDir())
            continue;
        std::shared_ptr<maildir::FolderNode> top;
        try {
            top = maildir::scanStore(root);
        } catch (const std::exception &) {
            // A store that cannot be read now is left out of the figures, not the job.
            continue;
        }
        maildir::Session::Store store{root, root, top, nullptr};
        walk(*top, [&](const maildir::FolderNode &folder) {
            if (!folder.directory.isEmpty() &&
                it.value().contains(maildir::Session::folderEntryId(store, folder)))
                m_directories << folder.directory;
        });
    }
    m_directories.removeDuplicates();
}

qint64 TouchedFolders::bytes() const
{
    qint64 total = 0;
    for (const QString &directory : m_directories) {
        for (const char *part : {"cur", "new"}) {
            const QDir files(directory + QLatin1Char('/') + QLatin1String(part));
            for (const QFileInfo &file :
                 files.entryInfoList(QDir::Files | QDir::Hidden | QDir::System))
                total += file.size();
        }
    }
    return total;
}

QString freedText(const RowTotals &removed, const std::optional<FolderBytes> &folders)
{
    const bool measured = folders && folders->folders > 0;
    if (removed.attachments == 0 || (removed.unknownSizes == removed.attachments && !measured))
        return {};
    QString text;
    if (removed.unknownSizes == removed.attachments)
        text = QStringLiteral("Freed %1 attachment(s) of unknown size").arg(removed.attachments);
    else
        text = QStringLiteral("Freed %1 in %2 attachment(s) of %3 email(s)")
                   .arg(freedSizeText(removed.attachmentBytes))
                   .arg(removed.attachments)
                   .arg(removed.emails) +
               (removed.unknownSizes > 0
                    ? QStringLiteral(" (%1 of unknown size)").arg(removed.unknownSizes)
                    : QString());
    if (measured)
        text += QStringLiteral("; the %1 folder(s) changed went from %2 to %3")
                    .arg(folders->folders)
                    .arg(freedSizeText(folders->before), freedSizeText(folders->after));
    return text;
}

void FreedSpace::start(const std::vector<std::shared_ptr<const TAttach>> &records)
{
    m_folders.emplace(records);
    m_before = m_folders->bytes();
}

void FreedSpace::removed(const TAttach &record)
{
    add(m_removed, m_emails, record);
}

QString FreedSpace::finish() const
{
    std::optional<FolderBytes> folders;
    if (m_folders && !m_folders->directories().isEmpty())
        folders = FolderBytes{int(m_folders->directories().size()), m_before, m_folders->bytes()};
    return freedText(m_removed, folders);
}
