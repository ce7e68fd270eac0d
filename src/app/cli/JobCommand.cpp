#include "JobCommand.h"

#include "CliSupport.h"
#include "ConsoleHost.h"
#include "Selection.h"
#include "SourceAnalysis.h"
#include "common/Error.h"
#include "log/LogFile.h"
#include "log/TLogManager.h"
#include "mailstore/AttachmentList.h"
#include "processing/TEmailThread.h"
#include "settings/TSettings.h"

#include <QCommandLineParser>
#include <QDir>
#include <QEventLoop>

#include <cstdio>
#include <unistd.h>

int runJobCommand(const QString &action, const QStringList &arguments)
{
    const bool deleting = action != QLatin1String("save");
    const bool saving = action != QLatin1String("delete");
    QCommandLineParser parser;
    parser.setApplicationDescription(
        (saving ? QStringLiteral("Saves the selected attachments to files under --to, with a note "
                                 "and a link in each email%1.")
                      .arg(deleting ? QStringLiteral(", and removes them from their emails")
                                    : QString())
                : QStringLiteral(
                      "Removes the selected attachments from their emails, with a note in each.")) +
        QStringLiteral("\nCtrl+C while the folder is analysed cancels the command and changes "
                       "nothing; later it stops after the attachment in progress."));
    cli::addSourceOptions(parser);
    cli::Selection::addOptions(parser);
    parser.addOptions({
        {QStringLiteral("to"), QStringLiteral("The folder that saved files go to."),
         QStringLiteral("DIR")},
        {QStringLiteral("log"),
         QStringLiteral("Log the actions to this file; a relative path is taken from the "
                        "working directory."),
         QStringLiteral("FILE")},
        {QStringLiteral("yes"), QStringLiteral("Do not ask before deleting.")},
    });
    parser.addOption(cli::lockTimeoutOption());
    if (const auto done = cli::parseOptions(parser, arguments))
        return *done;

    auto source = std::make_unique<TSettings>();
    auto *jobSettings = new TSettings;
    std::unique_ptr<TSettings> ownedJobSettings(jobSettings);
    cli::Selection selection;
    mailstore::ApplicationFactory stores;
    int lockTimeout = TEmailThread::defaultLockTimeout;
    try {
        selection = cli::Selection::fromOptions(parser);
        if (cli::loadSettingsFile(parser, *source)) {
            jobSettings->saveFolder = source->saveFolder;
            jobSettings->logToFile = source->logToFile;
            jobSettings->logFilename = source->logFilename;
        }
        if (parser.isSet(QStringLiteral("to")))
            jobSettings->saveFolder = parser.value(QStringLiteral("to"));
        if (parser.isSet(QStringLiteral("log"))) {
            // A name typed on the command line means a file where the user stands, not
            // beside the program (for an installed program, a system folder) as a bare
            // log name does for the log manager.
            const QString log = parser.value(QStringLiteral("log"));
            jobSettings->logToFile = true;
            jobSettings->logFilename = log.isEmpty() ? log : QDir::current().absoluteFilePath(log);
        }
        lockTimeout = cli::lockTimeoutOf(parser);
        if (saving)
            jobSettings->checkDestination();
        // Before anything is read or changed: a settings file may name any file as the log.
        if (jobSettings->logToFile)
            checkLogFile(jobSettings->logFilename);
        stores = cli::openStores(parser);
        cli::chooseSource(*source, parser, stores);
    } catch (const qb::Error &e) {
        return cli::usageError(e.message());
    }
    if (!selection.selectsSomething())
        return cli::usageError(
            QStringLiteral("Nothing is selected: give --all or a selection option"));

    ConsoleHost host(isatty(STDERR_FILENO));
    TLogManager::setMessageSink(errorBoxesOf(&host));
    AttachmentList list;
    // From the analysis to the end of the job: a Ctrl+C before the job starts cancels
    // the whole command, so that no job runs on the rows of a cut-short analysis.
    cli::InterruptCatcher interrupts;
    const auto cancelledBeforeJob = [&host] {
        host.printLine(QStringLiteral("Cancelled: nothing was changed."));
        return 2;
    };
    const QStringList unreadable = cli::analyse(std::move(source), stores, host, list, interrupts);
    if (interrupts.interrupted())
        return cancelledBeforeJob();
    if (host.failed())
        return 2;
    if (host.warned())
        return 1;

    TEmailThread::Records selected;
    for (int i = 0; i < list.count(); ++i) {
        if (selection.matches(*list.record(i)))
            selected.push_back(list.record(i));
    }
    host.printLine(
        QStringLiteral("%1 of %2 attachment(s) selected").arg(selected.size()).arg(list.count()));
    if (action == QLatin1String("delete") && !selected.empty() &&
        !parser.isSet(QStringLiteral("yes")) && isatty(STDIN_FILENO) &&
        !cli::confirmed(
            QStringLiteral("Delete %1 attachment(s) from their emails?").arg(selected.size()),
            interrupts)) {
        if (interrupts.interrupted())
            return cancelledBeforeJob();
        host.printLine(QStringLiteral("Nothing was deleted."));
        return 0;
    }
    if (interrupts.interrupted())
        return cancelledBeforeJob();

    if (jobSettings->logToFile && !unreadable.isEmpty()) {
        TNullLog *log = AcquireLog(jobSettings->logFilename, true);
        for (const QString &line : unreadable)
            log->Log(llWarning, line);
        ReleaseLog(log);
    }

    ConsoleStatusWindow window(&host);
    window.setFinalStatusPrinted(true);
    QEventLoop loop;
    TEmailThread::Result result;
    bool ended = false;
    interrupts.watch(&window);
    auto *job = new TEmailThread(
        ownedJobSettings.release(), &window, &host, stores, [&selected] { return selected; },
        deleting, saving, lockTimeout);
    QObject::connect(job, &TEmailThread::jobEnded, &loop, [&](TEmailThread::Result r) {
        result = r;
        ended = true;
    });
    QObject::connect(job, &QObject::destroyed, &loop, &QEventLoop::quit);
    loop.exec();
    interrupts.watch(nullptr);
    TLogManager::setMessageSink(nullptr);
    // A job stopped by an error is no cancel: it says what failed, and whether
    // emails were changed before it.
    if (!ended)
        return 1;
    if (!result.error.isEmpty())
        return result.done > 0 ? 3 : 1;
    if (result.cancelled)
        return 2;
    return result.failed > 0 ? 3 : 0;
}
