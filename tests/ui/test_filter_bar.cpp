#include "lang/IniFile.h"
#include "lang/TStringLoader.h"
#include "mailstore/memory/MemoryStore.h"
#include "settings/TRegistry.h"
#include "ui/AttachmentGridModel.h"
#include "ui/DestinationFolderWindow.h"
#include "ui/FilterBar.h"
#include "ui/Localise.h"
#include "ui/MainWindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFile>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gmime/gmime.h>

namespace {

// Emails of known senders, days and attachment sizes, in two folders.
struct Mailbox
{
    MemoryStore store;
    std::shared_ptr<MemoryStore::FolderData> inbox;
    std::shared_ptr<MemoryStore::FolderData> projects;

    Mailbox()
    {
        auto top = store.addStore(QStringLiteral("Personal Folders"));
        inbox = store.addFolder(top, QStringLiteral("Inbox"));
        projects = store.addFolder(inbox, QStringLiteral("Projects"));
        store.setDefaultInbox(inbox);
        add(inbox, "Report", "Ann Lee", QDate(2024, 3, 1), {"r.pdf", "notes.PDF"});
        add(inbox, "Photos", "Bob", QDate(2024, 3, 10), {"a.zip"});
        add(inbox, "Draft", "ann@example.com", QDate(2024, 4, 2), {"d.doc", "big.pdf"});
        add(projects, "Budget", "Carol", QDate(2024, 3, 15), {"b.xls"});
        add(projects, "Memo", "Bob", QDate(2024, 5, 1), {"readme"});
        // One attachment far larger than the others' 15 to 20 bytes.
        item("Draft")->attachments[1].content = QByteArray(5000, 'x');
    }

    void add(const std::shared_ptr<MemoryStore::FolderData> &folder, const char *subject,
             const char *sender, QDate day, const QStringList &names)
    {
        auto email = store.addItem(folder, QString::fromLatin1(subject), names);
        email->senderName = QString::fromLatin1(sender);
        email->receivedTime = QDateTime(day, QTime(9, 30));
    }

    std::shared_ptr<MemoryStore::ItemData> item(const char *subject) const
    {
        for (const auto &folder : {inbox, projects}) {
            for (const auto &email : folder->items) {
                if (email->subject == QLatin1String(subject))
                    return email;
            }
        }
        return nullptr;
    }

    // Every attachment still in the store, sorted.
    QStringList attachments() const
    {
        QStringList names;
        for (const auto &folder : {inbox, projects}) {
            for (const auto &email : folder->items) {
                for (const auto &attachment : email->attachments)
                    names << attachment.filename;
            }
        }
        names.sort();
        return names;
    }
};

const int filenameColumn = int(AttachColumn::Filename) - 1;

// The file names the grid shows, top to bottom.
QStringList shownNames(MainWindow &window)
{
    QStringList names;
    const AttachmentGridModel &model = window.gridModel();
    for (int row = 0; row < model.rowCount(); ++row)
        names << model.index(row, filenameColumn).data().toString();
    return names;
}

QStringList sorted(QStringList names)
{
    names.sort();
    return names;
}

// The file names of the records a job started now would take.
QStringList selectedNames(const MainWindow &window)
{
    QStringList names;
    for (const auto &record : window.selectedRecords())
        names << record->Filename;
    return names;
}

QString statusBarText(MainWindow &window)
{
    return window.findChild<QLabel *>(QStringLiteral("statusText"))->text();
}

void analyse(MainWindow &window)
{
    window.analyseButtonClick();
    QTRY_VERIFY_WITH_TIMEOUT(!window.workerRunning(), 10000);
}

void runJob(MainWindow &window, bool remove, bool save)
{
    window.startJob(remove, save);
    QTRY_VERIFY_WITH_TIMEOUT(!window.workerRunning(), 10000);
}

// Checks or unchecks a type in the filter bar's menu, as a click on it does.
void chooseType(FilterBar &bar, const QString &type, bool chosen = true)
{
    for (QAction *action : bar.typeButton->menu()->actions()) {
        if (action->isCheckable() && action->data().toString() == type) {
            if (action->isChecked() != chosen)
                action->trigger();
            return;
        }
    }
    QFAIL(qPrintable(QStringLiteral("no type %1 in the menu").arg(type)));
}

// Answers the next modal window when it appears.
void whenModal(std::function<void(QWidget *)> handler)
{
    auto poll = std::make_shared<std::function<void()>>();
    *poll = [handler, poll] {
        if (QWidget *modal = QApplication::activeModalWidget())
            handler(modal);
        else
            QTimer::singleShot(10, *poll);
    };
    QTimer::singleShot(10, *poll);
}

} // namespace

class TestFilterBar : public QObject
{
    Q_OBJECT
    QTemporaryDir m_config;

    // For the manual: QB_SCREENSHOT_DIR=folder, under a real X server.
    void screenshot(QWidget *widget, const char *name)
    {
        const QString folder = qEnvironmentVariable("QB_SCREENSHOT_DIR");
        if (!folder.isEmpty())
            widget->grab().save(folder + QLatin1Char('/') + QLatin1String(name) +
                                QStringLiteral(".png"));
    }

private Q_SLOTS:
    void initTestCase()
    {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
        g_mime_init();
    }
    void init() { QFile::remove(TRegistry::hivePath(TRegistry::Root::CurrentUser)); }

    // Each field narrows the rows to those the filter matches; Clear shows them all.
    void fieldsPickTheRows()
    {
        Mailbox box;
        MainWindow window(box.store.factory());
        window.show();
        analyse(window);
        FilterBar &bar = *window.filterBar;
        const QStringList all = {"a.zip",     "b.xls", "big.pdf", "d.doc",
                                 "notes.PDF", "r.pdf", "readme"};
        QCOMPARE(sorted(shownNames(window)), all);
        // Types in any case are one choice; an attachment without a type is one too.
        QCOMPARE(bar.typeChoices(), QStringList({"", "doc", "pdf", "xls", "zip"}));

        chooseType(bar, QStringLiteral("pdf"));
        QCOMPARE(sorted(shownNames(window)), QStringList({"big.pdf", "notes.PDF", "r.pdf"}));
        QCOMPARE(bar.typesChosen->text(), QStringLiteral("pdf"));
        chooseType(bar, QStringLiteral(""));
        QCOMPARE(sorted(shownNames(window)),
                 QStringList({"big.pdf", "notes.PDF", "r.pdf", "readme"}));
        bar.sizeUnit->setCurrentIndex(int(FilterBar::Unit::KB));
        bar.minimumSize->setValue(2);
        QCOMPARE(shownNames(window), QStringList({"big.pdf"}));
        AttachmentFilter expected;
        expected.types = QStringList({"", "pdf"});
        expected.minAttachmentSize = 2000;
        QCOMPARE(window.gridModel().filter(), expected);

        bar.clearButton->click();
        QCOMPARE(window.gridModel().filter(), AttachmentFilter());
        QCOMPARE(sorted(shownNames(window)), all);
        QCOMPARE(bar.typesChosen->text(), QString());

        // Sender and subject: any case, anywhere in the text; applied once typing pauses.
        QTest::keyClicks(bar.fromText, QStringLiteral("ANN"));
        QTRY_COMPARE(sorted(shownNames(window)),
                     QStringList({"big.pdf", "d.doc", "notes.PDF", "r.pdf"}));
        QTest::keyClicks(bar.subjectText, QStringLiteral("raf"));
        QTRY_COMPARE(sorted(shownNames(window)), QStringList({"big.pdf", "d.doc"}));
        bar.clearButton->click();
        QCOMPARE(bar.fromText->text(), QString());

        // Days received, each end open or closed, both days included.
        bar.firstDayChoice->setChecked(true);
        bar.firstDay->setDate(QDate(2024, 3, 10));
        QCOMPARE(sorted(shownNames(window)),
                 QStringList({"a.zip", "b.xls", "big.pdf", "d.doc", "readme"}));
        bar.lastDayChoice->setChecked(true);
        bar.lastDay->setDate(QDate(2024, 3, 15));
        QCOMPARE(sorted(shownNames(window)), QStringList({"a.zip", "b.xls"}));
        bar.firstDayChoice->setChecked(false);
        QCOMPARE(sorted(shownNames(window)), QStringList({"a.zip", "b.xls", "notes.PDF", "r.pdf"}));
        QVERIFY(!bar.firstDay->isEnabled());
    }

    // Select matching selects the rows shown and no other; a job takes exactly those.
    void jobsTakeTheRowsShownSelected()
    {
        Mailbox box;
        MainWindow window(box.store.factory());
        window.show();
        analyse(window);
        chooseType(*window.filterBar, QStringLiteral("pdf"));
        window.filterBar->selectMatchingButton->click();
        QCOMPARE(statusBarText(window), QStringLiteral("3 attachment(s) selected"));
        QCOMPARE(sorted(selectedNames(window)), QStringList({"big.pdf", "notes.PDF", "r.pdf"}));
        // Ctrl+A on the grid, too, selects what shows.
        window.attachGrid->clearSelection();
        window.selectAll();
        QCOMPARE(window.attachGrid->selectionModel()->selectedRows().size(), 3);
        runJob(window, true, false);
        QCOMPARE(box.attachments(), QStringList({"a.zip", "b.xls", "d.doc", "readme"}));
    }

    // A heading click sorts the list in place with a filter set: the same rows show, the
    // selection keeps its row numbers, and a job takes the records those rows show now.
    void sortingKeepsRowNumbersAndJobsFollowWhatShows()
    {
        Mailbox box;
        MainWindow window(box.store.factory());
        window.show();
        analyse(window);
        chooseType(*window.filterBar, QStringLiteral("pdf"));
        QCOMPARE(window.gridModel().rowCount(), 3);
        window.attachGrid->selectRow(0);
        const QString before = shownNames(window).first();
        QStringList firsts;
        for (int click = 0; click < 2; ++click) {
            window.attachGridHeadingClick(int(AttachColumn::Filename));
            QCOMPARE(sorted(shownNames(window)), QStringList({"big.pdf", "notes.PDF", "r.pdf"}));
            QCOMPARE(window.attachGrid->selectionModel()->selectedRows().size(), 1);
            QCOMPARE(window.attachGrid->selectionModel()->selectedRows().first().row(), 0);
            QCOMPARE(selectedNames(window), QStringList({shownNames(window).first()}));
            firsts << shownNames(window).first();
        }
        // Both orders were shown, so row 0 held another record after one of the clicks.
        QVERIFY(firsts.first() != firsts.last());
        QVERIFY(before != firsts.first() || before != firsts.last());
        const QString taken = shownNames(window).first();
        runJob(window, true, false);
        QStringList expected = {"a.zip",     "b.xls", "big.pdf", "d.doc",
                                "notes.PDF", "r.pdf", "readme"};
        expected.removeOne(taken);
        QCOMPARE(box.attachments(), expected);
    }

    // Rows a new filter hides leave the selection; those still shown stay selected, and
    // rows shown again later come back unselected.
    void filterChangeKeepsOnlyTheShownSelection()
    {
        Mailbox box;
        MainWindow window(box.store.factory());
        window.show();
        analyse(window);
        window.attachGrid->selectAll();
        QCOMPARE(statusBarText(window), QStringLiteral("7 attachment(s) selected"));
        AttachmentFilter two;
        two.types = QStringList({"zip", "xls"});
        window.applyFilter(two);
        QCOMPARE(sorted(selectedNames(window)), QStringList({"a.zip", "b.xls"}));
        QCOMPARE(statusBarText(window), QStringLiteral("2 attachment(s) selected"));
        chooseType(*window.filterBar, QStringLiteral("xls"), false);
        QCOMPARE(selectedNames(window), QStringList({"a.zip"}));
        chooseType(*window.filterBar, QStringLiteral("xls"));
        QCOMPARE(sorted(shownNames(window)), QStringList({"a.zip", "b.xls"}));
        QCOMPARE(selectedNames(window), QStringList({"a.zip"}));
        window.filterBar->clearButton->click();
        QCOMPARE(window.gridModel().rowCount(), 7);
        QCOMPARE(selectedNames(window), QStringList({"a.zip"}));
        runJob(window, true, false);
        QCOMPARE(box.attachments(),
                 QStringList({"b.xls", "big.pdf", "d.doc", "notes.PDF", "r.pdf", "readme"}));
    }

    // A filter from elsewhere fills the fields; what has no field shows as a part that
    // a click removes; the attachments page shows.
    void applyFilterFillsTheBar()
    {
        Mailbox box;
        MainWindow window(box.store.factory());
        window.show();
        analyse(window);
        window.pages->setCurrentWidget(window.startingFolderPage);
        FilterBar &bar = *window.filterBar;
        AttachmentFilter given;
        given.types = QStringList({"PDF"});
        given.minAttachmentSize = 17;
        given.folder = QStringLiteral("Inbox\\");
        given.maxEmailSize = 9000;
        given.lastDay = QDate(2024, 3, 31);
        window.applyFilter(given);
        QCOMPARE(window.pages->currentWidget(), window.attachmentsPage);
        given.types = QStringList({"pdf"}); // kept case-folded, as the filter compares them
        QCOMPARE(window.gridModel().filter(), given);
        QCOMPARE(bar.filter(), given);
        QCOMPARE(bar.minimumSize->value(), 17);
        QCOMPARE(bar.sizeUnit->currentIndex(), int(FilterBar::Unit::Bytes));
        QVERIFY(bar.lastDayChoice->isChecked() && !bar.firstDayChoice->isChecked());
        // "content of notes.PDF" is 19 bytes, "content of r.pdf" 16.
        QCOMPARE(shownNames(window), QStringList({"notes.PDF"}));

        auto *folderPart = bar.findChild<QToolButton *>(QStringLiteral("filterFolderPart"));
        QVERIFY(folderPart);
        QCOMPARE(folderPart->text(), QStringLiteral("Folder Inbox\\"));
        QVERIFY(bar.findChild<QToolButton *>(QStringLiteral("filterMaxEmailPart")));
        QVERIFY(!bar.findChild<QToolButton *>(QStringLiteral("filterMinEmailPart")));
        QVERIFY(!bar.findChild<QToolButton *>(QStringLiteral("filterSenderPart")));
        folderPart->click();
        QVERIFY(!bar.findChild<QToolButton *>(QStringLiteral("filterFolderPart")));
        QCOMPARE(window.gridModel().filter().folder, QString());
        QCOMPARE(window.gridModel().filter().maxEmailSize, std::optional<qint64>(9000));

        // Whole units show in the largest unit that holds them exactly.
        AttachmentFilter megabytes;
        megabytes.minAttachmentSize = 3000000;
        window.applyFilter(megabytes);
        QCOMPARE(bar.minimumSize->value(), 3);
        QCOMPARE(bar.sizeUnit->currentIndex(), int(FilterBar::Unit::MB));
        QVERIFY(!bar.findChild<QToolButton *>(QStringLiteral("filterMaxEmailPart")));
        QCOMPARE(window.gridModel().rowCount(), 0);
    }

    // A new analysis offers the new list's types and keeps the rest of the filter; chosen
    // types the new list lacks are no longer chosen.
    void newAnalysisRefreshesTheTypes()
    {
        Mailbox box;
        MainWindow window(box.store.factory());
        window.show();
        analyse(window);
        FilterBar &bar = *window.filterBar;
        chooseType(bar, QStringLiteral("zip"));
        chooseType(bar, QStringLiteral("xls"));
        QTest::keyClicks(bar.fromText, QStringLiteral("o"));
        QTRY_COMPARE(window.gridModel().filter().from, QStringLiteral("o"));
        QCOMPARE(sorted(shownNames(window)), QStringList({"a.zip", "b.xls"}));
        box.inbox->items.erase(box.inbox->items.begin() + 1); // Photos and its a.zip
        box.add(box.inbox, "Zipped", "Dora", QDate(2024, 6, 1), {"z.ZIP"});
        box.add(box.inbox, "Slides", "Otto", QDate(2024, 6, 2), {"s.ppt"});
        analyse(window);
        QCOMPARE(bar.typeChoices(), QStringList({"", "doc", "pdf", "ppt", "xls", "zip"}));
        QCOMPARE(window.gridModel().filter().types, QStringList({"xls", "zip"}));
        QCOMPARE(window.gridModel().filter().from, QStringLiteral("o"));
        QCOMPARE(sorted(shownNames(window)), QStringList({"b.xls", "z.ZIP"}));

        box.projects->items.clear();
        analyse(window);
        QCOMPARE(window.gridModel().filter().types, QStringList({"zip"}));
        QCOMPARE(shownNames(window), QStringList({"z.ZIP"}));
        // A list with nothing in it offers nothing new and keeps the choice.
        window.clearAllData();
        QCOMPARE(window.gridModel().filter().types, QStringList({"zip"}));
    }

    // The status bar keeps its count and adds the emails and the bytes removing the
    // selection frees; the Delete question and the Detach window repeat them.
    void selectionSaysWhatItFrees()
    {
        Mailbox box;
        MainWindow window(box.store.factory());
        window.show();
        analyse(window);
        QCOMPARE(window.selectionTotals->text(), QString());
        AttachmentFilter pdfInInbox;
        pdfInInbox.types = QStringList({"pdf"});
        pdfInInbox.folder = QStringLiteral("Inbox\\");
        window.applyFilter(pdfInInbox);
        window.filterBar->selectMatchingButton->click();
        window.resize(820, 420);
        QTest::qWait(50); // a removable part shows once the event loop has run
        screenshot(&window, "filter-bar");
        window.resize(600, 340);
        QTest::qWait(50);
        screenshot(&window, "filter-bar-narrow");
        QCOMPARE(statusBarText(window), QStringLiteral("3 attachment(s) selected"));
        // 16 + 19 + 5000 bytes in Report and Draft.
        QCOMPARE(window.selectionTotals->text(),
                 QStringLiteral("in 2 email(s), Delete or Detach frees 5.0 KB"));
        QVERIFY(window.selectionTotals->isVisible());

        QString detail;
        whenModal([&](QWidget *modal) {
            auto *question = qobject_cast<QMessageBox *>(modal);
            detail = question->informativeText();
            question->button(QMessageBox::No)->click();
        });
        window.deleteAttachmentsClick();
        QCOMPARE(detail, QStringLiteral("3 attachment(s) from 2 email(s) will be deleted; they "
                                        "are not saved. This frees 5.0 KB."));

        QString note;
        whenModal([&](QWidget *modal) {
            auto *chooser = qobject_cast<DestinationFolderWindow *>(modal);
            note = chooser->jobNote->isVisible() ? chooser->jobNote->text() : QString();
            chooser->reject();
        });
        window.detachAttachmentsClick();
        QCOMPARE(note, QStringLiteral("3 attachment(s) from 2 email(s) will be detached. This "
                                      "frees 5.0 KB."));
        // Save attachments frees nothing and says nothing of it.
        whenModal([&](QWidget *modal) {
            auto *chooser = qobject_cast<DestinationFolderWindow *>(modal);
            note = chooser->jobNote->isVisible() ? chooser->jobNote->text() : QStringLiteral("-");
            chooser->reject();
        });
        window.copyAttachmentsClick();
        QCOMPARE(note, QStringLiteral("-"));

        window.attachGrid->clearSelection();
        QCOMPARE(window.selectionTotals->text(), QString());
    }

    // The bar's captions and hints come from the main window's section of the language
    // file, which learns them by their names.
    void captionsAreLocalised()
    {
        QTemporaryDir dir;
        const QString path = dir.path() + QStringLiteral("/English.ini");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[TForm1]\nfilterClear.Caption=&Vider\nfilterFromLabel.Caption=Exp\xC3\xA9"
                   "diteur\nfilterTypes.Hint=Types montr\xC3\xA9s\n");
        file.close();
        {
            TStringLoader loader(path);
            FilterBar bar;
            LocaliseForm(loader, MainWindow::languageSection.toString(), &bar);
            QCOMPARE(bar.clearButton->text(), QStringLiteral("&Vider"));
            QCOMPARE(bar.findChild<QLabel *>(QStringLiteral("filterFromLabel"))->text(),
                     QStringLiteral("Exp\u00e9diteur"));
            QCOMPARE(bar.typeButton->toolTip(), QStringLiteral("Types montr\u00e9s"));
        }
        QVERIFY(file.open(QIODevice::ReadOnly));
        const IniFile learned = IniFile::parse(file.readAll());
        for (const char *key :
             {"filterSelectMatching.Caption", "filterTypes.Caption", "filterSizeLabel.Caption",
              "filterFirstDay.Caption", "filterLastDay.Caption", "filterSubjectLabel.Caption",
              "filterFrom.Hint"})
            QVERIFY2(learned.contains("TForm1", key), key);
    }
};

QTEST_MAIN(TestFilterBar)
#include "test_filter_bar.moc"
