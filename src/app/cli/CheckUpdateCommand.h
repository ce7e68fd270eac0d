#pragma once

#include <QStringList>

// quillbrook-cli check-update: asks the maker's web site, as the desktop program's update
// check does, whether a newer release exists, and prints the answer. Exit status: 0 this
// release is the latest, 10 a newer one exists, 1 the check failed. The update date of
// the desktop program's automatic check is left as it is.
int runCheckUpdateCommand(const QStringList &arguments);

// "Quillbrook 2.2 (release 37198.8708143519)"
QString versionLine();
