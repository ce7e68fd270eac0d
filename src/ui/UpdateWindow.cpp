#include "UpdateWindow.h"

#include "Localise.h"
#include "PlainText.h"
#include "UpdateCheck.h"
#include "common/AutomationDate.h"
#include "common/Error.h"
#include "common/Format.h"
#include "common/Version.h"
#include "update/HttpFetch.h"
#include "update/UpdateDate.h"
#include "update/UpdateTexts.h"
#include "update/VersionsFile.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateEdit>
#include <QDesktopServices>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStatusBar>
#include <QTabWidget>
#include <QUrl>
#include <QVBoxLayout>

using update::UpdateText;
using update::updateText;

namespace {

const QString product = QLatin1String(qb::productName);

void setHint(QWidget *widget, const QString &hint)
{
    widget->setToolTip(hint);
    widget->setStatusTip(hint);
}

} // namespace

UpdateWindow::UpdateWindow(UpdateCheck &check, TStringLoader *loader, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::MSWindowsFixedSizeDialogHint),
      m_check(check)
{
    setObjectName(QStringLiteral("updateForm"));
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    setWindowTitle(QStringLiteral("%s update"));

    pages = new QTabWidget(this);
    pages->setObjectName(QStringLiteral("PageControl1"));
    auto *page = new QWidget;
    page->setObjectName(QStringLiteral("TabSheet1"));
    pages->addTab(page, QStringLiteral("Update"));
    outOfDate = new QGroupBox(QStringLiteral(" This copy of %s may be out of date "), page);
    outOfDate->setObjectName(QStringLiteral("GroupBox1"));
    checkWeb = new QRadioButton(QStringLiteral("Check web for updates now"));
    checkWeb->setObjectName(QStringLiteral("checkWeb"));
    setHint(checkWeb, QStringLiteral("Access the internet to find out if %s needs updating"));
    dontAsk = new QRadioButton(QStringLiteral("Don't ask me again until"));
    dontAsk->setObjectName(QStringLiteral("dontAsk"));
    setHint(dontAsk, QStringLiteral("Don't perform this check until the date specified"));
    nextDate = new QDateEdit;
    nextDate->setObjectName(QStringLiteral("nextDate"));
    nextDate->setCalendarPopup(true);
    nextDate->setDisplayFormat(QLocale().dateFormat(QLocale::ShortFormat));
    setHint(nextDate, QStringLiteral("Remind me after this date"));
    okButton = new QPushButton(QStringLiteral("OK"));
    okButton->setObjectName(QStringLiteral("okButton"));
    okButton->setDefault(true);
    auto *bar = new QStatusBar;
    bar->setObjectName(QStringLiteral("StatusBar1"));
    bar->setSizeGripEnabled(false);
    statusText = plainLabel(new QLabel);
    statusText->setObjectName(QStringLiteral("statusText"));
    bar->addWidget(statusText, 1);
    HTTPGet1 = new update::HttpFetch(this);
    HTTPGet1->setObjectName(QStringLiteral("HTTPGet1"));

    auto *choices = new QGridLayout(outOfDate);
    choices->addWidget(checkWeb, 0, 0, 1, 2);
    choices->addWidget(dontAsk, 1, 0, 1, 2);
    choices->addItem(new QSpacerItem(16, 0, QSizePolicy::Fixed), 2, 0);
    choices->addWidget(nextDate, 2, 1);
    auto *pageLayout = new QVBoxLayout(page);
    pageLayout->addWidget(outOfDate);
    pageLayout->addStretch();
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(okButton);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 4, 0, 0);
    auto *body = new QVBoxLayout;
    body->setContentsMargins(6, 0, 6, 0);
    body->addWidget(pages, 1);
    body->addLayout(buttons);
    layout->addLayout(body, 1);
    layout->addWidget(bar);

    connect(checkWeb, &QRadioButton::clicked, this, &UpdateWindow::checkWebClick);
    connect(dontAsk, &QRadioButton::clicked, this, &UpdateWindow::checkWebClick);
    connect(okButton, &QPushButton::clicked, this, &UpdateWindow::okButtonClick);
    connect(HTTPGet1, &update::HttpFetch::doneString, this, &UpdateWindow::HTTPGet1DoneString);
    connect(HTTPGet1, &update::HttpFetch::error, this, &UpdateWindow::HTTPGet1Error);

    if (loader) {
        try {
            LocaliseForm(*loader, languageSection, this);
        } catch (const qb::Error &e) {
            // A damaged language file leaves the designed texts; the user hears why.
            plainBox(parent, QMessageBox::Critical, QApplication::applicationName(), e.message());
        }
    }
    setWindowTitle(withProduct(windowTitle()));
    outOfDate->setTitle(withProduct(outOfDate->title()));
    checkWeb->setText(withProduct(checkWeb->text()));

    checkWeb->setChecked(true);
    nextDate->setDateTime(QDateTime(
        update::firstPickerDay(m_check.updateDate(), QDate::currentDate()), pickerTime()));
    checkWebClick();
    checkWeb->setFocus();

    // As designed, a client area of 241 x 202; larger when the fonts need it.
    setFixedSize(QSize(241, 202).expandedTo(sizeHint()));
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

UpdateWindow::~UpdateWindow()
{
    HTTPGet1->abortFetch();
}

QString UpdateWindow::withProduct(const QString &caption)
{
    try {
        return qb::format(caption, {product});
    } catch (const qb::Error &) {
        return caption;
    }
}

void UpdateWindow::reject()
{
    close();
}

void UpdateWindow::closeEvent(QCloseEvent *event)
{
    // Closing, however it comes (Esc, the close box, the Close button), frees the window.
    event->accept();
}

void UpdateWindow::checkWebClick()
{
    nextDate->setEnabled(dontAsk->isChecked());
}

double UpdateWindow::nextDateValue() const
{
    return qb::toAutomationDate(QDateTime(nextDate->date(), pickerTime()));
}

void UpdateWindow::okButtonClick()
{
    if (m_closes) {
        close();
        return;
    }
    m_closes = true;
    okButton->setText(QStringLiteral("&Close"));
    if (dontAsk->isChecked()) {
        m_check.setUpdateDate(nextDateValue());
        m_check.saveDate();
        close();
        return;
    }
    try {
        showStatus(updateText(UpdateText::Checking));
    } catch (const qb::Error &e) {
        showStatus(e.message());
    }
    fetchPage();
}

void UpdateWindow::fetchPage()
{
    HTTPGet1->URL =
        update::versionsFileUrl(m_check.webSite(), product, QLatin1String(qb::versionText));
    HTTPGet1->Agent = product;
    HTTPGet1->fetchText();
}

void UpdateWindow::HTTPGet1DoneString(const QString &result)
{
    using Result = update::VersionCheck::Result;
    m_check.setUpdateDate(update::dateAfterReply(QDate::currentDate()));
    const update::VersionCheck check = update::checkVersions(result, product, qb::releaseStamp);
    const QPointer<UpdateWindow> self(this);
    try {
        switch (check.result) {
        case Result::NotFound:
            if (isVisible())
                inform(updateText(UpdateText::NotFound, product));
            break;
        case Result::InvalidStamp:
            if (isVisible())
                inform(updateText(UpdateText::InvalidFormat, product, check.value));
            break;
        case Result::Current:
            if (isVisible())
                inform(updateText(UpdateText::Latest, product));
            break;
        case Result::Newer: {
            const QString homePage = update::homePageUrl(m_check.webSite());
            const auto answer = plainBox(
                boxParent(), QMessageBox::Question, QApplication::applicationName(),
                updateText(UpdateText::UpdateAvailable, product),
                QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes);
            if (answer == QMessageBox::Yes)
                QDesktopServices::openUrl(QUrl(homePage));
            break;
        }
        }
    } catch (const qb::Error &e) {
        if (self)
            inform(e.message());
    }
}

void UpdateWindow::HTTPGet1Error(const QString &reason)
{
    if (!isVisible()) {
        close();
        return;
    }
    try {
        showStatus(updateText(UpdateText::ConnectError));
    } catch (const qb::Error &e) {
        showStatus(e.message());
    }
    // What went wrong, for whoever wants to know more than the status text says.
    statusText->setToolTip(plainToolTip(reason));
}

void UpdateWindow::showStatus(const QString &text)
{
    statusText->setText(text);
}

QWidget *UpdateWindow::boxParent()
{
    return isVisible() ? this : parentWidget();
}

void UpdateWindow::inform(const QString &text)
{
    plainBox(boxParent(), QMessageBox::Information, QApplication::applicationName(), text);
}
