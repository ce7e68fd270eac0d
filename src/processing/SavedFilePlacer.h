#pragma once

#include "common/FileSystem.h"

#include <QSet>
#include <QString>

#include <functional>

class SavedFileList;

// Saves attachments under their wanted names without ever replacing a different
// file: the content is first written whole to a temporary file beside the wanted
// path and flushed; then it takes the wanted path, or, when a file with other
// content (or something that is not a file) is there, the next free "_N" name. A
// file with the same content is reused, so saving an attachment again lands where
// it did before. One placer serves one job.
class SavedFilePlacer
{
public:
    // Most names that a job can try for one attachment before it gives up.
    static constexpr int maxCandidates = 10000;

    explicit SavedFilePlacer(SavedFileList &savedFiles,
                             qb::NoReplaceMove firstMethod = qb::NoReplaceMove::HardLink);

    // write(path) writes the content to a new file at path and flushes it. Returns
    // the final path, recorded in the saved files. Throws qb::Error when a folder
    // or file cannot be made; nothing half-written is left under a final name.
    QString place(const QString &wantedPath, const std::function<void(const QString &)> &write);

    // Flushes the names placed since the last call to disk. An attachment may leave
    // its email only after this: one flush per folder serves all the attachments of
    // an email, which is then written once.
    void syncPlacedNames();

private:
    void removeLeftovers(const QString &folder);

    SavedFileList &m_savedFiles;
    qb::NoReplaceMove m_firstMethod;
    QSet<QString> m_visitedFolders;
    QSet<QString> m_unsyncedFolders;
};
