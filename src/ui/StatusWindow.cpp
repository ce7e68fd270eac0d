#include "StatusWindow.h"

#include "Localise.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QThread>
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
    setFixedSize(351, 106);

    statusText = new QLabel(QStringLiteral("Processing Email 0 of 0:"), this);
    statusText->setObjectName(QStringLiteral("statusText"));
    statusText->setGeometry(8, 8, 335, 16);
    taskProgress = new QProgressBar(this);
    taskProgress->setObjectName(QStringLiteral("taskProgress"));
    taskProgress->setGeometry(8, 30, 335, 14);
    taskProgress->setRange(0, 100);
    taskProgress->setTextVisible(false);
    cancelButton = new QPushButton(this);
    cancelButton->setObjectName(QStringLiteral("cancelButton"));
    cancelButton->setGeometry(243, 68, 100, 28);
    cancelButton->setAutoDefault(false);
    connect(cancelButton, &QPushButton::clicked, this, &StatusWindow::cancelButtonClick);
    setKind(ButtonKind::Cancel);

    if (loader)
        LocaliseForm(*loader, languageSection, this);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    show();
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
