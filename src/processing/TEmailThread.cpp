#include "TEmailThread.h"

#include "SavedFilePlacer.h"
#include "common/Error.h"
#include "log/TLogManager.h"
#include "settings/TSettings.h"

#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <pwd.h>
#include <unistd.h>

namespace {

QString normalisedSaveFolder(QString folder)
{
    if (folder.startsWith(QLatin1Char('"')))
        folder.remove(0, 1);
    if (folder.endsWith(QLatin1Char('"')))
        folder.chop(1);
    if (!folder.isEmpty())
        folder = QFileInfo(folder).absoluteFilePath();
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder;
}

} // namespace

TEmailThread::TEmailThread(TSettings *settings, StatusView *statusForm, HandOverHost *host,
                           mailstore::ApplicationFactory createApplication,
                           SelectionTaker takeSelection, bool deleteAttachments,
                           bool saveAttachments, int lockTimeoutSeconds)
    : HandOverWorker(host, statusForm), Settings(settings), DeleteAttachments(deleteAttachments),
      SaveAttachments(saveAttachments), m_createApplication(std::move(createApplication)),
      m_takeSelection(std::move(takeSelection)), m_lockTimeout(lockTimeoutSeconds)
{
    Settings->setParent(nullptr);
    Settings->saveFolder = normalisedSaveFolder(Settings->saveFolder);
    JobLog = AcquireLog(Settings->logToFile ? Settings->logFilename : QString(), true);
    if (SaveAttachments)
        m_undo = std::make_unique<UndoRecorder>(Settings->saveFolder, DeleteAttachments
                                                                          ? QStringLiteral("detach")
                                                                          : QStringLiteral("save"));
    start();
}

TEmailThread::~TEmailThread() = default;

QString TEmailThread::userName()
{
    passwd entry{};
    passwd *found = nullptr;
    char buffer[4096];
    if (getpwuid_r(geteuid(), &entry, buffer, sizeof buffer, &found) != 0 || !found)
        return {};
    return QString::fromLocal8Bit(found->pw_name);
}

void TEmailThread::work()
{
    JobLog->Log(llInfo, QStringLiteral("Job started by [%1]").arg(userName()));
    attachToStatusWindow();
    PostStatus(QStringLiteral("Connecting to mail store..."));
    const std::shared_ptr<mailstore::Application> application = m_createApplication();
    const std::shared_ptr<mailstore::Namespace> mapi =
        application->getNamespace(QStringLiteral("MAPI"));
    lockStore(*mapi);
    PostStatus(QStringLiteral("Processing emails..."));

    Records jobList;
    runStep([&] { jobList = m_takeSelection(); });
    if (DeleteAttachments)
        m_freed.start(jobList);
    // One group per email, in the order the emails were first selected; within
    // it, highest position first, so removing one leaves the positions of the others.
    std::vector<Records> groups;
    QHash<QString, size_t> groupOf;
    for (const auto &record : jobList) {
        const QString key = record->StoreId + QLatin1Char('\n') + record->EntryId;
        const auto found = groupOf.constFind(key);
        if (found == groupOf.cend()) {
            groupOf.insert(key, groups.size());
            groups.push_back({record});
        } else {
            groups[*found].push_back(record);
        }
    }
    for (Records &group : groups) {
        std::stable_sort(group.begin(), group.end(), [](const auto &a, const auto &b) {
            return a->AttachmentIndex > b->AttachmentIndex;
        });
    }

    m_total = int(jobList.size());
    int started = 0;
    for (const Records &group : groups) {
        if (cancelled())
            break;
        processEmail(*mapi, group, started, m_total);
    }
    for (const QString &alert : mapi->takeServerAlerts())
        PostWarning(QStringLiteral("The mail server says:\r\n") + alert);
}

void TEmailThread::endRun()
{
    // The same end lines for every ending: done, cancelled or stopped by an error.
    if (DeleteAttachments) {
        m_result.freed = m_freed.finish();
        if (!m_result.freed.isEmpty())
            JobLog->Log(llInfo, m_result.freed);
    }

    m_result.cancelled = cancelled();
    m_result.error = failure();
    QString failedPart;
    if (m_result.failed > 0 && Settings->logToFile)
        failedPart = QStringLiteral(", %1 failed - see the log").arg(m_result.failed);
    else if (m_result.failed > 0)
        failedPart =
            QStringLiteral(", %1 failed; the first: %2").arg(m_result.failed).arg(m_firstFailure);
    if (stoppedByError()) {
        const QString stopped = QStringLiteral("Stopped by an error: %1").arg(failure());
        JobLog->Log(llError, stopped);
        const QString text =
            QStringLiteral("INCOMPLETE. %1 attachment(s) processed").arg(m_result.processed) +
            failedPart + QStringLiteral("; ") + stopped;
        PostStatus(text);
        JobLog->Log(llWarning, text);
    } else if (m_result.cancelled) {
        const QString text =
            QStringLiteral("INCOMPLETE. %1 attachment(s) processed").arg(m_result.processed) +
            failedPart;
        PostStatus(text);
        JobLog->Log(llWarning, text);
    } else {
        const QString text =
            QStringLiteral("Complete. %1 attachment(s) processed").arg(m_total) + failedPart;
        PostStatus(text);
        JobLog->Log(llInfo, text);
    }
    if (m_result.failed > 0)
        JobLog->Log(llWarning,
                    QStringLiteral("%1 attachment(s) could not be processed").arg(m_result.failed));
    if (m_undo && !m_undo->recordPath().isEmpty())
        JobLog->Log(llInfo,
                    QStringLiteral("The emails changed can be put back as they were from %1")
                        .arg(m_undo->recordPath()));
    JobLog->Log(llInfo, QStringLiteral("End of job"));
    try {
        runStep([this] { EndOfJob(); });
    } catch (...) {
        // The job is over: its log must not stay open for the life of the program.
        try {
            runStep([this] { releaseLog(); });
        } catch (...) {
        }
        throw;
    }
}

void TEmailThread::lockStore(mailstore::Namespace &mapi)
{
    bool announced = false;
    try {
        mapi.lockForChanges([&](int waited) {
            if (!announced) {
                PostStatus(QStringLiteral(
                    "Waiting for another program to finish changing the mail store..."));
                announced = true;
            }
            return !cancelled() && waited < m_lockTimeout;
        });
    } catch (const qb::MailStoreError &) {
        if (!cancelled())
            throw;
        // Cancelled while waiting: the job ends with nothing done.
    }
}

void TEmailThread::startAttachment(int number, int total)
{
    PostStatus(QStringLiteral("Processing attachment %1 of %2").arg(number).arg(total));
    PostProgress(int(qint64(number) * 100 / total));
    ++m_result.processed;
}

void TEmailThread::processEmail(mailstore::Namespace &mapi, const Records &group, int &started,
                                int total)
{
    const TAttach &first = *group.front();
    std::shared_ptr<mailstore::Item> email;
    QString refusal;
    QString unreachable;
    try {
        email = mapi.getItemFromId(first.EntryId, first.StoreId);
        // The email must still be the one its rows were read from: another one written in
        // its place would have its attachments taken for those listed.
        const QByteArray *checked = nullptr;
        for (const auto &record : group) {
            if (!email || !unreachable.isEmpty())
                break;
            if (!checked || record->Version != *checked)
                unreachable = email->changedSince(record->Version);
            checked = &record->Version;
        }
        if (email && unreachable.isEmpty())
            refusal = email->unchangeableReason();
    } catch (const std::exception &e) {
        unreachable = qb::messageOf(e);
    }
    if (!email && unreachable.isEmpty()) {
        PostWarning(QStringLiteral("Cannot locate email\r\n") + first.Subject);
        unreachable = QStringLiteral("the email is no longer in the mail store");
    }
    if (!unreachable.isEmpty()) {
        for (const auto &record : group) {
            if (started > 0 && cancelled())
                break;
            startAttachment(++started, total);
            logFailure(*record, unreachable);
        }
        return;
    }

    std::vector<Done> done;
    bool firstOne = true;
    for (const auto &record : group) {
        // The attachment in progress is always finished; the email is still stored.
        if (!firstOne && cancelled())
            break;
        firstOne = false;
        startAttachment(++started, total);
        SavedFilePlacer::Placed unneeded;
        const QString failure = process(*email, *record, refusal, done, unneeded);
        if (!failure.isEmpty()) {
            logFailure(*record, failure);
            discardSaved(*record, unneeded, QString());
        }
    }
    try {
        // The saved files' names are on disk before any attachment leaves the email.
        m_placer.syncPlacedNames();
        if (!done.empty()) {
            if (SaveAttachments)
                watchForUndo(*email, first, done);
            email->save();
            for (const QString &notice : email->takeSaveNotices())
                JobLog->Log(llWarning, notice);
        }
    } catch (const std::exception &e) {
        // Files go only where the store is sure that the email stayed as it was: a note
        // stored with a link to a file that is gone would lose its attachment.
        const bool unchanged = email->unchangedAfterFailedSave();
        for (const Done &item : done) {
            logFailure(*item.record, qb::messageOf(e));
            discardSaved(*item.record, item.saved,
                         unchanged ? QString()
                                   : QStringLiteral("the mail store cannot tell whether the "
                                                    "email changed"));
        }
        return;
    }
    if (SaveAttachments && !done.empty()) {
        try {
            m_undo->stored(*email);
        } catch (const std::exception &e) {
            JobLog->Log(llWarning, QStringLiteral("The undo record does not know where email "
                                                  "[%1] is now: %2")
                                       .arg(first.Folder + first.Subject, qb::messageOf(e)));
        }
    }
    for (const Done &item : done) {
        logDone(item);
        ++m_result.done;
        if (DeleteAttachments)
            m_freed.removed(*item.record);
    }
}

QString TEmailThread::process(mailstore::Item &email, const TAttach &record, const QString &refusal,
                              std::vector<Done> &done, SavedFilePlacer::Placed &unneeded)
{
    try {
        const std::shared_ptr<mailstore::Attachments> attachments = email.attachments();
        if (record.AttachmentIndex > attachments->count())
            return QStringLiteral("the attachment is no longer in the email");
        const std::shared_ptr<mailstore::Attachment> attachment =
            attachments->item(record.AttachmentIndex);
        // The email may have changed since the analysis: never act on another attachment.
        if (attachment->filename() != record.Filename)
            return QStringLiteral("the attachment is no longer at its position in the email");
        // Decided before anything is written: no file is left for a change refused.
        if (DeleteAttachments && !refusal.isEmpty())
            return refusal;

        Done item{&record, QString(), QString(), refusal, {}, QString()};
        if (SaveAttachments) {
            mailstore::SavedContent content;
            item.saved = m_placer.place(
                Settings->saveFolder, destinationPath(Settings->saveFolder, record),
                [&](const QString &path) { content = attachment->saveAsFile(path); });
            unneeded = item.saved;
            item.link = FileLink(item.saved.path);
            item.contentType = attachment->contentType();
            item.damage = content.damage.isEmpty() ? QString()
                                                   : QStringLiteral("%1; %2 byte(s) were decoded")
                                                         .arg(content.damage)
                                                         .arg(content.bytes);
            SetFileTimes(item.saved.path, record.Date);
        }
        if (DeleteAttachments) {
            attachment->remove();
            // Out of the email from here: its file is the one copy left, whatever fails next.
            unneeded = {};
        }
        if (refusal.isEmpty())
            email.appendToBody(
                bodyNote(SaveAttachments, DeleteAttachments, record.Filename, item.link));
        done.push_back(item);
        return {};
    } catch (const std::exception &e) {
        return qb::messageOf(e);
    }
}

void TEmailThread::watchForUndo(mailstore::Item &email, const TAttach &first,
                                const std::vector<Done> &done)
{
    std::vector<UndoRecorder::SavedAttachment> saved;
    for (const Done &item : done)
        saved.push_back(
            {item.record->AttachmentIndex, item.saved.path, item.saved.sha256, item.saved.created});
    m_undo->watch(email, first.StoreId, first.Folder + first.Subject, saved);
}

void TEmailThread::logDone(const Done &done)
{
    const TAttach &record = *done.record;
    const QString where = record.Folder + record.Subject;
    if (!SaveAttachments)
        JobLog->Log(
            llInfo,
            QStringLiteral("Deleting attachment [%1] of email [%2]").arg(record.Filename, where));
    else if (!DeleteAttachments)
        JobLog->Log(llInfo, QStringLiteral("Copying document [%1] of email [%2] to %3")
                                .arg(record.Filename, where, done.link));
    else
        JobLog->Log(llInfo, QStringLiteral("Detaching document [%1] of email [%2] to %3")
                                .arg(record.Filename, where, done.link));
    if (!done.damage.isEmpty())
        JobLog->Log(llWarning,
                    QStringLiteral("The encoding of attachment [%1] of email [%2] is damaged: %3")
                        .arg(record.Filename, where, done.damage));
    if (!done.noNote.isEmpty())
        JobLog->Log(llWarning,
                    QStringLiteral("No note was added to email [%1]: %2").arg(where, done.noNote));
}

void TEmailThread::discardSaved(const TAttach &record, const SavedFilePlacer::Placed &saved,
                                const QString &keptBecause)
{
    // Only a detach leaves an attachment in its email with a file that nothing names; a
    // saved copy is what a save job is for.
    if (!DeleteAttachments || saved.path.isEmpty())
        return;
    const QString why =
        keptBecause.isEmpty() ? m_placer.removeCreated(Settings->saveFolder, saved) : keptBecause;
    const QString where = record.Folder + record.Subject;
    if (why.isEmpty())
        JobLog->Log(llInfo, QStringLiteral("Removed %1, saved for attachment [%2] of email [%3], "
                                           "which keeps its attachment")
                                .arg(saved.path, record.Filename, where));
    else
        JobLog->Log(saved.created ? llWarning : llInfo,
                    QStringLiteral("Kept %1, saved for attachment [%2] of email [%3], which keeps "
                                   "its attachment: %4")
                        .arg(saved.path, record.Filename, where, why));
}

void TEmailThread::logFailure(const TAttach &record, const QString &why)
{
    ++m_result.failed;
    const QString message = QStringLiteral("Could not process attachment [%1] of email [%2]: %3")
                                .arg(record.Filename, record.Folder + record.Subject, why);
    if (m_firstFailure.isEmpty())
        m_firstFailure = message;
    JobLog->Log(llError, message);
}

void TEmailThread::releaseLog()
{
    if (Settings->logToFile && !m_logReleased)
        ReleaseLog(JobLog);
    m_logReleased = true;
}

void TEmailThread::EndOfJob()
{
    releaseLog();
    host()->clearAllData();
    host()->syncGridRows();
    if (StatusForm)
        StatusForm->MarkFinished();
    Q_EMIT jobEnded(m_result);
}
