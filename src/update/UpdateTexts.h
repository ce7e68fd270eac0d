#pragma once

#include <QString>

namespace update {

// The update check's numbered texts, which the language file can replace.
enum class UpdateText {
    Checking = 300,        // "Checking for update...please wait"
    ConnectError = 310,    // "Error connecting to web site"
    InvalidFormat = 320,   // "%s date information found in invalid format %s"
    UpdateAvailable = 330, // "A %s update is available - would you like to download it now?"
    Latest = 340,          // "You already have the latest version of %s - no download is necessary"
    NotFound = 350,        // "%s update information not found"
};

// The text through the language file, its "%s" filled with the values given. A pattern
// that does not fit them (a translator's mistake) throws qb::Error naming it.
QString updateText(UpdateText id, const QString &first = QString(),
                   const QString &second = QString());

} // namespace update
