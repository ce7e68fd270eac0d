#include "JobHistoryWindow.h"

#include "Localise.h"
#include "ObjectNames.h"
#include "PlainText.h"
#include "StatusWindow.h"
#include "common/Error.h"
#include "common/Format.h"
#include "log/TLogManager.h"
#include "mailstore/AttachText.h"
#include "processing/TEmailThread.h"
#include "processing/TUndoThread.h"
#include "processing/UndoIndex.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <memory>

namespace {

enum Column {
    DateColumn,
    ActionColumn,
    EmailsColumn,
    AttachmentsColumn,
    SavedColumn,
    PutBackColumn,
    FolderColumn,
    Columns
};

// How many emails of the job are still as it left them, and their attachments.
struct Left
{
    int emails = 0;
    int attachments = 0;
};

Left leftOf(const undo::JobRecord &job)
{
    Left left;
    for (const undo::EmailRecord &email : job.emails) {
        if (!email.undone()) {
            ++left.emails;
            left.attachments += email.attachments;
        }
    }
    return left;
}

QString sectionText(TStringLoader *loader, const char *name, const QString &builtIn)
{
    return LocalisedText(loader, JobHistoryWindow::languageSection, name, builtIn);
}

// The language file's pattern filled in; the built-in one when the translator's does
// not fit the values.
QString filled(TStringLoader *loader, const char *name, const QString &builtIn,
               std::initializer_list<qb::FormatValue> values)
{
    try {
        return qb::format(sectionText(loader, name, builtIn), values);
    } catch (const qb::Error &) {
        return qb::format(builtIn, values);
    }
}

QString actionText(TStringLoader *loader, const QString &action)
{
    if (action == QLatin1String("detach"))
        return sectionText(loader, "DetachAction", QStringLiteral("Detach"));
    if (action == QLatin1String("save"))
        return sectionText(loader, "SaveAction", QStringLiteral("Save"));
    return action;
}

QString dateText(const QDateTime &started)
{
    return QLocale().toString(started.toLocalTime(), QLocale::ShortFormat);
}

QString undoTitle(TStringLoader *loader)
{
    return sectionText(loader, "UndoTitle", QStringLiteral("Undo"));
}

// What an undo left as it was, once the run has ended: the status window says how many,
// this says which and why.
void tellRefused(TStringLoader *loader, QWidget *parent, const QStringList &refused)
{
    const int shown = 20;
    QString list = refused.mid(0, shown).join(QLatin1Char('\n'));
    if (refused.size() > shown)
        list += QStringLiteral("\n...");
    plainBox(parent, QMessageBox::Warning, undoTitle(loader),
             filled(loader, "RefusedMessage",
                    QStringLiteral("%d email(s) were left as they are:\n\n%s"),
                    {qint64(refused.size()), list}));
}

} // namespace

JobHistoryWindow::JobHistoryWindow(TStringLoader *loader, QWidget *parent)
    : QDialog(parent), m_loader(loader)
{
    setObjectName(QStringLiteral("JobHistoryForm"));
    setWindowTitle(QStringLiteral("Job history"));

    noteLabel = plainLabel(new QLabel(
        QStringLiteral("Detach and save jobs keep a record in the folder they save to, from which "
                       "Put back returns their emails exactly as they were. Delete jobs keep no "
                       "record and cannot be undone."),
        this));
    noteLabel->setObjectName(QStringLiteral("NoteLabel"));
    noteLabel->setWordWrap(true);

    jobList = new QTreeWidget(this);
    jobList->setObjectName(QStringLiteral("JobList"));
    jobList->setColumnCount(Columns);
    jobList->setHeaderLabels({
        sectionText(loader, "DateHeading", QStringLiteral("Date")),
        sectionText(loader, "ActionHeading", QStringLiteral("Action")),
        sectionText(loader, "EmailsHeading", QStringLiteral("Emails")),
        sectionText(loader, "AttachmentsHeading", QStringLiteral("Attachments")),
        sectionText(loader, "SavedHeading", QStringLiteral("Saved")),
        sectionText(loader, "PutBackHeading", QStringLiteral("Put back")),
        sectionText(loader, "FolderHeading", QStringLiteral("Folder of saved files")),
    });
    jobList->setRootIsDecorated(false);
    jobList->setUniformRowHeights(true);
    jobList->setAlternatingRowColors(true);
    jobList->setSelectionMode(QAbstractItemView::SingleSelection);
    jobList->setTextElideMode(Qt::ElideMiddle);
    jobList->header()->setStretchLastSection(true);
    jobList->header()->setSectionsMovable(false);

    auto *buttons = new QDialogButtonBox(this);
    putBackButton = buttons->addButton(QStringLiteral("&Put back"), QDialogButtonBox::ActionRole);
    putBackButton->setObjectName(QStringLiteral("PutBackButton"));
    openFolderButton =
        buttons->addButton(QStringLiteral("&Open folder..."), QDialogButtonBox::ActionRole);
    openFolderButton->setObjectName(QStringLiteral("OpenFolderButton"));
    setHint(openFolderButton,
            QStringLiteral("Add the jobs recorded in a folder of saved files to the list"));
    closeButton = buttons->addButton(QStringLiteral("Close"), QDialogButtonBox::RejectRole);
    closeButton->setObjectName(QStringLiteral("CloseButton"));
    // Put back asks first; Enter alone does not start it.
    for (QPushButton *button : {putBackButton, openFolderButton, closeButton})
        button->setAutoDefault(false);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(jobList, 1);
    layout->addWidget(noteLabel);
    layout->addWidget(buttons);

    connect(putBackButton, &QPushButton::clicked, this, &JobHistoryWindow::putBackClick);
    connect(openFolderButton, &QPushButton::clicked, this, &JobHistoryWindow::openFolderClick);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(jobList, &QTreeWidget::itemSelectionChanged, this, &JobHistoryWindow::selectionChanged);

    if (loader) {
        try {
            LocaliseForm(*loader, languageSection, this);
        } catch (const qb::Error &) {
            // The design texts stay.
        }
    }
    setMinimumSize(520, 240);
    resize(820, 340);
}

std::optional<undo::JobRecord> JobHistoryWindow::choose()
{
    m_records = undo::indexedRecords();
    fill({});
    if (exec() != QDialog::Accepted)
        return std::nullopt;
    return m_chosen;
}

void JobHistoryWindow::fill(const QStringList &toSelect)
{
    m_jobs = undo::recordedJobs(m_records);
    jobList->clear();
    QTreeWidgetItem *selected = nullptr;
    QTreeWidgetItem *newest = nullptr;
    for (const undo::RecordedJob &job : m_jobs) {
        auto *item = new QTreeWidgetItem(jobList);
        if (!job.error.isEmpty()) {
            // Listed so that the user learns why, but nothing can be done with it.
            item->setText(DateColumn, job.error);
            item->setToolTip(DateColumn, plainToolTip(job.error));
            item->setFlags(Qt::NoItemFlags);
            item->setFirstColumnSpanned(true);
            continue;
        }
        item->setText(DateColumn, dateText(job.record.started));
        item->setText(ActionColumn, actionText(m_loader, job.record.action));
        item->setText(EmailsColumn, QLocale().toString(job.emails));
        item->setText(AttachmentsColumn, QLocale().toString(job.attachments));
        item->setText(SavedColumn, sizeText(job.savedBytes));
        item->setText(PutBackColumn, QLocale().toString(job.putBack));
        item->setText(FolderColumn, QDir::toNativeSeparators(job.record.root));
        item->setToolTip(FolderColumn, plainToolTip(job.record.root));
        for (const int column : {EmailsColumn, AttachmentsColumn, SavedColumn, PutBackColumn})
            item->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
        if (!newest)
            newest = item;
        if (!selected && toSelect.contains(job.record.path))
            selected = item;
    }
    if (!selected)
        selected = newest;
    for (int column = 0; column < FolderColumn; ++column)
        jobList->resizeColumnToContents(column);
    if (selected)
        jobList->setCurrentItem(selected);
    selectionChanged();
}

const undo::RecordedJob *JobHistoryWindow::selectedJob() const
{
    const QList<QTreeWidgetItem *> items = jobList->selectedItems();
    if (items.isEmpty())
        return nullptr;
    const int row = jobList->indexOfTopLevelItem(items.first());
    if (row < 0 || size_t(row) >= m_jobs.size() || !m_jobs[size_t(row)].error.isEmpty())
        return nullptr;
    return &m_jobs[size_t(row)];
}

void JobHistoryWindow::selectionChanged()
{
    const undo::RecordedJob *job = selectedJob();
    putBackButton->setEnabled(job && leftOf(job->record).emails > 0);
}

void JobHistoryWindow::openFolderClick()
{
    QFileDialog dialog(this, QStringLiteral("Choose a folder of saved files"));
    dialog.setObjectName(QStringLiteral("FolderDialog"));
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    if (const undo::RecordedJob *job = selectedJob())
        dialog.setDirectory(job->record.root);
    if (m_loader) {
        try {
            LocaliseComponent(*m_loader, languageSection, &dialog);
        } catch (const qb::Error &) {
            // The design texts stay.
        }
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const QString folder = dialog.selectedFiles().first();
    const QStringList found = undo::recordsUnder(folder);
    if (found.isEmpty()) {
        plainBox(this, QMessageBox::Information, windowTitle(),
                 filled(m_loader, "NoRecordsMessage",
                        QStringLiteral("No job is recorded under %s."), {folder}));
        return;
    }
    // A record already listed under another path to it is listed once.
    QStringList known;
    for (const QString &record : std::as_const(m_records))
        known << QFileInfo(record).canonicalFilePath();
    for (const QString &record : found) {
        if (!known.contains(QFileInfo(record).canonicalFilePath()))
            m_records << record;
    }
    fill(found);
}

void JobHistoryWindow::putBackClick()
{
    const undo::RecordedJob *job = selectedJob();
    if (!job || !confirmPutBack(*job, m_loader, this))
        return;
    m_chosen = job->record;
    accept();
}

std::optional<undo::JobRecord> JobHistoryWindow::newestToUndo(TStringLoader *loader,
                                                              QWidget *parent)
{
    QString unreadable;
    for (const undo::RecordedJob &job : undo::recordedJobs(undo::indexedRecords())) {
        if (!job.error.isEmpty()) {
            if (unreadable.isEmpty())
                unreadable = job.error;
            continue;
        }
        if (leftOf(job.record).emails == 0)
            continue;
        if (!confirmPutBack(job, loader, parent, unreadable))
            return std::nullopt;
        return job.record;
    }
    QString message = sectionText(
        loader, "NothingToUndoMessage",
        QStringLiteral("No detach or save job is recorded that has emails left to put back.\n\n"
                       "Delete jobs keep no record and cannot be undone."));
    if (!unreadable.isEmpty())
        message += QStringLiteral("\n\n") + unreadable;
    plainBox(parent, QMessageBox::Information, undoTitle(loader), message);
    return std::nullopt;
}

bool JobHistoryWindow::confirmPutBack(const undo::RecordedJob &job, TStringLoader *loader,
                                      QWidget *parent, const QString &newerUnreadable)
{
    const Left left = leftOf(job.record);
    QString question = filled(
        loader, "PutBackQuestion",
        QStringLiteral("%s job of %s: put %d email(s) with %d attachment(s) back as they were "
                       "before it?\n\nFolder of saved files: %s\n\nThe saved files stay where they "
                       "are. An email that changed since the job is left as it is."),
        {actionText(loader, job.record.action), dateText(job.record.started), qint64(left.emails),
         qint64(left.attachments), QDir::toNativeSeparators(job.record.root)});
    if (!newerUnreadable.isEmpty())
        question += QStringLiteral("\n\n") +
                    filled(loader, "NewerUnreadable",
                           QStringLiteral("A newer record cannot be read: %s"), {newerUnreadable});
    return plainBox(parent, QMessageBox::Question, undoTitle(loader), question,
                    QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

QThread *JobHistoryWindow::start(const undo::JobRecord &job, TStringLoader *loader,
                                 HandOverHost *host, const mailstore::ApplicationFactory &stores,
                                 const QString &logFile, QWidget *parent)
{
    auto *status = new StatusWindow(loader, parent);
    if (!logFile.isEmpty())
        status->setLogFile(TLogManager::normalise(logFile));
    auto *worker = new TUndoThread(status->link(), host, stores, {job}, {}, logFile,
                                   TEmailThread::defaultLockTimeout);
    status->attachWorker(worker);
    auto refused = std::make_shared<QStringList>();
    connect(worker, &TUndoThread::outcome, parent,
            [refused](UndoJob::Kind kind, const QString &text) {
                if (kind == UndoJob::Kind::Refused)
                    refused->append(text);
            });
    // Told once the run has ended, so that the box holds up nothing.
    connect(worker, &TUndoThread::jobEnded, parent,
            [refused, loader, parent, shownOver = QPointer<StatusWindow>(status)] {
                if (refused->isEmpty())
                    return;
                QTimer::singleShot(0, parent, [=] {
                    QWidget *over = parent;
                    if (shownOver && shownOver->isVisible())
                        over = shownOver;
                    tellRefused(loader, over, *refused);
                });
            });
    return worker;
}
