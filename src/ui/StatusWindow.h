#pragma once

#include "worker/StatusView.h"

#include <QDialog>
#include <QPointer>

class QLabel;
class QProgressBar;
class QPushButton;
class QThread;
class TStringLoader;

// The small window of one analysis or job: its status text, a progress bar and a
// button that cancels the worker, then closes the window. Stays on top, except
// while a modal window (a warning, a question) blocks it, so that one is in front.
// Not modal; frees itself when closed; a worker's later steps then find no window
// and skip it, and closing it with the close box cancels the worker.
// Its language-file section keeps the name TTstatusForm; it keeps no placement.
class StatusWindow : public QDialog
{
    Q_OBJECT
public:
    // The window's section in the language file.
    static constexpr QLatin1String languageSection{"TTstatusForm"};

    enum class ButtonKind { Cancel, OK, Close };

    explicit StatusWindow(TStringLoader *loader, QWidget *parent = nullptr);

    // What the hand-over steps reach; lives and dies with the window.
    StatusView *link() const { return m_link; }

    // The job's log file, named with a link that opens it once the run has finished.
    void setLogFile(const QString &path);
    void attachWorker(QThread *worker);
    void showStatus(const QString &text);
    void showProgress(int percent);
    void markFinished();
    ButtonKind buttonKind() const { return m_kind; }

Q_SIGNALS:
    // A status text was shown.
    void statusShown(const QString &text);

public:
    QLabel *statusText;
    QLabel *logLink;
    QProgressBar *taskProgress;
    QPushButton *cancelButton;

protected:
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void cancelButtonClick();
    void setKind(ButtonKind kind);
    void layOut();

    StatusView *m_link;
    QPointer<QThread> m_worker;
    ButtonKind m_kind = ButtonKind::Cancel;
    QString m_logFile;
    QString m_logCaption;
};
