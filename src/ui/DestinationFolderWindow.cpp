#include "DestinationFolderWindow.h"

#include "PlainText.h"
#include "TFormInfo.h"
#include "common/Error.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

DestinationFolderWindow::DestinationFolderWindow(TStringLoader *loader, QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("folderChooser"));
    setWindowTitle(QStringLiteral("Destination folder"));
    resize(360, 161);
    auto *pages = new QTabWidget(this);
    pages->setObjectName(QStringLiteral("PageControl1"));
    auto *page = new QWidget;
    page->setObjectName(QStringLiteral("TabSheet1"));
    pages->addTab(page, QStringLiteral("Save attachments to..."));
    auto *label = new QLabel(QStringLiteral("&Folder to save resumes to"), page);
    label->setObjectName(QStringLiteral("Label1"));
    folderField = new QLineEdit(page);
    folderField->setObjectName(QStringLiteral("Directory"));
    folderField->setToolTip(QStringLiteral("Where would you like the saved files to be saved to?"));
    folderField->setStatusTip(folderField->toolTip());
    label->setBuddy(folderField);
    browseButton = new QToolButton(page);
    browseButton->setObjectName(QStringLiteral("browseButton"));
    browseButton->setText(QStringLiteral("..."));
    connect(browseButton, &QToolButton::clicked, this, [this] {
        const QString chosen = QFileDialog::getExistingDirectory(
            this, QStringLiteral("Choose a folder"), folderField->text());
        if (!chosen.isEmpty())
            folderField->setText(chosen);
    });
    auto *pageLayout = new QVBoxLayout(page);
    pageLayout->addWidget(label);
    auto *field = new QHBoxLayout;
    field->addWidget(folderField, 1);
    field->addWidget(browseButton);
    pageLayout->addLayout(field);
    // Changes with every job: not a caption of the language file.
    jobNote = plainLabel(new QLabel(page));
    jobNote->setWordWrap(true);
    pageLayout->addWidget(jobNote);
    pageLayout->addStretch();

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName(QStringLiteral("buttons"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(pages, 1);
    layout->addWidget(buttons);

    m_placement = TFormInfo::prepare(this, loader, languageSection, QStringLiteral("Quillbrook"),
                                     QStringLiteral("Form2"));
}

bool DestinationFolderWindow::choose(QString &folder, const QString &note)
{
    folderField->setText(folder);
    jobNote->setText(note);
    jobNote->setVisible(!note.isEmpty());
    if (exec() != QDialog::Accepted)
        return false;
    folder = folderField->text();
    return true;
}

void DestinationFolderWindow::done(int result)
{
    try {
        m_placement->Save();
    } catch (const qb::Error &) {
        // The placement is a convenience; the choice stands.
    }
    QDialog::done(result);
}
