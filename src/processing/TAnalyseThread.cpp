#include "TAnalyseThread.h"

#include "common/AutomationDate.h"
#include "common/Error.h"
#include "mailstore/AttachmentList.h"
#include "settings/TSettings.h"

#include <algorithm>
#include <cstdio>

namespace {

// How many steps the walk queues per reader before it finishes the oldest: enough to keep
// every reader busy across small emails and folder boundaries, few enough to hold little.
constexpr size_t stepsPerReader = 16;

// "Email 5 of 20 in Inbox\\", put together without a format: it is made for every email.
QString emailStatus(int index, int count, const QString &label)
{
    char numbers[40];
    const int length = std::snprintf(numbers, sizeof numbers, "%d of %d in ", index, count);
    QString text;
    text.reserve(6 + length + label.size());
    text += QLatin1String("Email ");
    text += QLatin1String(numbers, length);
    text += label;
    return text;
}

} // namespace

int TAnalyseThread::defaultReaders()
{
    return std::max(1, QThread::idealThreadCount());
}

int TAnalyseThread::readAhead(int readers)
{
    return int(stepsPerReader) * std::max(1, readers);
}

TAnalyseThread::TAnalyseThread(TSettings *settings, StatusView *statusForm, HandOverHost *host,
                               mailstore::ApplicationFactory createApplication,
                               AttachmentList *list, int readers)
    : HandOverWorker(host, statusForm), Settings(settings),
      m_createApplication(std::move(createApplication)), m_list(list),
      m_readerCount(std::max(0, readers))
{
    Settings->setParent(nullptr);
    start();
}

TAnalyseThread::~TAnalyseThread() = default;

void TAnalyseThread::work()
{
    analyse();
}

void TAnalyseThread::endRun()
{
    // Also after an error: the grid shows what was found.
    runStep([this] {
        host()->syncGridRows();
        Q_EMIT analysisEnded(m_unreadable + m_skipped);
    });
}

void TAnalyseThread::analyse()
{
    attachToStatusWindow();
    EmailsProcessed = 0;
    PostStatus(QStringLiteral("Connecting to mail store..."));
    const std::shared_ptr<mailstore::Application> application = m_createApplication();
    const std::shared_ptr<mailstore::Namespace> mapi =
        application->getNamespace(QStringLiteral("MAPI"));
    m_mapi = mapi;
    // Let go on this thread, before the application, however the run ends.
    struct Release
    {
        std::shared_ptr<mailstore::Namespace> &mapi;
        ~Release() { mapi.reset(); }
    } release{m_mapi};
    PostStatus(QStringLiteral("Locating source mail folder..."));

    const std::shared_ptr<mailstore::Folder> source =
        Settings->getFromDefaultFolder
            ? mapi->getDefaultFolder(mailstore::DefaultInbox)
            : mapi->getFolderFromId(Settings->fromFolderEntryId, QString());
    postServerAlerts();
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
        {
            // The readers and the queued steps hold store objects: they go on this thread,
            // before the store, however the walk ends.
            struct Done
            {
                TAnalyseThread *walk;
                ~Done()
                {
                    walk->m_readers.reset();
                    walk->m_ahead.clear();
                }
            } done{this};
            try {
                walk(*source, label, true);
            } catch (...) {
                // Told once the steps before it are done, as a walk that met it in turn would.
                Step failure;
                failure.kind = Step::Kind::Failure;
                failure.failure = std::current_exception();
                m_ahead.push_back(std::move(failure));
            }
            while (!m_ahead.empty())
                finishOldest();
        }
        postServerAlerts();
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

void TAnalyseThread::walk(mailstore::Folder &folder, const QString &label, bool topFolder)
{
    Step start;
    start.kind = Step::Kind::FolderStart;
    start.topFolder = topFolder;
    queue(std::move(start));
    const int itemCount = folder.items()->count();
    for (int i = 1; i <= itemCount && !cancelled(); ++i) {
        Step step;
        step.item = folder.items()->item(i);
        step.storeId = folder.storeId();
        step.label = label;
        step.index = i;
        step.count = itemCount;
        if (m_readerCount > 0) {
            mailstore::SummarySource source = step.item->summarySource();
            step.summary = std::move(source.known);
            if (!step.summary && source.reading) {
                if (!m_readers)
                    m_readers = std::make_unique<SummaryReaders>(m_readerCount);
                step.reading = m_readers->start(std::move(source.reading));
            }
        }
        queue(std::move(step));
    }
    Step end;
    end.kind = Step::Kind::FolderEnd;
    end.skipped = folder.skippedEntries();
    queue(std::move(end));
    postServerAlerts();
    // One collection for the loop: asking for it again per subfolder would copy the
    // whole list each time.
    const std::shared_ptr<mailstore::Folders> subfolders = folder.folders();
    const int folderCount = subfolders->count();
    for (int j = 1; j <= folderCount && !cancelled(); ++j) {
        const std::shared_ptr<mailstore::Folder> subfolder = subfolders->item(j);
        walk(*subfolder, label + subfolder->name() + QLatin1Char('\\'), false);
    }
}

void TAnalyseThread::queue(Step step)
{
    // An email read value by value is read here and now, when the walk meets it, as is
    // everything queued before it; the walk runs ahead only of emails read elsewhere.
    const bool readHere = step.kind == Step::Kind::Email && !step.summary && !step.reading;
    m_ahead.push_back(std::move(step));
    const size_t limit = readHere ? 0 : size_t(readAhead(m_readerCount));
    while (m_ahead.size() > limit)
        finishOldest();
}

void TAnalyseThread::finishOldest()
{
    Step step = std::move(m_ahead.front());
    m_ahead.pop_front();
    if (m_stopped)
        return;
    switch (step.kind) {
    case Step::Kind::FolderStart:
        // Cancel before a subfolder: it is not walked.
        if (cancelled() && !step.topFolder)
            m_stopped = true;
        break;
    case Step::Kind::Email:
        // Cancel before an email: it is not read, nor any after it in its folder.
        if (!cancelled())
            finishEmail(step);
        break;
    case Step::Kind::FolderEnd:
        m_skipped << step.skipped;
        if (cancelled())
            m_stopped = true;
        break;
    case Step::Kind::Failure:
        // A wait for a server that Cancel cut short: the walk ends as Cancel ends it.
        if (cancelled()) {
            m_stopped = true;
            break;
        }
        std::rethrow_exception(step.failure);
    }
}

void TAnalyseThread::finishEmail(Step &step)
{
    PostStatus(emailStatus(step.index, step.count, step.label));
    PostProgress(int(qint64(step.index) * 100 / step.count));
    const bool readElsewhere = bool(step.reading);
    if (readElsewhere) {
        step.summary = m_readers->wait(step.reading, [this] { return cancelled(); });
        step.reading.reset();
    }
    if (step.summary)
        appendRecords(*step.summary, step);
    else if (!readElsewhere || !cancelled())
        collect(*step.item, step.storeId, step.label);
    ++EmailsProcessed;
}

void TAnalyseThread::postServerAlerts()
{
    if (!m_mapi)
        return;
    for (const QString &alert : m_mapi->takeServerAlerts())
        PostWarning(QStringLiteral("The mail server says:\r\n") + alert);
}

void TAnalyseThread::appendRecords(const mailstore::EmailSummary &summary, Step &step)
{
    QString entryId;
    try {
        entryId = step.item->entryId();
    } catch (const std::exception &) {
        return; // no record can name the email
    }
    const QString sender = m_pool.pooled(summary.senderName);
    const QString label = m_recentLabel.pooled(m_pool, step.label);
    const QString storeId = m_recentStoreId.pooled(m_pool, step.storeId);
    const double received = qb::toAutomationDate(summary.receivedTime);
    const QStringList &names = summary.attachmentNames;
    for (int a = 1; a <= names.size() && !cancelled(); ++a) {
        const QString &filename = names.at(a - 1);
        auto record = std::make_shared<const TAttach>(
            TAttach{summary.subject, sender, label, summary.size, filename,
                    m_types.typeOf(filename, m_pool), received, entryId, a, storeId,
                    summary.attachmentSizes.value(a - 1), summary.version});
        m_list->append(summary.subject, std::move(record));
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
        const qint64 attachmentSize = attachment.decodedSize();
        auto record = std::make_shared<const TAttach>(
            TAttach{subject, m_pool.pooled(sender), m_pool.pooled(label), size, filename,
                    m_pool.pooled(attachmentType(filename)), received, entryId, index,
                    m_pool.pooled(storeId), attachmentSize, item.version()});
        m_list->append(item.subject(), std::move(record));
    } catch (const std::exception &) {
        // This attachment gets no record; the walk goes on.
    }
}
