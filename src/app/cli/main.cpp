#include "AnalyzeCommand.h"
#include "CheckUpdateCommand.h"
#include "CliSupport.h"
#include "JobCommand.h"
#include "OpenCommand.h"
#include "RelinkCommand.h"
#include "SettingsCommand.h"
#include "UndoCommand.h"
#include "common/TimeZoneFile.h"
#include "lang/TStringLoader.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <gmime/gmime.h>

namespace {

const char *const usage =
    "Usage: quillbrook-cli COMMAND [OPTIONS]\n"
    "Commands:\n"
    "  analyze   list every attachment of a mail folder and its subfolders\n"
    "  delete    remove the selected attachments from their emails\n"
    "  detach    save the selected attachments to files and remove them\n"
    "  save      save the selected attachments to files, keeping them\n"
    "  undo      put the emails of a detach or save job back as they were\n"
    "  relink    rewrite the notes' links after a folder of saved files moved\n"
    "  settings  show or write a settings file\n"
    "  check-update  ask the maker's web site whether a newer release exists\n"
    "  open      make the desktop program that runs open a settings file\n"
    "Run 'quillbrook-cli COMMAND --help' for a command's options,\n"
    "and 'quillbrook-cli --version' for the version and release.\n";

} // namespace

int main(int argc, char *argv[])
{
    // Past a file size limit (ulimit -f) a write fails with EFBIG and the attachment is
    // reported as failed, instead of the signal ending the process mid-job.
    std::signal(SIGXFSZ, SIG_IGN);
    qb::readTimeZoneFileOnce();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quillbrook-cli"));
    g_mime_init();
    TStringLoader languages(TStringLoader::defaultPath(), TStringLoader::installedPath());

    QStringList arguments = QCoreApplication::arguments();
    const QString command = arguments.size() > 1 ? arguments.at(1) : QString();
    int status = 0;
    if (command == QLatin1String("analyze")) {
        arguments.removeAt(1);
        status = runAnalyzeCommand(arguments);
    } else if (command == QLatin1String("delete") || command == QLatin1String("detach") ||
               command == QLatin1String("save")) {
        arguments.removeAt(1);
        status = runJobCommand(command, arguments);
    } else if (command == QLatin1String("relink")) {
        arguments.removeAt(1);
        status = runRelinkCommand(arguments);
    } else if (command == QLatin1String("undo")) {
        arguments.removeAt(1);
        status = runUndoCommand(arguments);
    } else if (command == QLatin1String("settings")) {
        status = runSettingsCommand(arguments.mid(2));
    } else if (command == QLatin1String("open")) {
        arguments.removeAt(1);
        status = runOpenCommand(arguments);
    } else if (command == QLatin1String("check-update")) {
        arguments.removeAt(1);
        status = runCheckUpdateCommand(arguments);
    } else if (command == QLatin1String("--version")) {
        cli::printOut(versionLine() + QLatin1Char('\n'));
    } else if (command == QLatin1String("--help") || command == QLatin1String("-h")) {
        cli::printOut(QString::fromLatin1(usage));
    } else if (command.isEmpty()) {
        status = cli::usageError(QStringLiteral("no command given"));
        std::fputs(usage, stderr);
    } else {
        status = cli::usageError(QStringLiteral("unknown command %1").arg(command));
    }
    g_mime_shutdown();
    return status;
}
