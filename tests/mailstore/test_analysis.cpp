#include "mailstore/AttachmentList.h"
#include "mailstore/memory/MemoryStore.h"
#include "processing/RecordingHost.h"
#include "processing/TAnalyseThread.h"
#include "settings/TSettings.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

namespace {

struct Run
{
    RecordingHost host;
    RecordingStatusWindow *window = new RecordingStatusWindow(&host);
    AttachmentList list;
    QStringList unreadable;

    ~Run() { delete window; }

    // Runs one analysis to its end. folderName empty means the default Inbox.
    void analyse(MemoryStore &store, const QString &folderName = {}, const QString &folderId = {})
    {
        auto *settings = new TSettings;
        settings->getFromDefaultFolder = folderName.isEmpty();
        settings->fromFolderName = folderName;
        settings->fromFolderEntryId = folderId;
        auto *worker = new TAnalyseThread(settings, window, &host, store.factory(), &list);
        QObject::connect(worker, &TAnalyseThread::analysisEnded, worker,
                         [this](const QStringList &lines) { unreadable = lines; });
        QSignalSpy gone(worker, &QObject::destroyed);
        QVERIFY(gone.wait(10000));
    }

    QStringList folders() const
    {
        QStringList result;
        for (int i = 0; i < list.count(); ++i)
            result << list.record(i)->Folder + list.record(i)->Filename;
        return result;
    }
    QStringList stepsStartingWith(const QString &prefix) const
    {
        QStringList result;
        for (const QString &step : host.steps) {
            if (step.startsWith(prefix))
                result << step;
        }
        return result;
    }
    // The steps the worker waited for: all but status and progress, which it only reports.
    QStringList awaitedSteps() const
    {
        QStringList result;
        for (const QString &step : host.steps) {
            if (!step.startsWith(QLatin1String("status: ")) &&
                !step.startsWith(QLatin1String("progress: ")))
                result << step;
        }
        return result;
    }
    // The status text shown last before the first step that is next; empty when none was.
    QString statusBefore(const QString &next) const
    {
        QString last;
        for (const QString &step : host.steps) {
            if (step == next)
                return last;
            if (step.startsWith(QLatin1String("status: ")))
                last = step.mid(8);
        }
        return QStringLiteral("(no step %1)").arg(next);
    }
};

} // namespace

class TestAnalysis : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void emptyInbox()
    {
        MemoryStore store;
        auto top = store.addStore(QStringLiteral("Personal Folders"));
        store.setDefaultInbox(store.addFolder(top, QStringLiteral("Inbox")));
        Run run;
        run.analyse(store);
        QCOMPARE(run.awaitedSteps(),
                 QStringList({"attach", "show", "close", "statusbar: Complete. 0 emails processed",
                              "syncGridRows"}));
        // Texts posted close together may be skipped, never reordered; the last one shows.
        const QStringList posted = {"status: Connecting to mail store...",
                                    "status: Locating source mail folder...",
                                    "status: Processing emails..."};
        const QStringList shown = run.stepsStartingWith(QStringLiteral("status: "));
        QVERIFY(!shown.isEmpty());
        qsizetype next = 0;
        for (const QString &text : shown) {
            next = posted.indexOf(text, next);
            QVERIFY2(next >= 0, qPrintable(shown.join(u'\n')));
        }
        QCOMPARE(run.statusBefore(QStringLiteral("close")), QStringLiteral("Processing emails..."));
        QCOMPARE(run.list.count(), 0);
    }

    void recordsOfOneEmail()
    {
        MemoryStore store;
        auto top = store.addStore(QStringLiteral("Personal Folders"));
        auto inbox = store.addFolder(top, QStringLiteral("Inbox"));
        store.setDefaultInbox(inbox);
        auto email = store.addItem(inbox, QStringLiteral("Report"), {"a.pdf", "b.DOCX", "README"});
        store.addItem(inbox, QStringLiteral("No attachments"));
        Run run;
        run.analyse(store);
        QCOMPARE(run.list.count(), 3);
        for (int i = 0; i < 3; ++i) {
            const auto record = run.list.record(i);
            QCOMPARE(run.list.text(i), QStringLiteral("Report"));
            QCOMPARE(record->Subject, QStringLiteral("Report"));
            QCOMPARE(record->From, email->senderName);
            QCOMPARE(record->Size, email->size);
            QCOMPARE(record->EntryId, email->entryId);
            QCOMPARE(record->StoreId, top->storeId);
            QCOMPARE(record->AttachmentIndex, i + 1);
            QCOMPARE(record->Folder, QStringLiteral("Inbox\\"));
        }
        QCOMPARE(run.list.record(1)->Type, QStringLiteral("DOCX"));
        QCOMPARE(run.list.record(2)->Type, QString());
        QVERIFY(run.host.steps.contains(QStringLiteral("statusbar: Complete. 2 emails processed")));
        QCOMPARE(run.stepsStartingWith(QStringLiteral("progress")).last(),
                 QStringLiteral("progress: 100"));
        QCOMPARE(run.statusBefore(QStringLiteral("close")),
                 QStringLiteral("Email 2 of 2 in Inbox\\"));
    }

    // Status and progress never hold the walk up: they show at most once an interval,
    // and the last of them always shows.
    void statusIsThrottled()
    {
        MemoryStore store;
        auto top = store.addStore(QStringLiteral("S"));
        auto inbox = store.addFolder(top, QStringLiteral("Inbox"));
        store.setDefaultInbox(inbox);
        for (int i = 0; i < 3000; ++i)
            store.addItem(inbox, QStringLiteral("m%1").arg(i), {"a.txt"});
        Run run;
        QElapsedTimer timer;
        timer.start();
        run.analyse(store);
        const qint64 took = timer.elapsed();
        const qsizetype shown = run.stepsStartingWith(QStringLiteral("status: ")).size();
        QVERIFY2(shown <= took / HandOverWorker::statusInterval + 3,
                 qPrintable(QStringLiteral("%1 texts in %2 ms").arg(shown).arg(took)));
        QCOMPARE(run.statusBefore(QStringLiteral("close")),
                 QStringLiteral("Email 3000 of 3000 in Inbox\\"));
        QCOMPARE(run.stepsStartingWith(QStringLiteral("progress")).last(),
                 QStringLiteral("progress: 100"));
        QCOMPARE(run.list.count(), 3000);
    }

    void depthFirstOrderAndLabels()
    {
        MemoryStore store;
        auto top = store.addStore(QStringLiteral("Store"));
        auto inbox = store.addFolder(top, QStringLiteral("Mailbox"));
        store.setDefaultInbox(inbox);
        auto projects = store.addFolder(inbox, QStringLiteral("Projects"));
        auto y2024 = store.addFolder(projects, QStringLiteral("2024"));
        auto old = store.addFolder(inbox, QStringLiteral("Old"));
        auto calendar = store.addFolder(inbox, QStringLiteral("Calendar"), 1);
        store.addItem(inbox, QStringLiteral("i"), {"i.txt"});
        store.addItem(projects, QStringLiteral("p"), {"p.txt"});
        store.addItem(y2024, QStringLiteral("y"), {"y.txt"});
        store.addItem(old, QStringLiteral("o"), {"o.txt"});
        store.addItem(calendar, QStringLiteral("c"), {"c.ics"});
        Run run;
        run.analyse(store);
        // Every subfolder is walked, whatever it holds; the default Inbox is labelled "Inbox".
        QCOMPARE(run.folders(), QStringList({"Inbox\\i.txt", "Inbox\\Projects\\p.txt",
                                             "Inbox\\Projects\\2024\\y.txt", "Inbox\\Old\\o.txt",
                                             "Inbox\\Calendar\\c.ics"}));
        QVERIFY(run.host.steps.contains(QStringLiteral("statusbar: Complete. 5 emails processed")));
    }

    void chosenFolderLabel()
    {
        MemoryStore store;
        auto top = store.addStore(QStringLiteral("Personal Folders"));
        auto archive = store.addFolder(top, QStringLiteral("Archive"));
        store.addItem(store.addFolder(archive, QStringLiteral("2023")), QStringLiteral("x"),
                      {"x.zip"});
        Run run;
        run.analyse(store, QStringLiteral("Email Folders\\Personal Folders\\Archive"),
                    archive->entryId);
        QCOMPARE(run.folders(),
                 QStringList({"Email Folders\\Personal Folders\\Archive\\2023\\x.zip"}));
        QVERIFY(run.host.steps.contains(QStringLiteral("statusbar: Complete. 1 emails processed")));
    }

    void folderNotFoundWarns_data()
    {
        QTest::addColumn<QString>("folderName");
        QTest::addColumn<QString>("warning");
        QTest::newRow("default inbox")
            << ""
            << "warning: Cannot locate default Inbox\r\n - mail items cannot be located. Exiting";
        QTest::newRow("chosen folder")
            << "Email Folders\\Gone"
            << "warning: Cannot locate source folder\r\nEmail "
               "Folders\\Gone\r\n - mail items cannot be located. Exiting";
    }
    void folderNotFoundWarns()
    {
        QFETCH(QString, folderName);
        QFETCH(QString, warning);
        MemoryStore store;
        store.addStore(QStringLiteral("Empty"));
        Run run;
        run.analyse(store, folderName, QStringLiteral("no-such-id"));
        QCOMPARE(run.awaitedSteps(),
                 QStringList({"attach", "show", warning, "finished", "syncGridRows"}));
        // The window shows the last status while the warning is up.
        QCOMPARE(run.statusBefore(warning), QStringLiteral("Locating source mail folder..."));
        QVERIFY(run.window->finished);
        QVERIFY(!run.window->closed);
    }

    void cancelStopsTheWalk()
    {
        MemoryStore store;
        auto top = store.addStore(QStringLiteral("S"));
        auto inbox = store.addFolder(top, QStringLiteral("Inbox"));
        store.setDefaultInbox(inbox);
        for (int i = 0; i < 5; ++i)
            store.addItem(inbox, QStringLiteral("m%1").arg(i), {"a.txt"});
        auto sub = store.addFolder(inbox, QStringLiteral("Sub"));
        store.addItem(sub, QStringLiteral("s"), {"s.txt"});
        Run run;
        run.host.stepByStep = true;
        run.window->cancelOnStatus = QStringLiteral("Email 3 of 5");
        run.analyse(store);
        // The email whose status was showing still counts, but its attachments are not read.
        QCOMPARE(run.list.count(), 2);
        QVERIFY(!store.calls().contains(sub->entryId + QStringLiteral(".items")));
        QCOMPARE(run.window->lastStatus, QStringLiteral("Interrupted by user. 3 emails processed"));
        QVERIFY(run.window->finished);
        QVERIFY(!run.window->closed);
        QCOMPARE(run.host.steps.last(), QStringLiteral("syncGridRows"));
    }

    void oneAttachmentFailing()
    {
        MemoryStore store;
        auto top = store.addStore(QStringLiteral("S"));
        auto inbox = store.addFolder(top, QStringLiteral("Inbox"));
        store.setDefaultInbox(inbox);
        auto email = store.addItem(inbox, QStringLiteral("m"), {"a.txt", "b.txt", "c.txt"});
        store.failOn(email->entryId + QStringLiteral("#2"), QStringLiteral("filename"),
                     QStringLiteral("unreadable"));
        Run run;
        run.analyse(store);
        QCOMPARE(run.folders(), QStringList({"Inbox\\a.txt", "Inbox\\c.txt"}));
        QCOMPARE(run.list.record(1)->AttachmentIndex, 3);
        QVERIFY(run.stepsStartingWith(QStringLiteral("error")).isEmpty());
    }

    void attachmentsOfOneEmailFailing_data()
    {
        QTest::addColumn<QString>("object");
        QTest::addColumn<QString>("operation");
        QTest::addColumn<int>("records");
        QTest::newRow("collection") << ""
                                    << "attachments" << 1;
        QTest::newRow("count") << "/attachments"
                               << "count" << 1;
        QTest::newRow("member") << "/attachments"
                                << "item" << 1;
    }
    void attachmentsOfOneEmailFailing()
    {
        QFETCH(QString, object);
        QFETCH(QString, operation);
        QFETCH(int, records);
        MemoryStore store;
        auto top = store.addStore(QStringLiteral("S"));
        auto inbox = store.addFolder(top, QStringLiteral("Inbox"));
        store.setDefaultInbox(inbox);
        auto broken = store.addItem(inbox, QStringLiteral("broken"), {"x.txt", "y.txt"});
        store.addItem(inbox, QStringLiteral("fine"), {"z.txt"});
        store.failOn(broken->entryId + object, operation, QStringLiteral("cannot read"));
        Run run;
        run.analyse(store);
        QCOMPARE(run.list.count(), records);
        QCOMPARE(run.list.record(0)->Filename, QStringLiteral("z.txt"));
        // Said, not silently left out.
        QVERIFY(run.host.steps.contains(
            QStringLiteral("statusbar: Complete. 2 emails processed, 1 could not be read")));
        QCOMPARE(run.unreadable.size(), 1);
        QVERIFY(run.unreadable.first().contains(broken->entryId));
        QVERIFY(run.unreadable.first().endsWith(QStringLiteral(": cannot read")));
    }

    void walkFailureEndsTheRun_data()
    {
        QTest::addColumn<QString>("object");
        QTest::addColumn<QString>("operation");
        QTest::newRow("create") << "application"
                                << "create";
        QTest::newRow("namespace") << "application"
                                   << "getNamespace";
        QTest::newRow("default folder") << "namespace"
                                        << "getDefaultFolder";
        QTest::newRow("subfolder items") << "SUB"
                                         << "items";
        QTest::newRow("subfolder count") << "SUB/items"
                                         << "count";
        QTest::newRow("subfolder member") << "SUB/items"
                                          << "item";
        QTest::newRow("subfolder name") << "SUB"
                                        << "name";
        QTest::newRow("store id") << "SUB"
                                  << "storeId";
    }
    void walkFailureEndsTheRun()
    {
        QFETCH(QString, object);
        QFETCH(QString, operation);
        MemoryStore store;
        auto top = store.addStore(QStringLiteral("S"));
        auto inbox = store.addFolder(top, QStringLiteral("Inbox"));
        store.setDefaultInbox(inbox);
        store.addItem(inbox, QStringLiteral("first"), {"first.txt"});
        auto sub = store.addFolder(inbox, QStringLiteral("Sub"));
        store.addItem(sub, QStringLiteral("second"), {"second.txt"});
        store.addFolder(inbox, QStringLiteral("After"));
        store.failOn(object.replace(QStringLiteral("SUB"), sub->entryId), operation,
                     QStringLiteral("The store went away"));
        Run run;
        run.host.stepByStep = true; // every "Email" status shows, to tell how far the walk got
        run.analyse(store);
        const QStringList errors = run.stepsStartingWith(QStringLiteral("error: "));
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors[0].startsWith(QStringLiteral("error: Exception MailStoreError in module ")),
                 qPrintable(errors[0]));
        QVERIFY2(errors[0].endsWith(QStringLiteral(".\nThe store went away.")),
                 qPrintable(errors[0]));
        // Records found before the failure are shown; neither the result nor MarkFinished happens.
        QCOMPARE(run.host.steps.last(), QStringLiteral("syncGridRows"));
        QVERIFY(!run.window->finished);
        QVERIFY(run.stepsStartingWith(QStringLiteral("statusbar")).isEmpty());
        QCOMPARE(run.list.count(),
                 run.stepsStartingWith(QStringLiteral("status: Email")).isEmpty() ? 0 : 1);
    }

    void closedStatusWindowIsSkipped()
    {
        MemoryStore store;
        auto top = store.addStore(QStringLiteral("S"));
        auto inbox = store.addFolder(top, QStringLiteral("Inbox"));
        store.setDefaultInbox(inbox);
        store.addItem(inbox, QStringLiteral("m"), {"a.txt"});
        Run run;
        delete run.window;
        run.window = nullptr;
        run.analyse(store);
        QCOMPARE(run.list.count(), 1);
        QCOMPARE(run.host.steps,
                 QStringList({"statusbar: Complete. 1 emails processed", "syncGridRows"}));
    }
};

QTEST_GUILESS_MAIN(TestAnalysis)
#include "test_analysis.moc"
