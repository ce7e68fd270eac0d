#pragma once

#include <QString>

#include <functional>

class SavedFileList;

// Saves an attachment under its wanted name without ever replacing a different
// file: the content is first written whole to a temporary file beside the wanted
// path and flushed; then it takes the wanted path, or, when a file with other
// content is there, the next free "_N" name. A file with the same content is
// reused, so saving an attachment again lands where it did before.
class SavedFilePlacer
{
public:
    // write(path) writes the content to path and flushes it. Returns the final
    // path, recorded in savedFiles. Throws qb::Error when a folder or file cannot
    // be made; nothing half-written is left under a final name.
    static QString place(const QString &wantedPath, SavedFileList &savedFiles,
                         const std::function<void(const QString &)> &write);
};
