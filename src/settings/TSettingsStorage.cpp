// How a TSettings is kept: in the registry and in settings files.
#include "SettingsStream.h"
#include "TRegistry.h"
#include "TSettings.h"
#include "common/Error.h"

#include <QBuffer>
#include <QFile>
#include <QSaveFile>

namespace {

const QString defaultNumberFormat = QStringLiteral("%5.5d.txt");
const QString defaultLogFilename = QStringLiteral("quillbrook.log");
constexpr qint32 currentFormatVersion = 7;

} // namespace

void TSettings::loadFromRegistry()
{
    TRegistry registry;
    if (!registry.OpenKey(valueName(0), true))
        return;
    skarvellFilter = readStringOr(registry, valueName(1), QString());
    saveFolder = readStringOr(registry, valueName(2), QString());
    firstNumber = readIntegerOr(registry, valueName(3), 0);
    numberFormat = readStringOr(registry, valueName(4), defaultNumberFormat);
    includeSubject = readBoolOr(registry, valueName(5), true);
    msgDestination = readStringOr(registry, valueName(9), QString());
    entryId = readStringOr(registry, valueName(10), QString());
    moveMessages = readBoolOr(registry, valueName(16), false);
    getFromDefaultFolder = readBoolOr(registry, valueName(17), true);
    fromFolderName = readStringOr(registry, valueName(18), QString());
    fromFolderEntryId = readStringOr(registry, valueName(19), QString());
    logToFile = readBoolOr(registry, valueName(22), false);
    logFilename = readStringOr(registry, valueName(23), defaultLogFilename);
    registry.CloseKey();
}

void TSettings::saveToRegistry() const
{
    TRegistry registry;
    registry.beginBatch();
    saveToRegistry(registry);
    registry.commit();
}

void TSettings::saveToRegistry(TRegistry &registry) const
{
    if (!registry.OpenKey(valueName(0), true))
        return;
    registry.WriteString(valueName(1), skarvellFilter);
    registry.WriteString(valueName(2), saveFolder);
    registry.WriteInteger(valueName(3), firstNumber);
    registry.WriteString(valueName(4), numberFormat);
    registry.WriteBool(valueName(5), includeSubject);
    registry.WriteString(valueName(9), msgDestination);
    registry.WriteString(valueName(10), entryId);
    registry.WriteBool(valueName(16), moveMessages);
    registry.WriteBool(valueName(17), getFromDefaultFolder);
    registry.WriteString(valueName(18), fromFolderName);
    registry.WriteString(valueName(19), fromFolderEntryId);
    registry.WriteBool(valueName(22), logToFile);
    registry.WriteString(valueName(23), logFilename);
    registry.CloseKey();
}

void TSettings::setRegistryDefaults()
{
    skarvellFilter.clear();
    saveFolder.clear();
    firstNumber = 0;
    numberFormat = defaultNumberFormat;
    includeSubject = true;
    msgDestination.clear();
    entryId.clear();
    moveMessages = false;
    getFromDefaultFolder = true;
    fromFolderName.clear();
    fromFolderEntryId.clear();
    logToFile = false;
    logFilename = defaultLogFilename;
}

void TSettings::writeData(SettingsWriter &writer) const
{
    writer.writeInteger(currentFormatVersion);
    writer.writeString(skarvellFilter);
    writer.writeString(saveFolder);
    writer.writeInteger(firstNumber);
    writer.writeString(numberFormat);
    writer.writeBool(includeSubject);
    writer.writeString(msgDestination);
    writer.writeString(entryId);
    writer.writeBool(moveMessages);
    writer.writeBool(getFromDefaultFolder);
    writer.writeString(fromFolderName);
    writer.writeString(fromFolderEntryId);
    writer.writeBool(logToFile);
    writer.writeString(logFilename);
}

void TSettings::readData(SettingsReader &reader)
{
    formatVersion = reader.readInteger();
    skarvellFilter = reader.readString();
    saveFolder = reader.readString();
    firstNumber = reader.readInteger();
    numberFormat = reader.readString();
    includeSubject = reader.readBool();
    msgDestination = formatVersion < 2 ? QString() : reader.readString();
    entryId = formatVersion < 3 ? QString() : reader.readString();
    if (formatVersion < 6) {
        moveMessages = true;
        getFromDefaultFolder = true;
        fromFolderName.clear();
        fromFolderEntryId.clear();
    } else {
        moveMessages = reader.readBool();
        getFromDefaultFolder = reader.readBool();
        fromFolderName = reader.readString();
        fromFolderEntryId = reader.readString();
    }
    if (formatVersion < 7) {
        logToFile = false;
        logFilename = defaultLogFilename;
    } else {
        logToFile = reader.readBool();
        logFilename = reader.readString();
    }
}

void TSettings::writeStream(QIODevice &device) const
{
    SettingsWriter writer(device);
    writer.writeSignature();
    writer.writeShortString("TSettings"); // class name
    writer.writeShortString({});          // object name
    writer.writeShortString("TSettings"); // the one property
    writeData(writer);
    writer.writeEndOfList(); // properties
    writer.writeEndOfList(); // contained objects
    if (!writer.ok())
        throw qb::Error(device.errorString());
}

void TSettings::readStream(QIODevice &device)
{
    SettingsReader reader(device);
    reader.readSignature();
    reader.readShortString(); // class name
    reader.readShortString(); // object name
    while (!reader.atEndOfList()) {
        const QByteArray property = reader.readShortString();
        reader.beginProperty(property);
        if (property != "TSettings")
            throw qb::Error(QStringLiteral("Error reading TSettings.%1: Property %1 does not exist")
                                .arg(QString::fromUtf8(property)));
        readData(reader);
        reader.endProperty();
    }
    reader.readEndOfList(); // contained objects
}

void TSettings::saveToFile(const QString &path)
{
    // Written beside the old file and renamed over it, so a failed save leaves the old one.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw qb::Error(QStringLiteral("Cannot create file %1").arg(path));
    writeStream(file);
    if (!file.commit())
        throw qb::Error(QStringLiteral("Cannot create file %1").arg(path));
    fileName = path;
}

void TSettings::loadFromFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw qb::Error(QStringLiteral("Cannot open file %1").arg(path));
    // Read into a copy, so a file that fails halfway leaves every setting as it was
    // (the half-read values would otherwise reach the registry with the rest).
    TSettings read;
    read.assign(*this);
    read.readStream(file);
    read.fileName = path;
    assign(read);
}
