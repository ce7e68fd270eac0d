#include "AttachmentFilter.h"

#include "common/AutomationDate.h"
#include "mailstore/TAttach.h"

bool AttachmentFilter::isEmpty() const
{
    return *this == AttachmentFilter();
}

bool AttachmentFilter::matches(const TAttach &record) const
{
    if (!types.isEmpty() && !types.contains(record.Type.toCaseFolded()))
        return false;
    if ((minEmailSize && record.Size < *minEmailSize) ||
        (maxEmailSize && record.Size > *maxEmailSize))
        return false;
    if (minAttachmentSize && record.AttachmentSize < *minAttachmentSize)
        return false;
    if (firstDay || lastDay) {
        const QDate received = qb::fromAutomationDate(record.Date).date();
        if ((firstDay && received < *firstDay) || (lastDay && received > *lastDay))
            return false;
    }
    if (!folder.isEmpty() && record.Folder != folder)
        return false;
    if (!from.isEmpty() && !record.From.contains(from, Qt::CaseInsensitive))
        return false;
    if (!sender.isEmpty() && record.From != sender)
        return false;
    return subject.isEmpty() || record.Subject.contains(subject, Qt::CaseInsensitive);
}
