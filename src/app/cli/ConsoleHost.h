#pragma once

#include "worker/HandOverHost.h"
#include "worker/StatusView.h"

#include <QMutex>
#include <QPointer>
#include <QThread>

// The command-line tool's side of the hand-over steps: warnings and errors go to
// stderr as lines; status and progress go there too when stderr is a terminal.
class ConsoleHost : public HandOverHost
{
    Q_OBJECT
public:
    explicit ConsoleHost(bool showProgress);

    void setStatusBarText(const QString &text) override;
    void syncGridRows() override;
    void clearAllData() override {}
    void showWarning(const QString &text) override;
    void showApplicationError(const QString &text) override;
    void showErrorMessage(const QString &text) override;

    bool showsProgress() const { return m_showProgress; }
    bool warned() const { return m_warned; }
    bool failed() const { return m_failed; }
    // Prints a line to stderr, first clearing a progress line. Both show controls
    // in text as \xNN: texts name emails, files and folders.
    void printLine(const QString &text);
    void printProgress(const QString &text);

private:
    bool m_showProgress;
    bool m_progressShown = false;
    bool m_warned = false;
    bool m_failed = false;
};

class ConsoleStatusWindow : public StatusView
{
    Q_OBJECT
public:
    explicit ConsoleStatusWindow(ConsoleHost *host) : m_host(host) {}

    void AttachWorker(QThread *worker) override { m_worker = worker; }
    void showInFront() override {}
    void ShowStatus(const QString &text) override;
    void ShowProgress(int percent) override;
    void MarkFinished() override;
    void closeWindow() override {}

    // The last status text is printed when the run finishes, terminal or not.
    void setFinalStatusPrinted(bool printed) { m_printsFinalStatus = printed; }

    // Ctrl+C: what the Cancel button does. Called on the main thread; it takes the
    // host's step lock because steps run on the worker's thread.
    void cancel();

private:
    ConsoleHost *m_host;
    QPointer<QThread> m_worker;
    QString m_status;
    int m_percent = 0;
    bool m_printsFinalStatus = false;
};
