#include "DestinationFolderWindow.h"

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
    Directory = new QLineEdit(page);
    Directory->setObjectName(QStringLiteral("Directory"));
    Directory->setToolTip(QStringLiteral("Where would you like the saved files to be saved to?"));
    Directory->setStatusTip(Directory->toolTip());
    label->setBuddy(Directory);
    browseButton = new QToolButton(page);
    browseButton->setObjectName(QStringLiteral("browseButton"));
    browseButton->setText(QStringLiteral("..."));
    connect(browseButton, &QToolButton::clicked, this, [this] {
        const QString chosen = QFileDialog::getExistingDirectory(
            this, QStringLiteral("Choose a folder"), Directory->text());
        if (!chosen.isEmpty())
            Directory->setText(chosen);
    });
    auto *pageLayout = new QVBoxLayout(page);
    pageLayout->addWidget(label);
    auto *field = new QHBoxLayout;
    field->addWidget(Directory, 1);
    field->addWidget(browseButton);
    pageLayout->addLayout(field);
    pageLayout->addStretch();

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName(QStringLiteral("buttons"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(pages, 1);
    layout->addWidget(buttons);

    FormInfo1 = TFormInfo::prepare(this, loader, languageSection, QStringLiteral("Quillbrook"),
                                   QStringLiteral("Form2"));
}

bool DestinationFolderWindow::choose(QString &folder)
{
    Directory->setText(folder);
    if (exec() != QDialog::Accepted)
        return false;
    folder = Directory->text();
    return true;
}

void DestinationFolderWindow::done(int result)
{
    try {
        FormInfo1->Save();
    } catch (const qb::Error &) {
        // The placement is a convenience; the choice stands.
    }
    QDialog::done(result);
}
