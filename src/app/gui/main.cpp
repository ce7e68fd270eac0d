#include "CommandBus.h"
#include "StartArguments.h"
#include "UsageText.h"
#include "common/Error.h"
#include "common/TimeZoneFile.h"
#include "mailstore/StoreConfig.h"
#include "ui/MainWindow.h"
#include "ui/StorePasswords.h"

#include <QApplication>
#include <QIcon>

#include <csignal>
#include <gmime/gmime.h>

int main(int argc, char *argv[])
{
    // Past a file size limit (ulimit -f) a write fails with EFBIG and the attachment is
    // reported as failed, instead of the signal ending the process mid-job.
    std::signal(SIGXFSZ, SIG_IGN);
    qb::readTimeZoneFileOnce();
    if (const std::optional<int> answered = answerInformationOptions(argc, argv))
        return *answered;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillbrook"));
    QApplication::setOrganizationName(QStringLiteral("Vellmor Software"));
    // Every window shows the program's icon; the desktop entry of that name describes it.
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/quillbrook.svg")));
    QGuiApplication::setDesktopFileName(QStringLiteral("quillbrook"));
    // Settled before the main window exists: a second copy started with a settings file
    // hands it to the first and ends here.
    const QString settingsFile = settingsFileArgument(QApplication::arguments());
    CommandBus commandBus;
    if (const std::optional<int> handedOver = commandBus.start(settingsFile))
        return *handedOver;
    g_mime_init();
    int status = 0;
    {
        // --store (repeatable) opens those stores, as the command-line tool does; IMAP
        // accounts take their passwords from what the windows gather.
        const QStringList stores = storeArguments(QApplication::arguments());
        if (stores.isEmpty()) {
            try {
                mailstore::listDefaultMaildir();
            } catch (const qb::Error &e) {
                // The default Maildir is opened all the same; it is not yet on the Options page.
                qWarning("%s", qUtf8Printable(e.message()));
            }
        }
        StorePasswords passwords(stores);
        MainWindow window(mailstore::configuredStores(stores, mailstore::SummaryCaching::Kept,
                                                      passwords.source()),
                          passwords);
        commandBus.serve(&window);
        window.show();
        if (!settingsFile.isEmpty())
            window.openFile(settingsFile);
        status = QApplication::exec();
        commandBus.close();
    }
    g_mime_shutdown();
    return status;
}
