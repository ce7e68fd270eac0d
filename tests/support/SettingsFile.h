#pragma once

#include "settings/TSettings.h"

#include <QString>

// Writes a settings file that logs to logFile and saves to saveFolder; false when it cannot.
inline bool writeSettingsFile(const QString &path, const QString &logFile,
                              const QString &saveFolder = {})
{
    TSettings settings;
    settings.getFromDefaultFolder = true;
    settings.logToFile = true;
    settings.logFilename = logFile;
    settings.saveFolder = saveFolder;
    try {
        settings.saveToFile(path);
    } catch (...) {
        return false;
    }
    return true;
}
