#pragma once

#include <QString>

// The help: the manual (Quillbrook.qch) and the collection that lists it
// (Quillbrook.qhc), made when the program is built.
namespace HelpCollection {

inline constexpr QLatin1String collectionName{"Quillbrook.qhc"};
inline constexpr QLatin1String documentationName{"Quillbrook.qch"};
// Where the manual's pages are inside the collection.
inline constexpr QLatin1String pageRoot{"qthelp://com.vellmor.quillbrook/doc/html/"};

// The collection beside the program (a build, or a copy kept in one folder), else
// in the data folder of an installation (<prefix>/share/quillbrook/ beside
// <prefix>/bin/). When neither is there, the one beside the program.
QString defaultPath();

// The collection's file, or the manual beside it, when one of them is not there;
// empty when both are.
QString missingFile(const QString &collectionPath);

// A collection the help engine can keep its search index beside: the one given when
// its folder can be written and is not an installation's, else one of the user's own
// (collectionIn), which lists the same manual. The one given when no other can be made.
QString workingCopy(const QString &collectionPath);
// A collection in folder that lists the manual beside collectionPath, made when it is
// missing or older than that manual; its path, or empty when it cannot be made.
QString collectionIn(const QString &folder, const QString &collectionPath);

} // namespace HelpCollection
