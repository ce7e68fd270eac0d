// The Help menu, the tool bar's help button, help on what is in front of the user, the
// help window, a missing manual, and About.
#include "common/Version.h"
#include "lang/TStringLoader.h"
#include "mailstore/memory/MemoryStore.h"
#include "settings/TRegistry.h"
#include "settings/TSettings.h"
#include "settings/WebLinks.h"
#include "ui/AboutWindow.h"
#include "ui/HelpBrowser.h"
#include "ui/HelpContexts.h"
#include "ui/HelpMenu.h"
#include "ui/HelpWindow.h"
#include "ui/ImapAccountWindow.h"
#include "ui/MainWindow.h"
#include "ui/ProgramHelp.h"
#include "ui/StatusWindow.h"
#include "ui/StorePasswords.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QGroupBox>
#include <QHelpContentWidget>
#include <QHelpEngine>
#include <QHelpEvent>
#include <QHelpIndexWidget>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>

#include <gmime/gmime.h>

namespace {

const QString collection = QStringLiteral(QB_HELP_COLLECTION);

QString pageName(const QUrl &url)
{
    return url.fileName();
}

// Answers the next modal window when it appears within five seconds: handler gets it and
// closes it.
void whenModal(std::function<void(QWidget *)> handler)
{
    auto poll = std::make_shared<std::function<void(int)>>();
    *poll = [handler, poll](int triesLeft) {
        QWidget *modal = QApplication::activeModalWidget();
        if (modal)
            handler(modal);
        else if (triesLeft > 0)
            QTimer::singleShot(10, [poll, triesLeft] { (*poll)(triesLeft - 1); });
    };
    QTimer::singleShot(10, [poll] { (*poll)(500); });
}

// The update window, once it shows.
QWidget *shownUpdateWindow()
{
    for (QWidget *top : QApplication::topLevelWidgets()) {
        if (top->objectName() == QLatin1String("updateForm") && top->isVisible())
            return top;
    }
    return nullptr;
}

struct Mailbox
{
    MemoryStore store;
    Mailbox()
    {
        auto top = store.addStore(QStringLiteral("Personal Folders"));
        auto inbox = store.addFolder(top, QStringLiteral("Inbox"));
        store.setDefaultInbox(inbox);
        store.addItem(inbox, QStringLiteral("Small"), {"s.pdf"})->size = 1000;
    }
};

// A main window whose help is the built manual.
struct Program
{
    Mailbox box;
    MainWindow window{box.store.factory()};
    HelpMenu *menu = window.findChild<HelpMenu *>();
    ProgramHelp *help = menu->help();

    Program()
    {
        help->setCollectionPath(collection);
        window.setModified(false);
        window.show();
    }
    ~Program() { window.setModified(false); }

    // The page the help window shows, or nothing when it did not open.
    QString shownPage() const
    {
        HelpWindow *shown = help->window();
        return shown && shown->isVisible() ? pageName(shown->currentPage()) : QString();
    }
};

bool activate(QWidget *window)
{
    window->activateWindow();
    return QTest::qWaitForWindowActive(window);
}

} // namespace

// Takes the URLs that the program would open.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
    UrlCatcher()
    {
        for (const char *scheme : {"https", "http"})
            QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "open");
    }
    ~UrlCatcher() override
    {
        for (const char *scheme : {"https", "http"})
            QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
    }
public Q_SLOTS:
    void open(const QUrl &url) { opened.append(url); }
};

class TestHelp : public QObject
{
    Q_OBJECT
    QTemporaryDir m_config;

private Q_SLOTS:
    void initTestCase()
    {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
        g_mime_init();
        QVERIFY(QFile::exists(collection));
    }
    void cleanupTestCase() { g_mime_shutdown(); }

    void helpMenuHoldsItsEntriesInOrder()
    {
        Program program;
        const QList<QAction *> entries = program.window.helpMenu->actions();
        QStringList texts;
        for (QAction *entry : entries)
            texts << (entry->isSeparator() ? QStringLiteral("-") : entry->text());
        QCOMPARE(texts,
                 (QStringList{"&Contents", "&Index", "-", "Quillbrook home page",
                              "Vellmor Software home page", "Check web for Quillbrook updates",
                              "Technical support", "-", "&About..."}));
        QCOMPARE(entries[5], program.window.checkUpdatesAction);
        const QList<QVariant> tags = {0, 9, {}, 6, 7, {}, 8, {}, {}};
        for (int i = 0; i < entries.size(); ++i)
            QCOMPARE(entries[i]->data(), tags[i]);
        QCOMPARE(entries[0]->shortcut(), QKeySequence(Qt::Key_F1));
        QCOMPARE(entries[0]->statusTip(), QStringLiteral("Help information"));
        QCOMPARE(entries[8]->statusTip(), QStringLiteral("About Quillbrook"));

        // The tool bar's help button comes after a separator and shows the contents.
        const QList<QAction *> tools =
            program.window.findChild<QToolBar *>(QStringLiteral("ToolBar1"))->actions();
        QVERIFY(tools.size() >= 2);
        QVERIFY(tools[tools.size() - 2]->isSeparator());
        QCOMPARE(tools.last(), program.menu->helpTool);
        QCOMPARE(tools.last()->toolTip(), QStringLiteral("Help"));
        QCOMPARE(tools.last()->data(), QVariant(0));
        tools.last()->trigger();
        QCOMPARE(program.shownPage(), QStringLiteral("index.html"));
    }

    void contextsOfTheMainWindow()
    {
        Program program;
        MainWindow &window = program.window;
        QCOMPARE(HelpContexts::of(window.analyseButton), std::optional<int>(200));
        QCOMPARE(HelpContexts::of(window.messageSource), std::optional<int>(200));
        QCOMPARE(HelpContexts::of(window.attachGrid->viewport()), std::optional<int>(210));
        QCOMPARE(HelpContexts::of(window.logFilename), std::optional<int>());
        QCOMPARE(HelpContexts::of(&window), std::optional<int>());
        for (QAction *entry : window.helpMenu->actions()) {
            const std::optional<int> expected =
                entry == window.checkUpdatesAction ? std::optional<int>() : std::optional<int>(280);
            QCOMPARE(HelpContexts::of(entry), expected);
        }
        QCOMPARE(HelpContexts::of(window.helpMenu), std::optional<int>(280));
        for (QAction *entry :
             {window.openAction, window.saveAction, window.saveAsAction, window.exitAction})
            QCOMPARE(HelpContexts::of(entry), std::optional<int>(290));
        QCOMPARE(HelpContexts::of(window.recentFilesMenu->menuAction()), std::optional<int>());
        QCOMPARE(HelpContexts::of(window.selectAllAction), std::optional<int>());
    }

    // F1 in the main window is the Help menu's Contents: the first page, with the
    // contents beside it, whatever page or control has the focus.
    void f1OpensTheContents()
    {
        Program program;
        QVERIFY(activate(&program.window));
        program.window.pages->setCurrentWidget(program.window.attachmentsPage);
        program.window.attachGrid->setFocus();
        QTest::keyClick(program.window.attachGrid, Qt::Key_F1);
        QCOMPARE(program.shownPage(), QStringLiteral("index.html"));
        HelpWindow *shown = program.help->window();
        QCOMPARE(shown->navigation->currentWidget(), shown->contents);
        QTRY_VERIFY(shown->contents->currentIndex().isValid());

        // One click on a topic of the contents opens it.
        QHelpContentModel *model = shown->engine()->contentModel();
        const QModelIndex top = model->index(0, 0);
        QModelIndex last = model->index(model->rowCount(top) - 1, 0, top);
        QCOMPARE(model->contentItemAt(last)->title(), QStringLiteral("Troubleshooting"));
        shown->contents->scrollTo(last);
        QTest::mouseClick(shown->contents->viewport(), Qt::LeftButton, {},
                          shown->contents->visualRect(last).center());
        QCOMPARE(program.shownPage(), QStringLiteral("troubleshooting.html"));
    }

    void shiftF1OpensTheTopicOfThePage_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<QString>("topic");
        QTest::newRow("starting folder") << 0 << "starting-folder.html";
        QTest::newRow("attachments") << 1 << "attachments.html";
        QTest::newRow("options, which has none") << 2 << "index.html";
    }

    void shiftF1OpensTheTopicOfThePage()
    {
        QFETCH(int, page);
        QFETCH(QString, topic);
        Program program;
        QVERIFY(activate(&program.window));
        program.window.pages->setCurrentIndex(page);
        QWidget *control = QList<QWidget *>{program.window.analyseButton, program.window.attachGrid,
                                            program.window.logFilename}[page];
        control->setFocus();
        QTest::keyClick(control, Qt::Key_F1, Qt::ShiftModifier);
        QCOMPARE(program.shownPage(), topic);
    }

    // A click in "What's This?" mode on a control with a context opens its topic.
    void whatsThisOpensTheTopic()
    {
        Program program;
        program.window.pages->setCurrentWidget(program.window.attachmentsPage);
        QHelpEvent query(QEvent::QueryWhatsThis, {}, {});
        QApplication::sendEvent(program.window.attachGrid, &query);
        QVERIFY(query.isAccepted());
        QHelpEvent click(QEvent::WhatsThis, {}, {});
        QVERIFY(QApplication::sendEvent(program.window.attachGrid, &click));
        QCOMPARE(program.shownPage(), QStringLiteral("attachments.html"));
    }

    void f1InAMenuOpensTheTopicOfItsEntry_data()
    {
        QTest::addColumn<QString>("menuName");
        QTest::addColumn<QString>("entryName");
        QTest::addColumn<QString>("topic");
        QTest::newRow("File > Open") << "File1"
                                     << "Open1"
                                     << "settings-files.html";
        QTest::newRow("File > Exit") << "File1"
                                     << "Exit1"
                                     << "settings-files.html";
        QTest::newRow("Help > Index") << "Help1"
                                      << "Index1"
                                      << "help-menu.html";
        QTest::newRow("Help > About") << "Help1"
                                      << "About1"
                                      << "help-menu.html";
        QTest::newRow("Help > Check web..., which has none") << "Help1"
                                                             << "CheckwebforQuillbrookupdates1"
                                                             << "index.html";
    }

    void f1InAMenuOpensTheTopicOfItsEntry()
    {
        QFETCH(QString, menuName);
        QFETCH(QString, entryName);
        QFETCH(QString, topic);
        Program program;
        QVERIFY(activate(&program.window));
        auto *menu = program.window.findChild<QMenu *>(menuName);
        auto *entry = program.window.findChild<QAction *>(entryName);
        QVERIFY(menu && entry);
        menu->popup(program.window.mapToGlobal(QPoint(20, 20)));
        QVERIFY(QTest::qWaitForWindowExposed(menu));
        menu->setActiveAction(entry);
        QTest::keyClick(menu, Qt::Key_F1);
        QCOMPARE(program.shownPage(), topic);
        QTRY_VERIFY(!menu->isVisible());
        // The entry was asked about, not chosen.
        QVERIFY(!program.window.findChild<AboutWindow *>());
    }

    // The status window, the update window and the IMAP account window open their topics
    // with F1 and Shift+F1.
    void otherWindowsOpenTheirTopics()
    {
        Program program;
        auto *status = new StatusWindow(nullptr, &program.window);
        QVERIFY(activate(status));
        QTest::keyClick(status->cancelButton, Qt::Key_F1);
        QCOMPARE(program.shownPage(), QStringLiteral("status-window.html"));
        program.help->window()->hide();
        QVERIFY(activate(status));
        QTest::keyClick(status, Qt::Key_F1, Qt::ShiftModifier);
        QCOMPARE(program.shownPage(), QStringLiteral("status-window.html"));
        status->close();

        program.help->window()->hide();
        program.window.checkUpdatesAction->trigger();
        QTRY_VERIFY(shownUpdateWindow());
        QWidget *update = shownUpdateWindow();
        QVERIFY(activate(update));
        QTest::keyClick(update->focusWidget() ? update->focusWidget() : update, Qt::Key_F1);
        QCOMPARE(program.shownPage(), QStringLiteral("update-check.html"));
        update->close();

        program.help->window()->hide();
        MailStoreEntry newAccount;
        newAccount.type = MailStoreEntry::Type::Imap;
        ImapAccountWindow account(newAccount, {}, StorePasswords(), {}, {}, nullptr,
                                  &program.window);
        account.show();
        QVERIFY(activate(&account));
        account.hostField->setFocus();
        QTest::keyClick(account.hostField, Qt::Key_F1);
        QCOMPARE(program.shownPage(), QStringLiteral("imap-accounts.html"));
        account.close();
    }

    // Tags 6, 7 and 8 open the machine hive's web addresses, else the built-in ones; an
    // entry with any other tag does nothing at all.
    void webPagesAndUnknownTags()
    {
        Program program;
        UrlCatcher catcher;
        const WebLinks defaults = WebLinks::defaults();
        for (const int tag : {6, 7, 8})
            program.menu->usermanualClick(tag);
        QCOMPARE(catcher.opened,
                 (QList<QUrl>{QUrl(defaults.productHomePage), QUrl(defaults.makerHomePage),
                              QUrl(defaults.supportPage)}));

        {
            TRegistry machine(TRegistry::Root::LocalMachine);
            QVERIFY(machine.OpenKey(TSettings::valueName(0), true));
            machine.WriteString(WebLinks::productHomePageValue,
                                QStringLiteral("https://example.org/quillbrook"));
            machine.WriteString(WebLinks::makerHomePageValue, QStringLiteral("  "));
            machine.WriteInteger(WebLinks::supportPageValue, 5);
        }
        catcher.opened.clear();
        program.window.findChild<QAction *>(QStringLiteral("Quillbrookhomepage1"))->trigger();
        program.window.findChild<QAction *>(QStringLiteral("VellmorSoftwarehomepage1"))->trigger();
        program.window.findChild<QAction *>(QStringLiteral("Technicalsupport1"))->trigger();
        QCOMPARE(catcher.opened,
                 (QList<QUrl>{QUrl(QStringLiteral("https://example.org/quillbrook")),
                              QUrl(defaults.makerHomePage), QUrl(defaults.supportPage)}));
        QFile::remove(TRegistry::hivePath(TRegistry::Root::LocalMachine));

        catcher.opened.clear();
        for (const int tag : {-1, 1, 3, 5, 10})
            program.menu->usermanualClick(tag);
        QTest::qWait(50);
        QVERIFY(catcher.opened.isEmpty());
        QVERIFY(!program.help->window());
        QVERIFY(!QApplication::activeModalWidget());
    }

    // Without the collection, or without the manual beside it, a request for help shows
    // one error box naming the missing file, and nothing else happens.
    void missingHelpShowsOneBox_data()
    {
        QTest::addColumn<bool>("collectionThere");
        QTest::newRow("no collection") << false;
        QTest::newRow("no manual beside the collection") << true;
    }

    void missingHelpShowsOneBox()
    {
        QFETCH(bool, collectionThere);
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("Quillbrook.qhc"));
        if (collectionThere)
            QVERIFY(QFile::copy(collection, path));
        const QString missing =
            collectionThere ? folder.filePath(QStringLiteral("Quillbrook.qch")) : path;
        Program program;
        program.help->setCollectionPath(path);
        QVERIFY(activate(&program.window));

        const auto request = [&](const std::function<void()> &ask) {
            auto boxes = std::make_shared<QStringList>();
            whenModal([boxes](QWidget *modal) {
                auto *box = qobject_cast<QMessageBox *>(modal);
                *boxes << (box && box->icon() == QMessageBox::Critical &&
                                   box->standardButtons() == QMessageBox::Ok
                               ? box->text()
                               : QStringLiteral("not an error box"));
                modal->close();
            });
            ask();
            QTest::qWait(100);
            return *boxes;
        };
        for (const auto &ask : std::initializer_list<std::function<void()>>{
                 [&] { QTest::keyClick(&program.window, Qt::Key_F1); },
                 [&] { program.menu->indexAction->trigger(); },
                 [&] { QVERIFY(!program.help->showContext(HelpContexts::attachmentsPage)); }}) {
            const QStringList boxes = request(ask);
            QCOMPARE(boxes.size(), 1);
            QVERIFY2(boxes.first().startsWith(
                         QStringLiteral("Couldn't find the help file %1 - help is unavailable\n")
                             .arg(missing)),
                     qPrintable(boxes.first()));
            QVERIFY(!program.help->window());
            QVERIFY(!QApplication::activeModalWidget());
        }
    }

    // The index: typing finds a keyword, Enter opens its page at its place.
    void indexFindsAndOpens()
    {
        Program program;
        program.menu->indexAction->trigger();
        HelpWindow *shown = program.help->window();
        QVERIFY(shown && shown->isVisible());
        QCOMPARE(shown->navigation->currentWidget(), shown->index->parentWidget());
        QTRY_VERIFY(shown->engine()->indexModel()->rowCount() > 40);
        QTest::keyClicks(shown->indexFilter, QStringLiteral("sortin"));
        QTRY_COMPARE(shown->index->model()->rowCount(), 1);
        QTest::keyClick(shown->indexFilter, Qt::Key_Return);
        QCOMPARE(shown->currentPage().fileName(), QStringLiteral("attachments.html"));
        QCOMPARE(shown->currentPage().fragment(), QStringLiteral("sorting"));
    }

    // Links inside the manual move the page; a web address goes to the browser and the
    // page stays.
    void linksOfThePages()
    {
        Program program;
        UrlCatcher catcher;
        QVERIFY(program.help->showContext(HelpContexts::helpMenu));
        HelpWindow *shown = program.help->window();
        shown->page->setSource(shown->currentPage().resolved(QUrl(QStringLiteral("keys.html"))));
        QCOMPARE(program.shownPage(), QStringLiteral("keys.html"));
        QVERIFY(shown->page->toPlainText().contains(QStringLiteral("Menus and keys")));
        shown->page->setSource(QUrl(QStringLiteral("https://www.vellmor.com/")));
        QCOMPARE(catcher.opened, {QUrl(QStringLiteral("https://www.vellmor.com/"))});
        QCOMPARE(program.shownPage(), QStringLiteral("keys.html"));
        shown->page->backward();
        QCOMPARE(program.shownPage(), QStringLiteral("help-menu.html"));
        // A page's pictures come from the manual.
        shown->showPage(shown->currentPage().resolved(QUrl(QStringLiteral("status-window.html"))));
        const QVariant picture = shown->page->loadResource(
            QTextDocument::ImageResource,
            shown->currentPage().resolved(QUrl(QStringLiteral("images/status-finished.png"))));
        QVERIFY(!QImage::fromData(picture.toByteArray()).isNull());
    }

    void aboutTellsWhatThisIs()
    {
        QTemporaryDir folder;
        TStringLoader loader(folder.filePath(QStringLiteral("English.ini")));
        AboutWindow about(&loader);
        QVERIFY(about.isModal());
        QCOMPARE(about.windowTitle(), QStringLiteral("About Quillbrook"));
        QCOMPARE(about.productName->text(), QStringLiteral("Quillbrook"));
        QCOMPARE(about.versionText->text(), QStringLiteral("Version 2.2"));
        QCOMPARE(about.releaseText->text(),
                 QStringLiteral("Released %1")
                     .arg(QLocale().toString(QDate(2001, 11, 3), QStringLiteral("d MMMM yyyy"))));
        QVERIFY(about.makerText->text().contains(QStringLiteral("Vellmor Software")));
        QCOMPARE(about.librariesText->text(), QStringLiteral("Runs with Qt %1 and GMime %2.%3.%4.")
                                                  .arg(QLatin1String(qVersion()))
                                                  .arg(gmime_major_version)
                                                  .arg(gmime_minor_version)
                                                  .arg(gmime_micro_version));
        if (AboutWindow::licenceFile().isEmpty())
            QCOMPARE(about.licenceText->text(),
                     QStringLiteral("No licence file came with this copy of the program."));
        else
            QVERIFY(about.licenceText->text().startsWith(QStringLiteral("The licence is in ")));
        QVERIFY(about.manualLink->text().contains(QStringLiteral("Quillbrook Help")));
    }

    // The language file keeps About's patterns, not the values put into them: a
    // translation takes the version, and one whose placeholders do not fit gives way.
    void aboutTranslatedKeepsItsValues()
    {
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("English.ini"));
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("[TABox]\nversionText.Caption=Ausgabe %s\nreleaseText.Caption=Vom %d\n");
        }
        {
            TStringLoader loader(path);
            AboutWindow about(&loader);
            QCOMPARE(about.versionText->text(), QStringLiteral("Ausgabe 2.2"));
            QVERIFY(about.releaseText->text().startsWith(QStringLiteral("Released ")));
        }
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray written = file.readAll();
        QVERIFY(written.contains("librariesText.Caption=Runs with Qt %s and GMime %s."));
        QVERIFY(!written.contains(qVersion()));
    }

    // About is modal, from the Help menu; its link to the manual closes it and opens
    // the contents.
    void aboutFromTheMenu()
    {
        Program program;
        bool modal = false;
        whenModal([&modal](QWidget *window) {
            auto *about = qobject_cast<AboutWindow *>(window);
            modal = about != nullptr;
            if (about)
                Q_EMIT about->manualLink->linkActivated(QStringLiteral("help:contents"));
            else
                window->close();
        });
        program.menu->aboutAction->trigger();
        QVERIFY(modal);
        QCOMPARE(program.shownPage(), QStringLiteral("index.html"));
        QVERIFY(!program.window.findChild<AboutWindow *>());
    }
};

QTEST_MAIN(TestHelp)
#include "test_help.moc"
