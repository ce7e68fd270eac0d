#include "UndoCommand.h"

#include "AccountPasswords.h"
#include "ChangeWorkerRun.h"
#include "CliSupport.h"
#include "ConsoleHost.h"
#include "common/Error.h"
#include "mailstore/StoreConfig.h"
#include "processing/TEmailThread.h"
#include "processing/TUndoThread.h"
#include "processing/UndoHistory.h"
#include "processing/UndoIndex.h"

#include <QCommandLineParser>
#include <QDir>
#include <QLocale>

#include <cstdio>

#include <unistd.h>

namespace {

void printJobs(const std::vector<undo::RecordedJob> &jobs)
{
    if (jobs.empty()) {
        cli::printOut(QStringLiteral("No detach or save job is recorded.\n"));
        return;
    }
    for (const undo::RecordedJob &job : jobs) {
        if (!job.error.isEmpty()) {
            cli::printOut(QStringLiteral("%1  cannot be read: %2\n").arg(job.record.id, job.error));
            continue;
        }
        QString line = QStringLiteral("%1  %2  %3  %4 email(s), %5 attachment(s), %6 byte(s) saved")
                           .arg(job.record.id,
                                QLocale::system().toString(job.record.started.toLocalTime(),
                                                           QLocale::ShortFormat),
                                job.record.action)
                           .arg(job.emails)
                           .arg(job.attachments)
                           .arg(job.savedBytes);
        if (job.putBack > 0)
            line += QStringLiteral(", %1 put back").arg(job.putBack);
        cli::printOut(line + QStringLiteral("\n  ") + job.record.root + QLatin1Char('\n'));
    }
}

} // namespace

int runUndoCommand(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Puts the emails of a detach or save job back exactly as they were before it, from "
        "the record the job kept in the folder it saved to; flags and received dates stay "
        "as they are now. An email changed since the job, or whose saved files are missing "
        "or changed, is refused and left as it is. Running it again changes nothing. Delete "
        "jobs keep no record and cannot be undone."));
    parser.addOptions({
        {QStringLiteral("list"), QStringLiteral("List the recorded jobs, newest first.")},
        {QStringLiteral("job"), QStringLiteral("Undo the recorded job with this id."),
         QStringLiteral("ID")},
        {QStringLiteral("from"),
         QStringLiteral("Take the records kept under this folder of saved files (every job "
                        "there, or the one of --job) instead of your own list of jobs."),
         QStringLiteral("DIR")},
        {QStringLiteral("remove-saved"),
         QStringLiteral("Remove the saved files of the emails put back.")},
        {QStringLiteral("log"), QStringLiteral("Log what is done to this action log."),
         QStringLiteral("FILE")},
        {QStringLiteral("yes"), QStringLiteral("Do not ask before changing the emails.")},
    });
    parser.addOptions(cli::storeOptions());
    parser.addOption(cli::lockTimeoutOption());
    if (const auto done = cli::parseOptions(parser, arguments))
        return *done;

    std::vector<undo::JobRecord> jobs;
    QStringList unreadable;
    QString logFile;
    mailstore::ApplicationFactory stores;
    int lockTimeout = TEmailThread::defaultLockTimeout;
    try {
        if (!parser.positionalArguments().isEmpty())
            throw qb::Error(
                QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().first()));
        const QString from = parser.value(QStringLiteral("from"));
        const QStringList records =
            from.isEmpty() ? undo::indexedRecords()
                           : undo::recordsUnder(QDir::current().absoluteFilePath(from));
        if (parser.isSet(QStringLiteral("list"))) {
            printJobs(undo::recordedJobs(records));
            return 0;
        }
        if (parser.isSet(QStringLiteral("job"))) {
            jobs.push_back(undo::jobWithId(records, parser.value(QStringLiteral("job"))));
        } else if (!from.isEmpty()) {
            // Newest first: a later job's change to an email comes off before an earlier
            // one's. A record that cannot be read is told, and the others still go back.
            for (undo::RecordedJob &job : undo::recordedJobs(records)) {
                if (job.error.isEmpty())
                    jobs.push_back(std::move(job.record));
                else
                    unreadable << job.error;
            }
            if (jobs.empty())
                throw qb::Error(QStringLiteral("No job is recorded under %1").arg(from));
        } else {
            throw qb::Error(QStringLiteral("Give the job to undo: --job ID (see --list) or "
                                           "--from DIR"));
        }
        if (parser.isSet(QStringLiteral("log")))
            logFile = QDir::current().absoluteFilePath(parser.value(QStringLiteral("log")));
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

    int emails = 0;
    for (const undo::JobRecord &job : jobs)
        emails += int(job.emails.size());
    ConsoleHost host(isatty(STDERR_FILENO));
    cli::InterruptCatcher interrupts;
    const QString question = QStringLiteral("Put %1 email(s) of %2 job(s) back as they were?")
                                 .arg(emails)
                                 .arg(jobs.size());
    if (!parser.isSet(QStringLiteral("yes")) && isatty(STDIN_FILENO) &&
        !cli::confirmed(question, interrupts)) {
        host.printLine(QStringLiteral("Nothing was changed."));
        return interrupts.interrupted() ? 2 : 0;
    }
    if (interrupts.interrupted()) {
        host.printLine(QStringLiteral("Cancelled: nothing was changed."));
        return 2;
    }

    for (const QString &error : unreadable)
        std::fprintf(stderr, "%s\n", error.toLocal8Bit().constData());
    UndoJob::Options options;
    options.removeSaved = parser.isSet(QStringLiteral("remove-saved"));
    const int status = cli::runChangeWorker<TUndoThread, UndoJob::Report>(
        host, interrupts, UndoJob::Kind::Done, [&](ConsoleStatusWindow *window) {
            return new TUndoThread(window, &host, stores, std::move(jobs), options, logFile,
                                   lockTimeout);
        });
    return status == 0 && !unreadable.isEmpty() ? 3 : status;
}
