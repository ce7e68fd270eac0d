#pragma once

#include <QLocale>
#include <QSet>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

struct TAttach;

// What deleting or detaching attachments frees: the selection's figures before a job, the
// job's own after it, and the size of the Maildir folders it changed.

// Bytes as the freed figures show them: "950 bytes", "14.2 KB", "1.2 MB", "3.4 GB", with
// 1 KB = 1000 bytes as in the grid's size columns.
QString freedSizeText(qint64 bytes, const QLocale &locale = QLocale());

// What a set of attachment rows adds up to.
struct RowTotals
{
    int attachments = 0;
    int emails = 0;             // distinct emails the attachments are in
    qint64 attachmentBytes = 0; // the rows' known attachment sizes
    int unknownSizes = 0;       // rows whose attachment size is not known

    bool operator==(const RowTotals &) const = default;
};
RowTotals totalsOf(const std::vector<std::shared_ptr<const TAttach>> &records);

// What removing the rows frees: "1.2 MB", "at least 1.2 MB" when some sizes are unknown,
// "an unknown size" when none is known.
QString freeableSize(const RowTotals &totals);
// The status bar's "in 2 email(s), Delete or Detach frees 1.2 MB"; empty for no rows.
QString freeableText(const RowTotals &totals);

// The Maildir folders that records' emails are in, each once. Records of other stores
// (an IMAP account, the in-memory store) name none.
class TouchedFolders
{
public:
    explicit TouchedFolders(const std::vector<std::shared_ptr<const TAttach>> &records);

    const QStringList &directories() const { return m_directories; }
    // The bytes of the folders' email files (cur/ and new/) now.
    qint64 bytes() const;

private:
    QStringList m_directories;
};

// Sizes of the changed folders before and after a job.
struct FolderBytes
{
    int folders = 0;
    qint64 before = 0;
    qint64 after = 0;
};

// The job's sentence on what it freed, from the attachments it removed and, for Maildir
// folders, their measured sizes; empty when it removed nothing or knows nothing of it.
QString freedText(const RowTotals &removed, const std::optional<FolderBytes> &folders);

// What one delete or detach job frees: the folders measured when it starts, the
// attachments counted as their emails are stored, the folders measured again at its end.
class FreedSpace
{
public:
    // Measures the Maildir folders of the records the job takes.
    void start(const std::vector<std::shared_ptr<const TAttach>> &records);
    // An attachment that left its email, whose change is stored.
    void removed(const TAttach &record);
    // The sentence of freedText, the folders measured now.
    QString finish() const;

private:
    std::optional<TouchedFolders> m_folders;
    qint64 m_before = 0;
    RowTotals m_removed;
    QSet<QString> m_emails;
};
