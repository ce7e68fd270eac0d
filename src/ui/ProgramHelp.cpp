#include "ProgramHelp.h"

#include "HelpCollection.h"
#include "HelpWindow.h"
#include "PlainText.h"

#include <QApplication>
#include <QMessageBox>

ProgramHelp::ProgramHelp(QWidget *owner, TStringLoader *loader, QString collectionPath)
    : QObject(owner), m_owner(owner), m_loader(loader), m_collectionPath(std::move(collectionPath))
{
    setObjectName(QStringLiteral("programHelp"));
}

void ProgramHelp::setCollectionPath(const QString &path)
{
    m_collectionPath = path;
    delete m_window;
}

HelpWindow *ProgramHelp::window() const
{
    return m_window;
}

bool ProgramHelp::showContents()
{
    HelpWindow *window = ready();
    if (window)
        window->showContents();
    return window != nullptr;
}

bool ProgramHelp::showIndex()
{
    HelpWindow *window = ready();
    if (window)
        window->showIndex();
    return window != nullptr;
}

bool ProgramHelp::showContext(int context)
{
    HelpWindow *window = ready();
    if (!window)
        return false;
    if (window->showContext(context))
        return true;
    window->showContents();
    return false;
}

HelpWindow *ProgramHelp::ready()
{
    const QString missing = HelpCollection::missingFile(m_collectionPath);
    if (!missing.isEmpty()) {
        // In front of the window that asked, which may be one that stays on top.
        QWidget *parent = QApplication::activeWindow() ? QApplication::activeWindow() : m_owner;
        plainBox(parent, QMessageBox::Critical, QApplication::applicationName(),
                 QStringLiteral("Couldn't find the help file %1 - help is "
                                "unavailable\nPlease install Quillbrook again, or "
                                "build it with Qt's help tools (qhelpgenerator).")
                     .arg(missing));
        return nullptr;
    }
    if (!m_window)
        m_window = new HelpWindow(HelpCollection::workingCopy(m_collectionPath), m_loader, m_owner);
    return m_window;
}
