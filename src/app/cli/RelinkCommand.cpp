#include "RelinkCommand.h"

#include "AccountPasswords.h"
#include "ChangeWorkerRun.h"
#include "CliSupport.h"
#include "ConsoleHost.h"
#include "common/Error.h"
#include "mailstore/StoreConfig.h"
#include "processing/DetachLog.h"
#include "processing/TEmailThread.h"
#include "processing/TRelinkThread.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>

#include <unistd.h>

int runRelinkCommand(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "After you moved a folder of saved files from OLD to NEW, rewrites the links of the "
        "notes that detach and save left in the emails, as the action log records them, so "
        "that they lead to the files under NEW. Only a link to a file that is there is "
        "changed; flags and received date are kept. The log gets an entry for each change, so "
        "that a later relink with the same log finds the new links. Running it again changes "
        "nothing."));
    parser.addPositionalArgument(QStringLiteral("OLD"),
                                 QStringLiteral("The folder the saved files were in."));
    parser.addPositionalArgument(QStringLiteral("NEW"),
                                 QStringLiteral("The folder they are in now."));
    parser.addOptions({
        {QStringLiteral("log"), QStringLiteral("The action log of the jobs that saved the files."),
         QStringLiteral("FILE")},
        {QStringLiteral("yes"), QStringLiteral("Do not ask before changing the emails.")},
    });
    parser.addOptions(cli::storeOptions());
    parser.addOption(cli::lockTimeoutOption());
    parser.addHelpOption();
    if (!parser.parse(arguments))
        return cli::usageError(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        cli::printOut(cli::helpText(parser));
        return 0;
    }

    std::vector<DetachRecord> records;
    QString from;
    QString to;
    QString logFile;
    mailstore::ApplicationFactory stores;
    int lockTimeout = TEmailThread::defaultLockTimeout;
    try {
        const QStringList folders = parser.positionalArguments();
        if (folders.size() != 2)
            throw qb::Error(QStringLiteral("Give the two folders: OLD NEW"));
        from = QDir::cleanPath(QFileInfo(folders[0]).absoluteFilePath());
        to = QDir::cleanPath(QFileInfo(folders[1]).absoluteFilePath());
        if (!QFileInfo(to).isDir())
            throw qb::Error(QStringLiteral("%1 is not a folder").arg(to));
        if (parser.value(QStringLiteral("log")).isEmpty())
            throw qb::Error(QStringLiteral("Give the action log of the jobs: --log FILE"));
        logFile = QDir::current().absoluteFilePath(parser.value(QStringLiteral("log")));
        records = RelinkJob::recordsUnder(readDetachLog(logFile), from);
        lockTimeout = cli::lockTimeoutOf(parser);
        const QStringList storeArguments = parser.values(QStringLiteral("store"));
        stores = mailstore::configuredStores(
            storeArguments, mailstore::SummaryCaching::Kept,
            cli::accountPasswords(mailstore::chosenStores(storeArguments),
                                  parser.value(QStringLiteral("password-file"))));
        stores();
    } catch (const qb::Error &e) {
        return cli::usageError(e.message());
    }

    ConsoleHost host(isatty(STDERR_FILENO));
    if (records.empty()) {
        host.printLine(
            QStringLiteral("The log records no saved file under %1: nothing to do.").arg(from));
        return 0;
    }
    cli::InterruptCatcher interrupts;
    const QString question = QStringLiteral("Relink the notes of %1 saved file(s) from %2 to %3?")
                                 .arg(records.size())
                                 .arg(from, to);
    if (!parser.isSet(QStringLiteral("yes")) && isatty(STDIN_FILENO) &&
        !cli::confirmed(question, interrupts)) {
        host.printLine(QStringLiteral("Nothing was changed."));
        return interrupts.interrupted() ? 2 : 0;
    }
    if (interrupts.interrupted()) {
        host.printLine(QStringLiteral("Cancelled: nothing was changed."));
        return 2;
    }

    return cli::runChangeWorker<TRelinkThread, RelinkJob::Report>(
        host, interrupts, RelinkJob::Kind::Done, [&](ConsoleStatusWindow *window) {
            return new TRelinkThread(window, &host, stores, std::move(records), from, to, logFile,
                                     lockTimeout);
        });
}
