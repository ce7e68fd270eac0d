#include "UndoHistory.h"

#include "common/Error.h"

#include <QFileInfo>

#include <algorithm>
#include <set>

namespace undo {

std::vector<RecordedJob> recordedJobs(const QStringList &recordPaths)
{
    std::vector<RecordedJob> jobs;
    for (const QString &path : recordPaths) {
        RecordedJob job;
        try {
            job.record = readJobRecord(path);
        } catch (const qb::Error &e) {
            job.record.path = path;
            job.record.id = QFileInfo(path).completeBaseName();
            job.error = e.message();
            jobs.push_back(std::move(job));
            continue;
        }
        std::set<QString> files;
        for (const EmailRecord &email : job.record.emails) {
            ++job.emails;
            job.attachments += email.attachments;
            job.putBack += email.undone() ? 1 : 0;
            for (const SavedFileRef &file : email.files) {
                if (files.insert(file.path).second)
                    job.savedBytes += file.size;
            }
        }
        jobs.push_back(std::move(job));
    }
    std::stable_sort(jobs.begin(), jobs.end(), [](const RecordedJob &a, const RecordedJob &b) {
        return a.record.started > b.record.started;
    });
    return jobs;
}

JobRecord jobWithId(const QStringList &recordPaths, const QString &jobId)
{
    for (const QString &path : recordPaths) {
        if (QFileInfo(path).completeBaseName() == jobId)
            return readJobRecord(path);
    }
    throw qb::Error(QStringLiteral("No recorded job has the id %1").arg(jobId));
}

} // namespace undo
