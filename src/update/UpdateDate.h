#pragma once

#include <QDate>
#include <QString>

namespace update {

// Where the update check keeps its state: HKEY_LOCAL_MACHINE\SOFTWARE\Vellmor
// Software\Quillbrook in the machine hive.
//   "updateDate" (REG_DWORD)  no automatic check before this day number; 0 or missing:
//                             the check is due now
//   "rootDir"    (REG_SZ)     the program's folder, ending with "/"
//   "Web site"   (REG_SZ)     the maker's web site: the versions file and the home page
struct UpdateSettings
{
    static const QString defaultWebSite;

    // Reads the date and the web site; a missing key or value gives 0 and the default.
    // The key is not created.
    static UpdateSettings read();
    // Writes "updateDate", the date rounded to the nearest whole day, and "rootDir",
    // creating the key when needed. False when the hive cannot be written.
    static bool writeDate(double updateDate, const QString &rootDir);

    double updateDate = 0; // an automation date
    QString webSite = defaultWebSite;
};

// The day number (automation date) of a day at midnight.
double dayNumber(const QDate &day);

// Whether the automatic check runs today: today on or after the update date.
bool checkDue(double updateDate, const QDate &today);

// The update date after a reply: three days from today.
double dateAfterReply(const QDate &today);

// The picker's day first shown: the update date, or thirty days from today without one.
QDate firstPickerDay(double updateDate, const QDate &today);

// The versions file's address: the web site, "/versions.txt", and the product and
// version as the query keys "application" and "ver".
QString versionsFileUrl(const QString &webSite, const QString &product, const QString &version);

// The home page opened for a download: the web site with a "/" at its end.
QString homePageUrl(const QString &webSite);

} // namespace update
