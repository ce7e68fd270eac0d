#pragma once

#include <QDate>
#include <QStringList>

#include <optional>

struct TAttach;

// Which attachment rows to show or act on. One definition for the grid's filter bar,
// the summary's bars and the command-line tool's selection options, so that a filter
// means the same wherever it is given. An empty filter matches every row.
struct AttachmentFilter
{
    QStringList types; // any of these, compared case-folded; empty: every type
    std::optional<qint64> minEmailSize;
    std::optional<qint64> maxEmailSize;
    std::optional<qint64> minAttachmentSize;
    std::optional<QDate> firstDay; // received on or after this day
    std::optional<QDate> lastDay;  // received on or before this day
    QString from;                  // text the sender contains, any case
    QString sender;                // the sender exactly, as the rows show it
    QString subject;               // text the subject contains, any case
    QString folder;                // the folder's path label, exactly as the rows show it

    bool isEmpty() const;
    bool matches(const TAttach &record) const;

    bool operator==(const AttachmentFilter &) const = default;
};
