#pragma once

#include "common/FileDescriptor.h"
#include "common/FileSystem.h"

#include <QSet>
#include <QString>

#include <functional>
#include <map>

class SavedFileList;

// Saves attachments under their wanted names without ever replacing a different
// file: the content is first written whole to a temporary file beside the wanted
// path and flushed; then it takes the wanted path, or, when a file with other
// content (or something that is not a file) is there, the next free "_N" name. A
// file with the same content is reused, so saving an attachment again lands where
// it did before. One placer serves one job.
//
// The destination folder is the one the user named: it, and the folders above it,
// may be links. Below it no link is ever followed: each level is made and entered
// on its own, and a link found there refuses the save, since a link planted in a
// shared destination would send saved files anywhere (an autostart folder, say).
class SavedFilePlacer
{
public:
    // Most names that a job can try for one attachment before it gives up.
    static constexpr int maxCandidates = 10000;

    struct Placed
    {
        QString path;         // the final path, recorded in the saved files
        QString sha256;       // of the content, as 64 lower-case hex digits
        bool created = false; // false when a file with the same content was there already
    };

    explicit SavedFilePlacer(SavedFileList &savedFiles,
                             qb::NoReplaceMove firstMethod = qb::NoReplaceMove::HardLink);
    SavedFilePlacer(const SavedFilePlacer &) = delete;
    SavedFilePlacer &operator=(const SavedFilePlacer &) = delete;

    // write(path) writes the content to a new file at path and flushes it. wantedPath
    // lies below destination. Throws qb::Error when a folder or file cannot be made,
    // or a link stands below destination; nothing half-written is left under a final name.
    Placed place(const QString &destination, const QString &wantedPath,
                 const std::function<void(const QString &)> &write);

    // Removes a file that place() created, when it still holds the content placed.
    // Returns an empty text once it is gone, else why it stays.
    QString removeCreated(const QString &destination, const Placed &placed);

    // Flushes the names placed since the last call to disk. An attachment may leave
    // its email only after this: one flush per folder serves all the attachments of
    // an email, which is then written once.
    void syncPlacedNames();

private:
    SavedFileList &m_savedFiles;
    qb::NoReplaceMove m_firstMethod;
    QSet<QString> m_visitedFolders;
    std::map<QString, qb::FileDescriptor> m_unsyncedFolders; // open folders, by path
};
