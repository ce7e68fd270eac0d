// Makes the manual's screenshots from the program's real windows: a main window on a
// demo Maildir, driven through its commands as the user would (Analyze, sorting,
// selecting, Detach with a log), and the windows these open. Run by
// help/make-screenshots.sh under Xvfb.
//
//     quillbrook-screenshots IMAGES MAILDIR COLLECTION WORK
#include "mailstore/StoreConfig.h"
#include "ui/AboutWindow.h"
#include "ui/DestinationFolderWindow.h"
#include "ui/HelpMenu.h"
#include "ui/HelpWindow.h"
#include "ui/MailFolderChooser.h"
#include "ui/MainWindow.h"
#include "ui/ProgramHelp.h"
#include "ui/StatusWindow.h"
#include "ui/SummaryPage.h"

#include <QAction>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QHelpContentWidget>
#include <QHelpEngine>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableView>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>
#include <functional>

#include <gmime/gmime.h>

namespace {

QString images;

// Lets the program work until ready() holds; false after 20 seconds.
bool waitFor(const std::function<bool()> &ready)
{
    const QDeadlineTimer deadline(20000);
    while (!ready()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    return true;
}

void settle()
{
    const QDeadlineTimer deadline(300);
    while (!deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

bool save(QWidget *window, const char *name)
{
    settle();
    const QString path = images + QLatin1Char('/') + QLatin1String(name);
    const bool saved = window->grab().save(path);
    std::printf("%s %s\n", saved ? "wrote" : "FAILED", qPrintable(path));
    return saved;
}

// Runs open (which shows a modal window and waits), saves that window and closes it
// through finish.
bool whileModal(const std::function<void()> &open, const char *name,
                const std::function<bool(QWidget *)> &ready,
                const std::function<void(QWidget *)> &finish)
{
    bool saved = false;
    QTimer::singleShot(0, [&] {
        QWidget *modal = nullptr;
        waitFor([&] {
            modal = QApplication::activeModalWidget();
            return modal && ready(modal);
        });
        if (modal) {
            saved = save(modal, name);
            finish(modal);
        }
    });
    open();
    return saved;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillbrook"));
    QApplication::setOrganizationName(QStringLiteral("Vellmor Software"));
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() != 5) {
        std::fputs("usage: quillbrook-screenshots IMAGES MAILDIR COLLECTION WORK\n", stderr);
        return 2;
    }
    images = arguments[1];
    const QString work = arguments[4];
    g_mime_init();
    bool ok = true;
    {
        MainWindow window(mailstore::configuredStores({arguments[2]}));
        window.resize(640, 380);
        window.show();
        ok &= waitFor([&] { return window.isVisible(); });
        ok &= save(&window, "main-starting-folder.png");

        // The mail folder chooser, opened on the Inbox.
        window.folderChoice->click();
        ok &= whileModal([&] { window.browseFromFolderClick(); }, "folder-chooser.png",
                         [](QWidget *modal) {
                             auto *tree = modal->findChild<QTreeWidget *>();
                             return tree && tree->topLevelItemCount() > 0 &&
                                    tree->topLevelItem(0)->childCount() > 0;
                         },
                         [](QWidget *modal) {
                             if (auto *chooser = qobject_cast<QDialog *>(modal))
                                 chooser->reject();
                         });
        window.defaultInboxChoice->click();

        // Logging to a file in the destination folder, so that the job's status window
        // links to it.
        const QString saved = work + QStringLiteral("/Saved");
        QDir(saved).removeRecursively();
        QDir().mkpath(saved);
        window.logToFileChoice->click();
        window.logFilename->setText(saved + QStringLiteral("/quillbrook.log"));
        window.pages->setCurrentWidget(window.optionsPage);
        ok &= save(&window, "main-options.png");

        // Analyze, largest emails first, three rows selected.
        window.pages->setCurrentWidget(window.startingFolderPage);
        window.analyseButtonClick();
        ok &= waitFor([&] { return !window.workerRunning(); });
        window.attachGridHeadingClick(3);
        window.attachGridHeadingClick(3);
        auto *selection = window.attachGrid->selectionModel();
        for (int row = 0; row < 3; ++row)
            selection->select(window.attachGrid->model()->index(row, 0),
                              QItemSelectionModel::Select | QItemSelectionModel::Rows);
        ok &= save(&window, "main-attachments.png");

        // The summary of the same list, in a window that holds its four charts and the status bar.
        window.resize(860, 480);
        window.pages->setCurrentWidget(window.summaryPage);
        ok &= save(&window, "main-summary.png");
        window.pages->setCurrentWidget(window.attachmentsPage);
        window.resize(640, 380);

        // Detach: the destination folder, then the status window of the finished job.
        ok &= whileModal([&] { window.detachAttachmentsClick(); }, "destination-folder.png",
                         [&saved](QWidget *modal) {
                             // Typed in, as the user would.
                             if (auto *destination = qobject_cast<DestinationFolderWindow *>(modal))
                                 destination->folderField->setText(saved);
                             return true;
                         },
                         [](QWidget *modal) {
                             if (auto *destination = qobject_cast<QDialog *>(modal))
                                 destination->accept();
                         });
        StatusWindow *status = nullptr;
        ok &= waitFor([&] {
            status = window.findChild<StatusWindow *>();
            return status && status->buttonKind() == StatusWindow::ButtonKind::OK;
        });
        if (status) {
            ok &= save(status, "status-finished.png");
            status->close();
        }

        // The Help menu, as it opens.
        window.helpMenu->popup(window.mapToGlobal(QPoint(120, 24)));
        ok &= waitFor([&] { return window.helpMenu->isVisible(); });
        ok &= save(window.helpMenu, "help-menu.png");
        window.helpMenu->close();

        // The update window, as the Help menu opens it.
        window.checkUpdatesAction->trigger();
        QWidget *update = nullptr;
        ok &= waitFor([&] {
            for (QWidget *top : QApplication::topLevelWidgets()) {
                if (top->objectName() == QLatin1String("updateForm") && top->isVisible())
                    update = top;
            }
            return update != nullptr;
        });
        if (update) {
            ok &= save(update, "update-window.png");
            update->close();
        }

        AboutWindow about(window.stringLoader(), &window);
        about.show();
        ok &= save(&about, "about.png");
        about.close();

        // The help window on the page about saved files, its contents open; once the
        // manual is built.
        ProgramHelp *help = window.findChild<HelpMenu *>()->help();
        help->setCollectionPath(arguments[3]);
        HelpWindow *helpWindow = nullptr;
        if (!QFile::exists(arguments[3]))
            std::printf("skipped help-window.png: %s is not built yet\n", qPrintable(arguments[3]));
        else if (help->showContents())
            helpWindow = help->window();
        if (helpWindow) {
            helpWindow->showPage(
                QUrl(QStringLiteral("qthelp://com.vellmor.quillbrook/doc/html/saved-files.html")));
            ok &= waitFor([&] { return helpWindow->contents->model()->rowCount() > 0; });
            helpWindow->contents->expandAll();
            ok &= save(helpWindow, "help-window.png");
        }
        window.setModified(false);
        window.close();
    }
    g_mime_shutdown();
    return ok ? 0 : 1;
}
