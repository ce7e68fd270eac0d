#include "AnalyzeCommand.h"

#include "AttachmentTable.h"
#include "CliSupport.h"
#include "ConsoleHost.h"
#include "common/Error.h"
#include "mailstore/AttachmentList.h"
#include "mailstore/FolderPath.h"
#include "mailstore/StoreConfig.h"
#include "mailstore/TAnalyseThread.h"
#include "settings/TSettings.h"

#include <QCommandLineParser>
#include <QEventLoop>

#include <unistd.h>

namespace {

std::optional<AttachColumn> columnNamed(const QString &name)
{
    const QStringList names = table::headings();
    for (int i = 0; i < names.size(); ++i) {
        if (names[i].compare(name, Qt::CaseInsensitive) == 0)
            return AttachColumn(i + 1);
    }
    return std::nullopt;
}

// Where the walk starts, from --folder or --folder-id; the default Inbox otherwise.
void chooseSource(TSettings &settings, const QCommandLineParser &parser,
                  const mailstore::ApplicationFactory &stores)
{
    settings.getFromDefaultFolder = true;
    if (parser.isSet(QStringLiteral("folder"))) {
        const QString path = parser.value(QStringLiteral("folder"));
        auto mapi = stores()->getNamespace(QStringLiteral("MAPI"));
        const auto folder = mailstore::folderAtPath(*mapi, path);
        if (!folder)
            throw qb::Error(QStringLiteral("No mail folder has the path %1").arg(path));
        settings.getFromDefaultFolder = false;
        settings.fromFolderName = path.endsWith(QLatin1Char('\\')) ? path.chopped(1) : path;
        settings.fromFolderEntryId = folder->entryId();
    } else if (parser.isSet(QStringLiteral("folder-id"))) {
        const QString id = parser.value(QStringLiteral("folder-id"));
        auto mapi = stores()->getNamespace(QStringLiteral("MAPI"));
        const auto folder = mapi->getFolderFromId(id, QString());
        if (!folder)
            throw qb::Error(QStringLiteral("No mail folder has the entry id %1").arg(id));
        settings.getFromDefaultFolder = false;
        settings.fromFolderName = folder->name();
        settings.fromFolderEntryId = id;
    }
}

} // namespace

int runAnalyzeCommand(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Lists every attachment of a mail folder and its subfolders."));
    parser.addOptions({
        {QStringLiteral("store"),
         QStringLiteral("A Maildir to open (repeatable); default $MAILDIR or ~/Maildir."),
         QStringLiteral("DIR")},
        {QStringLiteral("folder"),
         QStringLiteral("The folder's path, as in 'Email Folders\\Maildir\\Projects'."),
         QStringLiteral("PATH")},
        {QStringLiteral("folder-id"), QStringLiteral("The folder's entry id."),
         QStringLiteral("ID")},
        {QStringLiteral("sort"),
         QStringLiteral("Sort by a column: Subject, Folder, Size, Filename, Type, Date or From; "
                        "add :desc to reverse."),
         QStringLiteral("COLUMN[:desc]")},
        {QStringLiteral("csv"), QStringLiteral("Print CSV instead of a table.")},
    });
    parser.addHelpOption();
    if (!parser.parse(arguments))
        return cli::usageError(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        cli::printOut(parser.helpText());
        return 0;
    }
    if (!parser.positionalArguments().isEmpty())
        return cli::usageError(
            QStringLiteral("Unexpected argument %1").arg(parser.positionalArguments().first()));
    if (parser.isSet(QStringLiteral("folder")) && parser.isSet(QStringLiteral("folder-id")))
        return cli::usageError(QStringLiteral("Give --folder or --folder-id, not both"));

    std::optional<AttachColumn> sortColumn;
    bool descending = false;
    if (parser.isSet(QStringLiteral("sort"))) {
        QString spec = parser.value(QStringLiteral("sort"));
        if (spec.endsWith(QLatin1String(":desc"), Qt::CaseInsensitive)) {
            descending = true;
            spec.chop(5);
        }
        sortColumn = columnNamed(spec);
        if (!sortColumn)
            return cli::usageError(QStringLiteral("Unknown column %1").arg(spec));
    }

    const mailstore::ApplicationFactory stores =
        mailstore::configuredStores(parser.values(QStringLiteral("store")));
    auto *settings = new TSettings;
    try {
        stores(); // a missing store is bad input, not a failed run
        chooseSource(*settings, parser, stores);
    } catch (const qb::Error &e) {
        delete settings;
        return cli::usageError(e.message());
    }

    ConsoleHost host(isatty(STDERR_FILENO));
    ConsoleStatusWindow window(&host);
    AttachmentList list;
    QEventLoop loop;
    const cli::InterruptCancels interrupt(&window);
    auto *worker = new TAnalyseThread(settings, &window, &host, stores, &list);
    // The worker deletes itself once its run has ended: only then is the list complete.
    QObject::connect(worker, &QObject::destroyed, &loop, &QEventLoop::quit);
    loop.exec();

    if (sortColumn) {
        list.SortDescending = descending;
        list.sort(*sortColumn);
    }
    cli::printOut(parser.isSet(QStringLiteral("csv")) ? table::csv(list) : table::aligned(list));
    if (host.failed())
        return 2;
    return host.warned() ? 1 : 0;
}
