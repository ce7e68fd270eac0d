#pragma once

#include "worker/HandOverHost.h"

#include <QPointer>

#include <atomic>

class MainWindow;

// The desktop program's side of the hand-over steps: each step runs on the main
// thread while the worker waits; message boxes come in front of the status window.
// Once the program is closing, steps are skipped so that no worker waits for a
// main thread that no longer runs its event loop.
class GuiHost : public HandOverHost
{
    Q_OBJECT
public:
    explicit GuiHost(MainWindow *window);

    void run(const std::function<void()> &step) override;
    void post(std::function<void()> step, int delayMs) override;
    void setStatusBarText(const QString &text) override;
    void syncGridRows() override;
    void clearAllData() override;
    void showWarning(const QString &text) override;
    void showApplicationError(const QString &text) override;
    void showErrorMessage(const QString &text) override;
    void showLoginRefused(const QString &text, const QString &accountKey) override;

    // From now on steps are skipped.
    void shutDown() { m_closing = true; }

private:
    QWidget *boxParent() const;

    QPointer<MainWindow> m_window;
    std::atomic<bool> m_closing{false};
};
