#include "AttachmentList.h"

#include <QCollatorSortKey>

#include <algorithm>
#include <malloc.h>

namespace {

template <class T> int sign(const T &a, const T &b)
{
    return a < b ? -1 : (b < a ? 1 : 0);
}

int clampSign(int value)
{
    return value < 0 ? -1 : (value > 0 ? 1 : 0);
}

const QString noText;

} // namespace

const std::array<AttachColumn, attachColumnCount> &shownColumnOrder()
{
    static const std::array<AttachColumn, attachColumnCount> order = {
        AttachColumn::Subject,        AttachColumn::Folder,   AttachColumn::Size,
        AttachColumn::AttachmentSize, AttachColumn::Filename, AttachColumn::Type,
        AttachColumn::Date,           AttachColumn::From};
    return order;
}

bool isTextColumn(AttachColumn column)
{
    return column != AttachColumn::Size && column != AttachColumn::Date &&
           column != AttachColumn::AttachmentSize;
}

const QString &textKey(const TAttach &record, AttachColumn column)
{
    switch (column) {
    case AttachColumn::Subject:
        return record.Subject;
    case AttachColumn::Folder:
        return record.Folder;
    case AttachColumn::Filename:
        return record.Filename;
    case AttachColumn::Type:
        return record.Type;
    case AttachColumn::From:
        return record.From;
    case AttachColumn::Size:
    case AttachColumn::Date:
    case AttachColumn::AttachmentSize:
        break;
    }
    return noText;
}

AttachmentList::AttachmentList()
{
    m_collator.setCaseSensitivity(Qt::CaseSensitive);
}

void AttachmentList::setCollator(const QCollator &collator)
{
    QMutexLocker lock(&m_mutex);
    m_collator = collator;
    m_collator.setCaseSensitivity(Qt::CaseSensitive);
}

void AttachmentList::append(const QString &text, std::shared_ptr<const TAttach> record)
{
    QMutexLocker lock(&m_mutex);
    m_entries.push_back({text, std::move(record)});
}

void AttachmentList::clear()
{
    QMutexLocker lock(&m_mutex);
    m_entries.clear();
}

int AttachmentList::count() const
{
    QMutexLocker lock(&m_mutex);
    return int(m_entries.size());
}

std::shared_ptr<const TAttach> AttachmentList::record(int position) const
{
    QMutexLocker lock(&m_mutex);
    if (position < 0 || position >= int(m_entries.size()))
        return nullptr;
    return m_entries[size_t(position)].record;
}

std::vector<std::shared_ptr<const TAttach>> AttachmentList::records(int from, int to) const
{
    QMutexLocker lock(&m_mutex);
    from = std::max(from, 0);
    to = std::min(to, int(m_entries.size()));
    std::vector<std::shared_ptr<const TAttach>> found;
    found.reserve(size_t(std::max(0, to - from)));
    for (int position = from; position < to; ++position)
        found.push_back(m_entries[size_t(position)].record);
    return found;
}

QString AttachmentList::text(int position) const
{
    QMutexLocker lock(&m_mutex);
    if (position < 0 || position >= int(m_entries.size()))
        return {};
    return m_entries[size_t(position)].text;
}

int AttachmentList::compareRecords(AttachColumn column, const TAttach &a, const TAttach &b) const
{
    int result = 0;
    if (column == AttachColumn::Size)
        result = sign(a.Size, b.Size);
    else if (column == AttachColumn::Date)
        result = sign(a.Date, b.Date);
    else if (column == AttachColumn::AttachmentSize)
        result = sign(a.AttachmentSize, b.AttachmentSize);
    else
        result = clampSign(m_collator.compare(textKey(a, column), textKey(b, column)));
    return SortDescending ? -result : result;
}

int AttachmentList::compare(AttachColumn column, int first, int second) const
{
    QMutexLocker lock(&m_mutex);
    return compareRecords(column, *m_entries.at(size_t(first)).record,
                          *m_entries.at(size_t(second)).record);
}

void AttachmentList::sort(AttachColumn column)
{
    QMutexLocker lock(&m_mutex);
    if (!isTextColumn(column)) {
        std::sort(m_entries.begin(), m_entries.end(), [&](const Entry &a, const Entry &b) {
            return compareRecords(column, *a.record, *b.record) < 0;
        });
        return;
    }
    // Collating every comparison afresh is slow on large lists: compute each key once.
    std::vector<std::pair<QCollatorSortKey, Entry>> keyed;
    keyed.reserve(m_entries.size());
    for (Entry &entry : m_entries)
        keyed.emplace_back(m_collator.sortKey(textKey(*entry.record, column)), std::move(entry));
    const bool descending = SortDescending;
    std::sort(keyed.begin(), keyed.end(), [descending](const auto &a, const auto &b) {
        const int result = a.first.compare(b.first);
        return descending ? result > 0 : result < 0;
    });
    for (size_t i = 0; i < keyed.size(); ++i)
        m_entries[i] = std::move(keyed[i].second);
    keyed.clear();
    keyed.shrink_to_fit();
    // A million sort keys leave the heap large; give the pages back.
    malloc_trim(0);
}

int CompareSubject(const AttachmentList &list, int first, int second)
{
    return list.compare(AttachColumn::Subject, first, second);
}

int CompareFolder(const AttachmentList &list, int first, int second)
{
    return list.compare(AttachColumn::Folder, first, second);
}

int CompareSize(const AttachmentList &list, int first, int second)
{
    return list.compare(AttachColumn::Size, first, second);
}

int CompareFilename(const AttachmentList &list, int first, int second)
{
    return list.compare(AttachColumn::Filename, first, second);
}

int CompareType(const AttachmentList &list, int first, int second)
{
    return list.compare(AttachColumn::Type, first, second);
}

int CompareDate(const AttachmentList &list, int first, int second)
{
    return list.compare(AttachColumn::Date, first, second);
}

int CompareFrom(const AttachmentList &list, int first, int second)
{
    return list.compare(AttachColumn::From, first, second);
}

int CompareAttachmentSize(const AttachmentList &list, int first, int second)
{
    return list.compare(AttachColumn::AttachmentSize, first, second);
}
