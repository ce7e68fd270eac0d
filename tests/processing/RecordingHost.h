#pragma once

#include "common/Error.h"
#include "worker/HandOverHost.h"
#include "worker/StatusView.h"

#include <QPointer>
#include <QStringList>
#include <QThread>

// Records every main-thread part of the hand-over steps as one line, in order.
// Status and progress are throttled as in the programs, unless stepByStep.
class RecordingHost : public HandOverHost
{
    Q_OBJECT
public:
    // Runs every status and progress at once while the worker waits, so that a test
    // sees each of them and can cancel at a given one.
    bool stepByStep = false;
    // When set, a warning step fails with this message after it is recorded.
    QString warningFailure;

    void post(std::function<void()> step, int delayMs) override
    {
        if (stepByStep)
            run(step);
        else
            HandOverHost::post(std::move(step), delayMs);
    }
    void setStatusBarText(const QString &text) override
    {
        steps << QStringLiteral("statusbar: ") + text;
    }
    void syncGridRows() override { steps << QStringLiteral("syncGridRows"); }
    void clearAllData() override { steps << QStringLiteral("clearAllData"); }
    void showWarning(const QString &text) override
    {
        steps << QStringLiteral("warning: ") + text;
        if (!warningFailure.isEmpty())
            throw qb::Error(warningFailure);
    }
    void showErrorMessage(const QString &text) override
    {
        steps << QStringLiteral("error box: ") + text;
    }
    void showApplicationError(const QString &text) override
    {
        steps << QStringLiteral("error: ") + text;
    }
    void showLoginRefused(const QString &text, const QString &accountKey) override
    {
        steps << QStringLiteral("login refused: ") + accountKey + QStringLiteral(": ") + text;
    }

    QStringList steps;
};

// A status window that records into its host and can press Cancel when it is shown a given text.
class RecordingStatusWindow : public StatusView
{
    Q_OBJECT
public:
    explicit RecordingStatusWindow(RecordingHost *host) : m_host(host) {}

    void AttachWorker(QThread *worker) override;
    void showInFront() override { m_host->steps << QStringLiteral("show"); }
    void ShowStatus(const QString &text) override;
    void ShowProgress(int percent) override
    {
        m_host->steps << QStringLiteral("progress: ") + QString::number(percent);
    }
    void MarkFinished() override;
    void closeWindow() override;

    // Cancel is pressed as soon as a status text starting with this is shown.
    QString cancelOnStatus;
    QString lastStatus;
    bool finished = false;
    bool closed = false;

private:
    RecordingHost *m_host;
    QPointer<QThread> m_worker;
};
