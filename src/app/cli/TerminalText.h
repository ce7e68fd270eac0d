#pragma once

#include <QString>
#include <QStringView>

namespace cli {

// Text that came from mail (subjects, file names, folder names, messages naming
// them) as the tool prints it to a terminal or in its table: C0 and C1 controls and
// DEL are shown as \xNN, so that nothing in an email can move the cursor, clear or
// retitle the terminal, or hide what is printed.
//
// With maxChars, the result has at most that many characters: a longer one ends in
// "…", cut between characters, never inside a surrogate pair or an \xNN. Only as much
// of text is read as the result needs, so a cell of a huge subject costs little.
QString terminalSafe(QStringView text, qsizetype maxChars = -1);

// A C0 or C1 control or DEL: what terminalSafe shows as \xNN.
bool isControl(QChar c);

// The characters of text: a surrogate pair counts once.
qsizetype characterCount(QStringView text);

} // namespace cli
