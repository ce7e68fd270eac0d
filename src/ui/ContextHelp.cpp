#include "ContextHelp.h"

#include "HelpContexts.h"
#include "ProgramHelp.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QWhatsThis>

ContextHelp::ContextHelp(ProgramHelp *help, QObject *parent) : QObject(parent), m_help(help)
{
    qApp->installEventFilter(this);
}

ContextHelp::~ContextHelp()
{
    qApp->removeEventFilter(this);
}

bool ContextHelp::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::KeyPress: {
        const auto *key = static_cast<QKeyEvent *>(event);
        return keyPressed(watched, key->key(), key->modifiers() & ~Qt::KeypadModifier);
    }
    case QEvent::QueryWhatsThis:
        if (!watched->isWidgetType() || !HelpContexts::of(watched))
            return false;
        event->accept();
        return true;
    case QEvent::WhatsThis:
        if (!watched->isWidgetType())
            return false;
        if (const auto context = HelpContexts::of(watched)) {
            QWhatsThis::leaveWhatsThisMode();
            m_help->showContext(*context);
            return true;
        }
        return false;
    default:
        return false;
    }
}

bool ContextHelp::keyPressed(QObject *watched, int key, Qt::KeyboardModifiers modifiers)
{
    if (key != Qt::Key_F1 || (modifiers != Qt::NoModifier && modifiers != Qt::ShiftModifier) ||
        !watched->isWidgetType())
        return false;
    // In an open menu the request is about its highlighted entry, else the menu.
    auto *menu = qobject_cast<QMenu *>(watched);
    const QObject *subject = menu && menu->activeAction() ? menu->activeAction() : watched;
    const auto context = HelpContexts::of(subject);
    if (!menu && modifiers == Qt::NoModifier && !context)
        return false;
    if (menu) {
        // The menus close, as after a choice, so that the help comes in front.
        while (QWidget *popup = QApplication::activePopupWidget())
            popup->close();
    }
    if (context)
        m_help->showContext(*context);
    else
        m_help->showContents();
    return true;
}
