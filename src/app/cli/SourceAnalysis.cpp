#include "SourceAnalysis.h"

#include "AccountPasswords.h"
#include "CliSupport.h"
#include "ConsoleHost.h"
#include "common/Error.h"
#include "mailstore/FolderPath.h"
#include "mailstore/StoreConfig.h"
#include "processing/TAnalyseThread.h"
#include "settings/TSettings.h"

#include <QCommandLineParser>
#include <QEventLoop>
#include <QTimer>

namespace cli {

void addSourceOptions(QCommandLineParser &parser)
{
    parser.addOptions({
        {QStringLiteral("store"),
         QStringLiteral("A store to open (repeatable): a Maildir, an IMAP account as "
                        "imaps://user@host[:port] (TLS) or imap://user@host[:port] (STARTTLS; "
                        "unencrypted to this computer), "
                        "or a configured store's name; default the configured stores, else "
                        "$MAILDIR, else ~/Maildir."),
         QStringLiteral("STORE")},
        {QStringLiteral("password-file"),
         QStringLiteral("Read the IMAP password from the first line of this file instead of "
                        "asking on the terminal."),
         QStringLiteral("FILE")},
        {QStringLiteral("folder"),
         QStringLiteral(
             "The folder's path, as in 'Email Folders\\Maildir\\Projects'; default the Inbox."),
         QStringLiteral("PATH")},
        {QStringLiteral("folder-id"), QStringLiteral("The folder's entry id."),
         QStringLiteral("ID")},
        {QStringLiteral("no-cache"),
         QStringLiteral("Read every email, neither using nor updating the cache of what earlier "
                        "analyses read.")},
        {QStringLiteral("settings"),
         QStringLiteral("Take the source folder, the save folder and the logging choice from this "
                        "settings file; other options override them."),
         QStringLiteral("FILE.qbk")},
    });
}

bool loadSettingsFile(const QCommandLineParser &parser, TSettings &settings)
{
    if (!parser.isSet(QStringLiteral("settings")))
        return false;
    settings.loadFromFile(parser.value(QStringLiteral("settings")));
    return true;
}

mailstore::ApplicationFactory openStores(const QCommandLineParser &parser)
{
    if (parser.isSet(QStringLiteral("folder")) && parser.isSet(QStringLiteral("folder-id")))
        throw qb::Error(QStringLiteral("Give --folder or --folder-id, not both"));
    const QStringList arguments = parser.values(QStringLiteral("store"));
    const mailstore::ApplicationFactory stores = mailstore::configuredStores(
        arguments,
        parser.isSet(QStringLiteral("no-cache")) ? mailstore::SummaryCaching::Off
                                                 : mailstore::SummaryCaching::Kept,
        accountPasswords(mailstore::chosenStores(arguments),
                         parser.value(QStringLiteral("password-file"))));
    stores();
    return stores;
}

void chooseSource(TSettings &settings, const QCommandLineParser &parser,
                  const mailstore::ApplicationFactory &stores)
{
    if (!parser.isSet(QStringLiteral("settings")))
        settings.getFromDefaultFolder = true;
    const auto mapi = [&stores] { return stores()->getNamespace(QStringLiteral("MAPI")); };
    if (parser.isSet(QStringLiteral("folder"))) {
        const QString path = parser.value(QStringLiteral("folder"));
        const auto folder = mailstore::folderAtPath(*mapi(), path);
        if (!folder)
            throw qb::Error(QStringLiteral("No mail folder has the path %1").arg(path));
        settings.getFromDefaultFolder = false;
        settings.fromFolderName = path.endsWith(QLatin1Char('\\')) ? path.chopped(1) : path;
        settings.fromFolderEntryId = folder->entryId();
    } else if (parser.isSet(QStringLiteral("folder-id"))) {
        const QString id = parser.value(QStringLiteral("folder-id"));
        const auto folder = mapi()->getFolderFromId(id, QString());
        if (!folder)
            throw qb::Error(QStringLiteral("No mail folder has the entry id %1").arg(id));
        settings.getFromDefaultFolder = false;
        settings.fromFolderName = folder->name();
        settings.fromFolderEntryId = id;
    } else if (!settings.getFromDefaultFolder) {
        // A settings file written by hand may name the folder by its path alone.
        const auto session = mapi();
        if (!session->getFolderFromId(settings.fromFolderEntryId, QString())) {
            if (const auto folder = mailstore::folderAtPath(*session, settings.fromFolderName))
                settings.fromFolderEntryId = folder->entryId();
        }
    }
}

QStringList analyse(std::unique_ptr<TSettings> settings,
                    const mailstore::ApplicationFactory &stores, ConsoleHost &host,
                    AttachmentList &list, InterruptCatcher &interrupts,
                    const std::function<void()> &rowsAdded)
{
    QStringList unreadable;
    ConsoleStatusWindow window(&host);
    QEventLoop loop;
    // Often enough that little is left to do when the walk ends, seldom enough to cost
    // the walk nothing.
    constexpr int rowsAddedInterval = 10; // ms
    QTimer rowsTimer;
    if (rowsAdded) {
        QObject::connect(&rowsTimer, &QTimer::timeout, &loop, rowsAdded);
        rowsTimer.start(rowsAddedInterval);
    }
    interrupts.watch(&window);
    auto *worker = new TAnalyseThread(settings.release(), &window, &host, stores, &list);
    // The worker deletes itself once its run has ended: only then is the list complete.
    QObject::connect(worker, &QObject::destroyed, &loop, &QEventLoop::quit);
    QObject::connect(worker, &TAnalyseThread::analysisEnded, &loop,
                     [&unreadable](const QStringList &lines) { unreadable = lines; });
    loop.exec();
    rowsTimer.stop();
    interrupts.watch(nullptr);
    for (const QString &line : std::as_const(unreadable))
        host.printLine(line);
    return unreadable;
}

} // namespace cli
