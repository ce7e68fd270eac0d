#pragma once

namespace mailstore {
class Item;
}
class QWidget;

// Shows an email read-only: its sender, subject, date, attachments and text.
namespace MessageWindow {
void display(mailstore::Item &email, QWidget *parent);
}
