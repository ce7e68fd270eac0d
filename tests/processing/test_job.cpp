#include "log/TLogManager.h"
#include "mailstore/memory/MemoryStore.h"
#include "processing/RecordingHost.h"
#include "processing/TEmailThread.h"
#include "settings/TSettings.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>

namespace {

enum Action { Delete, Detach, Save };

struct Job
{
    RecordingHost host;
    RecordingStatusWindow *window = new RecordingStatusWindow(&host);
    QTemporaryDir dir;
    QString saveFolder = dir.path() + QStringLiteral("/saved");
    QString logFile = dir.path() + QStringLiteral("/job.log");
    TEmailThread::Result result;

    Job() { TLogManager::setMessageSink(errorBoxesOf(&host)); }
    ~Job() { delete window; }

    bool logging = true;

    void run(MemoryStore &store, Action action, const TEmailThread::Records &selection)
    {
        run(store.factory(), action, selection);
    }

    void run(mailstore::ApplicationFactory stores, Action action,
             const TEmailThread::Records &selection)
    {
        auto *settings = new TSettings;
        settings->saveFolder = saveFolder;
        settings->logToFile = logging;
        settings->logFilename = logFile;
        auto *job = new TEmailThread(
            settings, window, &host, std::move(stores), [selection] { return selection; },
            action != Save, action != Delete);
        QObject::connect(job, &TEmailThread::jobEnded, job,
                         [this](TEmailThread::Result r) { result = r; });
        QSignalSpy gone(job, &QObject::destroyed);
        QVERIFY(gone.wait(20000));
    }

    QStringList logMessages() const
    {
        QFile file(logFile);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        QStringList messages;
        const QStringList lines =
            QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        for (int i = 4; i < lines.size(); ++i)
            messages << lines[i].section(QLatin1Char(','), 2);
        return messages;
    }
};

std::shared_ptr<const TAttach> recordOf(const MemoryStore::ItemData &item, int index,
                                        const QString &folder = QStringLiteral("Inbox\\"))
{
    const QString filename = item.attachments.at(size_t(index - 1)).filename;
    return std::make_shared<const TAttach>(TAttach{item.subject, item.senderName, folder, item.size,
                                                   filename, attachmentType(filename), 45000.25,
                                                   item.entryId, index, QStringLiteral("store-1")});
}

struct Mailbox
{
    MemoryStore store;
    std::shared_ptr<MemoryStore::FolderData> inbox;
    Mailbox()
    {
        auto top = store.addStore(QStringLiteral("S"));
        inbox = store.addFolder(top, QStringLiteral("Inbox"));
        store.setDefaultInbox(inbox);
    }
};

} // namespace

class TestJob : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void deleteHighestPositionFirst()
    {
        Mailbox box;
        auto email =
            box.store.addItem(box.inbox, QStringLiteral("Report"), {"a.pdf", "b.pdf", "c.pdf"});
        email->body = QStringLiteral("Hello");
        const TEmailThread::Records selection = {recordOf(*email, 1), recordOf(*email, 2),
                                                 recordOf(*email, 3)};
        Job job;
        job.run(box.store, Delete, selection);
        QVERIFY(email->attachments.empty());
        QCOMPARE(email->saveCount, 1); // the three changes are stored together
        QCOMPARE(email->body, QStringLiteral("Hello\r\nAttached file c.pdf deleted (not saved)\r\n"
                                             "\r\nAttached file b.pdf deleted (not saved)\r\n"
                                             "\r\nAttached file a.pdf deleted (not saved)\r\n"));
        QStringList deletes;
        for (const QString &call : box.store.calls()) {
            if (call.endsWith(QLatin1String(".delete")))
                deletes << call.section(QLatin1Char('#'), 1);
        }
        QCOMPARE(deletes, QStringList({"3.delete", "2.delete", "1.delete"}));
        const QStringList log = job.logMessages();
        QVERIFY2(log.first().startsWith(QStringLiteral("Info,Job started by [")),
                 qPrintable(log.first()));
        QCOMPARE(log.mid(1),
                 QStringList({"Info,Deleting attachment [c.pdf] of email [Inbox\\Report]",
                              "Info,Deleting attachment [b.pdf] of email [Inbox\\Report]",
                              "Info,Deleting attachment [a.pdf] of email [Inbox\\Report]",
                              "Info,Complete. 3 attachment(s) processed", "Info,End of job"}));
        QVERIFY(!QDir(job.saveFolder).exists()); // a delete job makes no files or folders
        QCOMPARE(job.host.steps.mid(job.host.steps.size() - 3),
                 QStringList({"clearAllData", "syncGridRows", "finished"}));
        QCOMPARE(job.result.processed, 3);
        QCOMPARE(job.result.failed, 0);
    }

    void nothingSelected()
    {
        Mailbox box;
        Job job;
        job.run(box.store, Detach, {});
        QCOMPARE(job.window->lastStatus, QStringLiteral("Complete. 0 attachment(s) processed"));
        QCOMPARE(job.logMessages().mid(1),
                 QStringList({"Info,Complete. 0 attachment(s) processed", "Info,End of job"}));
        QVERIFY(job.host.steps.contains(QStringLiteral("clearAllData")));
    }

    void detachSavesNotesAndLinks()
    {
        Mailbox box;
        auto projects = box.store.addFolder(box.inbox, QStringLiteral("Projects"));
        auto first = box.store.addItem(projects, QStringLiteral("Q3: figures"), {"f.xls"});
        auto second = box.store.addItem(projects, QStringLiteral("q3: FIGURES"), {"g.xls"});
        Job job;
        job.saveFolder = QLatin1Char('"') + job.dir.path() + QStringLiteral("/out\"");
        job.run(box.store, Detach,
                {recordOf(*first, 1, QStringLiteral("Inbox\\Projects\\")),
                 recordOf(*second, 1, QStringLiteral("Inbox\\Projects\\"))});
        const QString folder = job.dir.path() + QStringLiteral("/out/Inbox/Projects/");
        QFile saved(folder + QStringLiteral("Q3  figures.xls"));
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), QByteArray("content of f.xls"));
        QVERIFY(QFile::exists(folder + QStringLiteral("q3  FIGURES_2.xls")));
        QVERIFY(first->attachments.empty());
        const QString link = QStringLiteral("file://") + folder.toUtf8().replace(' ', "%20") +
                             QStringLiteral("Q3%20%20figures.xls");
        QCOMPARE(first->body, QStringLiteral("\r\nAttached file f.xls detached and saved as ") +
                                  link + QStringLiteral("\r\n"));
        QVERIFY(job.logMessages().contains(
            QStringLiteral(
                "Info,Detaching document [f.xls] of email [Inbox\\Projects\\Q3: figures] to ") +
            link));
        QCOMPARE(QFileInfo(saved).lastModified(), QDateTime(QDate(2023, 3, 15), QTime(6, 0)));
    }

    void saveKeepsTheAttachment()
    {
        Mailbox box;
        auto email = box.store.addItem(box.inbox, QStringLiteral("Keep"), {"k.txt"});
        Job job;
        job.run(box.store, Save, {recordOf(*email, 1)});
        QCOMPARE(email->attachments.size(), size_t(1));
        QVERIFY(
            email->body.startsWith(QStringLiteral("\r\nAttached file k.txt copied to file://")));
        QCOMPARE(email->saveCount, 1);
    }

    void unwritableDestinationLeavesTheEmail()
    {
        Mailbox box;
        auto email = box.store.addItem(box.inbox, QStringLiteral("Stay"), {"s.pdf"});
        Job job;
        QFile blocker(job.dir.path() + QStringLiteral("/blocker"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        job.saveFolder = blocker.fileName();
        job.run(box.store, Detach, {recordOf(*email, 1)});
        QCOMPARE(email->attachments.size(), size_t(1));
        QVERIFY(email->body.isEmpty());
        QCOMPARE(email->saveCount, 0);
        QCOMPARE(job.window->lastStatus,
                 QStringLiteral("Complete. 1 attachment(s) processed, 1 failed - see the log"));
        const QStringList log = job.logMessages();
        QVERIFY2(log.at(1).startsWith(QStringLiteral(
                     "Error,Could not process attachment [s.pdf] of email [Inbox\\Stay]: ")),
                 qPrintable(log.at(1)));
        QCOMPARE(
            log.mid(2),
            QStringList({"Info,Complete. 1 attachment(s) processed, 1 failed - see the log",
                         "Warning,1 attachment(s) could not be processed", "Info,End of job"}));
        QCOMPARE(job.result.failed, 1);

        // With no log to see, the status tells the first failure itself.
        Job unlogged;
        unlogged.logging = false;
        QFile(unlogged.saveFolder).open(QIODevice::WriteOnly);
        unlogged.run(box.store, Detach, {recordOf(*email, 1)});
        QVERIFY(!QFile::exists(unlogged.logFile));
        QVERIFY2(unlogged.window->lastStatus.startsWith(QStringLiteral(
                     "Complete. 1 attachment(s) processed, 1 failed; the first: Could not process "
                     "attachment [s.pdf] of email [Inbox\\Stay]: ")),
                 qPrintable(unlogged.window->lastStatus));
    }

    void storeRefusingAStepStopsThatAttachmentOnly()
    {
        Mailbox box;
        auto refused = box.store.addItem(box.inbox, QStringLiteral("Refused"), {"r.pdf"});
        auto fine = box.store.addItem(box.inbox, QStringLiteral("Fine"), {"f.pdf"});
        box.store.failOn(refused->entryId + QStringLiteral("#1"), QStringLiteral("delete"),
                         QStringLiteral("locked"));
        Job job;
        job.run(box.store, Detach, {recordOf(*refused, 1), recordOf(*fine, 1)});
        // The email keeps its attachment and gets no note; the file saved for it goes.
        QVERIFY(!QFile::exists(job.saveFolder + QStringLiteral("/Inbox/Refused.pdf")));
        QCOMPARE(refused->attachments.size(), size_t(1));
        QVERIFY(refused->body.isEmpty());
        QVERIFY(fine->attachments.empty());
        QVERIFY(job.logMessages().contains(QStringLiteral(
            "Error,Could not process attachment [r.pdf] of email [Inbox\\Refused]: locked")));
    }

    void emailLeftUnchangedKeepsNoFileOfTheDetach()
    {
        Mailbox box;
        auto refused = box.store.addItem(box.inbox, QStringLiteral("Refused"), {"r.pdf", "s.pdf"});
        auto again = box.store.addItem(box.inbox, QStringLiteral("Again"), {"a.pdf"});
        for (const auto &email : {refused, again})
            box.store.failOn(email->entryId, QStringLiteral("save"),
                             QStringLiteral("the rewrite would not read back"));
        Job job;
        // The same content saved before, by another job: it is not this job's to remove.
        const QString earlier = job.saveFolder + QStringLiteral("/Inbox/Again.pdf");
        QVERIFY(QDir().mkpath(QFileInfo(earlier).path()));
        QFile file(earlier);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(again->attachments.front().content);
        file.close();
        job.run(box.store, Detach,
                {recordOf(*refused, 1), recordOf(*refused, 2), recordOf(*again, 1)});
        QCOMPARE(QDir(job.saveFolder + QStringLiteral("/Inbox"))
                     .entryList(QDir::Files | QDir::Hidden | QDir::System),
                 QStringList{QStringLiteral("Again.pdf")});
        const QStringList log = job.logMessages();
        const QString folder = job.saveFolder + QStringLiteral("/Inbox/");
        for (const QString &name : {QStringLiteral("Refused.pdf"), QStringLiteral("Refused_2.pdf")})
            QVERIFY2(log.contains(QStringLiteral("Info,Removed %1%2, saved for attachment [%3] of "
                                                 "email [Inbox\\Refused], which keeps its "
                                                 "attachment")
                                      .arg(folder, name,
                                           name.contains(u'2') ? QStringLiteral("r.pdf")
                                                               : QStringLiteral("s.pdf"))),
                     qPrintable(log.join(u'\n')));
        QVERIFY2(log.contains(QStringLiteral("Info,Kept %1, saved for attachment [a.pdf] of email "
                                             "[Inbox\\Again], which keeps its attachment: it was "
                                             "there before, with the same content")
                                  .arg(earlier)),
                 qPrintable(log.join(u'\n')));

        // A save keeps its copies: they are what it is for.
        auto copied = box.store.addItem(box.inbox, QStringLiteral("Copied"), {"c.pdf"});
        box.store.failOn(copied->entryId, QStringLiteral("save"), QStringLiteral("refused"));
        Job save;
        save.run(box.store, Save, {recordOf(*copied, 1)});
        QVERIFY(QFile::exists(save.saveFolder + QStringLiteral("/Inbox/Copied.pdf")));
    }

    void linkBelowTheDestinationIsNeverFollowed()
    {
        Mailbox box;
        auto email = box.store.addItem(box.inbox, QStringLiteral("Meeting notes"), {"x.desktop"});
        Job job;
        const QString elsewhere = job.dir.path() + QStringLiteral("/autostart");
        QVERIFY(QDir().mkpath(elsewhere));
        QVERIFY(QDir().mkpath(job.saveFolder));
        QVERIFY(QFile::link(elsewhere, job.saveFolder + QStringLiteral("/Inbox")));
        job.run(box.store, Detach, {recordOf(*email, 1)});
        QVERIFY(QDir(elsewhere).isEmpty(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden |
                                        QDir::System));
        QCOMPARE(email->attachments.size(), size_t(1));
        QVERIFY(email->body.isEmpty());
        QCOMPARE(job.result.failed, 1);
        const QString failure = job.logMessages().value(1);
        QVERIFY2(failure.startsWith(QStringLiteral("Error,Could not process attachment [x.desktop] "
                                                   "of email [Inbox\\Meeting notes]: ")) &&
                     failure.contains(QStringLiteral("/saved/Inbox is a link")),
                 qPrintable(failure));

        // The destination as the user named it may be a link.
        Job linked;
        QVERIFY(QFile::link(elsewhere, linked.saveFolder));
        linked.run(box.store, Detach, {recordOf(*email, 1)});
        QVERIFY(QFile::exists(elsewhere + QStringLiteral("/Inbox/Meeting notes.desktop")));
        QVERIFY(email->attachments.empty());
    }

    void missingEmailWarnsAndGoesOn()
    {
        Mailbox box;
        auto gone = box.store.addItem(box.inbox, QStringLiteral("Gone"), {"g.pdf"});
        auto there = box.store.addItem(box.inbox, QStringLiteral("There"), {"t.pdf"});
        auto record = recordOf(*gone, 1);
        box.inbox->items.erase(box.inbox->items.begin());
        Job job;
        job.run(box.store, Delete, {record, recordOf(*there, 1)});
        const QString warning = QStringLiteral("warning: Cannot locate email\r\nGone");
        QVERIFY(job.host.steps.contains(warning));
        // The window shows the last status while the warning is up.
        const auto at = job.host.steps.indexOf(warning);
        QString shown;
        for (qsizetype i = 0; i < at; ++i) {
            if (job.host.steps[i].startsWith(QLatin1String("status: ")))
                shown = job.host.steps[i];
        }
        QCOMPARE(shown, QStringLiteral("status: Processing emails..."));
        QVERIFY(there->attachments.empty());
        QCOMPARE(job.result.processed, 2);
        QCOMPARE(job.result.failed, 1);
    }

    void neverActsOnAnotherAttachment()
    {
        Mailbox box;
        auto email = box.store.addItem(box.inbox, QStringLiteral("Changed"), {"a.pdf", "b.pdf"});
        const auto staleSecond = recordOf(*email, 2);
        email->attachments.erase(email->attachments.begin()); // another program removed a.pdf
        email->attachments.push_back({QStringLiteral("c.pdf"), "c", {}});
        Job job;
        job.run(box.store, Delete, {staleSecond});
        QCOMPARE(email->attachments.size(), size_t(2));
        QCOMPARE(job.result.failed, 1);
    }

    void cancelLetsTheCurrentAttachmentFinish()
    {
        Mailbox box;
        TEmailThread::Records selection;
        for (int i = 0; i < 10; ++i)
            selection.push_back(recordOf(
                *box.store.addItem(box.inbox, QStringLiteral("m%1").arg(i), {"x.pdf"}), 1));
        Job job;
        job.host.stepByStep = true;
        job.window->cancelOnStatus = QStringLiteral("Processing attachment 4 of 10");
        job.run(box.store, Delete, selection);
        int removed = 0;
        for (const auto &item : box.inbox->items)
            removed += item->attachments.empty() ? 1 : 0;
        QCOMPARE(removed, 4);
        QCOMPARE(job.window->lastStatus, QStringLiteral("INCOMPLETE. 4 attachment(s) processed"));
        QVERIFY(job.logMessages().contains(
            QStringLiteral("Warning,INCOMPLETE. 4 attachment(s) processed")));
        QVERIFY(job.result.cancelled);
        QVERIFY(job.window->finished);
    }

    void storeUnreachableEndsTheRun()
    {
        Mailbox box;
        box.store.failOn(QStringLiteral("application"), QStringLiteral("create"),
                         QStringLiteral("no store"));
        Job job;
        job.run(box.store, Delete, {});
        // Reported, then ended as every job ends: the log's end lines, the list refreshed.
        QVERIFY2(
            !job.host.steps.filter(QStringLiteral("error: Exception MailStoreError")).isEmpty(),
            qPrintable(job.host.steps.join(u'\n')));
        QCOMPARE(job.host.steps.mid(job.host.steps.size() - 3),
                 QStringList({"clearAllData", "syncGridRows", "finished"}));
        QCOMPARE(job.logMessages().mid(1),
                 QStringList({"Error,Stopped by an error: no store",
                              "Warning,INCOMPLETE. 0 attachment(s) processed; Stopped by an "
                              "error: no store",
                              "Info,End of job"}));
        QCOMPARE(job.result.error, QStringLiteral("no store"));
        QVERIFY(!job.result.cancelled);
        QCOMPARE(job.result.done, 0);
    }

    // A server that refuses the password ends the run without the Application Error box:
    // the host is told which account's password to ask for again.
    void refusedLoginNamesTheAccount()
    {
        const QString refusal = QStringLiteral("Login to ann@host failed");
        Job job;
        job.run(
            [refusal]() -> std::shared_ptr<mailstore::Application> {
                throw qb::LoginRefused(refusal, QStringLiteral("ann@host:993"));
            },
            Delete, {});
        QVERIFY2(std::none_of(job.host.steps.cbegin(), job.host.steps.cend(),
                              [](const QString &step) { return step.startsWith(u"error: "); }),
                 qPrintable(job.host.steps.join(u'\n')));
        QVERIFY(job.host.steps.contains(QStringLiteral("login refused: ann@host:993: ") + refusal));
        QVERIFY(job.host.steps.contains(QStringLiteral("status: ") + refusal));
        QCOMPARE(job.result.error, refusal);
    }

    void errorAfterSomeEmailsKeepsTheirCount()
    {
        Mailbox box;
        auto done = box.store.addItem(box.inbox, QStringLiteral("Done"), {"d.pdf"});
        auto gone = box.store.addItem(box.inbox, QStringLiteral("Gone"), {"g.pdf"});
        const auto goneRecord = recordOf(*gone, 1);
        box.inbox->items.pop_back();
        Job job;
        job.host.warningFailure = QStringLiteral("no window for the warning");
        job.run(box.store, Delete, {recordOf(*done, 1), goneRecord});
        QVERIFY(done->attachments.empty());
        QCOMPARE(job.result.done, 1);
        QCOMPARE(job.result.error, QStringLiteral("no window for the warning"));
        QCOMPARE(job.logMessages().mid(job.logMessages().size() - 3),
                 QStringList({"Error,Stopped by an error: no window for the warning",
                              "Warning,INCOMPLETE. 1 attachment(s) processed; Stopped by an "
                              "error: no window for the warning",
                              "Info,End of job"}));
        QVERIFY(job.host.steps.contains(QStringLiteral("clearAllData")));
    }
};

QTEST_GUILESS_MAIN(TestJob)
#include "test_job.moc"
