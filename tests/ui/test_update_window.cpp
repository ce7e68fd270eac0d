// The update window and the check at start-up, on the offscreen platform, against a
// versions file served on 127.0.0.1: the Help menu's one window, each answer of the
// versions file, postponing, closing while fetching, and the automatic check when due.
#include "../update/LocalHttpServer.h"
#include "common/AutomationDate.h"
#include "lang/TStringLoader.h"
#include "mailstore/memory/MemoryStore.h"
#include "settings/TRegistry.h"
#include "ui/MainWindow.h"
#include "ui/UpdateCheck.h"
#include "ui/UpdateWindow.h"
#include "update/HttpFetch.h"
#include "update/UpdateDate.h"

#include <QAction>
#include <QApplication>
#include <QDateEdit>
#include <QDesktopServices>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <gmime/gmime.h>

namespace {

const QString programKey = QStringLiteral("SOFTWARE\\Vellmor Software\\Quillbrook");

// What a message box showed, and which buttons it offered.
struct Box
{
    QString text;
    QMessageBox::StandardButtons buttons;
    QWidget *parent = nullptr;
};

// Answers every message box that shows from now on with the given button, noting it.
class BoxAnswerer : public QObject
{
public:
    explicit BoxAnswerer(QMessageBox::StandardButton answer) : m_answer(answer)
    {
        connect(&m_poll, &QTimer::timeout, this, [this] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            boxes.append({box->text(), box->standardButtons(), box->parentWidget()});
            QAbstractButton *button = box->button(m_answer);
            (button ? button : box->buttons().constFirst())->click();
        });
        m_poll.start(10);
    }
    QList<Box> boxes;

private:
    QMessageBox::StandardButton m_answer;
    QTimer m_poll;
};

// Takes the addresses the program would open in the browser.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    UrlCatcher()
    {
        QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "open");
        QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "open");
    }
    ~UrlCatcher() override
    {
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    }
    QList<QUrl> opened;
public Q_SLOTS:
    void open(const QUrl &url) { opened.append(url); }
};

double today()
{
    return update::dayNumber(QDate::currentDate());
}

ServedReply versions(const QByteArray &body, int status = 200)
{
    ServedReply reply;
    reply.status = status;
    reply.body = body;
    return reply;
}

// A main window's stores: one empty Inbox.
struct Mailbox
{
    MemoryStore store;
    Mailbox()
    {
        auto top = store.addStore(QStringLiteral("Personal Folders"));
        store.setDefaultInbox(store.addFolder(top, QStringLiteral("Inbox")));
    }
};

} // namespace

class TestUpdateWindow : public QObject
{
    Q_OBJECT
    QTemporaryDir m_config;

    // The machine hive as a start finds it: the web site and, when not 0, the date.
    void machineHive(const QString &webSite, double updateDate)
    {
        QFile::remove(TRegistry::hivePath(TRegistry::Root::LocalMachine));
        TRegistry registry(TRegistry::Root::LocalMachine);
        QVERIFY(registry.OpenKey(programKey, true));
        registry.WriteString(QStringLiteral("Web site"), webSite);
        if (updateDate != 0)
            registry.WriteInteger(QStringLiteral("updateDate"), qint32(updateDate));
    }

    static std::optional<quint32> storedDate()
    {
        TRegistry registry(TRegistry::Root::LocalMachine);
        if (!registry.OpenKey(programKey, false))
            return std::nullopt;
        const auto value = registry.value(QStringLiteral("updateDate"));
        if (!value || value->type != RegistryValue::Type::Dword)
            return std::nullopt;
        return value->number;
    }

    void screenshot(QWidget *widget, const char *name)
    {
        const QString folder = qEnvironmentVariable("QB_SCREENSHOT_DIR");
        if (!folder.isEmpty())
            widget->grab().save(folder + QLatin1Char('/') + QLatin1String(name) +
                                QStringLiteral(".png"));
    }

    // Presses OK with "Check web for updates now" and waits for the reply to be handled.
    static void checkNow(UpdateWindow *window)
    {
        QSignalSpy finished(window->HTTPGet1, &update::HttpFetch::finished);
        window->okButton->click();
        QVERIFY(finished.wait(10000));
    }

private Q_SLOTS:
    void initTestCase()
    {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
        g_mime_init();
    }

    void theWindowAsItOpens()
    {
        machineHive(QStringLiteral("http://127.0.0.1:9"), 0);
        QWidget owner;
        UpdateCheck check(nullptr, &owner);
        check.showWindow();
        UpdateWindow *window = check.window();
        QVERIFY(window && window->isVisible());
        QCOMPARE(window->windowTitle(), QStringLiteral("Quillbrook update"));
        QCOMPARE(window->outOfDate->title(),
                 QStringLiteral(" This copy of Quillbrook may be out of date "));
        QCOMPARE(window->checkWeb->text(), QStringLiteral("Check web for updates now"));
        QVERIFY(window->checkWeb->isChecked());
        QCOMPARE(window->focusWidget(), window->checkWeb);
        QVERIFY(window->windowFlags() & Qt::WindowStaysOnTopHint);
        QCOMPARE(window->minimumSize(), window->maximumSize());
        QVERIFY(window->width() >= 241 && window->height() >= 202);
        QCOMPARE(window->okButton->text(), QStringLiteral("OK"));
        QCOMPARE(window->statusText->text(), QString());
        // No stored date: the picker offers thirty days from today, at 22:07:28.
        QCOMPARE(window->nextDate->date(), QDate::currentDate().addDays(30));
        QCOMPARE(window->nextDateValue(),
                 today() + 30 +
                     qb::toAutomationDate(QDateTime(QDate(1899, 12, 30), QTime(22, 7, 28))));
        QVERIFY(!window->nextDate->isEnabled());
        window->dontAsk->click();
        QVERIFY(window->nextDate->isEnabled());
        window->checkWeb->click();
        QVERIFY(!window->nextDate->isEnabled());
        screenshot(window, "update-window");
        // Opening the window fetches nothing by itself.
        QVERIFY(!window->HTTPGet1->fetching());
    }

    void thePickerStartsOnTheUpdateDate()
    {
        machineHive(QStringLiteral("http://127.0.0.1:9"), today() + 7);
        QWidget owner;
        UpdateCheck check(nullptr, &owner);
        check.showWindow();
        QCOMPARE(check.window()->nextDate->date(), QDate::currentDate().addDays(7));
    }

    void theHelpMenuOpensTheOneWindow()
    {
        machineHive(QStringLiteral("http://127.0.0.1:9"), today() + 1);
        Mailbox box;
        MainWindow main(box.store.factory());
        main.show();
        QTest::qWait(50);
        QMenu *help = main.menuBar()->actions().constLast()->menu();
        QVERIFY(help);
        QCOMPARE(help->title(), QStringLiteral("&Help"));
        QVERIFY(help->actions().contains(main.checkUpdatesAction));
        QCOMPARE(main.checkUpdatesAction->text(),
                 QStringLiteral("Check web for Quillbrook updates"));
        QVERIFY(!main.updateCheck()->window());

        main.checkUpdatesAction->trigger();
        QPointer<UpdateWindow> first = main.updateCheck()->window();
        QVERIFY(first && first->isVisible());
        first->hide();
        main.checkUpdatesAction->trigger();
        QCOMPARE(main.updateCheck()->window(), first.data());
        QVERIFY(first->isVisible());
        QCOMPARE(main.findChildren<UpdateWindow *>().size(), 1);

        // Closed, it is gone; the next choice makes a new one.
        first->close();
        QTRY_VERIFY(!first);
        QVERIFY(!main.updateCheck()->window());
        main.checkUpdatesAction->trigger();
        QVERIFY(main.updateCheck()->window() && main.updateCheck()->window()->isVisible());
    }

    void eachAnswerOfTheVersionsFile_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("httpStatus");
        QTest::addColumn<QString>("text");
        QTest::newRow("current") << QByteArray("Tamberline,1\r\nQuillbrook,37198.8708143519\r\n")
                                 << 200
                                 << "You already have the latest version of Quillbrook - no "
                                    "download is necessary";
        QTest::newRow("invalid stamp") << QByteArray("Quillbrook,37300.5 ,notes\n") << 200
                                       << "Quillbrook date information found in invalid format "
                                          "37300.5 ,notes";
        QTest::newRow("no product line") << QByteArray("QUILLBROOK,40000\rOther,1\r") << 200
                                         << "Quillbrook update information not found";
        QTest::newRow("error page")
            << QByteArray("<html>gone</html>") << 404 << "Quillbrook update information not found";
    }
    void eachAnswerOfTheVersionsFile()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, httpStatus);
        QFETCH(QString, text);
        LocalHttpServer server;
        server.serve(QStringLiteral("/versions.txt"), versions(file, httpStatus));
        machineHive(server.url(), 0);
        QWidget owner;
        UpdateCheck check(nullptr, &owner);
        check.showWindow();
        QPointer<UpdateWindow> window = check.window();
        BoxAnswerer answerer(QMessageBox::Ok);
        checkNow(window);
        QCOMPARE(window->statusText->text(), QStringLiteral("Checking for update...please wait"));
        QCOMPARE(window->okButton->text(), QStringLiteral("&Close"));
        QTRY_COMPARE(answerer.boxes.size(), 1);
        QCOMPARE(answerer.boxes[0].text, text);
        QCOMPARE(answerer.boxes[0].buttons, QMessageBox::Ok);
        QCOMPARE(answerer.boxes[0].parent, window.data());
        QCOMPARE(server.requests().value(0).target, "/versions.txt?application=Quillbrook&ver=2.2");
        QCOMPARE(server.requests().value(0).headers.value("user-agent"), "Quillbrook");
        // Every reply moves the next automatic check three days on.
        QCOMPARE(check.updateDate(), today() + 3);
        // The window stays until the user closes it with the button that was OK.
        QVERIFY(window->isVisible());
        window->okButton->click();
        QTRY_VERIFY(!window);
        QCOMPARE(server.requests().size(), 1);
    }

    void aNewerReleaseOffersTheHomePage_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("opened");
        QTest::newRow("yes") << int(QMessageBox::Yes) << true;
        QTest::newRow("no") << int(QMessageBox::No) << false;
        QTest::newRow("cancel") << int(QMessageBox::Cancel) << false;
    }
    void aNewerReleaseOffersTheHomePage()
    {
        QFETCH(int, answer);
        QFETCH(bool, opened);
        LocalHttpServer server;
        server.serve(QStringLiteral("/versions.txt"), versions("Quillbrook,37198.871\n"));
        machineHive(server.url(QStringLiteral("/")), 0);
        UrlCatcher browser;
        QWidget owner;
        UpdateCheck check(nullptr, &owner);
        check.showWindow();
        BoxAnswerer answerer{QMessageBox::StandardButton(answer)};
        checkNow(check.window());
        QTRY_COMPARE(answerer.boxes.size(), 1);
        QCOMPARE(answerer.boxes[0].text,
                 QStringLiteral("A Quillbrook update is available - would you like to download it "
                                "now?"));
        QCOMPARE(answerer.boxes[0].buttons,
                 QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        QCOMPARE(browser.opened,
                 opened ? QList<QUrl>{QUrl(server.url(QStringLiteral("/")))} : QList<QUrl>{});
        QCOMPARE(check.updateDate(), today() + 3);
    }

    void aConnectionErrorShowsInTheStatusBar()
    {
        quint16 closedPort = 0;
        {
            LocalHttpServer gone;
            closedPort = gone.port();
        }
        machineHive(QStringLiteral("http://127.0.0.1:%1").arg(closedPort), today() - 2);
        QWidget owner;
        UpdateCheck check(nullptr, &owner);
        check.showWindow();
        QPointer<UpdateWindow> window = check.window();
        BoxAnswerer answerer(QMessageBox::Ok);
        checkNow(window);
        QCOMPARE(window->statusText->text(), QStringLiteral("Error connecting to web site"));
        QVERIFY(window->statusText->toolTip().contains(QStringLiteral("Cannot fetch")));
        QVERIFY(window->isVisible());
        QTest::qWait(50);
        QVERIFY(answerer.boxes.isEmpty());
        // No reply: the date stays, so the next start checks again.
        QCOMPARE(check.updateDate(), today() - 2);
    }

    void postponingSavesTheDayAfterTheChosenOne()
    {
        LocalHttpServer server;
        machineHive(server.url(), 0);
        QWidget owner;
        UpdateCheck check(nullptr, &owner);
        check.showWindow();
        QPointer<UpdateWindow> window = check.window();
        window->dontAsk->click();
        const QDate chosen = QDate::currentDate().addDays(5);
        window->nextDate->setDate(chosen);
        window->okButton->click();
        QTRY_VERIFY(!window);
        QCOMPARE(storedDate(), quint32(update::dayNumber(chosen.addDays(1))));
        QVERIFY(check.updateDate() > update::dayNumber(chosen));
        QVERIFY(!update::checkDue(update::UpdateSettings::read().updateDate, chosen));
        QVERIFY(update::checkDue(update::UpdateSettings::read().updateDate, chosen.addDays(1)));
        QVERIFY(server.requests().isEmpty());
    }

    void closingWhileFetchingStopsTheFetch()
    {
        LocalHttpServer server;
        ServedReply silent;
        silent.behaviour = ServedReply::Behaviour::Silent;
        server.serve(QStringLiteral("/versions.txt"), silent);
        machineHive(server.url(), 0);
        QWidget owner;
        UpdateCheck check(nullptr, &owner);
        check.showWindow();
        QPointer<UpdateWindow> window = check.window();
        BoxAnswerer answerer(QMessageBox::Ok);
        window->okButton->click();
        QTRY_COMPARE(server.requests().size(), 1);
        window->close();
        QTRY_VERIFY(!window);
        QTRY_COMPARE_WITH_TIMEOUT(server.closedConnections(), 1, 5000);
        QTest::qWait(100);
        QVERIFY(answerer.boxes.isEmpty());
        QCOMPARE(check.updateDate(), 0.0);
    }

    void escapeClosesTheWindow()
    {
        machineHive(QStringLiteral("http://127.0.0.1:9"), 0);
        QWidget owner;
        UpdateCheck check(nullptr, &owner);
        check.showWindow();
        QPointer<UpdateWindow> window = check.window();
        QTest::keyClick(window, Qt::Key_Escape);
        QTRY_VERIFY(!window);
    }

    void textsComeFromTheLanguageFile()
    {
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("Languages/English.ini"));
        QDir().mkpath(folder.filePath(QStringLiteral("Languages")));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[global]\n340=%s ist aktuell\n[TupdateForm]\nupdateForm.Caption=%s "
                   "aktualisieren\nokButton.Caption=Los\n");
        file.close();
        LocalHttpServer server;
        server.serve(QStringLiteral("/versions.txt"), versions("Quillbrook,1\n"));
        machineHive(server.url(), 0);
        TStringLoader loader(path);
        QWidget owner;
        UpdateCheck check(&loader, &owner);
        check.showWindow();
        UpdateWindow *window = check.window();
        QCOMPARE(window->windowTitle(), QStringLiteral("Quillbrook aktualisieren"));
        QCOMPARE(window->okButton->text(), QStringLiteral("Los"));
        BoxAnswerer answerer(QMessageBox::Ok);
        checkNow(window);
        QTRY_COMPARE(answerer.boxes.size(), 1);
        QCOMPARE(answerer.boxes[0].text, QStringLiteral("Quillbrook ist aktuell"));
        // The texts the file lacked were added to it, for translators.
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray written = file.readAll();
        QVERIFY(written.contains("300=Checking for update...please wait"));
        QVERIFY(written.contains("checkWeb.Caption=Check web for updates now"));
        QVERIFY(written.contains("nextDate.Hint=Remind me after this date"));
    }

    // Start-up with the check due: a hidden window asks, and only a newer release is told.
    void theCheckAtStartUpWhenDue_data()
    {
        QTest::addColumn<double>("stored");
        QTest::newRow("first start") << 0.0;
        QTest::newRow("due today") << today();
        QTest::newRow("overdue") << today() - 40;
    }
    void theCheckAtStartUpWhenDue()
    {
        QFETCH(double, stored);
        LocalHttpServer server;
        server.serve(QStringLiteral("/versions.txt"), versions("Quillbrook,37198.8708143519\n"));
        machineHive(server.url(), stored);
        BoxAnswerer answerer(QMessageBox::Ok);
        {
            Mailbox box;
            MainWindow main(box.store.factory());
            main.show();
            QTRY_COMPARE_WITH_TIMEOUT(server.requests().size(), 1, 10000);
            QTRY_COMPARE(main.updateCheck()->updateDate(), today() + 3);
            // The window stays hidden; the latest release is not worth a word.
            QPointer<UpdateWindow> hidden = main.updateCheck()->window();
            QVERIFY(hidden && !hidden->isVisible());
            QTest::qWait(50);
            QVERIFY(answerer.boxes.isEmpty());
            // The Help menu shows that same window.
            main.checkUpdatesAction->trigger();
            QCOMPARE(main.updateCheck()->window(), hidden.data());
            QVERIFY(hidden->isVisible());
        }
        // Written again as the main window goes.
        QCOMPARE(storedDate(), quint32(today() + 3));
    }

    void theCheckAtStartUpReportsANewerRelease()
    {
        LocalHttpServer server;
        server.serve(QStringLiteral("/versions.txt"), versions("Quillbrook,40000\n"));
        machineHive(server.url(), 0);
        UrlCatcher browser;
        BoxAnswerer answerer(QMessageBox::Yes);
        Mailbox box;
        MainWindow main(box.store.factory());
        main.show();
        QTRY_COMPARE_WITH_TIMEOUT(answerer.boxes.size(), 1, 10000);
        QCOMPARE(answerer.boxes[0].text,
                 QStringLiteral("A Quillbrook update is available - would you like to download it "
                                "now?"));
        QCOMPARE(answerer.boxes[0].parent, &main);
        QCOMPARE(browser.opened, QList<QUrl>{QUrl(server.url(QStringLiteral("/")))});
    }

    void theCheckAtStartUpIsSilentAboutFailures_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::newRow("no product line") << QByteArray("Other,1\n");
        QTest::newRow("invalid stamp") << QByteArray("Quillbrook,soon\n");
    }
    void theCheckAtStartUpIsSilentAboutFailures()
    {
        QFETCH(QByteArray, file);
        LocalHttpServer server;
        server.serve(QStringLiteral("/versions.txt"), versions(file));
        machineHive(server.url(), 0);
        BoxAnswerer answerer(QMessageBox::Ok);
        Mailbox box;
        MainWindow main(box.store.factory());
        main.show();
        QTRY_COMPARE_WITH_TIMEOUT(main.updateCheck()->updateDate(), today() + 3, 10000);
        QTest::qWait(50);
        QVERIFY(answerer.boxes.isEmpty());
    }

    void theCheckAtStartUpClosesItsWindowOnAnError()
    {
        LocalHttpServer server;
        ServedReply dropped = versions(QByteArray(4000, 'x'));
        dropped.behaviour = ServedReply::Behaviour::DropMidBody;
        server.serve(QStringLiteral("/versions.txt"), dropped);
        machineHive(server.url(), 0);
        BoxAnswerer answerer(QMessageBox::Ok);
        Mailbox box;
        MainWindow main(box.store.factory());
        main.show();
        QTRY_COMPARE_WITH_TIMEOUT(server.requests().size(), 1, 10000);
        QTRY_VERIFY(!main.updateCheck()->window());
        QVERIFY(answerer.boxes.isEmpty());
        QCOMPARE(main.updateCheck()->updateDate(), 0.0);
    }

    void noCheckAtStartUpBeforeTheDate()
    {
        LocalHttpServer server;
        server.serve(QStringLiteral("/versions.txt"), versions("Quillbrook,40000\n"));
        machineHive(server.url(), today() + 1);
        {
            Mailbox box;
            MainWindow main(box.store.factory());
            main.show();
            QTest::qWait(300);
            QVERIFY(!main.updateCheck()->window());
        }
        QVERIFY(server.requests().isEmpty());
        QCOMPARE(storedDate(), quint32(today() + 1));
        // Start-up wrote the program's folder beside the date.
        TRegistry registry(TRegistry::Root::LocalMachine);
        QVERIFY(registry.OpenKey(programKey, false));
        QCOMPARE(registry.value(QStringLiteral("rootDir"))->text,
                 QCoreApplication::applicationDirPath() + QLatin1Char('/'));
    }
};

QTEST_MAIN(TestUpdateWindow)
#include "test_update_window.moc"
