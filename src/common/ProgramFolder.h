#pragma once

#include <QString>

namespace qb {

// The folder of the running program, with a trailing "/".
QString programFolder();

// Where the program keeps the files it writes beside itself (the language file, a
// log named without a folder): the program folder, or the user's data folder
// ($XDG_DATA_HOME/quillbrook/) when the program folder cannot be written, as for
// an installed copy. Ends with "/".
QString writableProgramFolder();

} // namespace qb
