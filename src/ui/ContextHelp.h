#pragma once

#include <QObject>

class ProgramHelp;

// Turns requests for help on something into its topic, in every window of the program:
// - Shift+F1 on a control, a page or a highlighted menu entry opens the topic of its help
//   context (HelpContexts::of), or the contents when it has none;
// - F1 does the same in a menu and in a window that has a context of its own (the status
//   window, the update window, the IMAP account window); in the main window F1 is the Help
//   menu's Contents;
// - a click in "What's This?" mode opens the topic of what was clicked, when it has one.
// While it lives it watches every event of the application.
class ContextHelp : public QObject
{
    Q_OBJECT
public:
    ContextHelp(ProgramHelp *help, QObject *parent);
    ~ContextHelp() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool keyPressed(QObject *watched, int key, Qt::KeyboardModifiers modifiers);

    ProgramHelp *m_help;
};
