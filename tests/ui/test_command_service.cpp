// The running copy's command interface: the command text as it is read, and the service
// on a private session bus, called by gdbus as another program would call it.
#include "mailstore/maildir/MaildirStore.h"
#include "mailstore/memory/MemoryStore.h"
#include "remote/CommandInterface.h"
#include "remote/FileOpenCommand.h"
#include "settings/TSettings.h"
#include "support/BoxWatcher.h"
#include "support/BusClient.h"
#include "support/SettingsFile.h"
#include "support/SmallMaildir.h"
#include "ui/CommandService.h"
#include "ui/DestinationFolderWindow.h"
#include "ui/MainWindow.h"
#include "ui/StatusWindow.h"
#include "ui/TMRUManager.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <optional>

#include <gmime/gmime.h>
#include <sys/stat.h>

namespace {

const QString suffix = QStringLiteral(" - Quillbrook by Vellmor Software");

struct Mailbox
{
    MemoryStore store;
    std::shared_ptr<MemoryStore::FolderData> top =
        store.addStore(QStringLiteral("Personal Folders"));
    std::shared_ptr<MemoryStore::FolderData> inbox = store.addFolder(top, QStringLiteral("Inbox"));
    Mailbox() { store.setDefaultInbox(inbox); }
};

QStringList recentTexts(const MainWindow &window)
{
    QStringList texts;
    for (const auto &entry : window.recentFiles->list().entries())
        texts << entry.text;
    return texts;
}

} // namespace

class TestCommandService : public QObject
{
    Q_OBJECT
    QTemporaryDir m_config;
    QTemporaryDir m_files;
    CommandService m_service;
    QString m_weekly;  // a settings file that logs to weekly.log
    QString m_other;   // one that logs to other.log
    QString m_longest; // one whose path is 255 characters long

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
        if (!onPrivateBus())
            QFAIL("Run by ctest, inside dbus-run-session: this suite never uses the "
                  "machine's session bus");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
        QApplication::setApplicationName(QStringLiteral("Quillbrook"));
        g_mime_init();
        m_weekly = m_files.filePath(QStringLiteral("weekly.qbk"));
        m_other = m_files.filePath(QStringLiteral("other.qbk"));
        QVERIFY(writeSettingsFile(m_weekly, QStringLiteral("/logs/weekly.log")));
        QVERIFY(writeSettingsFile(m_other, QStringLiteral("/logs/other.log")));
        const QString folder = m_files.filePath(QStringLiteral("long"));
        QVERIFY(QDir().mkpath(folder));
        m_longest = folder + QLatin1Char('/');
        m_longest += QString(255 - m_longest.size() - 4, u'l') + QStringLiteral(".qbk");
        QCOMPARE(m_longest.size(), 255);
        QVERIFY(writeSettingsFile(m_longest, QStringLiteral("/logs/longest.log")));

        QDBusConnection bus = QDBusConnection::sessionBus();
        QVERIFY(m_service.registerOn(bus));
        QVERIFY(bus.registerService(QString(remote::busName)));
    }

    // The command as the running copy reads it, from the joined lines to the path.
    void commandText_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("joined");
        QTest::addColumn<std::optional<QString>>("path");
        const std::optional<QString> invalid;
        auto path = [](const char *text) {
            return std::optional<QString>(QString::fromUtf8(text));
        };
        QTest::newRow("as sent") << "[FileOpen(\"/jobs/weekly.qbk\")]"
                                 << "[FileOpen(\"/jobs/weekly.qbk\")]\r\n"
                                 << path("/jobs/weekly.qbk");
        QTest::newRow("lower case") << "[fileopen(\"/a.qbk\")]"
                                    << "[fileopen(\"/a.qbk\")]\r\n"
                                    << invalid;
        QTest::newRow("no quotes") << "[FileOpen(/a.qbk)]"
                                   << "[FileOpen(/a.qbk)]\r\n"
                                   << invalid;
        QTest::newRow("a blank before the quote") << "[FileOpen( \"/a.qbk\")]"
                                                  << "[FileOpen( \"/a.qbk\")]\r\n"
                                                  << invalid;
        QTest::newRow("empty command") << ""
                                       << "" << invalid;
        QTest::newRow("opening only") << "[FileOpen(\""
                                      << "[FileOpen(\"\r\n"
                                      << path("\r\n");
        QTest::newRow("two commands") << "[FileOpen(\"/a.qbk\")][FileOpen(\"/b.qbk\")]"
                                      << "[FileOpen(\"/a.qbk\")][FileOpen(\"/b.qbk\")]\r\n"
                                      << path("/a.qbk");
        QTest::newRow("empty path") << "[FileOpen(\"\")]"
                                    << "[FileOpen(\"\")]\r\n"
                                    << path("");
        QTest::newRow("no closing quote") << "[FileOpen(\"/a.qbk)]"
                                          << "[FileOpen(\"/a.qbk)]\r\n"
                                          << path("/a.qbk)]\r\n");
        // Each line end, whatever it was, becomes CR LF, and a last one adds no line.
        QTest::newRow("quote on line two") << "[FileOpen(\"/a.qbk\n\")]\n"
                                           << "[FileOpen(\"/a.qbk\r\n\")]\r\n"
                                           << path("/a.qbk\r\n");
        QTest::newRow("path on line one") << "[FileOpen(\"/a.qbk\")]\r\nrest\rmore\n\nend"
                                          << "[FileOpen(\"/a.qbk\")]\r\nrest\r\nmore\r\n\r\nend\r\n"
                                          << path("/a.qbk");
        QTest::newRow("line end only") << "\n"
                                       << "\r\n"
                                       << invalid;

        // 255 characters are read after the quote, whether or not the quote follows.
        const QString longest = QLatin1Char('/') + QString(254, u'a');
        QTest::newRow("255 characters") << "[FileOpen(\"" + longest + "\")]"
                                        << "[FileOpen(\"" + longest + "\")]\r\n"
                                        << std::optional<QString>(longest);
        QTest::newRow("256 characters") << "[FileOpen(\"" + longest + "b\")]"
                                        << "[FileOpen(\"" + longest + "b\")]\r\n"
                                        << std::optional<QString>(longest);
        QTest::newRow("254 and the quote") << "[FileOpen(\"" + longest.left(254) + "\")]"
                                           << "[FileOpen(\"" + longest.left(254) + "\")]\r\n"
                                           << std::optional<QString>(longest.left(254));
        QTest::newRow("254 and a line end")
            << "[FileOpen(\"" + longest.left(254) << "[FileOpen(\"" + longest.left(254) + "\r\n"
            << std::optional<QString>(longest.left(254) + "\r");
        // A character outside the basic plane counts once and is never split.
        const QString face = QString::fromUtf8("\xF0\x9F\x98\x80");
        const QString wide = QLatin1Char('/') + QString(253, u'a') + face;
        QTest::newRow("255th character is wide") << "[FileOpen(\"" + wide + face + "\")]"
                                                 << "[FileOpen(\"" + wide + face + "\")]\r\n"
                                                 << std::optional<QString>(wide);
    }
    void commandText()
    {
        QFETCH(QString, command);
        QFETCH(QString, joined);
        QFETCH(std::optional<QString>, path);
        QCOMPARE(remote::joinedLines(command), joined);
        const std::optional<QString> read = remote::fileOpenPath(joined);
        QCOMPARE(read.has_value(), path.has_value());
        QCOMPARE(read.value_or(QString()), path.value_or(QString()));
    }

    // What a client sends is read back as the same path, and a path that would be read
    // as another one is refused before it is sent.
    void sentCommands()
    {
        for (const QString &path :
             {QStringLiteral("/jobs/weekly.qbk"), QStringLiteral("/a b/c(1)].qbk"),
              QLatin1Char('/') + QString(254, u'x')}) {
            QCOMPARE(remote::unsendableReason(path), QString());
            QCOMPARE(remote::fileOpenPath(remote::joinedLines(remote::fileOpenCommand(path))),
                     path);
        }
        QVERIFY(remote::unsendableReason(QStringLiteral("/a\"b.qbk")).contains(u"double quote"));
        QVERIFY(remote::unsendableReason(QStringLiteral("/a\nb.qbk")).contains(u"line break"));
        QVERIFY(remote::unsendableReason(QStringLiteral("/a\rb.qbk")).contains(u"line break"));
        QVERIFY(remote::unsendableReason(QLatin1Char('/') + QString(255, u'x')).contains(u"255"));
        QVERIFY(!remote::unsendableReason(QString()).isEmpty());
    }

    // gdbus as the client: the answer comes at once, a box after it, and the window
    // opens the file without asking about its unsaved changes.
    void commandsOnTheBus_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("opened");  // the file the window then shows, or none
        QTest::addColumn<QString>("error");   // the error reply's name, or none
        QTest::addColumn<QString>("boxText"); // the box shown after the answer, or none
        QTest::addColumn<bool>("critical");   // an error box, else a plain one

        const QString weekly = m_weekly;
        const QString invalid = QString(remote::invalidCommandError);
        const QString failed = QString(remote::openFailedError);
        QTest::newRow("valid") << "[FileOpen(\"" + weekly + "\")]" << weekly << QString()
                               << QString() << false;
        QTest::newRow("lower-case fileopen")
            << "[fileopen(\"" + weekly + "\")]" << QString() << invalid
            << "Invalid DDE message [fileopen(\"" + weekly + "\")]\r\n"
            << false;
        QTest::newRow("missing quotes") << "[FileOpen(" + weekly + ")]" << QString() << invalid
                                        << "Invalid DDE message [FileOpen(" + weekly + ")]\r\n"
                                        << false;
        // Shown as it is, never read as HTML (whose <img> would load the file it names).
        QTest::newRow("markup") << "<img src=\"/nonexistent/q3.png\">" << QString() << invalid
                                << "Invalid DDE message <img src=\"/nonexistent/q3.png\">\r\n"
                                << false;
        QTest::newRow("two commands")
            << "[FileOpen(\"" + weekly + "\")][FileOpen(\"" + m_other + "\")]" << weekly
            << QString() << QString() << false;
        QTest::newRow("two lines, path and quote on line one")
            << "[FileOpen(\"" + weekly + "\")]\n[FileOpen(\"" + m_other + "\")]" << weekly
            << QString() << QString() << false;
        QTest::newRow("path over 255 characters") << "[FileOpen(\"" + m_longest + "x.qbk\")]"
                                                  << m_longest << QString() << QString() << false;
        QTest::newRow("path over 255 characters, no quote")
            << "[FileOpen(\"" + m_longest + "x.qbk" << m_longest << QString() << QString() << false;
        QTest::newRow("closing quote on line two")
            << "[FileOpen(\"" + weekly + "\n\")]" << QString() << failed
            << "Cannot open file " + weekly + "\r\n"
            << true;
        QTest::newRow("empty path")
            << "[FileOpen(\"\")]" << QString() << failed << "Cannot open file " << true;
        QTest::newRow("nonexistent file")
            << "[FileOpen(\"/nonexistent/x.qbk\")]" << QString() << failed
            << "Cannot open file /nonexistent/x.qbk" << true;
        QTest::newRow("folder") << "[FileOpen(\"" + m_files.path() + "\")]" << QString() << failed
                                << "Cannot open file " + m_files.path() << true;
        const QString pipe = m_files.filePath(QStringLiteral("pipe.qbk"));
        QTest::newRow("named pipe") << "[FileOpen(\"" + pipe + "\")]" << QString() << failed
                                    << "Cannot open file " + pipe << true;
    }
    void commandsOnTheBus()
    {
        QFETCH(QString, command);
        QFETCH(QString, opened);
        QFETCH(QString, error);
        QFETCH(QString, boxText);
        QFETCH(bool, critical);
        // Nothing writes to it: opening it for reading would wait for a writer for ever.
        const QString pipe = m_files.filePath(QStringLiteral("pipe.qbk"));
        if (!QFileInfo::exists(pipe))
            QCOMPARE(mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);

        Mailbox box;
        MainWindow window(box.store.factory());
        window.show();
        m_service.setWindow(&window);
        window.logToFileChoice->click(); // unsaved changes: a command still asks nothing
        const QString titleBefore = window.windowTitle();
        const QStringList recentBefore = recentTexts(window);

        QProcess client;
        BoxWatcher boxes(&client);
        boxes.onBox = [this](QMessageBox *shown) {
            if (shown->text().startsWith(QStringLiteral("Invalid DDE message [fileopen")))
                screenshot(shown, "invalid-dde-message");
        };
        startClient(client, QStringLiteral("gdbus"),
                    executeCall(QStringLiteral("QuillbrookDDE"), command));
        const ClientRun run = clientEnd(client);
        QVERIFY(run.ended);
        // A box, when there is one, shows right after the answer.
        if (!boxText.isEmpty())
            QTRY_COMPARE(boxes.seen.size(), 1);
        else
            QTest::qWait(100);

        if (error.isEmpty()) {
            QVERIFY2(run.exitCode == 0, qPrintable(run.err));
            QCOMPARE(run.out.trimmed(), QStringLiteral("()"));
        } else {
            QCOMPARE(run.exitCode, 1);
            QVERIFY2(run.err.contains(error), qPrintable(run.err));
        }
        QCOMPARE(boxes.seen.size(), boxText.isEmpty() ? 0 : 1);
        if (!boxText.isEmpty()) {
            const BoxWatcher::Seen &seen = boxes.seen.first();
            QCOMPARE(seen.text, boxText);
            QCOMPARE(seen.title, QStringLiteral("Quillbrook"));
            QCOMPARE(seen.icon, critical ? QMessageBox::Critical : QMessageBox::NoIcon);
            QCOMPARE(seen.format, Qt::PlainText);
            QVERIFY(seen.answeredWhileShown);
            // The caller is told what the user is told.
            QVERIFY2(run.err.contains(boxText.trimmed()), qPrintable(run.err));
        }

        if (opened.isEmpty()) {
            QCOMPARE(window.windowTitle(), titleBefore);
            QVERIFY(window.isModified());
            QCOMPARE(recentTexts(window), recentBefore);
            QCOMPARE(window.settings().fileName, QString());
        } else {
            QCOMPARE(window.settings().fileName, opened);
            QCOMPARE(window.windowTitle(), QFileInfo(opened).fileName() + suffix);
            QVERIFY(!window.isModified());
            QCOMPARE(recentTexts(window).value(0), opened);
            TSettings expected;
            expected.loadFromFile(opened);
            QCOMPARE(window.logFilename->text(), expected.logFilename);
        }
    }

    // A flood of invalid commands shows one box at a time, which counts the rest, and the
    // program goes on answering; a command too long to be one gets its error and no box.
    void floodOfInvalidCommands()
    {
        Mailbox box;
        MainWindow window(box.store.factory());
        window.show();
        m_service.setWindow(&window);
        // A connection of its own, as another program's: the calls go through the bus.
        const QString name = QStringLiteral("flood");
        QDBusConnection caller = QDBusConnection::connectToBus(QDBusConnection::SessionBus, name);
        const auto disconnect = qScopeGuard([&name] { QDBusConnection::disconnectFromBus(name); });
        const auto execute = [&caller](const QString &command) {
            QDBusMessage call = QDBusMessage::createMethodCall(
                QString(remote::busName), QString(remote::objectPath),
                QString(remote::interfaceName), QString(remote::executeMethod));
            call << QString(remote::topic) << command;
            return QDBusPendingCall(caller.asyncCall(call, 60000));
        };
        const auto answered = [](const QList<QDBusPendingCall> &calls) {
            return QTest::qWaitFor(
                [&calls] {
                    return std::all_of(
                        calls.begin(), calls.end(),
                        [](const QDBusPendingCall &call) { return call.isFinished(); });
                },
                60000);
        };
        const auto shownBoxes = [] {
            QList<QMessageBox *> shown;
            for (QWidget *widget : QApplication::topLevelWidgets()) {
                auto *box = qobject_cast<QMessageBox *>(widget);
                if (box && box->isVisible())
                    shown << box;
            }
            return shown;
        };
        qsizetype most = 0;     // boxes shown at once
        bool anyShown = false;  // since last reset
        bool closeEach = false; // as soon as seen
        QTimer watch;
        watch.setInterval(1);
        connect(&watch, &QTimer::timeout, this, [&] {
            const QList<QMessageBox *> shown = shownBoxes();
            most = qMax(most, shown.size());
            anyShown = anyShown || !shown.isEmpty();
            // Boxes stacked in one another's loops would never end: they are closed, so
            // that the checks below fail instead of waiting.
            if (shown.size() > 1 || closeEach) {
                for (QMessageBox *stacked : shown)
                    stacked->done(QMessageBox::Ok);
            }
        });
        watch.start();

        const int sent = 2000;
        QList<QDBusPendingCall> calls;
        for (int i = 0; i < sent; ++i)
            calls << execute(QStringLiteral("[Open(%1)]").arg(i));
        QVERIFY(answered(calls));
        for (const QDBusPendingCall &call : std::as_const(calls))
            QCOMPARE(call.error().name(), QString(remote::invalidCommandError));
        QTRY_COMPARE(shownBoxes().size(), 1);
        QCOMPARE(most, 1);
        QMessageBox *shown = shownBoxes().constFirst();
        QVERIFY2(shown->text().contains(QStringLiteral("[Open(")), qPrintable(shown->text()));
        QTRY_VERIFY(shown->informativeText().contains(QString::number(sent - 1)));

        // The program answers meanwhile.
        const ClientRun run =
            runClient(QStringLiteral("gdbus"), executeCall(QStringLiteral("QuillbrookDDE"),
                                                           "[FileOpen(\"" + m_weekly + "\")]"));
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(window.settings().fileName, m_weekly);
        closeEach = true;
        QTRY_VERIFY(shownBoxes().isEmpty());

        anyShown = false;
        const QList<QDBusPendingCall> tooLong{execute(QStringLiteral("x ").repeated(3000))};
        QVERIFY(answered(tooLong));
        QCOMPARE(tooLong.first().error().name(), QString(remote::invalidCommandError));
        QTest::qWait(100);
        QVERIFY(!anyShown);
    }

    // Any other topic is refused and changes nothing; the topic's letter case is free.
    void topics()
    {
        Mailbox box;
        MainWindow window(box.store.factory());
        m_service.setWindow(&window);
        const QString command = "[FileOpen(\"" + m_weekly + "\")]";
        QProcess client;
        BoxWatcher boxes(&client);
        for (const QString &topic :
             {QStringLiteral("System"), QStringLiteral("QuillbrookDDEX"), QString()}) {
            startClient(client, QStringLiteral("gdbus"), executeCall(topic, command));
            const ClientRun run = clientEnd(client);
            QCOMPARE(run.exitCode, 1);
            QVERIFY2(run.err.contains(QString(remote::unknownTopicError)), qPrintable(run.err));
        }
        QTest::qWait(100);
        QVERIFY(boxes.seen.isEmpty());
        QCOMPARE(window.settings().fileName, QString());
        QVERIFY(recentTexts(window).isEmpty());

        startClient(client, QStringLiteral("gdbus"),
                    executeCall(QStringLiteral("quillbrookdde"), command));
        QCOMPARE(clientEnd(client).exitCode, 0);
        QCOMPARE(window.settings().fileName, m_weekly);
    }

    // Without a window (the program starting or closing) a command is refused.
    void noWindow()
    {
        m_service.setWindow(nullptr);
        const ClientRun run =
            runClient(QStringLiteral("gdbus"), executeCall(QStringLiteral("QuillbrookDDE"),
                                                           "[FileOpen(\"" + m_weekly + "\")]"));
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains(QString(remote::notReadyError)), qPrintable(run.err));
    }

    // A command that comes while a job runs changes the window's settings; the job goes
    // on with the copy it was given: its save folder and its log file.
    void commandWhileAJobRuns()
    {
        QTemporaryDir dir;
        const QString root = dir.filePath(QStringLiteral("Mail"));
        QVERIFY(makeMaildir(root, 4));
        const QString firstFolder = dir.filePath(QStringLiteral("first"));
        const QString firstLog = dir.filePath(QStringLiteral("first.log"));
        const QString laterFolder = dir.filePath(QStringLiteral("later"));
        const QString laterLog = dir.filePath(QStringLiteral("later.log"));
        const QString later = dir.filePath(QStringLiteral("later.qbk"));
        QVERIFY(writeSettingsFile(later, laterLog, laterFolder));

        MainWindow window(maildir::storeFactory({root}));
        window.show();
        m_service.setWindow(&window);
        window.analyseButtonClick();
        QTRY_VERIFY_WITH_TIMEOUT(!window.workerRunning(), 10000);
        QCOMPARE(window.attachGrid->model()->rowCount(), 4);
        // The job meets an email that has gone, and waits on its warning meanwhile.
        const QString second = window.attachGrid->model()->index(1, 0).data().toString();
        QVERIFY(QFile::remove(root + QStringLiteral("/cur/") + second.section(u' ', 1) +
                              QStringLiteral(".host:2,S")));
        window.selectAll();
        window.logToFileChoice->click();
        window.logFilename->setText(firstLog);

        QProcess client;
        std::optional<ClientRun> run;
        bool workerRanMeanwhile = false;
        QString logShownMeanwhile;
        // Answers the destination folder window, then holds the job's warning open while
        // the command comes.
        QTimer poll;
        poll.setInterval(10);
        connect(&poll, &QTimer::timeout, &window, [&] {
            QWidget *modal = QApplication::activeModalWidget();
            if (auto *chooser = qobject_cast<DestinationFolderWindow *>(modal)) {
                chooser->folderField->setText(firstFolder);
                chooser->accept();
            } else if (auto *warning = qobject_cast<QMessageBox *>(modal)) {
                poll.stop();
                startClient(
                    client, QStringLiteral("gdbus"),
                    executeCall(QStringLiteral("QuillbrookDDE"), "[FileOpen(\"" + later + "\")]"));
                run = clientEnd(client);
                workerRanMeanwhile = window.workerRunning();
                logShownMeanwhile = window.logFilename->text();
                warning->button(QMessageBox::Ok)->click();
            }
        });
        poll.start();
        window.copyAttachmentsClick();
        QTRY_VERIFY_WITH_TIMEOUT(run.has_value(), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!window.workerRunning(), 10000);

        QCOMPARE(run->exitCode, 0);
        QVERIFY(workerRanMeanwhile);
        QCOMPARE(logShownMeanwhile, laterLog);
        QCOMPARE(window.settings().fileName, later);
        // The job saved where it was told when it started, and logged there.
        int saved = 0;
        for (QDirIterator it(firstFolder, QDir::Files, QDirIterator::Subdirectories); it.hasNext();
             it.next())
            ++saved;
        QCOMPARE(saved, 3);
        QVERIFY(!QFileInfo::exists(laterFolder));
        QVERIFY(QFileInfo(firstLog).size() > 0);
        QVERIFY(!QFileInfo::exists(laterLog));
        auto *status = window.findChildren<StatusWindow *>().value(0);
        QVERIFY(status);
        QVERIFY2(status->statusText->text().startsWith(
                     QStringLiteral("Complete. 4 attachment(s) processed")),
                 qPrintable(status->statusText->text()));
    }
};

QTEST_MAIN(TestCommandService)
#include "test_command_service.moc"
