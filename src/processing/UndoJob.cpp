#include "UndoJob.h"

#include "SavedFileAccess.h"
#include "common/Error.h"
#include "log/TNullLog.h"

#include <QCryptographicHash>

#include <set>

namespace {

QByteArray hexSha256(QByteArrayView bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

int emailsToDo(const std::vector<undo::JobRecord> &jobs)
{
    int count = 0;
    for (const undo::JobRecord &job : jobs)
        count += int(job.emails.size());
    return count;
}

} // namespace

UndoJob::UndoJob(Options options, TNullLog &log, Callbacks callbacks)
    : m_options(options), m_log(log), m_callbacks(std::move(callbacks))
{
}

void UndoJob::say(Kind kind, const QString &text)
{
    m_log.Log(kind == Kind::Refused ? llError : llInfo, text);
    if (kind == Kind::Done)
        ++m_report.done;
    else if (kind == Kind::Refused)
        ++m_report.refused;
    else
        ++m_report.already;
    if (m_callbacks.outcome)
        m_callbacks.outcome(kind, text);
}

UndoJob::Report UndoJob::run(mailstore::Namespace &mapi, const std::vector<undo::JobRecord> &jobs)
{
    const int total = emailsToDo(jobs);
    int started = 0;
    for (const undo::JobRecord &job : jobs) {
        std::optional<undo::RecordWriter> writer;
        std::vector<int> back; // emails of this job as they were before it
        for (const undo::EmailRecord &email : job.emails) {
            if (m_callbacks.cancelled && m_callbacks.cancelled()) {
                m_report.cancelled = true;
                break;
            }
            if (m_callbacks.status)
                m_callbacks.status(
                    QStringLiteral("Putting back email %1 of %2").arg(++started).arg(total));
            if (email.undone()) {
                say(Kind::Already,
                    QStringLiteral("Email [%1] was put back before").arg(email.label));
                back.push_back(email.number);
                continue;
            }
            const int doneBefore = m_report.done + m_report.already;
            try {
                if (!writer)
                    writer = undo::RecordWriter::append(job.path);
                putBack(mapi, job, email, *writer);
            } catch (const std::exception &e) {
                say(Kind::Refused, QStringLiteral("Email [%1] was left as it is: %2")
                                       .arg(email.label, qb::messageOf(e)));
            }
            if (m_report.done + m_report.already > doneBefore)
                back.push_back(email.number);
        }
        if (m_options.removeSaved)
            removeSavedFiles(job, back);
        if (m_report.cancelled)
            break;
    }
    return m_report;
}

void UndoJob::putBack(mailstore::Namespace &mapi, const undo::JobRecord &job,
                      const undo::EmailRecord &email, undo::RecordWriter &writer)
{
    // Where the job left the email; the id it had before serves a change that was
    // recorded but never seen stored.
    QStringList ids;
    if (email.stored())
        ids << email.storedEntryId;
    ids << email.entryId;
    std::shared_ptr<mailstore::Item> found;
    for (const QString &id : ids) {
        try {
            found = mapi.getItemFromId(id, email.storeId);
        } catch (const std::exception &) {
            found = nullptr; // gone, or left marked deleted on the server: looked for below
        }
        if (found)
            break;
    }
    std::shared_ptr<mailstore::Item> asLeft;  // as the job left it
    std::shared_ptr<mailstore::Item> asFirst; // as it was before the job
    QByteArray now;
    const auto sort = [&](const std::shared_ptr<mailstore::Item> &item) {
        now = item->content();
        const QByteArray digest = hexSha256(now);
        if (digest == email.afterSha256 && now.size() == email.afterSize)
            asLeft = item;
        else if (digest == email.beforeSha256 && !asFirst)
            asFirst = item;
    };
    if (found) {
        sort(found);
        if (!asLeft && !asFirst)
            throw qb::Error(QStringLiteral("it has changed since the job"));
    } else if (!email.folderId.isEmpty()) {
        // Put back or changed by a run that stopped before it could note where: the
        // folder's emails are looked at one by one, and their content tells.
        const std::shared_ptr<mailstore::Folder> folder =
            mapi.getFolderFromId(email.folderId, email.storeId);
        const std::shared_ptr<mailstore::Items> items = folder ? folder->items() : nullptr;
        const int count = items ? items->count() : 0;
        for (int index = 1; index <= count && !asLeft; ++index) {
            try {
                sort(items->item(index));
            } catch (const std::exception &) {
                // one that cannot be read is not the one looked for
            }
        }
    }
    if (!asLeft && asFirst) {
        noteUndone(writer, email, *asFirst);
        say(Kind::Already,
            QStringLiteral("Email [%1] is as it was before the job").arg(email.label));
        return;
    }
    if (!asLeft)
        throw qb::Error(QStringLiteral("it is no longer in the mail store"));
    const QByteArray original = undo::rebuiltOriginal(now, email.spans, [&](int index) {
        return undo::readSavedFile(job.root, email.files[size_t(index)]);
    });
    if (hexSha256(original) != email.beforeSha256 || original.size() != email.beforeSize)
        throw qb::Error(QStringLiteral("the record does not rebuild it"));
    asLeft->replaceContent(original);
    noteUndone(writer, email, *asLeft);
    say(Kind::Done, QStringLiteral("Put back email [%1] with %2 attachment(s)")
                        .arg(email.label)
                        .arg(email.attachments));
}

void UndoJob::noteUndone(undo::RecordWriter &writer, const undo::EmailRecord &email,
                         mailstore::Item &item)
{
    try {
        writer.addUndone(email.number, item.storedEntryId());
    } catch (const qb::Error &e) {
        m_log.Log(llWarning, e.message());
    }
}

void UndoJob::removeSavedFiles(const undo::JobRecord &job, const std::vector<int> &emails)
{
    // A file that an email still changed names stays: this job's or a later job's, which
    // reused the file for the same content.
    std::set<QString> needed;
    for (const QString &path : undo::recordsUnder(job.root)) {
        try {
            const undo::JobRecord other = undo::readJobRecord(path);
            for (const undo::EmailRecord &email : other.emails) {
                const bool back = other.path == job.path && std::find(emails.begin(), emails.end(),
                                                                      email.number) != emails.end();
                if (!back && !email.undone())
                    for (const undo::SavedFileRef &file : email.files)
                        needed.insert(file.path);
            }
        } catch (const qb::Error &e) {
            m_log.Log(llWarning, e.message());
            return; // a record that cannot be read may name any file
        }
    }
    std::set<QString> removed;
    for (const undo::EmailRecord &email : job.emails) {
        if (std::find(emails.begin(), emails.end(), email.number) == emails.end())
            continue;
        for (const undo::SavedFileRef &file : email.files) {
            // A file the job found there already is the user's, or another job's.
            if (!file.created || needed.count(file.path) || !removed.insert(file.path).second)
                continue;
            const QString why = undo::removeSavedFile(job.root, file);
            if (why.isEmpty())
                m_log.Log(llInfo, QStringLiteral("Removed %1").arg(file.path));
            else
                m_log.Log(llWarning, QStringLiteral("Kept %1: %2").arg(file.path, why));
        }
    }
}
