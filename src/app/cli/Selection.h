#pragma once

#include <QDate>
#include <QStringList>

#include <optional>

class QCommandLineParser;
struct TAttach;

namespace cli {

// Which rows a job command acts on: --all, or rows that pass every filter given.
struct Selection
{
    bool all = false;
    QStringList types; // folded to lower case
    std::optional<qint64> minSize;
    std::optional<qint64> maxSize;
    std::optional<QDate> before; // received before this day
    std::optional<QDate> after;  // received after this day
    QString from;
    QString subject;

    static void addOptions(QCommandLineParser &parser);
    // Throws qb::Error for a value that cannot be read.
    static Selection fromOptions(const QCommandLineParser &parser);

    // False when no option selects anything.
    bool selectsSomething() const;
    bool matches(const TAttach &record) const;
};

} // namespace cli
