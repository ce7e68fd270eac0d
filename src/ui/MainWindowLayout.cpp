// The main window's menus, tool bar and pages.
#include "AttachmentGridModel.h"
#include "GridColumns.h"
#include "MailStoresPanel.h"
#include "MainWindow.h"
#include "ObjectNames.h"
#include "SummaryPage.h"
#include "TMRUManager.h"
#include "UpdateCheck.h"

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTabWidget>
#include <QTableView>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

QFileDialog *fileDialog(QWidget *parent, const char *name, const QString &title,
                        const QStringList &filters, const QString &suffix)
{
    auto *dialog = named(new QFileDialog(parent), name);
    dialog->setWindowTitle(title);
    dialog->setNameFilters(filters);
    dialog->setDefaultSuffix(suffix);
    dialog->setDirectory(QDir::currentPath());
    return dialog;
}

} // namespace

void MainWindow::buildMenus()
{
    QMenu *file = named(menuBar()->addMenu(QStringLiteral("&File")), "File1");
    openAction =
        named(file->addAction(QStringLiteral("&Open..."), this, &MainWindow::open), "Open1");
    openAction->setShortcut(QKeySequence::Open);
    saveAction = named(file->addAction(QStringLiteral("&Save"), this, &MainWindow::save), "Save1");
    saveAction->setShortcut(QKeySequence::Save);
    saveAsAction =
        named(file->addAction(QStringLiteral("Save as..."), this, &MainWindow::saveAs), "Saveas1");
    recentFilesMenu = named(file->addMenu(QStringLiteral("&Recent files")), "Recentfiles1");
    file->addSeparator();
    exitAction = named(file->addAction(QStringLiteral("E&xit"), this, &QWidget::close), "Exit1");
    exitAction->setShortcut(QKeySequence(Qt::ALT | Qt::Key_F4));
    exitAction->setStatusTip(QStringLiteral("Close this program"));
    QMenu *edit = named(menuBar()->addMenu(QStringLiteral("&Edit")), "Edit1");
    selectAllAction = named(
        edit->addAction(QStringLiteral("Se&lect All"), this, &MainWindow::selectAll), "SelectAll1");
    selectAllAction->setShortcut(QKeySequence::SelectAll);
    edit->addSeparator();
    // The grid's commands, also in its right-click menu; enabled as its buttons are.
    deleteAction = named(edit->addAction(QStringLiteral("&Delete attachments"), this,
                                         &MainWindow::deleteAttachmentsClick),
                         "DeleteAttachments1");
    deleteAction->setShortcut(QKeySequence::Delete);
    detachAction = named(
        edit->addAction(QStringLiteral("De&tach..."), this, &MainWindow::detachAttachmentsClick),
        "Detach1");
    saveAttachmentsAction = named(edit->addAction(QStringLiteral("Save &attachments..."), this,
                                                  &MainWindow::copyAttachmentsClick),
                                  "SaveAttachments1");
    openEmailAction = named(
        edit->addAction(QStringLiteral("&Open email"), this, &MainWindow::openEmail), "OpenEmail1");
    openEmailAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    edit->addSeparator();
    undoAction = named(
        edit->addAction(QStringLiteral("&Undo"), this, &MainWindow::undoLastJobClick), "Undo1");
    undoAction->setShortcut(QKeySequence::Undo);
    undoAction->setStatusTip(
        QStringLiteral("Put back the emails of the last detach or save job as they were"));
    jobHistoryAction = named(
        edit->addAction(QStringLiteral("Job &history..."), this, &MainWindow::jobHistoryClick),
        "JobHistory1");
    jobHistoryAction->setStatusTip(
        QStringLiteral("List the recorded detach and save jobs, and put one back"));
    relinkAction = named(
        edit->addAction(QStringLiteral("&Relink moved files..."), this, &MainWindow::relinkClick),
        "RelinkMovedFiles1");
    helpMenu = named(menuBar()->addMenu(QStringLiteral("&Help")), "Help1");
    checkUpdatesAction =
        named(helpMenu->addAction(QStringLiteral("Check web for Quillbrook updates"), m_updateCheck,
                                  &UpdateCheck::showWindow),
              "CheckwebforQuillbrookupdates1");

    recentFiles = named(new TMRUManager(recentFilesMenu, this), "recentFiles");
    connect(recentFiles, &TMRUManager::clicked, this,
            [this](const QString &name, const QString &, qint32) { recentFilesClick(name); });

    QToolBar *tools = named(addToolBar(QStringLiteral("Tools")), "ToolBar1");
    tools->setMovable(false);
    tools->setIconSize({20, 20});
    openTool = named(tools->addAction(style()->standardIcon(QStyle::SP_DialogOpenButton),
                                      QStringLiteral("Open"), this, &MainWindow::open),
                     "ToolButton1");
    openTool->setStatusTip(QStringLiteral("Open a settings file"));
    openTool->setToolTip(openTool->statusTip());
    saveTool = named(tools->addAction(style()->standardIcon(QStyle::SP_DialogSaveButton),
                                      QStringLiteral("Save"), this, &MainWindow::save),
                     "ToolButton2");
    saveTool->setStatusTip(QStringLiteral("Save the current settings"));
    saveTool->setToolTip(saveTool->statusTip());

    const QStringList filters = {QStringLiteral("Quillbrook Files (*.qbk)"),
                                 QStringLiteral("All files (*)")};
    openDialog = fileDialog(this, "OpenDialog", QStringLiteral("Load Quillbrook settings"), filters,
                            QStringLiteral("qbk"));
    openDialog->setFileMode(QFileDialog::ExistingFile);
    openDialog->setAcceptMode(QFileDialog::AcceptOpen);
    saveDialog = fileDialog(this, "SaveDialog", QStringLiteral("Save Quillbrook settings"), filters,
                            QStringLiteral("qbk"));
    saveDialog->setAcceptMode(QFileDialog::AcceptSave);
    browseLog = fileDialog(this, "browseLog", QString(),
                           {QStringLiteral("Log files (*.log)"), QStringLiteral("All files (*)")},
                           QStringLiteral("log"));
    browseLog->setAcceptMode(QFileDialog::AcceptSave);
    // A job appends to the log it names: choosing an existing one replaces nothing.
    browseLog->setOption(QFileDialog::DontConfirmOverwrite);
}

void MainWindow::buildPages()
{
    pages = named(new QTabWidget(this), "PageControl");
    startingFolderPage = buildStartingFolderPage();
    attachmentsPage = buildAttachmentsPage();
    optionsPage = buildOptionsPage();
    pages->addTab(startingFolderPage, QStringLiteral("&1 Starting folder"));
    pages->addTab(attachmentsPage, QStringLiteral("&2 Attachments"));
    pages->addTab(optionsPage, QStringLiteral("&3 Options"));
    summaryPage = new SummaryPage(&m_list, m_loader.get());
    pages->addTab(summaryPage, QStringLiteral("&4 Summary"));
    connect(summaryPage, &SummaryPage::filterChosen, this, &MainWindow::applyFilter);
    setCentralWidget(pages);
    connect(pages, &QTabWidget::currentChanged, this, &MainWindow::updateWorkerCommands);
}

QWidget *MainWindow::buildStartingFolderPage()
{
    auto *page = named(new QWidget, "Emails");
    emailsFrom = named(new QGroupBox(QStringLiteral(" &Process emails from "), page), "emailsFrom");
    setHint(emailsFrom, QStringLiteral("Process the emails from a specified folder"));
    defaultInboxChoice = new QRadioButton(QStringLiteral("Default Inbox"));
    folderChoice = new QRadioButton(QStringLiteral("Folder:"));
    messageSource = named(new QLineEdit, "messageSource");
    messageSource->setReadOnly(true);
    messageSource->setFocusPolicy(Qt::NoFocus);
    messageSource->installEventFilter(this);
    setHint(messageSource, QStringLiteral("Please use the browse button to choose a new folder"));
    browseFromFolder = named(new QToolButton, "browseFromFolder");
    browseFromFolder->setText(QStringLiteral("..."));
    setHint(browseFromFolder, QStringLiteral("Browse for a mail folder"));

    // The choices are entries of the group, not controls of their own: unnamed, so
    // the language file leaves them as designed.
    auto *choices = new QGridLayout(emailsFrom);
    choices->addWidget(defaultInboxChoice, 0, 0, 1, 3);
    choices->addWidget(folderChoice, 1, 0);
    choices->addWidget(messageSource, 1, 1);
    choices->addWidget(browseFromFolder, 1, 2);
    choices->setColumnStretch(1, 1);

    analyseButton = named(new QPushButton(QStringLiteral("&Analyze...")), "analyseButton");
    analyseButton->setDefault(true);
    analyseButton->setAutoDefault(true);
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(emailsFrom);
    layout->addStretch();
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(analyseButton);
    layout->addLayout(buttons);

    connect(defaultInboxChoice, &QRadioButton::clicked, this, &MainWindow::emailsFromClick);
    connect(folderChoice, &QRadioButton::clicked, this, &MainWindow::emailsFromClick);
    connect(browseFromFolder, &QToolButton::clicked, this, &MainWindow::browseFromFolderClick);
    connect(analyseButton, &QPushButton::clicked, this, &MainWindow::analyseButtonClick);
    return page;
}

QWidget *MainWindow::buildAttachmentsPage()
{
    auto *page = named(new QWidget, "attachmentsSheet");
    attachGrid = named(new QTableView(page), "attachGrid");
    attachGrid->setModel(m_model);
    attachGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    attachGrid->setSelectionMode(QAbstractItemView::ExtendedSelection);
    attachGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    attachGrid->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    attachGrid->setWordWrap(false);
    attachGrid->setAlternatingRowColors(true);
    attachGrid->verticalHeader()->hide();
    attachGrid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    attachGrid->verticalHeader()->setDefaultSectionSize(attachGrid->fontMetrics().height() + 6);
    attachGrid->horizontalHeader()->setSectionsClickable(true);
    attachGrid->horizontalHeader()->setHighlightSections(false);
    m_gridColumns = new GridColumns(attachGrid);
    m_gridColumns->load();

    deleteAttachments =
        named(new QPushButton(QStringLiteral("Delete attachments")), "deleteAttachments");
    setHint(deleteAttachments,
            QStringLiteral("Delete the attachments. The attachments are NOT saved"));
    detachAttachments = named(new QPushButton(QStringLiteral("Detach...")), "detachAttachments");
    setHint(
        detachAttachments,
        QStringLiteral("Save the attachments out to files and then detach them from the email"));
    copyAttachments =
        named(new QPushButton(QStringLiteral("Save attachments...")), "copyAttachments");
    setHint(
        copyAttachments,
        QStringLiteral("Save the attachments out to file (the attachments are left unchanged)"));
    for (QPushButton *button : {deleteAttachments, detachAttachments, copyAttachments})
        button->setEnabled(false);

    auto *layout = new QVBoxLayout(page);
    buildFilterBar(page, layout);
    layout->addWidget(attachGrid, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(deleteAttachments);
    buttons->addWidget(detachAttachments);
    buttons->addWidget(copyAttachments);
    buttons->addStretch();
    layout->addLayout(buttons);

    connect(attachGrid->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &MainWindow::attachGridSelectChanged);
    connect(attachGrid->horizontalHeader(), &QHeaderView::sectionClicked, this,
            [this](int section) { attachGridHeadingClick(section + 1); });
    connect(attachGrid, &QTableView::doubleClicked, this,
            [this](const QModelIndex &index) { attachGridDblClickCell(index.row() + 1); });
    attachGrid->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(attachGrid, &QTableView::customContextMenuRequested, this,
            &MainWindow::attachGridContextMenu);
    connect(deleteAttachments, &QPushButton::clicked, this, &MainWindow::deleteAttachmentsClick);
    connect(detachAttachments, &QPushButton::clicked, this, &MainWindow::detachAttachmentsClick);
    connect(copyAttachments, &QPushButton::clicked, this, &MainWindow::copyAttachmentsClick);
    return page;
}

QWidget *MainWindow::buildOptionsPage()
{
    auto *page = named(new QWidget, "TabSheet1");
    logging = named(new QGroupBox(QStringLiteral(" &Logging "), page), "logging");
    noLoggingChoice = new QRadioButton(QStringLiteral("No logging"));
    logToFileChoice = new QRadioButton(QStringLiteral("Log actions to file:"));
    logFilename = named(new QLineEdit, "logFilename");
    browseLogFile = named(new QToolButton, "browseLogFile");
    browseLogFile->setText(QStringLiteral("..."));
    auto *choices = new QGridLayout(logging);
    choices->addWidget(noLoggingChoice, 0, 0, 1, 3);
    choices->addWidget(logToFileChoice, 1, 0);
    choices->addWidget(logFilename, 1, 1);
    choices->addWidget(browseLogFile, 1, 2);
    choices->setColumnStretch(1, 1);
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(logging);
    layout->addWidget(new MailStoresPanel(m_passwords, m_loader.get(), page), 1);

    connect(noLoggingChoice, &QRadioButton::clicked, this, &MainWindow::loggingClick);
    connect(logToFileChoice, &QRadioButton::clicked, this, &MainWindow::loggingClick);
    connect(logFilename, &QLineEdit::textChanged, this, &MainWindow::logFilenameChange);
    connect(browseLogFile, &QToolButton::clicked, this, &MainWindow::browseLogFileClick);
    return page;
}
