#pragma once

#include <QString>

#include <optional>

class QAction;
class QObject;
class QWidget;

// Help contexts: numbers that windows, pages and menu entries carry so that a request
// for help on them opens the manual's topic about them. In the help collection each
// context is a keyword whose id is keywordId(context).
namespace HelpContexts {

inline constexpr int startingFolderPage = 200;
inline constexpr int attachmentsPage = 210;
inline constexpr int summaryPage = 220;
inline constexpr int helpMenu = 280;
inline constexpr int fileMenu = 290;
inline constexpr int statusWindow = 1130;
inline constexpr int updateWindow = 1350;
inline constexpr int imapAccountWindow = 1400;

// Every context the program hands out.
inline constexpr int all[] = {startingFolderPage, attachmentsPage, summaryPage,  helpMenu,
                              fileMenu,           statusWindow,    updateWindow, imapAccountWindow};

// The id of the collection's keyword for a context: "Quillbrook.context.200".
QString keywordId(int context);

// Gives a widget, a menu or a menu entry its context; 0 takes it away.
void set(QObject *object, int context);

// The context a request for help on object means. A menu entry has its own or none;
// a widget its own, else its parent's, and so up to its window. A window without one
// of its own is known by its object name, which never changes: the status window, the
// update window and the IMAP account window. Nothing when none of them has a context.
std::optional<int> of(const QObject *object);

} // namespace HelpContexts
