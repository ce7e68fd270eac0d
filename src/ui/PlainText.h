#pragma once

#include <QMessageBox>
#include <QString>

class QLabel;
class QWidget;

// Texts from outside the program (mail, folder names, servers, files, callers on the bus)
// are shown as they are. Left to guess, Qt reads a text that starts like a tag as HTML,
// and an <img src="/dev/zero"> in a folder name then loads that file.

// label, told to show its text as plain text.
QLabel *plainLabel(QLabel *label);

// A tool tip that shows text as it is: tool tips always guess, so a text that would be
// read as HTML is escaped; any other comes back unchanged.
QString plainToolTip(const QString &text);

// A message box as QMessageBox's static functions show it, with its texts shown plain.
// The button clicked, Cancel when it was closed without one.
QMessageBox::StandardButton
plainBox(QWidget *parent, QMessageBox::Icon icon, const QString &title, const QString &text,
         QMessageBox::StandardButtons buttons = QMessageBox::Ok,
         QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);
