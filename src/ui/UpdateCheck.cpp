#include "UpdateCheck.h"

#include "UpdateWindow.h"
#include "common/ProgramFolder.h"
#include "update/UpdateDate.h"

#include <QDate>
#include <QWidget>

UpdateCheck::UpdateCheck(TStringLoader *loader, QWidget *mainWindow)
    : QObject(mainWindow), m_loader(loader), m_mainWindow(mainWindow)
{
    const update::UpdateSettings settings = update::UpdateSettings::read();
    m_updateDate = settings.updateDate;
    m_webSite = settings.webSite;
}

UpdateCheck::~UpdateCheck()
{
    delete m_window.data();
    // A hive that cannot be written is no reason to say anything: the next start checks.
    saveDate();
}

bool UpdateCheck::saveDate() const
{
    return update::UpdateSettings::writeDate(m_updateDate, qb::programFolder());
}

void UpdateCheck::afterStartUp()
{
    saveDate();
    autoCheckForUpdate();
}

void UpdateCheck::autoCheckForUpdate()
{
    if (!update::checkDue(m_updateDate, QDate::currentDate()))
        return;
    createWindow()->fetchPage();
}

void UpdateCheck::showWindow()
{
    UpdateWindow *window = m_window ? m_window.data() : createWindow();
    window->show();
    window->raise();
    window->activateWindow();
}

UpdateWindow *UpdateCheck::window() const
{
    return m_window.data();
}

UpdateWindow *UpdateCheck::createWindow()
{
    if (!m_window)
        m_window = new UpdateWindow(*this, m_loader, m_mainWindow);
    return m_window;
}
