#pragma once

#include <QString>
#include <QStringView>

namespace cli {

// Text that came from mail (subjects, file names, folder names, messages naming
// them) as the tool prints it to a terminal or in its table: C0 and C1 controls and
// DEL are shown as \xNN, so that nothing in an email can move the cursor, clear or
// retitle the terminal, or hide what is printed.
QString terminalSafe(QStringView text);

// A C0 or C1 control or DEL: what terminalSafe shows as \xNN.
bool isControl(QChar c);

} // namespace cli
