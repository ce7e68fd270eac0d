// The core (everything below the windows) links and runs without Qt Widgets: a
// whole analysis and job on a store, in a program that loads no GUI library.
#include "mailstore/AttachmentList.h"
#include "mailstore/memory/MemoryStore.h"
#include "processing/RecordingHost.h"
#include "processing/TAnalyseThread.h"
#include "processing/TEmailThread.h"
#include "settings/TSettings.h"

#include <QFile>
#include <QSignalSpy>
#include <QTest>

class TestCoreAlone : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void analysesAndRunsAJobWithoutWindows()
    {
        MemoryStore store;
        auto inbox = store.addFolder(store.addStore(QStringLiteral("S")), QStringLiteral("Inbox"));
        store.setDefaultInbox(inbox);
        auto email = store.addItem(inbox, QStringLiteral("Report"), {"a.pdf", "b.pdf"});
        RecordingHost host;
        AttachmentList list;
        auto *settings = new TSettings;
        settings->getFromDefaultFolder = true;
        auto *analysis = new TAnalyseThread(settings, nullptr, &host, store.factory(), &list);
        QSignalSpy analysed(analysis, &QObject::destroyed);
        QVERIFY(analysed.wait(10000));
        QCOMPARE(list.count(), 2);

        const TEmailThread::Records all{list.record(0), list.record(1)};
        auto *job = new TEmailThread(
            new TSettings, nullptr, &host, store.factory(), [all] { return all; }, true, false);
        QSignalSpy done(job, &QObject::destroyed);
        QVERIFY(done.wait(10000));
        QVERIFY(email->attachments.empty());
    }

    void noGuiLibraryIsLoaded()
    {
        QFile maps(QStringLiteral("/proc/self/maps"));
        QVERIFY(maps.open(QIODevice::ReadOnly));
        const QByteArray loaded = maps.readAll();
        QVERIFY(!loaded.contains("libQt6Widgets"));
        QVERIFY(!loaded.contains("libQt6Gui"));
    }
};

QTEST_GUILESS_MAIN(TestCoreAlone)
#include "test_core_alone.moc"
