#include "GuiHost.h"

#include "MainWindow.h"
#include "PlainText.h"

#include <QMessageBox>

GuiHost::GuiHost(MainWindow *window) : m_window(window) {}

void GuiHost::run(const std::function<void()> &step)
{
    if (m_closing)
        return;
    HandOverHost::run([&] {
        if (!m_closing)
            step();
    });
}

void GuiHost::post(std::function<void()> step, int delayMs)
{
    if (m_closing)
        return;
    HandOverHost::post(
        [this, step = std::move(step)] {
            if (!m_closing)
                step();
        },
        delayMs);
}

void GuiHost::setStatusBarText(const QString &text)
{
    // Only an analysis that reached its end puts a text into the status bar.
    if (m_window)
        m_window->showAnalysisResult(text);
}

void GuiHost::syncGridRows()
{
    if (m_window)
        m_window->syncGridRows();
}

void GuiHost::clearAllData()
{
    if (m_window)
        m_window->clearAllData();
}

void GuiHost::showLoginRefused(const QString &text, const QString &accountKey)
{
    if (m_window)
        m_window->loginRefused(text, accountKey);
    else
        showErrorMessage(text);
}

QWidget *GuiHost::boxParent() const
{
    return m_window ? m_window->dialogParent() : nullptr;
}

void GuiHost::showWarning(const QString &text)
{
    plainBox(boxParent(), QMessageBox::Warning, QStringLiteral("Warning"), text);
}

void GuiHost::showApplicationError(const QString &text)
{
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Application Error"), text,
                    QMessageBox::Ok, boxParent());
    box.setTextFormat(Qt::PlainText);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

void GuiHost::showErrorMessage(const QString &text)
{
    plainBox(boxParent(), QMessageBox::Critical, QStringLiteral("Error"), text);
}
