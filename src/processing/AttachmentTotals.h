#pragma once

#include "AttachmentFilter.h"

#include <QString>

#include <memory>
#include <optional>
#include <vector>

class AttachmentList;
struct TAttach;

// How the attachment rows are grouped for their totals.
enum class TotalsDimension { Folder, Type, Sender, Year };

// The attachments of one group: the rows whose folder, type, sender or received year
// is key. Bytes are the attachments' own decoded sizes (AttachmentSize).
struct GroupTotal
{
    QString key; // the folder label, the type case-folded, the sender or the year's digits
    qint64 bytes = 0;
    int attachments = 0;
    int emails = 0;
    bool other = false; // the smaller groups folded into one
    // The rows of this group as a filter; none for the folded groups and for an empty
    // sender, which a filter cannot single out.
    std::optional<AttachmentFilter> filter;
};

// One dimension's groups: the largest by bytes first, then the folded rest.
struct DimensionTotals
{
    TotalsDimension dimension = TotalsDimension::Folder;
    std::vector<GroupTotal> groups;
};

// The totals of a list of attachment rows, by folder, type, sender and received year.
// Reads the rows once; an email with attachments in two groups counts in both.
class AttachmentTotals
{
public:
    using Records = std::vector<std::shared_ptr<const TAttach>>;

    explicit AttachmentTotals(Records records);
    // The list's first rows entries (a grid shows no more than it has synchronised).
    static AttachmentTotals ofList(const AttachmentList &list, int rows);

    qint64 bytes() const { return m_bytes; }
    int attachments() const { return int(m_records.size()); }
    int emails() const { return m_emailCount; }
    // Attachments whose size the store could not tell; they count as 0 bytes.
    int unknownSizes() const { return m_unknownSizes; }

    // At most limit groups (limit >= 2): when there are more, the limit - 1 largest and
    // one group holding the rest. Ties go by more attachments, then by key.
    DimensionTotals by(TotalsDimension dimension, int limit) const;

    // The filter that picks the rows of key in dimension, or none when it cannot.
    static std::optional<AttachmentFilter> filterFor(TotalsDimension dimension, const QString &key);

private:
    Records m_records;
    std::vector<int> m_emailOf; // per record, the number of its email
    int m_emailCount = 0;
    qint64 m_bytes = 0;
    int m_unknownSizes = 0;
};
