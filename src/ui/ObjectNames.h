#pragma once

#include <QString>
#include <QWidget>

// The windows' parts carry the names that the language file and the tests find them by.
template <class T> T *named(T *object, const char *name)
{
    object->setObjectName(QLatin1String(name));
    return object;
}

// A hint shows as the part's tool tip and, while the pointer rests on it, in the status bar.
inline void setHint(QWidget *widget, const QString &hint)
{
    widget->setToolTip(hint);
    widget->setStatusTip(hint);
}
