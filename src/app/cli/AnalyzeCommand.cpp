#include "AnalyzeCommand.h"

#include "AttachmentTable.h"
#include "CliSupport.h"
#include "ConsoleHost.h"
#include "SourceAnalysis.h"
#include "common/Error.h"
#include "mailstore/AttachmentList.h"
#include "settings/TSettings.h"

#include <QCommandLineParser>
#include <QStringEncoder>

#include <cstdio>
#include <unistd.h>

int runAnalyzeCommand(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Lists every attachment of a mail folder and its subfolders."));
    cli::addSourceOptions(parser);
    parser.addOptions({
        {QStringLiteral("sort"),
         QStringLiteral("Sort by a column: Subject, Folder, Size, Attachment-size, Filename, "
                        "Type, Date or From; add :desc to reverse."),
         QStringLiteral("COLUMN[:desc]")},
        {QStringLiteral("csv"),
         QStringLiteral("Print CSV, with every text whole and as it is, instead of a table "
                        "(whose cells show at most %1 characters and controls as \\xNN).")
             .arg(table::cellWidth)},
    });
    if (const auto done = cli::parseOptions(parser, arguments))
        return *done;

    std::optional<AttachColumn> sortColumn;
    bool descending = false;
    if (parser.isSet(QStringLiteral("sort"))) {
        QString sortText = parser.value(QStringLiteral("sort"));
        if (sortText.endsWith(QLatin1String(":desc"), Qt::CaseInsensitive)) {
            descending = true;
            sortText.chop(5);
        }
        sortColumn = table::columnNamed(sortText);
        if (!sortColumn)
            return cli::usageError(QStringLiteral("Unknown column %1").arg(sortText));
    }

    auto settings = std::make_unique<TSettings>();
    mailstore::ApplicationFactory stores;
    try {
        cli::loadSettingsFile(parser, *settings);
        stores = cli::openStores(parser);
        cli::chooseSource(*settings, parser, stores);
    } catch (const qb::Error &e) {
        return cli::usageError(e.message());
    }

    // Row by row into stdout's buffer: a table can be far larger than memory would like.
    // One buffer for every line's UTF-8.
    QStringEncoder toUtf8(QStringEncoder::Utf8);
    QByteArray bytes;
    const table::LineSink print = [&](const QString &line) {
        bytes.resize(toUtf8.requiredSpace(line.size()));
        const char *end = toUtf8.appendToBuffer(bytes.data(), line);
        std::fwrite(bytes.constData(), 1, size_t(end - bytes.constData()), stdout);
    };

    ConsoleHost host(isatty(STDERR_FILENO));
    AttachmentList list;
    // Unsorted CSV is printed while the walk runs, as its rows are found, on another
    // processor than the walk's; the rows come out as they would after the walk.
    const bool csv = parser.isSet(QStringLiteral("csv"));
    std::optional<table::CsvWriter> streamed;
    int printed = 0;
    const auto printFound = [&] {
        const int found = list.count();
        streamed->writeRows(list, printed, found);
        printed = found;
    };
    if (csv && !sortColumn) {
        streamed.emplace(print);
        streamed->writeHeadings();
    }
    {
        // Ctrl+C ends the walk and prints what was found; later it stops the printing.
        cli::InterruptCatcher interrupts;
        cli::analyse(std::move(settings), stores, host, list, interrupts,
                     streamed ? std::function<void()>(printFound) : std::function<void()>());
    }
    if (streamed)
        printFound(); // the rest, as the sorted tables are printed: past Ctrl+C's catch
    if (sortColumn) {
        list.SortDescending = descending;
        list.sort(*sortColumn);
    }
    if (csv && !streamed)
        table::writeCsv(list, print);
    else if (!csv)
        table::writeAligned(list, print);
    std::fflush(stdout);
    if (host.failed())
        return 2;
    return host.warned() ? 1 : 0;
}
