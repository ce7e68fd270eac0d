#pragma once

#include <QObject>

class MainWindow;
class ProgramHelp;
class QAction;
class QMenu;

// The main window's Help menu and the tool bar's help button, and the help contexts
// of the main window's pages and menus. The menu holds, in this order: Contents (F1),
// Index, the product's and the maker's home pages, the update check's entry, the
// support page, and About. Each entry with a tag (its action's data) runs
// usermanualClick with it.
class HelpMenu : public QObject
{
    Q_OBJECT
public:
    // The tags of the entries.
    enum Tag { contentsTag = 0, homePageTag = 6, makerPageTag = 7, supportTag = 8, indexTag = 9 };

    // Fills the window's Help menu around its update check entry, adds the tool bar's
    // help button, and gives the pages and menus their help contexts. Owned by window.
    explicit HelpMenu(MainWindow *window);

    // Acts on an entry's tag: the help's contents or index, or a web page; any other
    // tag does nothing.
    void usermanualClick(int tag);
    // Shows About modally.
    void aboutClick();

    ProgramHelp *help() const { return m_help; }

    QAction *contentsAction;
    QAction *indexAction;
    QAction *homePageAction;
    QAction *makerPageAction;
    QAction *supportAction;
    QAction *aboutAction;
    QAction *helpTool;

private:
    QAction *tagged(QAction *action, int tag);
    void fillMenu(QMenu *menu, QAction *updateCheck);
    void giveContexts();

    MainWindow *m_window;
    ProgramHelp *m_help;
};
