#pragma once

#include "UndoPatch.h"

#include <QByteArray>
#include <QString>

// A saved file that an undo record names, reached only below the record's folder: each
// level is entered without following a link, and only a regular file of the recorded size
// is read, never more than that size. Throws qb::Error with the reason otherwise.
namespace undo {

// The file's content, when its SHA-256 is the recorded one.
QByteArray readSavedFile(const QString &root, const SavedFileRef &file);

// Removes the file when it still holds the recorded content. Returns an empty text when
// it is gone, else why it stays.
QString removeSavedFile(const QString &root, const SavedFileRef &file);

} // namespace undo
