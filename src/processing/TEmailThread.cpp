#include "TEmailThread.h"

#include "SavedFilePlacer.h"
#include "common/Error.h"
#include "log/TLogManager.h"
#include "settings/TSettings.h"

#include <QFileInfo>

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

TEmailThread::TEmailThread(TSettings *settings, StatusWindow *statusForm, HandOverHost *host,
                           mailstore::ApplicationFactory createApplication,
                           SelectionTaker takeSelection, bool deleteAttachments,
                           bool saveAttachments)
    : HandOverWorker(host, statusForm), Settings(settings), DeleteAttachments(deleteAttachments),
      SaveAttachments(saveAttachments), m_createApplication(std::move(createApplication)),
      m_takeSelection(std::move(takeSelection))
{
    Settings->setParent(nullptr);
    Settings->saveFolder = normalisedSaveFolder(Settings->saveFolder);
    JobLog = AcquireLog(Settings->logToFile ? Settings->logFilename : QString(), true);
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

void TEmailThread::run()
{
    try {
        runJob();
    } catch (...) {
        ReportError(std::current_exception());
    }
}

void TEmailThread::runJob()
{
    JobLog->Log(llInfo, QStringLiteral("Job started by [%1]").arg(userName()));
    attachToStatusWindow();
    PostStatus(QStringLiteral("Connecting to mail store..."));
    const std::shared_ptr<mailstore::Application> application = m_createApplication();
    const std::shared_ptr<mailstore::Namespace> mapi =
        application->getNamespace(QStringLiteral("MAPI"));
    PostStatus(QStringLiteral("Processing emails..."));

    Records jobList;
    host()->run([&] { jobList = m_takeSelection(); });
    // Highest position first, so removing one leaves the positions of the others.
    std::stable_sort(jobList.begin(), jobList.end(), [](const auto &a, const auto &b) {
        return a->AttachmentIndex > b->AttachmentIndex;
    });

    const int total = int(jobList.size());
    for (int k = 1; k <= total && !cancelled(); ++k) {
        PostStatus(QStringLiteral("Processing attachment %1 of %2").arg(k).arg(total));
        PostProgress(int(qint64(k) * 100 / total));
        ++m_result.processed;
        const TAttach &record = *jobList[size_t(k - 1)];
        const QString failure = process(*mapi, record);
        if (!failure.isEmpty()) {
            ++m_result.failed;
            JobLog->Log(llError,
                        QStringLiteral("Could not process attachment [%1] of email [%2]: %3")
                            .arg(record.Filename, record.Folder + record.Subject, failure));
        }
    }
    jobList.clear();

    m_result.cancelled = cancelled();
    const QString failedPart =
        m_result.failed > 0 ? QStringLiteral(", %1 failed - see the log").arg(m_result.failed)
                            : QString();
    if (m_result.cancelled) {
        const QString text =
            QStringLiteral("INCOMPLETE. %1 attachment(s) processed").arg(m_result.processed) +
            failedPart;
        PostStatus(text);
        JobLog->Log(llWarning, text);
    } else {
        const QString text =
            QStringLiteral("Complete. %1 attachment(s) processed").arg(total) + failedPart;
        PostStatus(text);
        JobLog->Log(llInfo, text);
    }
    if (m_result.failed > 0)
        JobLog->Log(llWarning,
                    QStringLiteral("%1 attachment(s) could not be processed").arg(m_result.failed));
    JobLog->Log(llInfo, QStringLiteral("End of job"));
    host()->run([this] { EndOfJob(); });
}

QString TEmailThread::process(mailstore::Namespace &mapi, const TAttach &record)
{
    try {
        const std::shared_ptr<mailstore::Item> email =
            mapi.getItemFromId(record.EntryId, record.StoreId);
        if (!email) {
            PostWarning(QStringLiteral("Cannot locate email\r\n") + record.Subject);
            return QStringLiteral("the email is no longer in the mail store");
        }
        const std::shared_ptr<mailstore::Attachments> attachments = email->attachments();
        if (record.AttachmentIndex > attachments->count())
            return QStringLiteral("the attachment is no longer in the email");
        const std::shared_ptr<mailstore::Attachment> attachment =
            attachments->item(record.AttachmentIndex);
        // The email may have changed since the analysis: never act on another attachment.
        if (attachment->filename() != record.Filename)
            return QStringLiteral("the attachment is no longer at its position in the email");

        QString link;
        if (SaveAttachments) {
            const QString saved =
                SavedFilePlacer::place(destinationPath(Settings->saveFolder, record), SavedFiles,
                                       [&](const QString &path) { attachment->saveAsFile(path); });
            link = FileLink(saved);
            SetFileTimes(saved, record.Date);
        }
        if (DeleteAttachments)
            attachment->remove();
        email->setBody(email->body() +
                       bodyNote(SaveAttachments, DeleteAttachments, record.Filename, link));
        const QString where = record.Folder + record.Subject;
        if (!SaveAttachments)
            JobLog->Log(llInfo, QStringLiteral("Deleting attachment [%1] of email [%2]")
                                    .arg(record.Filename, where));
        else if (!DeleteAttachments)
            JobLog->Log(llInfo, QStringLiteral("Copying document [%1] of email [%2] to %3")
                                    .arg(record.Filename, where, link));
        else
            JobLog->Log(llInfo, QStringLiteral("Detaching document [%1] of email [%2] to %3")
                                    .arg(record.Filename, where, link));
        email->save();
        return {};
    } catch (const qb::Error &e) {
        return e.message();
    } catch (const std::exception &e) {
        return QString::fromLocal8Bit(e.what());
    }
}

void TEmailThread::EndOfJob()
{
    if (Settings->logToFile)
        ReleaseLog(JobLog);
    host()->clearAllData();
    host()->syncGridRows();
    if (StatusForm)
        StatusForm->MarkFinished();
    Q_EMIT jobEnded(m_result);
}
