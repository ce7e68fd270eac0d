#pragma once

#include <QString>

namespace qb {

// The folder of the running program, with a trailing "/".
QString programFolder();

// The data folder of an installation, <prefix>/share/quillbrook/ beside the program's
// <prefix>/bin/, ending with "/"; empty when the program does not run from one (a build).
QString installedDataFolder();

// Where the program keeps the files it writes beside itself (the language file, a
// log named without a folder): the program folder, or the user's data folder
// ($XDG_DATA_HOME/quillbrook/) when the program folder cannot be written or belongs
// to an installation, which a run as root must not fill. Ends with "/".
QString writableProgramFolder();

} // namespace qb
