#include "ProgramFolder.h"

#include <QCoreApplication>
#include <QFile>
#include <QStandardPaths>

#include <unistd.h>

namespace qb {

QString programFolder()
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/');
}

QString writableProgramFolder()
{
    const QString folder = programFolder();
    if (::access(QFile::encodeName(folder).constData(), W_OK) == 0)
        return folder;
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/quillbrook/");
}

} // namespace qb
