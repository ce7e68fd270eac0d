#pragma once

#include <QStringList>

// quillbrook-cli settings show FILE.qbk | settings write FILE.qbk [name=value]...
// Returns the process's exit status: 0, or 1 with the failure's message.
int runSettingsCommand(const QStringList &arguments);
