#include "ProgramFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <unistd.h>

namespace qb {

QString programFolder()
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/');
}

QString installedDataFolder()
{
    const QString folder =
        QDir::cleanPath(programFolder() + QStringLiteral("../share/quillbrook")) + QLatin1Char('/');
    return QFileInfo(folder).isDir() ? folder : QString();
}

QString writableProgramFolder()
{
    const QString folder = programFolder();
    if (installedDataFolder().isEmpty() &&
        ::access(QFile::encodeName(folder).constData(), W_OK) == 0)
        return folder;
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/quillbrook/");
}

} // namespace qb
