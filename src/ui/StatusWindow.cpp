#include "StatusWindow.h"

#include "Localise.h"
#include "PlainText.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QThread>
#include <QUrl>
#include <QWindow>

namespace {

// Forwards the hand-over steps to the window that owns it.
class StatusLink : public StatusView
{
public:
    explicit StatusLink(StatusWindow *window) : StatusView(window), m_window(window) {}
    void AttachWorker(QThread *worker) override { m_window->attachWorker(worker); }
    void showInFront() override
    {
        m_window->show();
        m_window->raise();
        m_window->activateWindow();
    }
    void ShowStatus(const QString &text) override { m_window->showStatus(text); }
    void ShowProgress(int percent) override { m_window->showProgress(percent); }
    void MarkFinished() override { m_window->markFinished(); }
    void closeWindow() override { m_window->close(); }

private:
    StatusWindow *m_window;
};

} // namespace

StatusWindow::StatusWindow(TStringLoader *loader, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint), m_link(new StatusLink(this))
{
    setObjectName(QStringLiteral("TstatusForm"));
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    setWindowTitle(QStringLiteral("Processing emails..."));

    statusText = plainLabel(new QLabel(QStringLiteral("Processing Email 0 of 0:"), this));
    statusText->setObjectName(QStringLiteral("statusText"));
    logLink = new QLabel(QStringLiteral("Log file:"), this);
    logLink->setObjectName(QStringLiteral("logLink"));
    logLink->setTextFormat(Qt::RichText);
    logLink->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    connect(logLink, &QLabel::linkActivated, this,
            [](const QString &link) { QDesktopServices::openUrl(QUrl(link)); });
    taskProgress = new QProgressBar(this);
    taskProgress->setObjectName(QStringLiteral("taskProgress"));
    taskProgress->setRange(0, 100);
    taskProgress->setTextVisible(false);
    cancelButton = new QPushButton(this);
    cancelButton->setObjectName(QStringLiteral("cancelButton"));
    cancelButton->setAutoDefault(false);
    connect(cancelButton, &QPushButton::clicked, this, &StatusWindow::cancelButtonClick);
    setKind(ButtonKind::Cancel);

    if (loader)
        LocaliseForm(*loader, languageSection, this);
    m_logCaption = logLink->text();
    logLink->hide();
    layOut();
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    show();
}

void StatusWindow::layOut()
{
    // As designed, 351 x 106: one line of text, the bar, the button. A finished run's
    // text wraps and the log file's line shows; the window grows to hold them.
    const int width = 335;
    int y = 8;
    const int textHeight = statusText->wordWrap() ? statusText->heightForWidth(width) : 16;
    statusText->setGeometry(8, y, width, qMax(16, textHeight));
    y += statusText->height() + 6;
    if (!logLink->isHidden()) {
        logLink->setGeometry(8, y, width, qMax(16, logLink->sizeHint().height()));
        y += logLink->height() + 6;
    }
    taskProgress->setGeometry(8, y, width, 14);
    y += 14 + 24;
    cancelButton->setGeometry(243, y, 100, 28);
    setFixedSize(351, y + 28 + 10);
}

void StatusWindow::setLogFile(const QString &path)
{
    m_logFile = path;
}

void StatusWindow::attachWorker(QThread *worker)
{
    m_worker = worker;
}

void StatusWindow::showStatus(const QString &text)
{
    statusText->setText(text);
    statusText->repaint();
    Q_EMIT statusShown(text);
}

void StatusWindow::showProgress(int percent)
{
    taskProgress->setValue(percent);
    taskProgress->repaint();
}

void StatusWindow::markFinished()
{
    setKind(ButtonKind::OK);
    m_worker = nullptr;
    // The result stays readable whole, and says where the log is.
    statusText->setWordWrap(true);
    if (!m_logFile.isEmpty()) {
        const QFontMetrics metrics(logLink->font());
        const int room = 335 - metrics.horizontalAdvance(m_logCaption + QLatin1Char(' '));
        const QString shown = metrics.elidedText(m_logFile, Qt::ElideMiddle, room);
        logLink->setText(QStringLiteral("%1 <a href=\"%2\">%3</a>")
                             .arg(m_logCaption.toHtmlEscaped(),
                                  QUrl::fromLocalFile(m_logFile).toString(QUrl::FullyEncoded),
                                  shown.toHtmlEscaped()));
        logLink->setToolTip(plainToolTip(m_logFile));
        logLink->show();
    }
    layOut();
}

void StatusWindow::setKind(ButtonKind kind)
{
    m_kind = kind;
    switch (kind) {
    case ButtonKind::Cancel:
        cancelButton->setText(QStringLiteral("&Cancel"));
        cancelButton->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));
        break;
    case ButtonKind::OK:
        cancelButton->setText(QStringLiteral("&OK"));
        cancelButton->setIcon(style()->standardIcon(QStyle::SP_DialogOkButton));
        break;
    case ButtonKind::Close:
        cancelButton->setText(QStringLiteral("&Close"));
        cancelButton->setIcon(style()->standardIcon(QStyle::SP_DialogCloseButton));
        break;
    }
    cancelButton->setDefault(kind == ButtonKind::OK);
}

void StatusWindow::cancelButtonClick()
{
    if (m_kind != ButtonKind::Cancel) {
        close();
        return;
    }
    if (m_worker)
        m_worker->requestInterruption();
    m_worker = nullptr;
    setKind(ButtonKind::Close);
}

void StatusWindow::keyPressEvent(QKeyEvent *event)
{
    // Esc answers Cancel, Enter answers OK; Close answers neither.
    const bool escape = event->key() == Qt::Key_Escape;
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if ((escape && m_kind == ButtonKind::Cancel) || (enter && m_kind == ButtonKind::OK))
        cancelButton->click();
    else if (!escape && !enter)
        QDialog::keyPressEvent(event);
}

bool StatusWindow::event(QEvent *event)
{
    // A modal window blocks this one: it must come in front, so this window stays on
    // top only while nothing modal is open.
    if ((event->type() == QEvent::WindowBlocked || event->type() == QEvent::WindowUnblocked) &&
        windowHandle()) {
        windowHandle()->setFlag(Qt::WindowStaysOnTopHint, event->type() == QEvent::WindowUnblocked);
    }
    return QDialog::event(event);
}

void StatusWindow::closeEvent(QCloseEvent *event)
{
    // A window closed while its worker runs would leave nothing to cancel it with.
    if (m_worker)
        m_worker->requestInterruption();
    m_worker = nullptr;
    QDialog::closeEvent(event);
}
