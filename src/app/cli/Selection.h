#pragma once

#include "processing/AttachmentFilter.h"

class QCommandLineParser;
struct TAttach;

namespace cli {

// Which rows a job command acts on: --all, or rows that pass every filter given.
struct Selection
{
    bool all = false;
    AttachmentFilter filter;

    static void addOptions(QCommandLineParser &parser);
    // Throws qb::Error for a value that cannot be read.
    static Selection fromOptions(const QCommandLineParser &parser);

    // False when no option selects anything.
    bool selectsSomething() const;
    bool matches(const TAttach &record) const;
};

} // namespace cli
