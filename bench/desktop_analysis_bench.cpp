// The desktop program's analysis of a Maildir, as a user starts it: the main window
// with its status window, Analyze on the store's top folder, until the grid shows the
// rows. Prints the start-up time to the main window's first paint, the memory when
// idle and after the analysis, and the analysis time.
//   desktop_analysis_bench MAILDIR   (run with QT_QPA_PLATFORM=offscreen or under a display)
// Settings are read from and written to $XDG_CONFIG_HOME, which the script points
// at a folder of its own.
#include "mailstore/MailStore.h"
#include "mailstore/maildir/MaildirStore.h"
#include "settings/TSettings.h"
#include "ui/MainWindow.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTableView>
#include <QTimer>

#include <cstdio>
#include <gmime/gmime.h>
#include <time.h>
#include <unistd.h>

namespace {

long statusKilobytes(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qsizetype(qstrlen(field))).trimmed().split(' ').first().toLong();
    }
    return -1;
}

// Milliseconds since the process started, from the kernel's record of its start.
double sinceProcessStart()
{
    QFile stat(QStringLiteral("/proc/self/stat"));
    QFile uptime(QStringLiteral("/proc/uptime"));
    if (!stat.open(QIODevice::ReadOnly) || !uptime.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    // The fields after the command name, which is in parentheses and may hold spaces.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    const double startTicks = fields.value(19).toDouble();
    const double upSeconds = uptime.readAll().split(' ').first().toDouble();
    return (upSeconds - startTicks / double(sysconf(_SC_CLK_TCK))) * 1000.0;
}

// Notes the first paint of the window it watches.
class FirstPaint : public QObject
{
public:
    double sinceStart = -1;
    qint64 sinceMain = -1;
    QElapsedTimer *mainTimer = nullptr;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && sinceMain < 0) {
            sinceMain = mainTimer->elapsed();
            sinceStart = sinceProcessStart();
        }
        return QObject::eventFilter(watched, event);
    }
};

// Runs the event loop, as the program's does, until done; it looks every few
// milliseconds and sleeps in between, so that it takes no time from the worker.
void waitFor(const std::function<bool()> &done)
{
    if (done())
        return;
    QEventLoop loop;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    look.start(5);
    loop.exec();
}

} // namespace

int main(int argc, char *argv[])
{
    QElapsedTimer sinceMain;
    sinceMain.start();
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: desktop_analysis_bench MAILDIR\n");
        return 1;
    }
    QApplication::setApplicationName(QStringLiteral("Quillbrook"));
    QApplication::setOrganizationName(QStringLiteral("Vellmor Software"));
    g_mime_init();
    const QString store = QString::fromLocal8Bit(argv[1]);
    int status = 0;
    {
        const mailstore::ApplicationFactory stores = maildir::storeFactory({store});
        MainWindow window(stores);
        FirstPaint firstPaint;
        firstPaint.mainTimer = &sinceMain;
        window.installEventFilter(&firstPaint);
        window.show();
        waitFor([&] { return firstPaint.sinceMain >= 0; });
        // Idle: what the program holds once it has settled after its start.
        QElapsedTimer idle;
        idle.start();
        waitFor([&] { return idle.elapsed() >= 1000; });
        const long idleKb = statusKilobytes("VmRSS:");

        // The same folder as the command-line benchmark: the store's top folder.
        const auto top = stores()->getNamespace(QStringLiteral("MAPI"))->folders()->item(1);
        TSettings &settings = window.settings();
        settings.getFromDefaultFolder = false;
        settings.fromFolderName = QStringLiteral("Email Folders\\") + top->name();
        settings.fromFolderEntryId = top->entryId();
        window.settingsToControls();

        QElapsedTimer analysis;
        analysis.start();
        window.analyseButtonClick();
        waitFor([&] { return !window.workerRunning(); });
        window.attachGrid->repaint(); // the rows are on the screen
        const qint64 analysisMs = analysis.elapsed();

        std::printf("first paint: %.0f ms after the process started (%lld ms after main)\n",
                    firstPaint.sinceStart, static_cast<long long>(firstPaint.sinceMain));
        std::printf("memory idle: %ld MB\n", idleKb / 1024);
        std::printf("analysis: %.2f s, %d attachments\n", double(analysisMs) / 1000.0,
                    window.attachGrid->model()->rowCount());
        std::printf("memory after the analysis: %ld MB (peak %ld MB)\n",
                    statusKilobytes("VmRSS:") / 1024, statusKilobytes("VmHWM:") / 1024);
        window.setModified(false); // closing asks nothing
        if (window.attachGrid->model()->rowCount() == 0)
            status = 2;
    }
    g_mime_shutdown();
    return status;
}
