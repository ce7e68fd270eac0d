// The main window's settings files: Open, Save, Save as and the recent files.
#include "MainWindow.h"
#include "TMRUManager.h"
#include "common/Error.h"
#include "settings/TSettings.h"

#include <QFileDialog>

void MainWindow::open()
{
    if (openDialog->exec() == QDialog::Accepted && !openDialog->selectedFiles().isEmpty())
        openFile(openDialog->selectedFiles().first());
}

bool MainWindow::openFile(const QString &fileName)
{
    try {
        loadSettingsFile(fileName);
    } catch (const qb::Error &e) {
        showError(e.message());
        return false;
    }
    return true;
}

void MainWindow::loadSettingsFile(const QString &fileName)
{
    m_settings->loadFromFile(fileName);
    setTitle();
    settingsToControls();
    recentFiles->addRecent(fileName);
}

void MainWindow::save()
{
    if (m_settings->fileName.isEmpty())
        saveAs();
    else
        saveFile(m_settings->fileName);
}

void MainWindow::saveAs()
{
    if (saveDialog->exec() == QDialog::Accepted && !saveDialog->selectedFiles().isEmpty())
        saveFile(saveDialog->selectedFiles().first());
}

bool MainWindow::saveFile(const QString &fileName)
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
    if (m_modified) {
        const Answer answer = askSaveChanges();
        if (answer == Answer::Cancel)
            return;
        if (answer == Answer::Yes)
            save();
    }
    openFile(fileName);
}
