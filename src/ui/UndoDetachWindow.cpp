#include "UndoDetachWindow.h"

#include "Localise.h"
#include "PlainText.h"
#include "StatusWindow.h"
#include "common/Error.h"
#include "common/Format.h"
#include "processing/TEmailThread.h"
#include "processing/TReattachThread.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// The question's pattern until the language file gives another one: %d the number of
// attachments, %s the log.
const QString questionPattern =
    QStringLiteral("Put back %d detached attachment(s) that %s records into their emails?\n\n"
                   "Each saved file goes back into the email whose note links to it, and the "
                   "note leaves the body. A file that changed since it was detached is refused "
                   "and its email left as it is. The saved files stay where they are.");

} // namespace

UndoDetachWindow::UndoDetachWindow(TStringLoader *loader, QWidget *parent)
    : QDialog(parent), m_loader(loader)
{
    setObjectName(languageSection);
    setWindowTitle(QStringLiteral("Undo detach"));
    auto *layout = new QVBoxLayout(this);
    m_question = plainLabel(new QLabel(questionPattern, this));
    m_question->setObjectName(QStringLiteral("QuestionLabel"));
    m_question->setWordWrap(true);
    m_question->setMinimumWidth(420);
    layout->addWidget(m_question);
    auto *buttons = new QDialogButtonBox(this);
    QPushButton *ok = buttons->addButton(QStringLiteral("Put back"), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("PutBackButton"));
    QPushButton *cancel =
        buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("CancelButton"));
    // A stray Enter changes nothing.
    cancel->setDefault(true);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    localise(this);
}

void UndoDetachWindow::localise(QObject *component)
{
    if (!m_loader)
        return;
    try {
        if (component == this)
            LocaliseForm(*m_loader, languageSection, this);
        else
            LocaliseComponent(*m_loader, languageSection, component);
    } catch (const qb::Error &) {
        // The design texts stay.
    }
}

std::optional<UndoDetachWindow::Chosen> UndoDetachWindow::choose(const QString &startLog)
{
    QFileDialog dialog(parentWidget(), QStringLiteral("Choose the action log of the detaches"),
                       startLog.isEmpty() ? QString() : QFileInfo(startLog).absoluteFilePath());
    dialog.setObjectName(QStringLiteral("LogDialog"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(
        {QStringLiteral("Log files (*.log *.txt *.csv)"), QStringLiteral("All files (*)")});
    localise(&dialog);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return confirm(dialog.selectedFiles().first());
}

std::optional<UndoDetachWindow::Chosen> UndoDetachWindow::confirm(const QString &logFile)
{
    Chosen chosen{logFile, {}};
    try {
        chosen.records = readDetachLog(chosen.logFile);
    } catch (const qb::Error &e) {
        plainBox(parentWidget(), QMessageBox::Warning, windowTitle(), e.message());
        return std::nullopt;
    }
    if (chosen.records.empty()) {
        plainBox(parentWidget(), QMessageBox::Information, windowTitle(),
                 QStringLiteral("%1 records no detached attachment.").arg(chosen.logFile));
        return std::nullopt;
    }
    QString question;
    try {
        question = qb::format(m_question->text(), {qint64(chosen.records.size()), chosen.logFile});
    } catch (const qb::Error &) {
        question = qb::format(questionPattern, {qint64(chosen.records.size()), chosen.logFile});
    }
    m_question->setText(question);
    if (exec() != QDialog::Accepted)
        return std::nullopt;
    return chosen;
}

QThread *UndoDetachWindow::start(const Chosen &chosen, TStringLoader *loader, HandOverHost *host,
                                 const mailstore::ApplicationFactory &stores, QWidget *parent)
{
    auto *status = new StatusWindow(loader, parent);
    status->setLogFile(chosen.logFile);
    auto *job = new TReattachThread(status->link(), host, stores, chosen.records, {},
                                    chosen.logFile, TEmailThread::defaultLockTimeout);
    status->attachWorker(job);
    return job;
}
