#include "ReattachCommand.h"

#include "AccountPasswords.h"
#include "CliSupport.h"
#include "ConsoleHost.h"
#include "common/Error.h"
#include "log/TLogManager.h"
#include "mailstore/StoreConfig.h"
#include "processing/DetachLog.h"
#include "processing/TEmailThread.h"
#include "processing/TReattachThread.h"

#include <QCommandLineParser>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>

#include <cstdio>
#include <unistd.h>

namespace {

// Takes "--NAME OLD NEW" out of arguments, where QCommandLineParser would take one
// value only. Throws qb::Error when the two folders are not there.
std::optional<std::pair<QString, QString>> takeFolderPair(QStringList &arguments,
                                                          const QString &name)
{
    const qsizetype at = arguments.indexOf(QStringLiteral("--") + name);
    if (at < 0)
        return std::nullopt;
    if (at + 2 >= arguments.size() || arguments[at + 1].startsWith(QLatin1Char('-')) ||
        arguments[at + 2].startsWith(QLatin1Char('-')))
        throw qb::Error(QStringLiteral("--%1 takes two folders: OLD NEW").arg(name));
    const auto folders = std::pair{QFileInfo(arguments[at + 1]).absoluteFilePath(),
                                   QFileInfo(arguments[at + 2]).absoluteFilePath()};
    arguments.remove(at, 3);
    if (arguments.contains(QStringLiteral("--") + name))
        throw qb::Error(QStringLiteral("--%1 can be given once").arg(name));
    return folders;
}

} // namespace

int runReattachCommand(const QStringList &givenArguments)
{
    QStringList arguments = givenArguments;
    ReattachJob::Options options;
    try {
        const auto relink = takeFolderPair(arguments, QStringLiteral("relink"));
        const auto moved = takeFolderPair(arguments, QStringLiteral("moved"));
        if (relink && moved)
            throw qb::Error(QStringLiteral("Give --relink or --moved, not both"));
        if (const auto pair = relink ? relink : moved) {
            options.movedFrom = pair->first;
            options.movedTo = pair->second;
            options.relinkOnly = relink.has_value();
        }
    } catch (const qb::Error &e) {
        return cli::usageError(e.message());
    }

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Undoes the detaches that an action log records: each saved file goes back into the "
        "email whose note links to it, as the attachment it was (same name and content type), "
        "and the note leaves the body; flags and received date are kept. A file whose SHA-256 "
        "is no longer the one in the log is refused and its email left as it is. Running it "
        "again changes nothing. The files stay where they are.\n"
        "--relink OLD NEW: the folder of saved files moved from OLD to NEW; rewrite the notes' "
        "links to NEW and put nothing back. The log records it, so a later reattach with the "
        "same log reads the files under NEW.\n"
        "--moved OLD NEW: put back, reading files logged under OLD from NEW (moved without "
        "--relink).\n"
        "The log gets an entry for what was done and refused."));
    parser.addOptions({
        {QStringLiteral("store"),
         QStringLiteral("A store to open (repeatable), as for the other commands; default the "
                        "configured stores, else $MAILDIR, else ~/Maildir."),
         QStringLiteral("STORE")},
        {QStringLiteral("password-file"),
         QStringLiteral("Read the IMAP password from the first line of this file."),
         QStringLiteral("FILE")},
        {QStringLiteral("log"), QStringLiteral("The action log of the detaches to undo."),
         QStringLiteral("FILE")},
        {QStringLiteral("yes"), QStringLiteral("Do not ask before changing the emails.")},
        {QStringLiteral("lock-timeout"),
         QStringLiteral("While another program changes the mail store, wait this long before "
                        "giving up (default %1).")
             .arg(TEmailThread::defaultLockTimeout),
         QStringLiteral("SECONDS")},
    });
    if (const auto done = cli::parseOptions(parser, arguments))
        return *done;

    std::vector<DetachRecord> records;
    QString logFile;
    mailstore::ApplicationFactory stores;
    int lockTimeout = TEmailThread::defaultLockTimeout;
    try {
        if (!parser.positionalArguments().isEmpty())
            throw qb::Error(
                QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().first()));
        if (parser.value(QStringLiteral("log")).isEmpty())
            throw qb::Error(QStringLiteral("Give the action log of the detaches: --log FILE"));
        logFile = QDir::current().absoluteFilePath(parser.value(QStringLiteral("log")));
        records = readDetachLog(logFile);
        if (parser.isSet(QStringLiteral("lock-timeout"))) {
            bool number = false;
            lockTimeout = parser.value(QStringLiteral("lock-timeout")).toInt(&number);
            if (!number || lockTimeout < 0)
                throw qb::Error(QStringLiteral("--lock-timeout takes a number of seconds"));
        }
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
        host.printLine(QStringLiteral("The log records no detached attachment: nothing to do."));
        return 0;
    }
    cli::InterruptCatcher interrupts;
    const QString question =
        options.relinkOnly
            ? QStringLiteral("Relink the notes of %1 detached attachment(s) from %2 to %3?")
                  .arg(records.size())
                  .arg(options.movedFrom, options.movedTo)
            : QStringLiteral("Put %1 detached attachment(s) back into their emails?")
                  .arg(records.size());
    if (!parser.isSet(QStringLiteral("yes")) && isatty(STDIN_FILENO) &&
        !cli::confirmed(question, interrupts)) {
        host.printLine(QStringLiteral("Nothing was changed."));
        return interrupts.interrupted() ? 2 : 0;
    }
    if (interrupts.interrupted()) {
        host.printLine(QStringLiteral("Cancelled: nothing was changed."));
        return 2;
    }

    TLogManager::setMessageSink(errorBoxesOf(&host));
    ConsoleStatusWindow window(&host);
    window.setFinalStatusPrinted(true);
    QEventLoop loop;
    ReattachJob::Report report;
    QString error;
    bool ended = false;
    interrupts.watch(&window);
    auto *job = new TReattachThread(&window, &host, stores, std::move(records), options, logFile,
                                    lockTimeout);
    QObject::connect(job, &TReattachThread::outcome, &loop,
                     [](ReattachJob::Kind kind, const QString &text) {
                         // What was done goes to stdout; what was not, to stderr.
                         if (kind == ReattachJob::Kind::Done)
                             cli::printOut(text + QLatin1Char('\n'));
                         else
                             std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
                     });
    QObject::connect(job, &TReattachThread::jobEnded, &loop, [&, job](ReattachJob::Report r) {
        report = r;
        error = job->failure();
        ended = true;
    });
    QObject::connect(job, &QObject::destroyed, &loop, &QEventLoop::quit);
    loop.exec();
    interrupts.watch(nullptr);
    TLogManager::setMessageSink(nullptr);
    if (!ended)
        return 1;
    if (!error.isEmpty())
        return report.done > 0 ? 3 : 1;
    if (report.cancelled)
        return 2;
    return report.refused > 0 ? 3 : 0;
}
