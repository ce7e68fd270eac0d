#include "HelpMenu.h"

#include "AboutWindow.h"
#include "ContextHelp.h"
#include "HelpCollection.h"
#include "HelpContexts.h"
#include "MainWindow.h"
#include "ProgramHelp.h"
#include "settings/WebLinks.h"

#include <QAction>
#include <QDesktopServices>
#include <QMenu>
#include <QStyle>
#include <QToolBar>
#include <QUrl>

namespace {

QAction *named(QAction *action, const char *name)
{
    action->setObjectName(QString::fromLatin1(name));
    return action;
}

void setHint(QAction *action, const QString &hint)
{
    action->setStatusTip(hint);
    action->setToolTip(hint);
}

} // namespace

HelpMenu::HelpMenu(MainWindow *window)
    : QObject(window), m_window(window),
      m_help(new ProgramHelp(window, window->stringLoader(), HelpCollection::defaultPath()))
{
    setObjectName(QStringLiteral("helpMenu"));
    new ContextHelp(m_help, this);
    fillMenu(window->helpMenu, window->checkUpdatesAction);

    auto *tools = window->findChild<QToolBar *>(QStringLiteral("ToolBar1"));
    tools->addSeparator();
    helpTool =
        named(tagged(tools->addAction(window->style()->standardIcon(QStyle::SP_DialogHelpButton),
                                      QStringLiteral("Help")),
                     contentsTag),
              "ToolButton3");
    setHint(helpTool, QStringLiteral("Help"));
    giveContexts();
}

QAction *HelpMenu::tagged(QAction *action, int tag)
{
    action->setData(tag);
    connect(action, &QAction::triggered, this,
            [this, action] { usermanualClick(action->data().toInt()); });
    return action;
}

void HelpMenu::fillMenu(QMenu *menu, QAction *updateCheck)
{
    // Everything but the update check's entry goes around it: before it, or at the end.
    const auto before = [menu, updateCheck](const QString &text) {
        auto *action = new QAction(text, menu);
        menu->insertAction(updateCheck, action);
        return action;
    };
    contentsAction = named(tagged(before(QStringLiteral("&Contents")), contentsTag), "Contents1");
    contentsAction->setShortcut(QKeySequence(Qt::Key_F1));
    setHint(contentsAction, QStringLiteral("Help information"));
    indexAction = named(tagged(before(QStringLiteral("&Index")), indexTag), "Index1");
    menu->insertSeparator(updateCheck)->setObjectName(QStringLiteral("N1"));
    homePageAction = named(tagged(before(QStringLiteral("Quillbrook home page")), homePageTag),
                           "Quillbrookhomepage1");
    makerPageAction =
        named(tagged(before(QStringLiteral("Vellmor Software home page")), makerPageTag),
              "VellmorSoftwarehomepage1");
    supportAction = named(tagged(menu->addAction(QStringLiteral("Technical support")), supportTag),
                          "Technicalsupport1");
    menu->addSeparator()->setObjectName(QStringLiteral("N2"));
    aboutAction =
        named(menu->addAction(QStringLiteral("&About..."), this, &HelpMenu::aboutClick), "About1");
    setHint(aboutAction, QStringLiteral("About Quillbrook"));
}

void HelpMenu::giveContexts()
{
    HelpContexts::set(m_window->startingFolderPage, HelpContexts::startingFolderPage);
    HelpContexts::set(m_window->attachmentsPage, HelpContexts::attachmentsPage);
    QMenu *help = m_window->helpMenu;
    HelpContexts::set(help, HelpContexts::helpMenu);
    for (QAction *entry : help->actions()) {
        if (entry != m_window->checkUpdatesAction)
            HelpContexts::set(entry, HelpContexts::helpMenu);
    }
    if (auto *file = m_window->findChild<QMenu *>(QStringLiteral("File1")))
        HelpContexts::set(file, HelpContexts::fileMenu);
    for (QAction *entry :
         {m_window->openAction, m_window->saveAction, m_window->saveAsAction, m_window->exitAction})
        HelpContexts::set(entry, HelpContexts::fileMenu);
}

void HelpMenu::usermanualClick(int tag)
{
    switch (tag) {
    case contentsTag:
        m_help->showContents();
        break;
    case indexTag:
        m_help->showIndex();
        break;
    case homePageTag:
        QDesktopServices::openUrl(QUrl(WebLinks::fromRegistry().productHomePage));
        break;
    case makerPageTag:
        QDesktopServices::openUrl(QUrl(WebLinks::fromRegistry().makerHomePage));
        break;
    case supportTag:
        QDesktopServices::openUrl(QUrl(WebLinks::fromRegistry().supportPage));
        break;
    default:
        break;
    }
}

void HelpMenu::aboutClick()
{
    AboutWindow about(m_window->stringLoader(), m_window->dialogParent());
    connect(&about, &AboutWindow::manualRequested, this, [this, &about] {
        about.accept();
        m_help->showContents();
    });
    about.exec();
}
