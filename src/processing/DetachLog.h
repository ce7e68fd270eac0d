#pragma once

#include <QString>
#include <QStringList>

#include <vector>

// The detaches an action log records, read back so that they can be undone.
struct DetachRecord
{
    int line = 0; // 1-based, in the log
    int job = 0;  // how many jobs started before it in the log
    QString filename;
    QString where; // the email's folder label and subject, as the log names it
    QString link;  // the note's link: as detached, or as a later relink in the log left it
    QString sha256;
    QString contentType;
};

// The log's "Detaching document [NAME] of email [WHERE] to LINK" entries in order,
// with the links that its "Relinking document ... from OLD to NEW" entries changed.
// Throws qb::Error when the file cannot be read or is no action log.
std::vector<DetachRecord> readDetachLog(const QString &path);

// The entries that record what a reattach did; readDetachLog reads the relink one.
QString relinkEntry(const DetachRecord &record, const QString &oldLink, const QString &newLink);
QString reattachEntry(const DetachRecord &record);

// The local path a file:// link names, or an empty text for any other link.
QString pathOfLink(const QString &link);
