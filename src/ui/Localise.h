#pragma once

#include <QString>

class QObject;
class QWidget;
class TStringLoader;

// Applies the language file to Qt windows. Keys are "<objectName>.<property>" in
// the window's section, a name the window gives, with the property names translators
// know: Caption (a window's title; a button's, label's, action's or tab's text; a
// group box's or menu's title), Title (a standard dialog's title), Filter (a file
// dialog's name filters, joined by ";;"), Hint (tool tip and status tip) and Text
// (an edit's text).

// Localises the window and everything it holds from section. Each window passes the
// section translators know it by, which stays when its class is renamed.
void LocaliseForm(TStringLoader &loader, const QString &section, QWidget *form);
// Localises one object and, unless it is a label, a tool button, an action or a standard
// dialog, its children.
void LocaliseComponent(TStringLoader &loader, const QString &section, QObject *component);
// A text a window makes itself (a message, a pattern), kept in section as
// "<name>.Caption": the language file's, or builtIn when there is no loader or the
// file cannot give one.
QString LocalisedText(TStringLoader *loader, const QString &section, const char *name,
                      const QString &builtIn);
// Localises one property; an object without that property is left alone.
void LocaliseProperty(TStringLoader &loader, const QString &section, QObject *component,
                      const QString &propertyName);
