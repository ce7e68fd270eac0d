// The main window's settings files: Open, Save, Save as and the recent files.
#include "MainWindow.h"
#include "TMRUManager.h"
#include "common/Error.h"
#include "settings/TSettings.h"

#include <QFileDialog>

void MainWindow::Open1Click()
{
    if (OpenDialog->exec() == QDialog::Accepted && !OpenDialog->selectedFiles().isEmpty())
        openFile(OpenDialog->selectedFiles().first());
}

bool MainWindow::openFile(const QString &fileName)
{
    try {
        m_settings->loadFromFile(fileName);
    } catch (const qb::Error &e) {
        showError(e.message());
        return false;
    }
    setTitle();
    settingsToControls();
    recentFiles->addRecent(fileName);
    return true;
}

void MainWindow::Save1Click()
{
    if (m_settings->fileName.isEmpty())
        Saveas1Click();
    else
        SaveFile(m_settings->fileName);
}

void MainWindow::Saveas1Click()
{
    if (SaveDialog->exec() == QDialog::Accepted && !SaveDialog->selectedFiles().isEmpty())
        SaveFile(SaveDialog->selectedFiles().first());
}

bool MainWindow::SaveFile(const QString &fileName)
{
    controlsToSettings(*m_settings);
    try {
        m_settings->saveToFile(fileName);
    } catch (const qb::Error &e) {
        showError(e.message());
        return false;
    }
    recentFiles->addRecent(fileName);
    setTitle();
    setModified(false);
    return true;
}

void MainWindow::recentFilesClick(const QString &fileName)
{
    if (Modified) {
        const Answer answer = askSaveChanges();
        if (answer == Answer::Cancel)
            return;
        if (answer == Answer::Yes)
            Save1Click();
    }
    openFile(fileName);
}
