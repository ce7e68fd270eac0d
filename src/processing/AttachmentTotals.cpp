#include "AttachmentTotals.h"

#include "common/AutomationDate.h"
#include "mailstore/AttachmentList.h"
#include "mailstore/TAttach.h"

#include <QHash>
#include <QSet>

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

// The received year's digits of automation dates, worked out once per day: the time zone
// rules behind a date cost more than the grouping itself.
class YearKeys
{
public:
    const QString &of(double automationDate)
    {
        const auto day = qint64(std::trunc(automationDate));
        auto known = m_years.constFind(day);
        if (known == m_years.cend()) {
            const QDate received = qb::fromAutomationDate(automationDate).date();
            known = m_years.insert(day, received.isValid() ? QString::number(received.year())
                                                           : QString());
        }
        return *known;
    }

private:
    QHash<qint64, QString> m_years;
};

QString keyOf(const TAttach &record, TotalsDimension dimension, YearKeys &years)
{
    switch (dimension) {
    case TotalsDimension::Folder:
        return record.Folder;
    case TotalsDimension::Type:
        // The filter compares types case-folded, so "PDF" and "pdf" are one group.
        return record.Type.toCaseFolded();
    case TotalsDimension::Sender:
        return record.From;
    case TotalsDimension::Year:
        return years.of(record.Date);
    }
    return QString();
}

bool largerFirst(const GroupTotal &a, const GroupTotal &b)
{
    if (a.bytes != b.bytes)
        return a.bytes > b.bytes;
    if (a.attachments != b.attachments)
        return a.attachments > b.attachments;
    return a.key < b.key;
}

} // namespace

AttachmentTotals::AttachmentTotals(Records records) : m_records(std::move(records))
{
    std::erase(m_records, nullptr);
    QHash<std::pair<QString, QString>, int> emailNumbers; // by store and entry id
    m_emailOf.reserve(m_records.size());
    for (const auto &record : m_records) {
        const std::pair<QString, QString> email(record->StoreId, record->EntryId);
        const auto found = emailNumbers.constFind(email);
        m_emailOf.push_back(
            found != emailNumbers.cend() ? *found : *emailNumbers.insert(email, m_emailCount++));
        m_bytes += record->AttachmentSize;
        if (record->AttachmentSize <= 0)
            ++m_unknownSizes;
    }
}

AttachmentTotals AttachmentTotals::ofList(const AttachmentList &list, int rows)
{
    Records records;
    const int count = std::min(rows, list.count());
    records.reserve(size_t(std::max(0, count)));
    for (int i = 0; i < count; ++i)
        records.push_back(list.record(i));
    return AttachmentTotals(std::move(records));
}

DimensionTotals AttachmentTotals::by(TotalsDimension dimension, int limit) const
{
    limit = std::max(2, limit);
    std::vector<GroupTotal> groups;
    std::vector<int> groupOf(m_records.size());
    QHash<QString, int> groupNumbers;
    QSet<quint64> groupEmails; // (group, email) pairs seen
    YearKeys years;
    for (size_t i = 0; i < m_records.size(); ++i) {
        const TAttach &record = *m_records[i];
        const QString key = keyOf(record, dimension, years);
        auto found = groupNumbers.constFind(key);
        if (found == groupNumbers.cend()) {
            found = groupNumbers.insert(key, int(groups.size()));
            groups.push_back(GroupTotal{key, 0, 0, 0, false, std::nullopt});
        }
        const int group = *found;
        groupOf[i] = group;
        GroupTotal &total = groups[size_t(group)];
        total.bytes += record.AttachmentSize;
        ++total.attachments;
        const quint64 pair = (quint64(quint32(group)) << 32) | quint32(m_emailOf[i]);
        if (!groupEmails.contains(pair)) {
            groupEmails.insert(pair);
            ++total.emails;
        }
    }

    std::vector<int> order(groups.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = int(i);
    std::sort(order.begin(), order.end(),
              [&](int a, int b) { return largerFirst(groups[size_t(a)], groups[size_t(b)]); });

    DimensionTotals totals;
    totals.dimension = dimension;
    const bool fold = int(groups.size()) > limit;
    const size_t shown = fold ? size_t(limit - 1) : groups.size();
    std::vector<bool> folded(groups.size(), fold);
    for (size_t i = 0; i < shown; ++i) {
        GroupTotal group = groups[size_t(order[i])];
        group.filter = filterFor(dimension, group.key);
        totals.groups.push_back(std::move(group));
        folded[size_t(order[i])] = false;
    }
    if (fold) {
        // The rest's emails are counted again: one email may sit in several folded groups.
        GroupTotal rest{QString(), 0, 0, 0, true, std::nullopt};
        QSet<int> emails;
        for (size_t i = 0; i < m_records.size(); ++i) {
            if (!folded[size_t(groupOf[i])])
                continue;
            rest.bytes += m_records[i]->AttachmentSize;
            ++rest.attachments;
            emails.insert(m_emailOf[i]);
        }
        rest.emails = int(emails.size());
        totals.groups.push_back(std::move(rest));
    }
    return totals;
}

std::optional<AttachmentFilter> AttachmentTotals::filterFor(TotalsDimension dimension,
                                                            const QString &key)
{
    AttachmentFilter filter;
    switch (dimension) {
    case TotalsDimension::Folder:
        filter.folder = key;
        // An empty folder label would be the filter of every row.
        return key.isEmpty() ? std::nullopt : std::optional(filter);
    case TotalsDimension::Type:
        // A list holding the empty type picks the rows without one.
        filter.types = QStringList{key.toCaseFolded()};
        return filter;
    case TotalsDimension::Sender:
        // The sender alone: "Ann" must not also pick "Joanna".
        filter.sender = key;
        return key.isEmpty() ? std::nullopt : std::optional(filter);
    case TotalsDimension::Year: {
        bool ok = false;
        const int year = key.toInt(&ok);
        if (!ok)
            return std::nullopt;
        filter.firstDay = QDate(year, 1, 1);
        filter.lastDay = QDate(year, 12, 31);
        return filter;
    }
    }
    return std::nullopt;
}
