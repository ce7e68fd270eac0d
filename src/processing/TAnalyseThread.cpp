#include "TAnalyseThread.h"

#include "mailstore/AttachmentList.h"
#include "common/AutomationDate.h"
#include "common/Error.h"
#include "settings/TSettings.h"

TAnalyseThread::TAnalyseThread(TSettings *settings, StatusView *statusForm, HandOverHost *host,
                               mailstore::ApplicationFactory createApplication,
                               AttachmentList *list)
    : HandOverWorker(host, statusForm), Settings(settings),
      m_createApplication(std::move(createApplication)), m_list(list)
{
    Settings->setParent(nullptr);
    start();
}

TAnalyseThread::~TAnalyseThread() = default;

void TAnalyseThread::run()
{
    try {
        analyse();
    } catch (...) {
        ReportError(std::current_exception());
    }
    try {
        runStep([this] {
            host()->syncGridRows();
            Q_EMIT analysisEnded(m_unreadable + m_skipped);
        });
    } catch (...) {
        // The grid shows what it has; nothing else can be done on the way out.
    }
}

void TAnalyseThread::analyse()
{
    attachToStatusWindow();
    EmailsProcessed = 0;
    PostStatus(QStringLiteral("Connecting to mail store..."));
    const std::shared_ptr<mailstore::Application> application = m_createApplication();
    const std::shared_ptr<mailstore::Namespace> mapi =
        application->getNamespace(QStringLiteral("MAPI"));
    PostStatus(QStringLiteral("Locating source mail folder..."));

    const std::shared_ptr<mailstore::Folder> source =
        Settings->getFromDefaultFolder
            ? mapi->getDefaultFolder(mailstore::DefaultInbox)
            : mapi->getFolderFromId(Settings->fromFolderEntryId, QString());
    if (!source) {
        const QString exiting = QStringLiteral(" - mail items cannot be located. Exiting");
        PostWarning(Settings->getFromDefaultFolder
                        ? QStringLiteral("Cannot locate default Inbox\r\n") + exiting
                        : QStringLiteral("Cannot locate source folder\r\n") +
                              Settings->fromFolderName + QStringLiteral("\r\n") + exiting);
    } else {
        PostStatus(QStringLiteral("Processing emails..."));
        const QString label = Settings->getFromDefaultFolder
                                  ? QStringLiteral("Inbox\\")
                                  : Settings->fromFolderName + QLatin1Char('\\');
        walk(*source, label);
        // Emails that could not be read are said, not silently left out.
        QString unreadablePart =
            m_unreadable.isEmpty()
                ? QString()
                : QStringLiteral(", %1 could not be read").arg(m_unreadable.size());
        if (!m_skipped.isEmpty())
            unreadablePart += QStringLiteral(", %1 other entries skipped").arg(m_skipped.size());
        if (cancelled())
            PostStatus(
                QStringLiteral("Interrupted by user. %1 emails processed").arg(EmailsProcessed) +
                unreadablePart);
        else
            PostResultAndClose(
                QStringLiteral("Complete. %1 emails processed").arg(EmailsProcessed) +
                unreadablePart);
    }
    finishStatusWindow();
}

void TAnalyseThread::walk(mailstore::Folder &folder, const QString &label)
{
    const int itemCount = folder.items()->count();
    for (int i = 1; i <= itemCount && !cancelled(); ++i) {
        PostStatus(QStringLiteral("Email %1 of %2 in %3").arg(i).arg(itemCount).arg(label));
        PostProgress(int(qint64(i) * 100 / itemCount));
        const std::shared_ptr<mailstore::Item> item = folder.items()->item(i);
        const QString storeId = folder.storeId();
        collect(*item, storeId, label);
        ++EmailsProcessed;
    }
    m_skipped << folder.skippedEntries();
    // One collection for the loop: asking for it again per subfolder would copy the
    // whole list each time.
    const std::shared_ptr<mailstore::Folders> subfolders = folder.folders();
    const int folderCount = subfolders->count();
    for (int j = 1; j <= folderCount && !cancelled(); ++j) {
        const std::shared_ptr<mailstore::Folder> subfolder = subfolders->item(j);
        walk(*subfolder, label + subfolder->name() + QLatin1Char('\\'));
    }
}

void TAnalyseThread::collect(mailstore::Item &item, const QString &storeId, const QString &label)
{
    try {
        const std::shared_ptr<mailstore::Attachments> attachments = item.attachments();
        const int count = attachments->count();
        for (int a = 1; a <= count && !cancelled(); ++a) {
            const std::shared_ptr<mailstore::Attachment> attachment = attachments->item(a);
            appendRecord(item, *attachment, a, storeId, label);
        }
    } catch (const std::exception &e) {
        // An email that cannot be read still counts; the walk goes on without it.
        QString id;
        try {
            id = item.entryId();
        } catch (const std::exception &) {
        }
        m_unreadable << QStringLiteral("Could not read the email %1 in %2: %3")
                            .arg(id, label, qb::messageOf(e));
    }
}

void TAnalyseThread::appendRecord(mailstore::Item &item, mailstore::Attachment &attachment,
                                  int index, const QString &storeId, const QString &label)
{
    try {
        const QString filename = attachment.filename();
        const QString sender = item.senderName();
        const qint64 size = item.size();
        const double received = qb::toAutomationDate(item.receivedTime());
        const QString entryId = item.entryId();
        const QString subject = item.subject();
        auto record = std::make_shared<const TAttach>(
            TAttach{subject, m_pool.pooled(sender), m_pool.pooled(label), size, filename,
                    m_pool.pooled(attachmentType(filename)), received, entryId, index,
                    m_pool.pooled(storeId)});
        m_list->append(item.subject(), std::move(record));
    } catch (const std::exception &) {
        // This attachment gets no record; the walk goes on.
    }
}
