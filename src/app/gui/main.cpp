#include "common/TimeZoneFile.h"
#include "mailstore/StoreConfig.h"
#include "ui/MainWindow.h"

#include <QApplication>

#include <csignal>
#include <gmime/gmime.h>

int main(int argc, char *argv[])
{
    // Past a file size limit (ulimit -f) a write fails with EFBIG and the attachment is
    // reported as failed, instead of the signal ending the process mid-job.
    std::signal(SIGXFSZ, SIG_IGN);
    qb::readTimeZoneFileOnce();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillbrook"));
    QApplication::setOrganizationName(QStringLiteral("Vellmor Software"));
    g_mime_init();
    int status = 0;
    {
        // --store DIR (repeatable) opens those Maildirs, as the command-line tool does.
        QStringList stores;
        const QStringList arguments = QApplication::arguments();
        for (int i = 1; i + 1 < arguments.size(); ++i) {
            if (arguments[i] == QLatin1String("--store"))
                stores << arguments[++i];
        }
        MainWindow window(mailstore::configuredStores(stores));
        window.show();
        status = QApplication::exec();
    }
    g_mime_shutdown();
    return status;
}
