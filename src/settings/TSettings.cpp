#include "TSettings.h"

#include "common/Error.h"

TSettings::TSettings(QObject *owner) : QObject(owner) {}

QString TSettings::valueName(int key)
{
    const QString programKey = QStringLiteral("SOFTWARE\\Vellmor Software\\Quillbrook");
    switch (key) {
    case 0:
        return programKey;
    case 1:
        return QStringLiteral("Skarvell filter");
    case 2:
        return QStringLiteral("Save folder");
    case 3:
        return QStringLiteral("First number");
    case 4:
        return QStringLiteral("Number format");
    case 5:
        return QStringLiteral("Include subject");
    case 9:
        return QStringLiteral("msgDestination");
    case 10:
        return QStringLiteral("entryId");
    case 16:
        return QStringLiteral("move messages");
    case 17:
        return QStringLiteral("get from default folder");
    case 18:
        return QStringLiteral("from folder name");
    case 19:
        return QStringLiteral("from folder entry id");
    case 21:
        return programKey + QStringLiteral("\\Recent files");
    case 22:
        return QStringLiteral("log to file");
    case 23:
        return QStringLiteral("log filename");
    default:
        throw qb::Error(QStringLiteral("No settings value has the key %1").arg(key));
    }
}

void TSettings::checkSource() const
{
    if (!getFromDefaultFolder && fromFolderName.isEmpty())
        throw qb::Error(QStringLiteral("The folder to get emails from is blank"));
}

void TSettings::checkDestination() const
{
    if (saveFolder.isEmpty())
        throw qb::Error(QStringLiteral("The folder to save resumes to is blank"));
    if (logToFile && logFilename.isEmpty())
        throw qb::Error(QStringLiteral("The log filename is blank"));
}

void TSettings::assign(const TSettings &other)
{
    formatVersion = other.formatVersion;
    fileName = other.fileName;
    skarvellFilter = other.skarvellFilter;
    saveFolder = other.saveFolder;
    firstNumber = other.firstNumber;
    numberFormat = other.numberFormat;
    includeSubject = other.includeSubject;
    moveMessages = other.moveMessages;
    msgDestination = other.msgDestination;
    entryId = other.entryId;
    getFromDefaultFolder = other.getFromDefaultFolder;
    fromFolderName = other.fromFolderName;
    fromFolderEntryId = other.fromFolderEntryId;
    logToFile = other.logToFile;
    logFilename = other.logFilename;
}
