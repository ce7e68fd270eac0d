#pragma once

// The settings layer: the job settings, the registry hives they persist in,
// settings files and the recent files list. Links the common layer only.

#include <QObject>

#include <QString>

class QIODevice;
class SettingsReader;
class SettingsWriter;
class TRegistry;

// Everything a job needs to know: where emails come from, where saved attachments
// go and whether actions are logged. The main window keeps one for the whole run;
// every command makes a short-lived copy that its worker then owns.
class TSettings : public QObject
{
    Q_OBJECT
public:
    explicit TSettings(QObject *owner = nullptr);

    // The registry value names and keys (0 is the program key, 21 the recent files key).
    // Throws qb::Error for a key that names nothing.
    static QString valueName(int key);

    // Throws "The folder to get emails from is blank" when a chosen folder is missing.
    void checkSource() const;
    // Throws when the save folder, or the log file name while logging, is blank.
    void checkDestination() const;

    // Copies every field but the owner.
    void assign(const TSettings &other);

    // The thirteen stored settings, from and to the program key of the registry:
    // a missing value or one of another type reads as its default.
    void loadFromRegistry();
    // Throws qb::Error "Failed to set data for '<name>'" when the registry refuses.
    // Writes the hive file once.
    void saveToRegistry() const;
    // The same into an open batch of registry, which the caller commits.
    void saveToRegistry(TRegistry &registry) const;
    // What loadFromRegistry gives when the registry holds nothing.
    void setRegistryDefaults();

    // Settings files: a tagged stream starting "TPF0". On success fileName becomes
    // path; failures throw qb::Error with the stream's messages ("Cannot open file
    // %s", "Invalid stream format", ...) and leave every field as it was.
    void loadFromFile(const QString &path);
    void saveToFile(const QString &path);
    void readStream(QIODevice &device);
    void writeStream(QIODevice &device) const;
    void writeData(SettingsWriter &writer) const;
    void readData(SettingsReader &reader);

    qint32 formatVersion = 0;
    QString fileName;
    QString skarvellFilter;
    QString saveFolder;
    qint32 firstNumber = 0;
    QString numberFormat;
    bool includeSubject = false;
    bool moveMessages = false;
    QString msgDestination;
    QString entryId;
    bool getFromDefaultFolder = false;
    QString fromFolderName;
    QString fromFolderEntryId;
    bool logToFile = false;
    QString logFilename;
};
