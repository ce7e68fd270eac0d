#pragma once

#include <QSet>
#include <QString>

struct TAttach;

// Where a saved attachment goes and what the email's body says about it.

// The subject made safe ("blank" when nothing is left), cut to 40 characters,
// a ".", and the attachment's type (made safe too: it comes from the sender).
QString SaveFileName(const TAttach &record);

// saveFolder (ending in "/"), each level of the record's Folder made safe, and the
// file name: no folder name can lead outside saveFolder.
QString destinationPath(const QString &saveFolder, const TAttach &record);

// The full paths a job has saved, compared without regard to letter case.
class SavedFileList
{
public:
    bool contains(const QString &path) const;
    void add(const QString &path);

private:
    QSet<QString> m_folded;
};

// path, or path with "_2", "_3", ... before its extension: the first not yet saved by this job.
QString UniquePath(const QString &path, const SavedFileList &savedFiles);
// The next candidate after UniquePath's, for a name taken on disk by other content.
QString numberedPath(const QString &path, int number);

// "file://" and the path's UTF-8 bytes, controls, spaces, bytes from 127 up and
// "%", "#", "?" as "%XX".
QString FileLink(const QString &path);

// Gives the file the email's received date as its last-access and last-write
// times; a link at path is not followed. Failures are ignored.
void SetFileTimes(const QString &path, double automationDate);

// The note appended to the body; it starts and ends with a line break.
QString bodyNote(bool saved, bool deleted, const QString &filename, const QString &link);
