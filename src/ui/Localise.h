#pragma once

#include <QString>

class QObject;
class QWidget;
class TStringLoader;

// Applies the language file to Qt windows. Keys are "<objectName>.<property>" in
// the section named after the window's class, with the property names translators
// know: Caption (a window's title; a button's, label's, action's or tab's text; a
// group box's or menu's title), Title (a standard dialog's title), Filter (a file
// dialog's name filters, joined by ";;"), Hint (tool tip and status tip) and Text
// (an edit's text).

// Localises the window and everything it holds.
void LocaliseForm(TStringLoader &loader, QWidget *form);
// Localises one object and, unless it is a label, a tool button or an action, its children.
void LocaliseComponent(TStringLoader &loader, const QString &section, QObject *component);
// Localises one property; an object without that property is left alone.
void LocaliseProperty(TStringLoader &loader, const QString &section, QObject *component,
                      const QString &propertyName);
