#include "OpenCommand.h"

#include "CliSupport.h"
#include "remote/CommandClient.h"
#include "remote/FileOpenCommand.h"

#include <QCommandLineParser>
#include <QFileInfo>

int runOpenCommand(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Makes the desktop program that runs open a settings file, as its "
                       "File > Open does."));
    parser.addPositionalArgument(QStringLiteral("FILE.qbk"), QStringLiteral("the settings file"));
    parser.addHelpOption();
    if (!parser.parse(arguments))
        return cli::usageError(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        cli::printOut(cli::helpText(parser));
        return 0;
    }
    const QStringList files = parser.positionalArguments();
    if (files.size() != 1)
        return cli::usageError(QStringLiteral("open takes one settings file"));
    // The program that runs has a working folder of its own.
    const QFileInfo file(files.first());
    const QString path = file.absoluteFilePath();
    if (!file.isFile() || !file.isReadable())
        return cli::usageError(QStringLiteral("Cannot open file %1").arg(path));
    const QString unsendable = remote::unsendableReason(path);
    if (!unsendable.isEmpty())
        return cli::usageError(
            QStringLiteral("%1 cannot be sent to the desktop program: %2").arg(path, unsendable));

    const remote::Delivery sent = remote::sendCommand(remote::fileOpenCommand(path));
    switch (sent.outcome) {
    case remote::Delivery::Outcome::Done:
        return 0;
    case remote::Delivery::Outcome::NoRunningCopy:
        return cli::usageError(
            QStringLiteral("no desktop program runs to open %1 (start quillbrook first)")
                .arg(path));
    case remote::Delivery::Outcome::NoBus:
        return cli::usageError(
            QStringLiteral("no session bus to reach the desktop program: %1").arg(sent.message));
    case remote::Delivery::Outcome::Refused:
        break;
    }
    return cli::usageError(
        QStringLiteral("the desktop program could not open %1: %2").arg(path, sent.message));
}
