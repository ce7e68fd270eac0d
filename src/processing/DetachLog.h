#pragma once

#include <QString>

#include <vector>

// A file that a detach or save job saved and linked from its note in the email, as an
// action log records it.
struct DetachRecord
{
    QString filename;
    QString where;        // the email's folder label and subject, as the log names it
    QString link;         // the note's link: as saved, or as a later relink in the log left it
    bool detached = true; // false for a saved copy, whose note says "copied to"
};

// The log's "Detaching document [NAME] of email [WHERE] to LINK" and "Copying document
// ..." entries in order, with the links that its "Relinking document ... from OLD to
// NEW" entries changed. Throws qb::Error when the file cannot be read or is no action log.
std::vector<DetachRecord> readDetachLog(const QString &path);

// The entry that records a relink; readDetachLog reads it back.
QString relinkEntry(const DetachRecord &record, const QString &oldLink, const QString &newLink);

// The local path a file:// link names, or an empty text for any other link.
QString pathOfLink(const QString &link);
