#include "RelinkWindow.h"

#include "Localise.h"
#include "PlainText.h"
#include "StatusWindow.h"
#include "common/Error.h"
#include "common/Format.h"
#include "processing/RelinkJob.h"
#include "processing/TEmailThread.h"
#include "processing/TRelinkThread.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

// The question's pattern until the language file gives another one: %s the log, %d the
// number of saved files it records.
const QString questionPattern = QStringLiteral(
    "%s records %d saved file(s). If you moved their folder, give the folder they were in "
    "and the one they are in now: the notes in the emails will then link to the files "
    "there. Only a link to a file that is there is changed.");

// The deepest folder that holds every file the records link to: a first guess at the
// folder that moved.
QString commonFolder(const std::vector<DetachRecord> &records)
{
    std::optional<QStringList> common;
    for (const DetachRecord &record : records) {
        const QString path = pathOfLink(record.link);
        if (path.isEmpty())
            continue;
        QStringList folders = path.split(QLatin1Char('/'));
        folders.removeLast();
        if (!common) {
            common = folders;
            continue;
        }
        qsizetype same = 0;
        while (same < common->size() && same < folders.size() && (*common)[same] == folders[same])
            ++same;
        common->resize(same);
    }
    return common ? common->join(QLatin1Char('/')) : QString();
}

QString folderIn(const QLineEdit *field)
{
    const QString text = field->text().trimmed();
    return text.isEmpty() ? QString() : QDir::cleanPath(QFileInfo(text).absoluteFilePath());
}

} // namespace

RelinkWindow::RelinkWindow(TStringLoader *loader, QWidget *parent)
    : QDialog(parent), m_loader(loader)
{
    setObjectName(languageSection);
    setWindowTitle(QStringLiteral("Relink moved files"));
    auto *layout = new QVBoxLayout(this);
    m_question = plainLabel(new QLabel(questionPattern, this));
    m_question->setObjectName(QStringLiteral("QuestionLabel"));
    m_question->setWordWrap(true);
    m_question->setMinimumWidth(460);
    layout->addWidget(m_question);
    auto *fields = new QGridLayout;
    layout->addLayout(fields);
    m_from = addFolderField(fields, "FromFolder", QStringLiteral("&Old folder:"), "BrowseFrom");
    m_to = addFolderField(fields, "ToFolder", QStringLiteral("&New folder:"), "BrowseTo");
    auto *buttons = new QDialogButtonBox(this);
    QPushButton *relink =
        buttons->addButton(QStringLiteral("Relink"), QDialogButtonBox::AcceptRole);
    relink->setObjectName(QStringLiteral("RelinkButton"));
    relink->setAutoDefault(false);
    QPushButton *cancel =
        buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("CancelButton"));
    // A stray Enter changes nothing.
    cancel->setDefault(true);
    layout->addWidget(buttons);
    connect(relink, &QPushButton::clicked, this, &RelinkWindow::relinkClicked);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    localise(this);
}

QLineEdit *RelinkWindow::addFolderField(QGridLayout *fields, const char *name, const QString &label,
                                        const char *browseName)
{
    const int row = fields->count() / 3; // three a row
    auto *caption = new QLabel(label, this);
    caption->setObjectName(QLatin1String(name) + QStringLiteral("Label"));
    auto *field = new QLineEdit(this);
    field->setObjectName(QLatin1String(name));
    caption->setBuddy(field);
    auto *browse = new QToolButton(this);
    browse->setObjectName(QLatin1String(browseName));
    browse->setText(QStringLiteral("..."));
    connect(browse, &QToolButton::clicked, this, [this, field] {
        QFileDialog dialog(this, QStringLiteral("Choose a folder"), field->text());
        dialog.setObjectName(QStringLiteral("FolderDialog"));
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly);
        localise(&dialog);
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
            field->setText(dialog.selectedFiles().first());
    });
    fields->addWidget(caption, row, 0);
    fields->addWidget(field, row, 1);
    fields->addWidget(browse, row, 2);
    return field;
}

void RelinkWindow::localise(QObject *component)
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

void RelinkWindow::relinkClicked()
{
    const QString from = folderIn(m_from);
    const QString to = folderIn(m_to);
    QString problem;
    if (from.isEmpty() || to.isEmpty())
        problem = QStringLiteral("Give the folder the files were in and the one they are in now.");
    else if (!QFileInfo(to).isDir())
        problem = QStringLiteral("%1 is not a folder.").arg(to);
    else if (RelinkJob::recordsUnder(m_records, from).empty())
        problem = QStringLiteral("The log records no saved file under %1.").arg(from);
    if (!problem.isEmpty()) {
        plainBox(this, QMessageBox::Warning, windowTitle(), problem);
        return;
    }
    accept();
}

std::optional<RelinkWindow::Chosen> RelinkWindow::choose(const QString &startLog)
{
    QFileDialog dialog(parentWidget(), QStringLiteral("Choose the action log of the jobs"),
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

std::optional<RelinkWindow::Chosen> RelinkWindow::confirm(const QString &logFile)
{
    try {
        m_records = readDetachLog(logFile);
    } catch (const qb::Error &e) {
        plainBox(parentWidget(), QMessageBox::Warning, windowTitle(), e.message());
        return std::nullopt;
    }
    if (m_records.empty()) {
        plainBox(parentWidget(), QMessageBox::Information, windowTitle(),
                 QStringLiteral("%1 records no saved file.").arg(logFile));
        return std::nullopt;
    }
    QString question;
    try {
        question = qb::format(m_question->text(), {logFile, qint64(m_records.size())});
    } catch (const qb::Error &) {
        question = qb::format(questionPattern, {logFile, qint64(m_records.size())});
    }
    m_question->setText(question);
    m_from->setText(commonFolder(m_records));
    if (exec() != QDialog::Accepted)
        return std::nullopt;
    const QString from = folderIn(m_from);
    return Chosen{logFile, from, folderIn(m_to), RelinkJob::recordsUnder(m_records, from)};
}

QThread *RelinkWindow::start(const Chosen &chosen, TStringLoader *loader, HandOverHost *host,
                             const mailstore::ApplicationFactory &stores, QWidget *parent)
{
    auto *status = new StatusWindow(loader, parent);
    status->setLogFile(chosen.logFile);
    auto *job = new TRelinkThread(status->link(), host, stores, chosen.records, chosen.from,
                                  chosen.to, chosen.logFile, TEmailThread::defaultLockTimeout);
    status->attachWorker(job);
    return job;
}
