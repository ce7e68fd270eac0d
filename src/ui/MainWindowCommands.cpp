// The main window's commands: the source folder, Analyze, the jobs, logging and the grid.
#include "AttachmentGridModel.h"
#include "DestinationFolderWindow.h"
#include "GuiHost.h"
#include "JobHistoryWindow.h"
#include "MailFolderChooser.h"
#include "MainWindow.h"
#include "MessageWindow.h"
#include "MissingPasswords.h"
#include "PlainText.h"
#include "RelinkWindow.h"
#include "StatusWindow.h"
#include "SummaryPage.h"
#include "common/Error.h"
#include "log/LogFile.h"
#include "log/TLogManager.h"
#include "mailstore/AttachText.h"
#include "processing/FreedSpace.h"
#include "processing/TAnalyseThread.h"
#include "processing/TEmailThread.h"
#include "settings/TSettings.h"

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>

#include <QTableView>
#include <QToolButton>
#include <optional>

namespace {

const QString busyHint = QStringLiteral("Wait until the running analysis or job has ended");

} // namespace

void MainWindow::emailsFromClick()
{
    setModified(true);
    const bool chosenFolder = folderChoice->isChecked();
    messageSource->setEnabled(chosenFolder);
    browseFromFolder->setEnabled(chosenFolder);
}

void MainWindow::messageSourceClick()
{
    QApplication::beep();
    QMessageBox box(
        QMessageBox::NoIcon, QApplication::applicationName(),
        QStringLiteral("Please use the browse button (...) on the right to select a new folder"),
        QMessageBox::Ok, dialogParent());
    box.exec();
}

void MainWindow::browseFromFolderClick()
{
    // The chooser asks for an account's password when its folders are first opened.
    if (!m_mailFolderChooser)
        m_mailFolderChooser = new MailFolderChooser(m_stores, m_loader.get(), this);
    m_mailFolderChooser->preselect(m_sourceFolderEntryId);
    if (m_mailFolderChooser->exec() != QDialog::Accepted)
        return;
    messageSource->setText(m_mailFolderChooser->selectedPath());
    m_sourceFolderEntryId = m_mailFolderChooser->selectedEntryId();
    setModified(true);
}

void MainWindow::analyseButtonClick()
{
    // A chosen folder's analysis opens that folder's store alone.
    const QString scope = folderChoice->isChecked() ? m_sourceFolderEntryId : QString();
    if (workerRunning() || !provideStorePasswords(m_passwords, m_loader.get(), this, scope))
        return;
    m_list.clear();
    analysisSummary->clear();
    syncGridRows();
    pages->setCurrentWidget(attachmentsPage);
    std::unique_ptr<TSettings> copy = workerSettings();
    try {
        copy->checkSource();
    } catch (const qb::Error &e) {
        showError(e.message());
        return;
    }
    auto *status = new StatusWindow(m_loader.get(), this);
    m_analysisComplete = false;
    auto *analysis = new TAnalyseThread(copy.release(), status->link(), m_host, m_stores, &m_list);
    // Cancel works from the moment the window shows, before the worker's first step.
    status->attachWorker(analysis);
    // Emitted on this thread at the end of the run, while the worker waits.
    connect(analysis, &TAnalyseThread::analysisEnded, this, [this, analysis] {
        summariseAnalysis(analysis->emailsProcessed(), analysis->isInterruptionRequested());
    });
    watchWorker(analysis);
}

void MainWindow::summariseAnalysis(int emails, bool cancelled)
{
    QSet<QString> holders;
    qint64 bytes = 0;
    for (int i = 0; i < m_list.count(); ++i) {
        const auto record = m_list.record(i);
        if (record && !holders.contains(record->StoreId + QLatin1Char('\n') + record->EntryId)) {
            holders.insert(record->StoreId + QLatin1Char('\n') + record->EntryId);
            bytes += record->Size;
        }
    }
    QString summary = QStringLiteral("%1 emails analysed, ").arg(emails);
    if (holders.isEmpty())
        summary += QStringLiteral("no attachments");
    else
        summary += QStringLiteral("%1 attachment(s) in %2 email(s) of %3")
                       .arg(m_list.count())
                       .arg(holders.size())
                       .arg(sizeText(bytes));
    // A Cancel that came after the walk's end took nothing away.
    if (!m_analysisComplete) {
        summary = (cancelled ? QStringLiteral("Analysis cancelled, list incomplete: ")
                             : QStringLiteral("Analysis ended early, list incomplete: ")) +
                  summary;
    }
    analysisSummary->setText(summary);
}

void MainWindow::deleteAttachmentsClick()
{
    // Says how much goes, and a stray Enter keeps it.
    const RowTotals totals = totalsOf(selectedRecords());
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Warning"),
                    QStringLiteral("Delete all selected attachments - are you sure?"),
                    QMessageBox::Yes | QMessageBox::No, dialogParent());
    box.setInformativeText(QStringLiteral("%1 attachment(s) from %2 email(s) will be deleted; "
                                          "they are not saved. This frees %3.")
                               .arg(totals.attachments)
                               .arg(totals.emails)
                               .arg(freeableSize(totals)));
    box.setDefaultButton(QMessageBox::No);
    if (box.exec() == QMessageBox::Yes)
        startJob(true, false);
}

void MainWindow::detachAttachmentsClick()
{
    const RowTotals totals = totalsOf(selectedRecords());
    const QString note = QStringLiteral("%1 attachment(s) from %2 email(s) will be detached. "
                                        "This frees %3.")
                             .arg(totals.attachments)
                             .arg(totals.emails)
                             .arg(freeableSize(totals));
    if (m_destinationFolderWindow->choose(m_saveFolder, note))
        startJob(true, true);
}

void MainWindow::copyAttachmentsClick()
{
    if (m_destinationFolderWindow->choose(m_saveFolder))
        startJob(false, true);
}

void MainWindow::undoLastJobClick()
{
    if (workerRunning())
        return;
    if (const auto job = JobHistoryWindow::newestToUndo(m_loader.get(), dialogParent()))
        startUndo(*job);
}

void MainWindow::jobHistoryClick()
{
    if (workerRunning())
        return;
    JobHistoryWindow window(m_loader.get(), dialogParent());
    if (const auto job = window.choose())
        startUndo(*job);
}

void MainWindow::startUndo(const undo::JobRecord &job)
{
    if (workerRunning() || !provideStorePasswords(m_passwords, m_loader.get(), this))
        return;
    // The undo is logged where the jobs are, when they are.
    QString logFile;
    if (logToFileChoice->isChecked()) {
        try {
            checkLogFile(logFilename->text());
        } catch (const qb::Error &e) {
            showError(e.message());
            return;
        }
        logFile = logFilename->text();
    }
    watchWorker(JobHistoryWindow::start(job, m_loader.get(), m_host, m_stores, logFile, this));
}

void MainWindow::startJob(bool remove, bool save)
{
    if (workerRunning() || !provideStorePasswords(m_passwords, m_loader.get(), this))
        return;
    std::unique_ptr<TSettings> copy = workerSettings();
    try {
        if (save)
            copy->checkDestination();
        // A settings file may name any file as the log: only a log or a new file is taken.
        if (copy->logToFile)
            checkLogFile(copy->logFilename);
    } catch (const qb::Error &e) {
        showError(e.message());
        return;
    }
    auto *status = new StatusWindow(m_loader.get(), this);
    if (copy->logToFile)
        status->setLogFile(TLogManager::normalise(copy->logFilename));
    // The job takes the selected rows' records when it starts, on this thread.
    auto takeSelection = [this] { return selectedRecords(); };
    auto *job = new TEmailThread(copy.release(), status->link(), m_host, m_stores, takeSelection,
                                 remove, save);
    // The final status says what the job freed, on a line of its own.
    connect(job, &TEmailThread::jobEnded, status, [status](const TEmailThread::Result &result) {
        if (!result.freed.isEmpty())
            status->showStatus(status->statusText->text() + QLatin1Char('\n') + result.freed);
    });
    status->attachWorker(job);
    watchWorker(job);
}

void MainWindow::relinkClick()
{
    if (workerRunning())
        return;
    RelinkWindow window(m_loader.get(), dialogParent());
    const auto chosen = window.choose(logFilename->text());
    if (chosen && provideStorePasswords(m_passwords, m_loader.get(), this))
        watchWorker(RelinkWindow::start(*chosen, m_loader.get(), m_host, m_stores, this));
}

void MainWindow::loggingClick()
{
    setModified(true);
    const bool toFile = logToFileChoice->isChecked();
    logFilename->setEnabled(toFile);
    browseLogFile->setEnabled(toFile);
}

void MainWindow::logFilenameChange()
{
    setModified(true);
}

void MainWindow::browseLogFileClick()
{
    if (browseLog->exec() != QDialog::Accepted || browseLog->selectedFiles().isEmpty())
        return;
    const QString chosen = browseLog->selectedFiles().first();
    try {
        checkLogFile(chosen);
    } catch (const qb::Error &e) {
        showError(e.message());
        return;
    }
    logFilename->setText(chosen);
    setModified(true);
}

void MainWindow::syncGridRows()
{
    m_model->syncRows();
    summaryPage->syncRows();
    offerListTypes();
    // The row count changed: nothing is selected any more, and the buttons say so.
    attachGridSelectChanged();
}

void MainWindow::loginRefused(const QString &text, const QString &accountKey)
{
    std::optional<MailStoreEntry> account;
    try {
        for (const MailStoreEntry &entry : m_passwords.accountsToOpen()) {
            if (entry.passwordKey() == accountKey)
                account = entry;
        }
    } catch (const qb::Error &) {
        // The stores were read when the run started; a store argument that cannot be read
        // now only loses the offer.
    }
    if (!account) {
        plainBox(dialogParent(), QMessageBox::Critical, QStringLiteral("Error"), text);
        return;
    }
    m_passwords.forget(*account);
    const QString question = text + QStringLiteral("\n\nEnter the password again?");
    if (plainBox(dialogParent(), QMessageBox::Warning, QApplication::applicationName(), question,
                 QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) == QMessageBox::Yes)
        askPasswordAgain(m_passwords, *account, m_loader.get(), this);
}

void MainWindow::clearAllData()
{
    pages->setCurrentWidget(startingFolderPage);
    m_list.clear();
    analysisSummary->clear();
    syncGridRows();
}

void MainWindow::selectAll()
{
    // Only the grid's page selects: rows that cannot be seen are not chosen by accident.
    if (pages->currentWidget() == attachmentsPage)
        attachGrid->selectAll();
}

void MainWindow::openEmail()
{
    QModelIndex row = attachGrid->currentIndex();
    if (!attachGrid->selectionModel()->isRowSelected(row.row()))
        row = attachGrid->selectionModel()->selectedRows().value(0);
    if (row.isValid())
        attachGridDblClickCell(row.row() + 1);
}

void MainWindow::attachGridContextMenu(const QPoint &position)
{
    // A right click on a row outside the selection selects that row, as a click would.
    const QModelIndex index = attachGrid->indexAt(position);
    if (index.isValid() && !attachGrid->selectionModel()->isRowSelected(index.row())) {
        attachGrid->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                                 QItemSelectionModel::Rows);
    }
    QMenu menu(attachGrid);
    menu.setObjectName(QStringLiteral("gridMenu"));
    menu.addActions({deleteAction, detachAction, saveAttachmentsAction});
    menu.addSeparator();
    menu.addActions({openEmailAction, selectAllAction});
    menu.exec(attachGrid->viewport()->mapToGlobal(position));
}

void MainWindow::attachGridSelectChanged()
{
    const int selected = int(attachGrid->selectionModel()->selectedRows().size());
    updateWorkerCommands();
    showStatusText(QStringLiteral("%1 attachment(s) selected").arg(selected));
    showSelectionTotals();
}

void MainWindow::updateWorkerCommands()
{
    const bool busy = workerRunning();
    const bool rows = !attachGrid->selectionModel()->selectedRows().isEmpty();
    for (QPushButton *button : {deleteAttachments, detachAttachments, copyAttachments})
        button->setEnabled(rows && !busy);
    // The menu commands act on the grid only while it shows.
    const bool onGrid = pages->currentWidget() == attachmentsPage;
    for (QAction *action : {deleteAction, detachAction, saveAttachmentsAction})
        action->setEnabled(onGrid && rows && !busy);
    openEmailAction->setEnabled(onGrid && rows);
    for (QAction *action : {undoAction, jobHistoryAction})
        action->setEnabled(!busy);
    selectAllAction->setEnabled(onGrid && m_model->rowCount() > 0);
    relinkAction->setEnabled(!busy);
    analyseButton->setEnabled(!busy);
    analyseButton->setToolTip(busy ? busyHint : QString());
    attachGrid->horizontalHeader()->setToolTip(busy ? busyHint : QString());
}

void MainWindow::attachGridHeadingClick(int dataColumn)
{
    // A running analysis fills the list and a starting job reads it: no sorting meanwhile.
    if (workerRunning()) {
        showStatusText(busyHint);
        return;
    }
    attachGrid->setUpdatesEnabled(false);
    m_model->headingClick(dataColumn);
    attachGrid->setUpdatesEnabled(true);
}

void MainWindow::attachGridDblClickCell(int dataRow)
{
    const auto record = m_model->record(dataRow - 1);
    if (dataRow < 1 || !record)
        return;
    try {
        const auto mapi = m_stores()->getNamespace(QStringLiteral("MAPI"));
        const auto email = mapi->getItemFromId(record->EntryId, record->StoreId);
        if (!email)
            throw qb::MailStoreError(QStringLiteral("The email is no longer in the mail store"));
        MessageWindow::display(*email, this);
    } catch (const qb::Error &e) {
        showError(e.message());
    }
}
