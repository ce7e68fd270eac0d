#include "common/AutomationDate.h"
#include "lang/TStringLoader.h"
#include "mailstore/AttachmentList.h"
#include "mailstore/TAttach.h"
#include "mailstore/memory/MemoryStore.h"
#include "settings/TRegistry.h"
#include "ui/ByteBars.h"
#include "ui/DestinationFolderWindow.h"
#include "ui/HelpContexts.h"
#include "ui/MainWindow.h"
#include "ui/StatusWindow.h"
#include "ui/SummaryPage.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gmime/gmime.h>

namespace {

std::shared_ptr<const TAttach> record(const QString &email, const QString &folder,
                                      const QString &from, const QString &filename, qint64 bytes,
                                      int year = 2022)
{
    return std::make_shared<const TAttach>(TAttach{
        QStringLiteral("Subject"), from, folder, bytes + 2000, filename, attachmentType(filename),
        qb::toAutomationDate(QDateTime(QDate(year, 3, 4), QTime(10, 0))), email, 1,
        QStringLiteral("store"), bytes});
}

// Eleven folders, so that the smallest fold; two types; three senders; two years.
void fillList(AttachmentList &list)
{
    list.append({}, record(QStringLiteral("e1"), QStringLiteral("Inbox\\"), QStringLiteral("Ann"),
                           QStringLiteral("a.pdf"), 4000000)); // 4MB
    list.append({}, record(QStringLiteral("e1"), QStringLiteral("Inbox\\"), QStringLiteral("Ann"),
                           QStringLiteral("b.jpg"), 500000));
    list.append({}, record(QStringLiteral("e2"), QStringLiteral("Inbox\\Projects\\"),
                           QStringLiteral("Bob"), QStringLiteral("c.PDF"), 2000000, 2019));
    for (int i = 0; i < 9; ++i)
        list.append({}, record(QStringLiteral("f%1").arg(i), QStringLiteral("Box %1\\").arg(i),
                               QStringLiteral("Cy"), QStringLiteral("d.jpg"), 10000 + i));
}

qint64 sumOf(const AttachmentList &list)
{
    qint64 sum = 0;
    for (int i = 0; i < list.count(); ++i)
        sum += list.record(i)->AttachmentSize;
    return sum;
}

void click(ByteBars *bars, int row)
{
    QTest::mouseClick(bars, Qt::LeftButton, {}, bars->rowRect(row).center());
}

// Types folder into the destination folder window when it comes, and accepts it.
void answerDestination(const QString &folder)
{
    auto poll = std::make_shared<std::function<void()>>();
    *poll = [folder, poll] {
        auto *chooser = qobject_cast<DestinationFolderWindow *>(QApplication::activeModalWidget());
        if (!chooser) {
            QTimer::singleShot(10, *poll);
            return;
        }
        chooser->folderField->setText(folder);
        chooser->accept();
    };
    QTimer::singleShot(10, *poll);
}

AttachmentFilter chosen(QSignalSpy &spy)
{
    return spy.takeFirst().at(0).value<AttachmentFilter>();
}

// A page over a filled list, shown.
struct PageFixture
{
    AttachmentList list;
    SummaryPage page;

    explicit PageFixture(TStringLoader *loader = nullptr) : page(&list, loader)
    {
        fillList(list);
        page.syncRows();
        page.resize(640, 420);
        page.show();
    }
};

} // namespace

class TestSummaryPage : public QObject
{
    Q_OBJECT
    QTemporaryDir m_config;

private Q_SLOTS:
    void initTestCase()
    {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
        qRegisterMetaType<AttachmentFilter>();
        g_mime_init();
    }

    void totalsShownMatchTheList()
    {
        PageFixture fixture;
        SummaryPage &page = fixture.page;
        QVERIFY(!page.emptyNote->isVisible());
        QCOMPARE(page.totalText->text(),
                 QStringLiteral("Attachments take 7MB: 12 attachment(s) in 11 email(s)"));

        const auto &folders = page.folderBars->bars();
        QCOMPARE(int(folders.size()), SummaryPage::barLimit);
        QCOMPARE(folders[0].name, QStringLiteral("Inbox")); // without the trailing separator
        QCOMPARE(folders[0].bytes, 4500000);
        QCOMPARE(folders[0].sizeText, QStringLiteral("5MB"));
        QCOMPARE(folders[1].name, QStringLiteral("Inbox\\Projects"));
        // Box 8 down to Box 4 have bars; Box 3 to Box 0 are folded.
        QCOMPARE(folders[2].name, QStringLiteral("Box 8"));
        QCOMPARE(folders[6].name, QStringLiteral("Box 4"));
        QCOMPARE(folders.back().name, QStringLiteral("Other"));
        QCOMPARE(folders.back().bytes, 10000 + 10001 + 10002 + 10003);
        QVERIFY(!folders.back().filter);
        qint64 shown = 0;
        for (const ByteBars::Bar &bar : folders)
            shown += bar.bytes;
        QCOMPARE(shown, sumOf(fixture.list));
        QVERIFY(folders.back().toolTip.contains(QStringLiteral("4 attachment(s) in 4 email(s)")));

        const auto &types = page.typeBars->bars();
        QCOMPARE(types.size(), size_t(2));
        QCOMPARE(types[0].name, QStringLiteral("pdf"));
        QCOMPARE(types[0].bytes, 6000000);
        QCOMPARE(types[0].toolTip,
                 QStringLiteral(
                     "pdf\n6,000,000 bytes\n2 attachment(s) in 2 email(s)\n91.0% of the total\n"
                     "Click to list these attachments"));
        QCOMPARE(page.senderBars->bars()[0].name, QStringLiteral("Ann"));
        QCOMPARE(page.yearBars->bars()[0].name, QStringLiteral("2022"));
        QCOMPARE(page.yearBars->bars()[0].bytes, 4500000 + 90036);
    }

    void clickingABarEmitsItsRowsFilter()
    {
        PageFixture fixture;
        SummaryPage &page = fixture.page;
        QSignalSpy spy(&page, &SummaryPage::filterChosen);

        click(page.folderBars, 1);
        QCOMPARE(spy.size(), 1);
        AttachmentFilter expected;
        expected.folder = QStringLiteral("Inbox\\Projects\\");
        QCOMPARE(chosen(spy), expected);

        click(page.typeBars, 0);
        expected = AttachmentFilter();
        expected.types = QStringList{QStringLiteral("pdf")};
        QCOMPARE(chosen(spy), expected);

        click(page.senderBars, 0);
        expected = AttachmentFilter();
        expected.sender = QStringLiteral("Ann");
        QCOMPARE(chosen(spy), expected);

        click(page.yearBars, 1);
        const AttachmentFilter year = chosen(spy);
        QCOMPARE(year.firstDay, QDate(2019, 1, 1));
        QCOMPARE(year.lastDay, QDate(2019, 12, 31));

        // The folded rest picks nothing, nor does a press that slides to another bar or a
        // click below the last bar.
        click(page.folderBars, SummaryPage::barLimit - 1);
        QTest::mousePress(page.folderBars, Qt::LeftButton, {},
                          page.folderBars->rowRect(0).center());
        QTest::mouseRelease(page.folderBars, Qt::LeftButton, {},
                            page.folderBars->rowRect(1).center());
        QTest::mouseClick(page.typeBars, Qt::LeftButton, {},
                          page.typeBars->rowRect(0).center() + QPoint(0, 200));
        QCOMPARE(spy.size(), 0);
    }

    void barsAreChosenWithTheKeyboard()
    {
        PageFixture fixture;
        SummaryPage &page = fixture.page;
        QApplication::setActiveWindow(&page);
        QSignalSpy spy(&page, &SummaryPage::filterChosen);
        page.typeBars->setFocus();
        QTRY_VERIFY(page.typeBars->hasFocus());
        QCOMPARE(page.typeBars->currentRow(), 0);
        QTest::keyClick(page.typeBars, Qt::Key_Down);
        QTest::keyClick(page.typeBars, Qt::Key_Return);
        QCOMPARE(spy.size(), 1);
        QCOMPARE(chosen(spy).types, QStringList{QStringLiteral("jpg")});
        QTest::keyClick(page.typeBars, Qt::Key_Down); // stays on the last bar
        QTest::keyClick(page.typeBars, Qt::Key_Space);
        QCOMPARE(chosen(spy).types, QStringList{QStringLiteral("jpg")});

        page.folderBars->setFocus();
        QTest::keyClick(page.folderBars, Qt::Key_End); // Other
        QTest::keyClick(page.folderBars, Qt::Key_Space);
        QCOMPARE(spy.size(), 0);
        QTest::keyClick(page.folderBars, Qt::Key_Home);
        QTest::keyClick(page.folderBars, Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(chosen(spy).folder, QStringLiteral("Inbox\\"));
    }

    // The page reads the list again at each sync; a hidden page when it shows.
    void followsTheList()
    {
        PageFixture fixture;
        SummaryPage &page = fixture.page;
        fixture.list.append({}, record(QStringLiteral("g"), QStringLiteral("New\\"),
                                       QStringLiteral("Dee"), QStringLiteral("x.zip"), 9000000));
        // Entries an analysis adds count from the sync at its end.
        QCOMPARE(page.folderBars->bars()[0].name, QStringLiteral("Inbox"));
        page.syncRows();
        QCOMPARE(page.folderBars->bars()[0].name, QStringLiteral("New"));

        page.hide();
        fixture.list.clear();
        page.syncRows();
        QCOMPARE(page.folderBars->bars()[0].name, QStringLiteral("New"));
        page.show();
        QVERIFY(page.folderBars->bars().empty());
        QVERIFY(page.emptyNote->isVisible());
        QVERIFY(!page.findChild<QScrollArea *>()->isVisible());
        QVERIFY(!page.totalText->isVisible());
    }

    // Rows keep their height in a small window: the charts scroll; long names are elided.
    void smallWindowScrolls()
    {
        AttachmentList list;
        for (int i = 0; i < 12; ++i)
            list.append({}, record(QStringLiteral("e%1").arg(i),
                                   QStringLiteral("Archive\\%1 a folder with a very long name "
                                                  "that no bar has room for\\")
                                       .arg(i),
                                   QStringLiteral("Sender %1").arg(i),
                                   QStringLiteral("f.t%1").arg(i), 1000 * (i + 1), 2010 + i));
        SummaryPage page(&list, nullptr);
        page.syncRows();
        page.resize(500, 220);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        const auto *scroll = page.findChild<QScrollArea *>();
        QVERIFY(scroll->verticalScrollBar()->maximum() > 0);
        QCOMPARE(page.folderBars->height(),
                 page.folderBars->rowRect(0).height() * SummaryPage::barLimit);
        QVERIFY(page.folderBars->width() <
                page.fontMetrics().horizontalAdvance(page.folderBars->bars()[0].name));

        // The keys scroll the current bar into sight.
        page.yearBars->setFocus();
        QTest::keyClick(page.yearBars, Qt::Key_End);
        const QRect last = page.yearBars->rowRect(SummaryPage::barLimit - 1);
        const QPoint inViewport = page.yearBars->mapTo(scroll->viewport(), last.bottomLeft());
        QVERIFY(inViewport.y() <= scroll->viewport()->height());
    }

    // Texts the page makes come from its section of the language file; a pattern that does
    // not fit its values leaves the built-in one.
    void textsComeFromTheLanguageFile()
    {
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("English.ini"));
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("[TSummary]\notherGroup.Caption=Rest\n"
                       "totalLine.Caption=%s %s\n"
                       "bytesLine.Caption=%.0n octets\n");
        }
        TStringLoader loader(path);
        PageFixture fixture(&loader);
        QCOMPARE(fixture.page.folderBars->bars().back().name, QStringLiteral("Rest"));
        QCOMPARE(fixture.page.totalText->text(),
                 QStringLiteral("Attachments take 7MB: 12 attachment(s) in 11 email(s)"));
        QVERIFY(
            fixture.page.typeBars->bars()[0].toolTip.contains(QStringLiteral("6,000,000 octets")));
    }

    // In the main window: the fourth page, filled by an analysis and emptied by a job.
    void mainWindowPage()
    {
        QFile::remove(TRegistry::hivePath(TRegistry::Root::CurrentUser));
        MemoryStore store;
        auto top = store.addStore(QStringLiteral("Personal Folders"));
        auto inbox = store.addFolder(top, QStringLiteral("Inbox"));
        store.setDefaultInbox(inbox);
        auto item = store.addItem(inbox, QStringLiteral("Big"), {"b1.zip", "b2.doc"});
        item->attachments[0].content = QByteArray(3000, 'z');
        item->attachments[1].content = QByteArray(1000, 'd');
        store
            .addItem(store.addFolder(inbox, QStringLiteral("Old")), QStringLiteral("Small"),
                     {"s.zip"})
            ->attachments[0]
            .content = QByteArray(500, 's');

        MainWindow window(store.factory());
        window.show();
        QCOMPARE(window.pages->indexOf(window.summaryPage), 3);
        QCOMPARE(window.pages->tabText(3), QStringLiteral("&4 Summary"));
        QCOMPARE(HelpContexts::of(window.summaryPage->folderBars),
                 std::optional<int>(HelpContexts::summaryPage));
        QVERIFY(window.summaryPage->folderBars->bars().empty());
        window.analyseButtonClick();
        QTRY_VERIFY_WITH_TIMEOUT(!window.workerRunning(), 10000);
        window.pages->setCurrentWidget(window.summaryPage);
        const auto &folders = window.summaryPage->folderBars->bars();
        QCOMPARE(folders.size(), size_t(2));
        QCOMPARE(folders[0].name, QStringLiteral("Inbox"));
        QCOMPARE(folders[0].bytes, 4000);
        QCOMPARE(folders[1].bytes, 500);
        QCOMPARE(window.summaryPage->typeBars->bars()[0].bytes, 3500);
        QCOMPARE(window.summaryPage->totalText->text(),
                 QStringLiteral("Attachments take 5KB: 3 attachment(s) in 2 email(s)"));

        // A bar lists its rows in the grid; the summary still counts the whole list.
        QTest::mouseClick(window.summaryPage->folderBars, Qt::LeftButton, {},
                          window.summaryPage->folderBars->rowRect(1).center());
        QCOMPARE(window.pages->currentWidget(), window.attachmentsPage);
        QCOMPARE(window.attachGrid->model()->rowCount(), 1);
        QCOMPARE(window.attachGrid->model()->index(0, 1).data().toString(),
                 QStringLiteral("Inbox\\Old\\"));
        window.pages->setCurrentWidget(window.summaryPage);
        QCOMPARE(window.summaryPage->folderBars->bars().size(), size_t(2));
        QCOMPARE(window.summaryPage->typeBars->bars()[0].bytes, 3500);

        QTemporaryDir out;
        window.pages->setCurrentWidget(window.attachmentsPage);
        window.selectAll();
        answerDestination(out.path());
        window.detachAttachmentsClick();
        QTRY_VERIFY_WITH_TIMEOUT(!window.workerRunning(), 10000);
        window.pages->setCurrentWidget(window.summaryPage);
        QVERIFY(window.summaryPage->folderBars->bars().empty());
        QVERIFY(window.summaryPage->emptyNote->isVisible());
        for (auto *status : window.findChildren<StatusWindow *>())
            status->close();
    }
};

QTEST_MAIN(TestSummaryPage)
#include "test_summary_page.moc"
