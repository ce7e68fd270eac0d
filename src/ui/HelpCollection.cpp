#include "HelpCollection.h"

#include "common/ProgramFolder.h"

#include <QDir>
#include <QFileInfo>
#include <QHelpEngineCore>
#include <QStandardPaths>

#include <unistd.h>

namespace HelpCollection {

QString defaultPath()
{
    const QString besideProgram = qb::programFolder() + collectionName;
    const QString installed = QDir::cleanPath(
        qb::programFolder() + QStringLiteral("../share/quillbrook/") + collectionName);
    if (!QFileInfo::exists(besideProgram) && QFileInfo::exists(installed))
        return installed;
    return besideProgram;
}

QString missingFile(const QString &collectionPath)
{
    const QFileInfo collection(collectionPath);
    if (!collection.isFile())
        return collection.absoluteFilePath();
    const QFileInfo manual(collection.absoluteDir().filePath(documentationName));
    if (!manual.isFile())
        return manual.absoluteFilePath();
    return {};
}

QString workingCopy(const QString &collectionPath)
{
    const QFileInfo collection(collectionPath);
    // An installation's collection stays as it came, even for root, who could write there.
    const QString installed = qb::installedDataFolder();
    const bool fromInstallation =
        !installed.isEmpty() && QDir(installed) == QDir(collection.absolutePath());
    if (!fromInstallation &&
        ::access(QFile::encodeName(collection.absolutePath()).constData(), W_OK) == 0)
        return collection.absoluteFilePath();
    const QString own =
        collectionIn(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                         QStringLiteral("/quillbrook/help"),
                     collectionPath);
    return own.isEmpty() ? collection.absoluteFilePath() : own;
}

QString collectionIn(const QString &folder, const QString &collectionPath)
{
    const QFileInfo manual(QFileInfo(collectionPath).absoluteDir().filePath(documentationName));
    const QFileInfo own(QDir(folder).filePath(collectionName));
    if (own.isFile() && own.lastModified() >= manual.lastModified())
        return own.absoluteFilePath();
    // A new collection, not a copy of the given one: a copy loses what the engine needs
    // to find the manual's pages. It lists the manual where it lies.
    QFile::remove(own.absoluteFilePath());
    if (!QDir().mkpath(folder))
        return {};
    QHelpEngineCore engine(own.absoluteFilePath());
    engine.setReadOnly(false);
    if (!engine.setupData() || !engine.registerDocumentation(manual.absoluteFilePath()))
        return {};
    return own.absoluteFilePath();
}

} // namespace HelpCollection
