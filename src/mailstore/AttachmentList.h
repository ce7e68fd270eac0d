#pragma once

#include "TAttach.h"

#include <QCollator>
#include <QMutex>
#include <QString>

#include <array>
#include <memory>
#include <vector>

// The grid's columns as data columns 1 to 8. Attachment size came last and keeps the
// last number, so that the others keep theirs (in stored column orders, heading clicks and
// the command line's CSV); the grid shows it after Size (shownColumnOrder).
enum class AttachColumn { Subject = 1, Folder, Size, Filename, Type, Date, From, AttachmentSize };
constexpr int attachColumnCount = 8;
// The columns in the order the grid first shows them and the aligned table prints them.
const std::array<AttachColumn, attachColumnCount> &shownColumnOrder();

// The records of the last analysis, in the order found; grid row r shows entry r - 1.
// Records are shared, so a job that took some keeps them when the list is cleared.
// Analysis appends from its worker while the main thread leaves the list alone;
// the lock only guards against a stray reader.
class AttachmentList
{
public:
    struct Entry
    {
        QString text; // the email's subject
        std::shared_ptr<const TAttach> record;
    };

    AttachmentList();

    void append(const QString &text, std::shared_ptr<const TAttach> record);
    void clear();
    int count() const;
    std::shared_ptr<const TAttach> record(int position) const;
    // The records from position from up to, not including, position to, in one look:
    // for a reader that follows the list while a walk appends to it.
    std::vector<std::shared_ptr<const TAttach>> records(int from, int to) const;
    QString text(int position) const;

    // Shared by the comparison functions: when set, every comparison is negated.
    bool SortDescending = false;
    // Text columns compare with this collation (the user's locale, case distinguished).
    void setCollator(const QCollator &collator);

    // Sorts in place by the column's comparison, honouring SortDescending.
    void sort(AttachColumn column);

    // -1, 0 or 1 for the records at two positions, negated when SortDescending is set.
    int compare(AttachColumn column, int first, int second) const;

private:
    int compareRecords(AttachColumn column, const TAttach &a, const TAttach &b) const;

    mutable QMutex m_mutex;
    std::vector<Entry> m_entries;
    QCollator m_collator;
};

int CompareSubject(const AttachmentList &list, int first, int second);
int CompareFolder(const AttachmentList &list, int first, int second);
int CompareSize(const AttachmentList &list, int first, int second);
int CompareFilename(const AttachmentList &list, int first, int second);
int CompareType(const AttachmentList &list, int first, int second);
int CompareDate(const AttachmentList &list, int first, int second);
int CompareFrom(const AttachmentList &list, int first, int second);
int CompareAttachmentSize(const AttachmentList &list, int first, int second);

// The text key of a column, or an empty text for the numeric ones.
const QString &textKey(const TAttach &record, AttachColumn column);
bool isTextColumn(AttachColumn column);
