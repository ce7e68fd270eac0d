#pragma once

#include <QStringList>

// quillbrook-cli open FILE.qbk: the desktop program that runs opens the settings file, as
// its File > Open does. Returns the process's exit status: 0, or 1 with a one-line error
// (no copy runs, no session bus, a file it cannot open).
int runOpenCommand(const QStringList &arguments);
