#include "lang/IniFile.h"
#include "lang/TStringLoader.h"
#include "mailstore/maildir/MaildirStore.h"
#include "mailstore/memory/MemoryStore.h"
#include "settings/TRegistry.h"
#include "settings/TSettings.h"
#include "support/BoxWatcher.h"
#include "support/FileSizeLimit.h"
#include "support/SmallMaildir.h"
#include "ui/AttachmentGridModel.h"
#include "ui/DestinationFolderWindow.h"
#include "ui/GridColumns.h"
#include "ui/MailFolderChooser.h"
#include "ui/MainWindow.h"
#include "ui/StatusWindow.h"
#include "ui/UpdateCheck.h"
#include "ui/UpdateWindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <QWindow>

#include <optional>

#include <gmime/gmime.h>

namespace {

// Runs handler on the window that find gives, once it gives one (looking every 10 ms): a
// dialog is answered when it shows, however long it takes to come. handler closes it.
void whenShown(std::function<QWidget *()> find, std::function<void(QWidget *)> handler)
{
    auto poll = std::make_shared<std::function<void()>>();
    *poll = [find, handler, poll] {
        if (QWidget *shown = find())
            handler(shown);
        else
            QTimer::singleShot(10, *poll);
    };
    QTimer::singleShot(10, *poll);
}

// Answers the next modal window when it appears: handler gets it and closes it.
void whenModal(std::function<void(QWidget *)> handler, QString *seenText = nullptr)
{
    whenShown([] { return QApplication::activeModalWidget(); },
              [handler, seenText](QWidget *modal) {
                  if (seenText) {
                      if (auto *box = qobject_cast<QMessageBox *>(modal))
                          *seenText = box->text();
                  }
                  handler(modal);
              });
}

void pressButton(QWidget *modal, QMessageBox::StandardButton which)
{
    if (auto *box = qobject_cast<QMessageBox *>(modal))
        box->button(which)->click();
}

QString statusBarText(MainWindow &window)
{
    return window.findChild<QLabel *>(QStringLiteral("statusText"))->text();
}

struct Mailbox
{
    MemoryStore store;
    std::shared_ptr<MemoryStore::FolderData> top =
        store.addStore(QStringLiteral("Personal Folders"));
    std::shared_ptr<MemoryStore::FolderData> inbox = store.addFolder(top, QStringLiteral("Inbox"));
    Mailbox()
    {
        store.setDefaultInbox(inbox);
        auto projects = store.addFolder(inbox, QStringLiteral("Projects"));
        store.addFolder(top, QStringLiteral("Calendar"), 1);
        store.addFolder(top, QStringLiteral("Archive"));
        store.addItem(inbox, QStringLiteral("Small"), {"s.pdf"})->size = 1000;
        store.addItem(inbox, QStringLiteral("Big"), {"b1.zip", "b2.doc"})->size = 9000;
        store.addItem(projects, QStringLiteral("Medium"), {"m.xls"})->size = 5000;
    }
};

// Where a modal window stands against the status window it must come in front of.
struct InFront
{
    bool visible = false;
    bool ownedByStatusWindow = false; // a transient of it: window managers keep it above
    bool statusWindowOnTop = true;    // whether the status window still stays on top

    explicit InFront(QWidget *modal)
    {
        auto *status = qobject_cast<StatusWindow *>(modal->parentWidget());
        visible = modal->isVisible();
        ownedByStatusWindow = status && status->isVisible() && modal->windowHandle() &&
                              modal->windowHandle()->transientParent() == status->windowHandle();
        statusWindowOnTop = status && (status->windowHandle()->flags() & Qt::WindowStaysOnTopHint);
    }
};

// The window's outer bounds once it shows and its frame is known (at once on the
// offscreen platform, a moment later under a window manager).
QRect settledFrame(QWidget *window)
{
    if (!QTest::qWaitForWindowExposed(window))
        return {};
    // A window without a frame settles at once.
    [[maybe_unused]] const bool framed = QTest::qWaitFor(
        [window] { return window->frameGeometry().size() != window->size(); }, 2000);
    QTest::qWait(100); // a restored size is fitted to the frame right after
    return window->frameGeometry();
}

void analyse(MainWindow &window)
{
    window.analyseButtonClick();
    QTRY_VERIFY_WITH_TIMEOUT(!window.workerRunning(), 10000);
}

} // namespace

// Takes the URLs that the program would open.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    explicit UrlCatcher(QList<QUrl> *opened) : m_opened(opened) {}
public Q_SLOTS:
    void open(const QUrl &url) { m_opened->append(url); }

private:
    QList<QUrl> *m_opened;
};

class TestMainWindow : public QObject
{
    Q_OBJECT
    QTemporaryDir m_config;

    void screenshot(QWidget *widget, const char *name)
    {
        const QString folder = qEnvironmentVariable("QB_SCREENSHOT_DIR");
        if (!folder.isEmpty())
            widget->grab().save(folder + QLatin1Char('/') + QLatin1String(name) +
                                QStringLiteral(".png"));
    }

private Q_SLOTS:
    void initTestCase()
    {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
        g_mime_init();
    }
    void init() { QFile::remove(TRegistry::hivePath(TRegistry::Root::CurrentUser)); }

    void firstStart()
    {
        Mailbox box;
        MainWindow window(box.store.factory());
        window.show();
        QCOMPARE(window.windowTitle(), QStringLiteral("Untitled - Quillbrook by Vellmor Software"));
        QCOMPARE(window.pages->currentWidget(), window.startingFolderPage);
        QVERIFY(window.defaultInboxChoice->isChecked());
        QVERIFY(window.noLoggingChoice->isChecked());
        QCOMPARE(window.logFilename->text(), QStringLiteral("quillbrook.log"));
        QVERIFY(!window.isModified());
        QVERIFY(!window.messageSource->isEnabled());
        QVERIFY(!window.deleteAttachments->isEnabled());
        QVERIFY(!window.recentFilesMenu->isEnabled());
        QCOMPARE(window.minimumSize(), QSize(600, 317));
        screenshot(&window, "main-window");
    }

    void analyzeFillsTheGridAndClosesItsStatusWindow()
    {
        Mailbox box;
        MainWindow window(box.store.factory());
        window.show();
        analyse(window);
        QCOMPARE(window.pages->currentWidget(), window.attachmentsPage);
        QCOMPARE(window.attachGrid->model()->rowCount(), 4);
        QCOMPARE(window.attachGrid->model()->index(3, 1).data().toString(),
                 QStringLiteral("Inbox\\Projects\\"));
        QTRY_VERIFY(window.findChildren<StatusWindow *>().isEmpty());
        QCOMPARE(statusBarText(window), QStringLiteral("0 attachment(s) selected"));
        // What the analysis found stays beside the selection count.
        const QString summary =
            QStringLiteral("3 emails analysed, 4 attachment(s) in 3 email(s) of 15KB");
        QCOMPARE(window.analysisSummary->text(), summary);
        QVERIFY(window.analysisSummary->isVisible());
        window.selectAll();
        QCOMPARE(statusBarText(window), QStringLiteral("4 attachment(s) selected"));
        QCOMPARE(window.analysisSummary->text(), summary);
        QVERIFY(window.detachAttachments->isEnabled());
        window.resize(900, 400);
        screenshot(&window, "grid");
    }

    // Enter on the first page runs Analyze, wherever the focus is on that page; on the
    // other pages it does not.
    void enterRunsAnalyze()
    {
        Mailbox box;
        MainWindow window(box.store.factory());
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        window.pages->setCurrentWidget(window.optionsPage);
        QTest::keyClick(window.noLoggingChoice, Qt::Key_Return);
        QVERIFY(!window.workerRunning());
        QCOMPARE(window.pages->currentWidget(), window.optionsPage);

        window.pages->setCurrentWidget(window.startingFolderPage);
        window.defaultInboxChoice->setFocus();
        QTest::keyClick(window.defaultInboxChoice, Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(!window.workerRunning(), 10000);
        QCOMPARE(window.attachGrid->model()->rowCount(), 4);

        window.pages->setCurrentWidget(window.startingFolderPage);
        QTest::keyClick(window.pages->tabBar(), Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(window.pages->currentWidget(), window.attachmentsPage);
        QTRY_VERIFY_WITH_TIMEOUT(!window.workerRunning(), 10000);
        QCOMPARE(window.attachGrid->model()->rowCount(), 4);
    }

    // The grid's commands are in the Edit menu and its right-click menu too, enabled only
    // while the grid shows; the Delete key asks first, saying how much, with No as the
    // default; Ctrl+A selects only on the grid's page.
    void gridCommandsInMenus()
    {
        Mailbox box;
        MainWindow window(box.store.factory());
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QVERIFY(!window.selectAllAction->isEnabled());
        analyse(window);
        const auto selected = [&] {
            return int(window.attachGrid->selectionModel()->selectedRows().size());
        };
        QVERIFY(window.selectAllAction->isEnabled());
        QVERIFY(!window.deleteAction->isEnabled()); // nothing selected yet

        window.pages->setCurrentWidget(window.startingFolderPage);
        QVERIFY(!window.selectAllAction->isEnabled());
        QTest::keyClick(window.defaultInboxChoice, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(selected(), 0);

        window.pages->setCurrentWidget(window.attachmentsPage);
        window.attachGrid->setFocus();
        QTest::keyClick(window.attachGrid, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(selected(), 4);
        for (QAction *action : {window.deleteAction, window.detachAction,
                                window.saveAttachmentsAction, window.openEmailAction})
            QVERIFY(action->isEnabled());
        window.pages->setCurrentWidget(window.optionsPage);
        QVERIFY(!window.deleteAction->isEnabled());
        window.pages->setCurrentWidget(window.attachmentsPage);
        window.activateWindow(); // the status window of the analysis had it
        QVERIFY(QTest::qWaitForWindowActive(&window));

        QString question;
        QString detail;
        bool noIsDefault = false;
        whenModal(
            [&](QWidget *modal) {
                auto *box = qobject_cast<QMessageBox *>(modal);
                detail = box->informativeText();
                noIsDefault = box->defaultButton() == box->button(QMessageBox::No);
                QTest::keyClick(box, Qt::Key_Return); // the default answer
            },
            &question);
        QTest::keyClick(window.attachGrid, Qt::Key_Delete);
        QCOMPARE(question, QStringLiteral("Delete all selected attachments - are you sure?"));
        QCOMPARE(detail, QStringLiteral("4 attachment(s) from 3 email(s) will be deleted; they are "
                                        "not saved. This frees 66 bytes."));
        QVERIFY(noIsDefault);
        QVERIFY(!window.workerRunning());
        QCOMPARE(window.attachGrid->model()->rowCount(), 4);

        // A right click on a row outside the selection selects it and offers the commands.
        window.attachGrid->clearSelection();
        QStringList offered;
        whenShown([] { return QApplication::activePopupWidget(); },
                  [&](QWidget *popup) {
                      if (auto *menu = qobject_cast<QMenu *>(popup)) {
                          for (QAction *action : menu->actions()) {
                              if (!action->isSeparator() && action->isEnabled())
                                  offered << action->text();
                          }
                      }
                      popup->close();
                  });
        const QRect second = window.attachGrid->visualRect(window.gridModel().index(1, 0));
        Q_EMIT window.attachGrid->customContextMenuRequested(second.center());
        QCOMPARE(selected(), 1);
        QCOMPARE(window.attachGrid->selectionModel()->selectedRows().first().row(), 1);
        QCOMPARE(offered, QStringList({"&Delete attachments", "De&tach...", "Save &attachments...",
                                       "&Open email", "Se&lect All"}));

        window.openEmailAction->trigger();
        QTRY_VERIFY(window.findChild<QDialog *>(QStringLiteral("messageWindow")));
    }

    // The message window takes the focus (Esc closes it at once), wraps its text and
    // opens the links of its notes.
    void messageWindowLinksAndFocus()
    {
        Mailbox box;
        const QString link = QStringLiteral("file:///tmp/saved/Inbox/Q3%20%20figures.xls");
        box.store.addItem(box.inbox, QStringLiteral("Noted"), {"n.txt"})->body =
            QStringLiteral("A line long enough to need wrapping in a window of this size, "
                           "and more words after it so that it cannot fit on one line.\r\n"
                           "\r\nAttached file f.xls detached and saved as ") +
            link + QStringLiteral(".\r\n");
        MainWindow window(box.store.factory());
        window.show();
        analyse(window);
        const QModelIndexList noted = window.gridModel().match(
            window.gridModel().index(0, 0), Qt::DisplayRole, QStringLiteral("Noted"));
        QCOMPARE(noted.size(), 1);
        window.attachGridDblClickCell(noted.first().row() + 1);
        QDialog *message = nullptr;
        QTRY_VERIFY((message = window.findChild<QDialog *>(QStringLiteral("messageWindow"))));
        auto *text = message->findChild<QTextBrowser *>(QStringLiteral("messageText"));
        QVERIFY(QTest::qWaitForWindowActive(message));
        QCOMPARE(QApplication::focusWidget(), text);
        QVERIFY(text->lineWrapMode() != QTextEdit::NoWrap);
        QCOMPARE(text->wordWrapMode(), QTextOption::WrapAtWordBoundaryOrAnywhere);
        QVERIFY(!text->toHtml().contains(QLatin1String("<pre")));
        QVERIFY2(text->document()->toPlainText().contains(link + QLatin1Char('.')),
                 qPrintable(text->document()->toPlainText()));
        screenshot(message, "message-window");

        QList<QUrl> opened;
        UrlCatcher catcher(&opened);
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
        const auto unset =
            qScopeGuard([] { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); });
        // The note's address is a link (the full stop after it is not), and it opens.
        QString anchor;
        for (QTextBlock block = text->document()->begin(); block.isValid(); block = block.next()) {
            for (auto fragment = block.begin(); !fragment.atEnd(); ++fragment) {
                if (fragment.fragment().charFormat().isAnchor())
                    anchor = fragment.fragment().charFormat().anchorHref();
            }
        }
        QCOMPARE(anchor, link);
        Q_EMIT text->anchorClicked(QUrl(anchor));
        QCOMPARE(opened, QList<QUrl>({QUrl(link)}));

        QPointer<QDialog> gone = message;
        QTest::keyClick(text, Qt::Key_Escape);
        QTRY_VERIFY(!gone);
    }

    // Widening the window widens Subject and Filename, not From; the columns fill the grid;
    // the user's widths and order come back with the window.
    void gridColumnsFillAndPersist()
    {
        Mailbox box;
        const auto used = [](QHeaderView *header) {
            int sum = 0;
            for (int column = 0; column < header->count(); ++column)
                sum += header->sectionSize(column);
            return sum;
        };
        {
            MainWindow window(box.store.factory());
            window.resize(900, 400);
            window.show();
            analyse(window);
            QHeaderView *header = window.attachGrid->horizontalHeader();
            QTRY_COMPARE(used(header), window.attachGrid->viewport()->width());
            QCOMPARE(header->sectionSize(6), AttachmentGridModel::columnWidth(7)); // From
            const int subject = header->sectionSize(0);
            const int filename = header->sectionSize(3);
            QVERIFY(subject > AttachmentGridModel::columnWidth(1));
            QVERIFY(filename > AttachmentGridModel::columnWidth(4));
            window.resize(1200, 400);
            QTRY_COMPARE(used(header), window.attachGrid->viewport()->width());
            QCOMPARE(header->sectionSize(0) + header->sectionSize(3), subject + filename + 300);
            QVERIFY(header->sectionSize(0) - subject > header->sectionSize(3) - filename);
            QCOMPARE(header->sectionSize(6), AttachmentGridModel::columnWidth(7));
            window.resize(900, 400);
            QTRY_COMPARE(header->sectionSize(0), subject);
            QCOMPARE(header->sectionSize(3), filename);

            header->resizeSection(2, 120);                  // Size, wider
            header->moveSection(header->visualIndex(6), 0); // From first
            QVERIFY(window.close());
        }
        MainWindow again(box.store.factory());
        again.show();
        QHeaderView *header = again.attachGrid->horizontalHeader();
        QCOMPARE(header->sectionSize(2), 120);
        QCOMPARE(header->logicalIndex(0), 6);
        QCOMPARE(header->logicalIndex(1), 0);
        analyse(again);
        again.attachGridHeadingClick(3); // a heading click still sorts its own column
        QCOMPARE(again.gridModel().marker(3), AttachmentGridModel::Marker::Down);
    }

    void sortingByHeadings()
    {
        Mailbox box;
        MainWindow window(box.store.factory());
        analyse(window);
        auto &model = window.gridModel();
        const auto subjects = [&] {
            QStringList result;
            for (int row = 0; row < model.rowCount(); ++row)
                result << model.index(row, 0).data().toString();
            return result;
        };
        window.attachGrid->selectionModel()->select(
            model.index(0, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        window.attachGridHeadingClick(3);
        QCOMPARE(model.marker(3), AttachmentGridModel::Marker::Down);
        QCOMPARE(subjects().first(), QStringLiteral("Small"));
        window.attachGridHeadingClick(3);
        QCOMPARE(model.marker(3), AttachmentGridModel::Marker::Up);
        QCOMPARE(subjects().first(), QStringLiteral("Big"));
        window.attachGridHeadingClick(3);
        QCOMPARE(model.marker(3), AttachmentGridModel::Marker::Down);
        window.attachGridHeadingClick(6);
        QCOMPARE(model.marker(3), AttachmentGridModel::Marker::None);
        QCOMPARE(model.marker(6), AttachmentGridModel::Marker::Down);
        // The selection keeps its row number, whatever the row shows now.
        const auto selected = window.attachGrid->selectionModel()->selectedRows();
        QCOMPARE(selected.size(), 1);
        QCOMPARE(selected.first().row(), 0);
    }

    // Attachment size shows each attachment's own size after the email's Size, formatted
    // alike, and sorts by it; a column order stored before it came puts it after Size.
    void attachmentSizeColumn()
    {
        Mailbox box;
        // The smallest attachment in the largest email and the other way round.
        const auto tiny = box.store.addItem(box.inbox, QStringLiteral("Tiny"), {"t.txt"});
        tiny->size = 50'000;
        tiny->attachments[0].content = QByteArray(10, 'x');
        const auto huge = box.store.addItem(box.inbox, QStringLiteral("Huge"), {"h.bin"});
        huge->size = 2000;
        huge->attachments[0].content = QByteArray(3'000'000, 'y');
        TRegistry().DeleteKey(GridColumns::key());
        {
            // With nothing stored, the columns stand as the grid first shows them.
            MainWindow fresh(box.store.factory());
            const QHeaderView *header = fresh.attachGrid->horizontalHeader();
            for (int visual = 0; visual < attachColumnCount; ++visual)
                QCOMPARE(header->logicalIndex(visual), int(shownColumnOrder()[visual]) - 1);
        }
        {
            TRegistry registry;
            QVERIFY(registry.OpenKey(GridColumns::key(), true));
            registry.WriteString(QStringLiteral("Column order"), QStringLiteral("6,0,1,2,3,4,5"));
            registry.WriteString(QStringLiteral("Column widths"),
                                 QStringLiteral("230,79,120,81,41,150,89"));
        }
        MainWindow window(box.store.factory());
        window.show();
        QHeaderView *header = window.attachGrid->horizontalHeader();
        QCOMPARE(header->logicalIndex(0), 6); // From first, as stored
        QCOMPARE(header->sectionSize(2), 120);
        QCOMPARE(header->visualIndex(7), header->visualIndex(2) + 1);
        QCOMPARE(header->sectionSize(7), AttachmentGridModel::columnWidth(8));
        analyse(window);
        auto &model = window.gridModel();
        QCOMPARE(model.columnCount(), 8);
        QCOMPARE(model.headerData(7, Qt::Horizontal, Qt::DisplayRole).toString(),
                 QStringLiteral("Attachment size"));
        const auto row = [&](int r) {
            return QStringList{model.index(r, 0).data().toString(),
                               model.index(r, 2).data().toString(),
                               model.index(r, 7).data().toString()};
        };
        window.attachGridHeadingClick(8);
        QCOMPARE(model.marker(8), AttachmentGridModel::Marker::Down);
        QCOMPARE(row(0), QStringList({"Tiny", "50KB", "1KB"}));
        QCOMPARE(row(model.rowCount() - 1), QStringList({"Huge", "2KB", "3MB"}));
        window.attachGridHeadingClick(8);
        QCOMPARE(model.marker(8), AttachmentGridModel::Marker::Up);
        QCOMPARE(row(0).first(), QStringLiteral("Huge"));
        // Sorting by Size still sorts by the email's size.
        window.attachGridHeadingClick(3);
        QCOMPARE(model.marker(8), AttachmentGridModel::Marker::None);
        QCOMPARE(row(0).first(), QStringLiteral("Small"));
        QCOMPARE(row(model.rowCount() - 1).first(), QStringLiteral("Tiny"));
        QVERIFY(window.close());
        // Saved with its eighth column, the order comes back as it was.
        MainWindow again(box.store.factory());
        QCOMPARE(again.attachGrid->horizontalHeader()->logicalIndex(0), 6);
        QCOMPARE(again.attachGrid->horizontalHeader()->visualIndex(7),
                 again.attachGrid->horizontalHeader()->visualIndex(2) + 1);
    }

    void checksThatStopACommand()
    {
        Mailbox box;
        MainWindow window(box.store.factory());
        window.folderChoice->click();
        QString message;
        whenModal([](QWidget *m) { pressButton(m, QMessageBox::Ok); }, &message);
        window.analyseButtonClick();
        QCOMPARE(message, QStringLiteral("The folder to get emails from is blank"));
        QVERIFY(!window.workerRunning());
        QCOMPARE(window.pages->currentWidget(), window.attachmentsPage);

        whenModal([](QWidget *m) { pressButton(m, QMessageBox::Ok); }, &message);
        window.startJob(true, true); // no save folder
        QCOMPARE(message, QStringLiteral("The folder to save resumes to is blank"));
        window.logToFileChoice->click();
        window.logFilename->clear();
        QVERIFY(window.destinationFolderWindow());
        whenModal([this](QWidget *m) {
            auto *chooser = qobject_cast<DestinationFolderWindow *>(m);
            chooser->folderField->setText(QStringLiteral("/tmp/saved"));
            screenshot(chooser, "destination-folder");
            chooser->accept();
        });
        whenModal([](QWidget *m) { pressButton(m, QMessageBox::Ok); }, &message);
        window.copyAttachmentsClick();
        QCOMPARE(message, QStringLiteral("The log filename is blank"));
        QVERIFY(!window.workerRunning());
        window.pages->setCurrentWidget(window.optionsPage);
        screenshot(&window, "options-page");
    }

    void detachClearsTheGrid()
    {
        Mailbox box;
        QTemporaryDir out;
        MainWindow window(box.store.factory());
        window.show();
        analyse(window);
        window.selectAll();
        whenModal([&](QWidget *m) {
            auto *chooser = qobject_cast<DestinationFolderWindow *>(m);
            chooser->folderField->setText(out.path());
            chooser->accept();
        });
        window.detachAttachmentsClick();
        QTRY_VERIFY_WITH_TIMEOUT(!window.workerRunning(), 10000);
        QCOMPARE(window.attachGrid->model()->rowCount(), 0);
        QCOMPARE(window.pages->currentWidget(), window.startingFolderPage);
        QCOMPARE(window.analysisSummary->text(), QString()); // the list it told of has gone
        QVERIFY(QFile::exists(out.path() + QStringLiteral("/Inbox/Big.zip")));
        const auto statusWindows = window.findChildren<StatusWindow *>();
        QCOMPARE(statusWindows.size(), 1);
        QCOMPARE(statusWindows[0]->cancelButton->text(), QStringLiteral("&OK"));
        QCOMPARE(statusWindows[0]->statusText->text(),
                 QStringLiteral("Complete. 4 attachment(s) processed\n"
                                "Freed 66 bytes in 4 attachment(s) of 3 email(s)"));
        screenshot(statusWindows[0], "status-window");
        QTest::keyClick(statusWindows[0], Qt::Key_Return); // Enter answers OK
        QTRY_VERIFY(window.findChildren<StatusWindow *>().isEmpty());
    }

    // A log file that cannot be opened, or that cannot take what is written (a full
    // disk), is reported in the program's error box, and the job runs on without its log.
    void logFileThatFailsShowsAnErrorBox_data()
    {
        QTest::addColumn<bool>("full");
        QTest::newRow("cannot be opened") << false;
        QTest::newRow("disk full") << true;
    }
    void logFileThatFailsShowsAnErrorBox()
    {
        QFETCH(bool, full);
        Mailbox box;
        QTemporaryDir dir;
        QFile notAFolder(dir.filePath(QStringLiteral("notes.txt")));
        QVERIFY(notAFolder.open(QIODevice::WriteOnly));
        notAFolder.close();
        // A log at the file size limit takes no more: every entry fails as on a full disk.
        // It is far larger than the program's other files, which the limit leaves be.
        const QString logPath = full ? dir.filePath(QStringLiteral("full.log"))
                                     : notAFolder.fileName() + QStringLiteral("/job.log");
        const QByteArray content = "Quillbrook Log File\r\n" + QByteArray(1 << 20, ' ');
        if (full) {
            QFile log(logPath);
            QVERIFY(log.open(QIODevice::WriteOnly));
            log.write(content);
        }
        std::optional<FileSizeLimit> limit;
        if (full)
            limit.emplace(rlim_t(content.size()));
        MainWindow window(box.store.factory());
        window.show();
        analyse(window);
        window.logToFileChoice->click();
        window.logFilename->setText(logPath);
        window.selectAll();
        QString title;
        QString message;
        whenModal(
            [&title](QWidget *m) {
                title = m->windowTitle();
                pressButton(m, QMessageBox::Ok);
            },
            &message);
        window.startJob(true, false);
        QTRY_COMPARE(title, QStringLiteral("Error"));
        QVERIFY2(message.startsWith(QStringLiteral("Error writing to log file ") + logPath),
                 qPrintable(message));
        QVERIFY2(message.contains(QStringLiteral("logging is now disabled")), qPrintable(message));
        QTRY_VERIFY_WITH_TIMEOUT(!window.workerRunning(), 10000);
        const auto statusWindows = window.findChildren<StatusWindow *>();
        QCOMPARE(statusWindows.size(), 1);
        QCOMPARE(statusWindows[0]->statusText->text(),
                 QStringLiteral("Complete. 4 attachment(s) processed\n"
                                "Freed 66 bytes in 4 attachment(s) of 3 email(s)"));
        if (!full)
            QVERIFY(!QFile::exists(logPath));
    }

    // A job whose log file is no log (a settings file may name any file) does not start,
    // and the file keeps its bytes.
    void logFileThatIsNoLogStopsTheJob()
    {
        Mailbox box;
        QTemporaryDir dir;
        const QString bashrc = dir.filePath(QStringLiteral("bashrc"));
        {
            QFile file(bashrc);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("alias ll='ls -l'\n");
        }
        MainWindow window(box.store.factory());
        window.show();
        analyse(window);
        window.logToFileChoice->click();
        window.logFilename->setText(bashrc);
        window.selectAll();
        QString message;
        whenModal([](QWidget *m) { pressButton(m, QMessageBox::Ok); }, &message);
        window.startJob(true, false);
        QVERIFY2(message.startsWith(QStringLiteral("Cannot log to ") + bashrc),
                 qPrintable(message));
        QVERIFY(!window.workerRunning());
        QVERIFY(window.findChildren<StatusWindow *>().isEmpty());
        QCOMPARE(window.attachGrid->model()->rowCount(), 4);
        QFile file(bashrc);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("alias ll='ls -l'\n"));
    }

    // The log chooser takes an existing log without asking to replace it (jobs add to
    // it), and does not take a file that is no log.
    void logFileChooser()
    {
        QTemporaryDir dir;
        const QString log = dir.filePath(QStringLiteral("jobs.log"));
        const QString notes = dir.filePath(QStringLiteral("notes.txt"));
        for (const auto &[path, content] : {std::pair{log, QByteArray("Quillbrook Log File\r\n")},
                                            std::pair{notes, QByteArray("not a log\n")}}) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        }
        Mailbox box;
        MainWindow window(box.store.factory());
        window.show();
        window.browseLog->setOption(QFileDialog::DontUseNativeDialog);
        // Until the end: the chooser picks *pick, and each message box shown is noted
        // and answered Yes (or OK).
        auto watching = std::make_shared<bool>(true);
        QString pick;
        QStringList boxes;
        auto poll = std::make_shared<std::function<void()>>();
        *poll = [&, watching, poll] {
            if (!*watching)
                return;
            QTimer::singleShot(10, *poll); // first: a question can show inside accept()
            QWidget *modal = QApplication::activeModalWidget();
            if (auto *chooser = qobject_cast<QFileDialog *>(modal)) {
                // As typed: a name the filter hides is not selected in the list.
                chooser->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(pick);
                static_cast<QDialog *>(chooser)->accept(); // asks here, if it asks
            } else if (auto *question = qobject_cast<QMessageBox *>(modal)) {
                boxes << question->text();
                QAbstractButton *yes = question->button(QMessageBox::Yes);
                (yes ? yes : question->button(QMessageBox::Ok))->click();
            }
        };
        QTimer::singleShot(10, *poll);
        const auto stop = qScopeGuard([watching] { *watching = false; });

        pick = log;
        window.browseLogFileClick();
        QCOMPARE(boxes, QStringList());
        QCOMPARE(window.logFilename->text(), log);
        pick = notes;
        window.browseLogFileClick();
        QCOMPARE(boxes.size(), 1);
        QVERIFY2(boxes[0].startsWith(QStringLiteral("Cannot log to ") + notes),
                 qPrintable(boxes[0]));
        QCOMPARE(window.logFilename->text(), log);
    }

    // A long result shows whole, and the job's log file is named with a link that opens it.
    void jobResultStaysReadable()
    {
        Mailbox box;
        QTemporaryDir dir;
        QFile notAFolder(dir.filePath(QStringLiteral("file")));
        QVERIFY(notAFolder.open(QIODevice::WriteOnly));
        notAFolder.close();
        const QString logPath = dir.filePath(QStringLiteral("logs of this week/job.log"));
        QVERIFY(QDir().mkpath(QFileInfo(logPath).path()));
        MainWindow window(box.store.factory());
        window.show();
        analyse(window);
        window.logToFileChoice->click();
        window.logFilename->setText(logPath);
        window.selectAll();
        whenModal([&](QWidget *m) {
            auto *chooser = qobject_cast<DestinationFolderWindow *>(m);
            chooser->folderField->setText(notAFolder.fileName()); // every save fails
            chooser->accept();
        });
        window.detachAttachmentsClick();
        QTRY_VERIFY_WITH_TIMEOUT(!window.workerRunning(), 10000);
        auto *status = window.findChildren<StatusWindow *>().value(0);
        QVERIFY(status);
        const QString result =
            QStringLiteral("Complete. 4 attachment(s) processed, 4 failed - see the log");
        QCOMPARE(status->statusText->text(), result);
        QLabel *text = status->statusText;
        QVERIFY(text->fontMetrics().horizontalAdvance(result) > text->width()); // needs two lines
        QVERIFY(text->wordWrap());
        QVERIFY(text->height() >= text->heightForWidth(text->width()));
        QVERIFY(status->geometry().contains(text->geometry().translated(status->pos())));
        QVERIFY(text->geometry().bottom() < status->logLink->geometry().top());
        QVERIFY(status->logLink->geometry().bottom() < status->taskProgress->geometry().top());
        QVERIFY(status->cancelButton->geometry().bottom() < status->height());
        QVERIFY(status->logLink->isVisible());
        QCOMPARE(status->logLink->toolTip(), logPath);
        screenshot(status, "status-window-result");

        // The link opens the log file.
        QList<QUrl> opened;
        UrlCatcher catcher(&opened);
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
        const auto unset =
            qScopeGuard([] { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); });
        const QString label = status->logLink->text();
        const QString href = label.section(QLatin1Char('"'), 1, 1);
        Q_EMIT status->logLink->linkActivated(href);
        QCOMPARE(opened, QList<QUrl>({QUrl::fromLocalFile(logPath)}));
    }

    // Texts from mail, folders, servers and files show as they are: read as HTML, an <img>
    // among them would load the file that it names.
    void outsideTextsShowAsTheyAre()
    {
        const QString markup = QStringLiteral("<img src=\"/nonexistent/q3.png\"><b>Q3</b>");
        MemoryStore store;
        const auto top = store.addStore(QStringLiteral("Personal Folders"));
        const auto inbox = store.addFolder(top, markup);
        store.setDefaultInbox(inbox);
        store.addItem(inbox, markup, {"q3.pdf"});
        MainWindow window(store.factory());
        window.show();
        analyse(window);
        // A tool tip is read as HTML whenever its text looks like it.
        const auto shownTip = [](const QString &tip) {
            QTextDocument shown;
            if (Qt::mightBeRichText(tip))
                shown.setHtml(tip);
            else
                shown.setPlainText(tip);
            return shown.toPlainText();
        };
        QCOMPARE(shownTip(window.gridModel().index(0, 0).data(Qt::ToolTipRole).toString()), markup);

        BoxWatcher boxes;
        StatusWindow status(nullptr);
        status.showStatus(markup);     // a worker's status names folders and emails
        window.showStatusText(markup); // a hint names a recent file
        window.showError(markup);      // an error names a file
        window.updateCheck()->showWindow();
        window.updateCheck()->window()->HTTPGet1DoneString("Quillbrook," + markup + "\n");
        QCOMPARE(boxes.seen.size(), 2);
        for (const BoxWatcher::Seen &seen : std::as_const(boxes.seen)) {
            QVERIFY(seen.text.contains(markup));
            QCOMPARE(seen.format, Qt::PlainText);
        }
        int labels = 0;
        for (QWidget *widget : QApplication::allWidgets()) {
            auto *label = qobject_cast<QLabel *>(widget);
            if (label && label->text().contains(markup)) {
                ++labels;
                QVERIFY2(label->textFormat() == Qt::PlainText, qPrintable(label->objectName()));
            }
        }
        QCOMPARE(labels, 2);
    }

    void statusWindowButtons()
    {
        StatusWindow form(nullptr);
        QCOMPARE(form.cancelButton->text(), QStringLiteral("&Cancel"));
        QTest::keyClick(&form, Qt::Key_Return); // Enter does nothing while it is Cancel
        QCOMPARE(form.buttonKind(), StatusWindow::ButtonKind::Cancel);
        QTest::keyClick(&form, Qt::Key_Escape); // Esc cancels
        QCOMPARE(form.cancelButton->text(), QStringLiteral("&Close"));
        QTest::keyClick(&form, Qt::Key_Escape); // and then neither key does anything
        QVERIFY(form.isVisible());
        form.markFinished();
        QCOMPARE(form.cancelButton->text(), QStringLiteral("&OK"));
        form.setAttribute(Qt::WA_DeleteOnClose, false);
        form.cancelButton->click();
        QVERIFY(!form.isVisible());
    }

    void modifiedMarkAndClosing()
    {
        Mailbox box;
        MainWindow window(box.store.factory());
        window.show();
        window.logToFileChoice->click();
        QVERIFY(window.isModified());
        QCOMPARE(window.windowTitle(),
                 QStringLiteral("Untitled (modified) - Quillbrook by Vellmor Software"));
        window.setModified(false);
        window.logFilename->setText(QStringLiteral("other.log"));
        QVERIFY(window.isModified());
        window.setModified(false);
        window.folderChoice->click();
        QVERIFY(window.isModified());

        whenModal([](QWidget *m) { pressButton(m, QMessageBox::Cancel); });
        QVERIFY(!window.close());
        QVERIFY(window.isVisible());
        whenModal([](QWidget *m) { pressButton(m, QMessageBox::No); });
        QVERIFY(window.close());
        // The registry has the settings, saved to a file or not.
        TSettings stored;
        stored.loadFromRegistry();
        QCOMPARE(stored.logFilename, QStringLiteral("other.log"));
        QVERIFY(stored.logToFile);
        QVERIFY(!stored.getFromDefaultFolder);
    }

    void settingsFilesAndRecentFiles()
    {
        Mailbox box;
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("weekly.qbk"));
        {
            MainWindow window(box.store.factory());
            window.logToFileChoice->click();
            QVERIFY(window.saveFile(file));
            QCOMPARE(window.windowTitle(),
                     QStringLiteral("weekly.qbk - Quillbrook by Vellmor Software"));
            QVERIFY(!window.isModified());
            QVERIFY(window.recentFilesMenu->isEnabled());
            window.close();
        }
        MainWindow window(box.store.factory());
        QCOMPARE(window.recentFilesMenu->actions().size(), 1);
        QVERIFY(
            window.recentFilesMenu->actions().first()->text().startsWith(QStringLiteral("&1 /")));
        window.noLoggingChoice->click();
        whenModal([](QWidget *m) { pressButton(m, QMessageBox::No); });
        window.recentFilesMenu->actions().first()->trigger(); // asks first, then opens
        QVERIFY(window.logToFileChoice->isChecked());
        QCOMPARE(window.windowTitle(),
                 QStringLiteral("weekly.qbk - Quillbrook by Vellmor Software"));

        QString message;
        whenModal([](QWidget *m) { pressButton(m, QMessageBox::Ok); }, &message);
        QVERIFY(!window.openFile(dir.filePath(QStringLiteral("missing.qbk"))));
        QCOMPARE(message,
                 QStringLiteral("Cannot open file ") + dir.filePath(QStringLiteral("missing.qbk")));
        QCOMPARE(window.windowTitle(),
                 QStringLiteral("weekly.qbk - Quillbrook by Vellmor Software"));
        window.setModified(false);
    }

    void mailFolderChooserTree()
    {
        Mailbox box;
        MailFolderChooser chooser(box.store.factory(), nullptr, nullptr);
        chooser.show();
        QTreeWidgetItem *root = chooser.folderTree->topLevelItem(0);
        QCOMPARE(root->text(0), QStringLiteral("Email Folders"));
        QCOMPARE(root->childCount(), 1);
        QTreeWidgetItem *store = root->child(0);
        QCOMPARE(store->childCount(), 2); // Archive and Inbox; no Calendar
        QCOMPARE(store->child(0)->text(0), QStringLiteral("Archive"));
        QVERIFY(store->isExpanded());
        // It opens on the default Inbox, ready to be taken.
        QCOMPARE(chooser.folderTree->currentItem(), store->child(1));
        QCOMPARE(chooser.selectedPath(), QStringLiteral("Email Folders\\Personal Folders\\Inbox"));
        QCOMPARE(chooser.selectedEntryId(), box.inbox->entryId);
        QVERIFY(chooser.okButton->isEnabled());
        QVERIFY(!store->child(0)->icon(0).isNull());
        chooser.folderTree->setCurrentItem(store->child(1)->child(0));
        QCOMPARE(chooser.selectedPath(),
                 QStringLiteral("Email Folders\\Personal Folders\\Inbox\\Projects"));
        const QString projects = chooser.selectedEntryId();
        QVERIFY(!projects.isEmpty());
        // The root is no folder to analyse: OK cannot take it.
        chooser.folderTree->setCurrentItem(root);
        QVERIFY(!chooser.okButton->isEnabled());
        QCOMPARE(chooser.selectedEntryId(), projects);
        const int reads = int(box.store.calls().size());
        chooser.hide();
        chooser.preselect(projects);
        chooser.show(); // shown again: not read again, and on the folder asked for
        QCOMPARE(int(box.store.calls().size()), reads);
        QCOMPARE(chooser.folderTree->currentItem(), store->child(1)->child(0));
        QVERIFY(chooser.okButton->isEnabled());
        screenshot(&chooser, "folder-chooser");
    }

    // Translations and placements already on disk name the windows as they were first
    // named: a window reads and teaches its own section and keeps its own registry key.
    void windowsKeepTheirLanguageSectionsAndPlacementKeys()
    {
        const QString languageFile = TStringLoader::defaultPath();
        const auto removeLanguageFile = qScopeGuard([&] { QFile::remove(languageFile); });
        QVERIFY(QDir().mkpath(QFileInfo(languageFile).path()));
        {
            QFile file(languageFile);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("[TForm1]\nanalyseButton.Caption=&Untersuchen...\n"
                       "[TTstatusForm]\ncancelButton.Caption=&Abbrechen\n"
                       "[TchooseFolder]\nrefreshButton.Caption=&Neu laden\n"
                       "[TfolderChooser]\nbrowseButton.Caption=Suchen\n");
        }
        Mailbox box;
        QRect mainBounds;
        {
            MainWindow window(box.store.factory());
            window.show();
            QCOMPARE(window.analyseButton->text(), QStringLiteral("&Untersuchen..."));
            QCOMPARE(window.destinationFolderWindow()->browseButton->text(),
                     QStringLiteral("Suchen"));
            {
                StatusWindow status(window.stringLoader());
                QCOMPARE(status.cancelButton->text(), QStringLiteral("&Abbrechen"));
                MailFolderChooser chooser(box.store.factory(), window.stringLoader(), nullptr);
                QCOMPARE(chooser.refreshButton->text(), QStringLiteral("&Neu laden"));
            }
            QString folder = QStringLiteral("/tmp/saved");
            whenModal([](QWidget *m) { qobject_cast<QDialog *>(m)->accept(); });
            QVERIFY(window.destinationFolderWindow()->choose(folder));
            mainBounds = window.frameGeometry();
            QVERIFY(window.close());
        }
        QFile file(languageFile);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const IniFile learned = IniFile::parse(file.readAll());
        QCOMPARE(learned.value("TForm1", "analyseButton.Caption"), QByteArray("&Untersuchen..."));
        QCOMPARE(learned.value("TForm1", "copyAttachments.Caption"),
                 QByteArray("Save attachments..."));
        QCOMPARE(learned.value("TForm1", "OpenDialog.Title"),
                 QByteArray("Load Quillbrook settings"));
        QVERIFY(!learned.contains("TForm1", "lookInLabel.Caption")); // the file dialogs' own
        QCOMPARE(learned.value("TTstatusForm", "TstatusForm.Caption"),
                 QByteArray("Processing emails..."));
        QCOMPARE(learned.value("TchooseFolder", "Label9.Caption"), QByteArray("&New folder:"));
        QCOMPARE(learned.value("TfolderChooser", "Label1.Caption"),
                 QByteArray("&Folder to save resumes to"));

        TRegistry registry;
        QVERIFY(registry.OpenKey(QStringLiteral("Software\\Vellmor Software\\Quillbrook\\main"),
                                 false));
        QCOMPARE(readIntegerOr(registry, QStringLiteral("Width"), -1), mainBounds.width());
        QCOMPARE(readIntegerOr(registry, QStringLiteral("WindowState"), -1), 1);
        QVERIFY(registry.OpenKey(
            QStringLiteral("Software\\Vellmor Software\\Tamberline\\chooseFolder"), false));
        QCOMPARE(readIntegerOr(registry, QStringLiteral("WindowState"), -1), 1);
        QVERIFY(registry.OpenKey(QStringLiteral("Software\\Vellmor Software\\Quillbrook\\Form2"),
                                 false));
        QCOMPARE(readIntegerOr(registry, QStringLiteral("WindowState"), -1), 1);
    }

    // Each window comes back with the bounds it was closed with, frame included, however
    // often the program starts; under a window manager too (run this with the xcb platform).
    void placementsKeepTheirSizeOverRestarts()
    {
        Mailbox box;
        QList<QRect> mains;
        QList<QRect> destinations;
        QList<QRect> choosers;
        for (int start = 0; start < 10; ++start) {
            MainWindow window(box.store.factory());
            window.show();
            if (start == 0) {
                settledFrame(&window);
                window.resize(720, 430); // the user's choice
                window.move(30, 40);
            }
            mains << settledFrame(&window);
            whenModal([&](QWidget *modal) {
                destinations << settledFrame(modal);
                qobject_cast<QDialog *>(modal)->reject();
            });
            QString folder;
            window.destinationFolderWindow()->choose(folder);
            {
                MailFolderChooser chooser(box.store.factory(), nullptr, &window);
                chooser.show();
                choosers << settledFrame(&chooser);
            }
            QVERIFY(window.close());
        }
        for (const auto *bounds : {&mains, &destinations, &choosers}) {
            QCOMPARE(bounds->size(), 10);
            QVERIFY(!bounds->first().isEmpty());
            for (const QRect &later : *bounds)
                QCOMPARE(later, bounds->first());
        }
        QCOMPARE(mains.first().topLeft(), QPoint(30, 40));
    }

    // A placement with "Top" missing applies nothing, and the main window is not centred.
    void placementWithoutTopKeepsTheDefaultPosition()
    {
        TRegistry registry;
        QVERIFY(
            registry.OpenKey(QStringLiteral("Software\\Vellmor Software\\Quillbrook\\main"), true));
        registry.WriteInteger(QStringLiteral("Width"), 800);
        registry.WriteInteger(QStringLiteral("Height"), 500);
        registry.WriteInteger(QStringLiteral("Left"), 100);
        Mailbox box;
        MainWindow window(box.store.factory());
        QCOMPARE(window.size(), QSize(600, 340));
        QVERIFY(!window.testAttribute(Qt::WA_Moved)); // not centred
        registry.DeleteKey(QStringLiteral("Software\\Vellmor Software\\Quillbrook\\main"));
        MainWindow designed(box.store.factory());
        QVERIFY(designed.testAttribute(Qt::WA_Moved)); // centred
    }

    void closingWithYesAndACancelledSaveStillCloses()
    {
        Mailbox box;
        MainWindow window(box.store.factory());
        window.show();
        window.logToFileChoice->click();
        whenModal([&window](QWidget *m) {
            pressButton(m, QMessageBox::Yes);
            // Yes saves; with no file name that asks for one, and the question is cancelled.
            whenShown(
                [&window]() -> QWidget * {
                    return QApplication::activeModalWidget() == window.saveDialog
                               ? window.saveDialog
                               : nullptr;
                },
                [&window](QWidget *) { window.saveDialog->reject(); });
        });
        QVERIFY(window.close());
        TSettings stored;
        stored.loadFromRegistry();
        QVERIFY(stored.logToFile);
    }

    // A job meets an email whose file has gone: the warning holds it up, and Cancel
    // pressed meanwhile ends it after that email.
    void maildirJobWarnedAndCancelled()
    {
        QTemporaryDir dir;
        const QString root = dir.path() + QStringLiteral("/Mail");
        QVERIFY(makeMaildir(root, 6));
        MainWindow window(maildir::storeFactory({root}));
        window.show();
        analyse(window);
        QCOMPARE(window.attachGrid->model()->rowCount(), 6);
        QCOMPARE(window.attachGrid->model()->index(0, 6).data().toString(), QStringLiteral("Ann"));
        const QString third = window.attachGrid->model()->index(2, 0).data().toString();
        QVERIFY(QFile::remove(root + QStringLiteral("/cur/") + third.section(u' ', 1) +
                              QStringLiteral(".host:2,S")));
        window.selectAll();
        QString warning;
        QString afterCancel;
        std::optional<InFront> warningBox;
        whenModal(
            [&](QWidget *modal) {
                warningBox.emplace(modal);
                auto *status = window.findChildren<StatusWindow *>().value(0);
                status->cancelButton->click();
                afterCancel = status->cancelButton->text();
                pressButton(modal, QMessageBox::Ok);
            },
            &warning);
        window.startJob(true, false);
        QTRY_VERIFY_WITH_TIMEOUT(!window.workerRunning(), 10000);
        QCOMPARE(warning, QStringLiteral("Cannot locate email\r\n") + third);
        QVERIFY(warningBox && warningBox->visible && warningBox->ownedByStatusWindow);
        QVERIFY(!warningBox->statusWindowOnTop);
        QCOMPARE(afterCancel, QStringLiteral("&Close"));
        auto *status = window.findChildren<StatusWindow *>().value(0);
        QVERIFY(status);
        // The email that has gone is not started once Cancel was pressed.
        QCOMPARE(status->statusText->text(),
                 QStringLiteral("INCOMPLETE. 2 attachment(s) processed\nFreed 2 bytes in 2 "
                                "attachment(s) of 2 email(s); the 1 folder(s) changed went from "
                                "880 bytes to 860 bytes"));
        QCOMPARE(status->cancelButton->text(), QStringLiteral("&OK"));
        QCOMPARE(window.attachGrid->model()->rowCount(), 0);
        // Two emails lost their attachment, one is gone, three kept theirs.
        analyse(window);
        QCOMPARE(window.attachGrid->model()->rowCount(), 3);
    }

    // A source folder that the store no longer has, or the root of the folder tree:
    // the warning comes in front of the status window, which shows its last text.
    void warningInFrontOfTheStatusWindow_data()
    {
        QTest::addColumn<QString>("folderName");
        QTest::addColumn<QString>("folderId");
        QTest::newRow("folder gone") << "Email Folders\\Personal Folders\\Gone"
                                     << "no-such-id";
        QTest::newRow("root") << "Email Folders"
                              << "";
    }
    void warningInFrontOfTheStatusWindow()
    {
        QFETCH(QString, folderName);
        QFETCH(QString, folderId);
        Mailbox box;
        MainWindow window(box.store.factory());
        window.settings().getFromDefaultFolder = false;
        window.settings().fromFolderName = folderName;
        window.settings().fromFolderEntryId = folderId;
        window.settingsToControls();
        window.show();
        QString warning;
        QString statusShown;
        std::optional<InFront> warningBox;
        whenModal(
            [&](QWidget *modal) {
                warningBox.emplace(modal);
                if (auto *status = qobject_cast<StatusWindow *>(modal->parentWidget()))
                    statusShown = status->statusText->text();
                screenshot(modal->parentWidget(), "warning-over-status-window");
                pressButton(modal, QMessageBox::Ok);
            },
            &warning);
        analyse(window);
        QCOMPARE(warning, QStringLiteral("Cannot locate source folder\r\n") + folderName +
                              QStringLiteral("\r\n - mail items cannot be located. Exiting"));
        QVERIFY(warningBox && warningBox->visible && warningBox->ownedByStatusWindow);
        QVERIFY(!warningBox->statusWindowOnTop);
        QCOMPARE(statusShown, QStringLiteral("Locating source mail folder..."));
        QCOMPARE(window.analysisSummary->text(),
                 QStringLiteral(
                     "Analysis ended early, list incomplete: 0 emails analysed, no attachments"));
        // Once the warning has gone, the status window is on top again.
        auto *status = window.findChildren<StatusWindow *>().value(0);
        QVERIFY(status);
        QTRY_VERIFY(status->windowHandle()->flags() & Qt::WindowStaysOnTopHint);
        QCOMPARE(status->cancelButton->text(), QStringLiteral("&OK"));
        // The main window's own questions come in front of it too.
        std::optional<InFront> question;
        whenModal([&](QWidget *modal) {
            question.emplace(modal);
            pressButton(modal, QMessageBox::No);
        });
        window.deleteAttachmentsClick();
        QVERIFY(question && question->visible && question->ownedByStatusWindow);
    }

    // Cancel, by the button or the close box, as soon as the status window shows: the
    // worker stops before its walk, and the status bar says the list is incomplete.
    // (Where within a walk a cancel stops is the analysis's own test.)
    void cancelDuringAnalysis_data()
    {
        QTest::addColumn<bool>("closeBox");
        QTest::newRow("cancel button") << false;
        QTest::newRow("close box") << true;
    }
    void cancelDuringAnalysis()
    {
        QFETCH(bool, closeBox);
        Mailbox box;
        MainWindow window(box.store.factory());
        window.show();
        window.analyseButtonClick();
        // The worker waits for this thread to take its first step.
        QPointer<StatusWindow> status = window.findChildren<StatusWindow *>().first();
        if (closeBox)
            status->close();
        else
            status->cancelButton->click();
        QTRY_VERIFY_WITH_TIMEOUT(!window.workerRunning(), 10000);
        QCOMPARE(window.attachGrid->model()->rowCount(), 0);
        QCOMPARE(window.analysisSummary->text(),
                 QStringLiteral("Analysis cancelled, list incomplete: 0 emails analysed, "
                                "no attachments"));
        if (closeBox) {
            QTRY_VERIFY(!status);
            return;
        }
        QCOMPARE(status->cancelButton->text(), QStringLiteral("&OK"));
        QCOMPARE(status->statusText->text(),
                 QStringLiteral("Interrupted by user. 0 emails processed"));
        status->cancelButton->click();
        QTRY_VERIFY(!status);
    }
};

QTEST_MAIN(TestMainWindow)
#include "test_mainwindow.moc"
