#pragma once

#include "UndoRecord.h"

#include <QString>
#include <QStringList>

#include <vector>

// The recorded jobs as the user picks among them: read from record files, newest first,
// each with what it changed.
namespace undo {

struct RecordedJob
{
    JobRecord record;
    QString error; // why the record cannot be read; empty when it was
    int emails = 0;
    int attachments = 0;
    qint64 savedBytes = 0; // of the files the job saved
    int putBack = 0;       // emails put back since
};

// Reads each record; one that cannot be read is listed with the reason.
std::vector<RecordedJob> recordedJobs(const QStringList &recordPaths);
// The job of this id among the records; throws qb::Error when none has it or it cannot
// be read.
JobRecord jobWithId(const QStringList &recordPaths, const QString &jobId);

} // namespace undo
