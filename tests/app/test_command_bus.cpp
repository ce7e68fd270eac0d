// The desktop program's place on the session bus, with real programs as the other side:
// a second copy of the desktop program, quillbrook-cli open and gdbus, on a private bus.
#include "CommandBus.h"
#include "StartArguments.h"
#include "mailstore/memory/MemoryStore.h"
#include "remote/CommandInterface.h"
#include "settings/TSettings.h"
#include "support/BoxWatcher.h"
#include "support/BusClient.h"
#include "support/SettingsFile.h"
#include "ui/MainWindow.h"
#include "ui/TMRUManager.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <gmime/gmime.h>

namespace {

const QString gui = QStringLiteral(QB_GUI_PATH);
const QString cli = QStringLiteral(QB_CLI_PATH);

struct Mailbox
{
    MemoryStore store;
    Mailbox()
    {
        auto top = store.addStore(QStringLiteral("Personal Folders"));
        store.setDefaultInbox(store.addFolder(top, QStringLiteral("Inbox")));
    }
};

QString nameOwner()
{
    return QDBusConnection::sessionBus().interface()->serviceOwner(QString(remote::busName));
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestCommandBus : public QObject
{
    Q_OBJECT
    QTemporaryDir m_config;
    QTemporaryDir m_files;
    QTemporaryDir m_runtime;
    QString m_weekly;
    QString m_other;

    // The environment of a desktop program that this suite starts: settings of its own.
    QProcessEnvironment programEnvironment(const QString &config)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
        environment.insert(QStringLiteral("MAILDIR"), m_files.filePath(QStringLiteral("Maildir")));
        return environment;
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
    }

    void commandLine()
    {
        const QString cwd = QDir::currentPath();
        QCOMPARE(settingsFileArgument({QStringLiteral("quillbrook")}), QString());
        QCOMPARE(settingsFileArgument({QStringLiteral("quillbrook"), QStringLiteral("--store"),
                                       QStringLiteral("mail"), QStringLiteral("jobs/a.qbk"),
                                       QStringLiteral("b.qbk")}),
                 cwd + QStringLiteral("/jobs/a.qbk"));
        QCOMPARE(settingsFileArgument({QStringLiteral("quillbrook"), QStringLiteral("--store"),
                                       QStringLiteral("/mail")}),
                 QString());
        QCOMPARE(storeArguments({QStringLiteral("quillbrook"), QStringLiteral("/a.qbk"),
                                 QStringLiteral("--store"), QStringLiteral("/m1"),
                                 QStringLiteral("--store"), QStringLiteral("/m2")}),
                 QStringList({QStringLiteral("/m1"), QStringLiteral("/m2")}));
    }

    // The first copy owns the name while it runs, and gives it back when it closes.
    void firstCopyTakesTheNameAndGivesItBack()
    {
        Mailbox box;
        CommandBus bus;
        QVERIFY(!bus.start(QString()));
        QVERIFY(bus.serving());
        QCOMPARE(nameOwner(), QDBusConnection::sessionBus().baseService());
        MainWindow window(box.store.factory());
        bus.serve(&window);
        const QString command = "[FileOpen(\"" + m_weekly + "\")]";
        QCOMPARE(runClient(QStringLiteral("gdbus"), executeCall(remote::topic, command)).exitCode,
                 0);
        QCOMPARE(window.settings().fileName, m_weekly);

        bus.close();
        QCOMPARE(nameOwner(), QString());
        const ClientRun late =
            runClient(QStringLiteral("gdbus"), executeCall(remote::topic, command));
        QCOMPARE(late.exitCode, 1);
        QVERIFY2(late.err.contains(QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown")),
                 qPrintable(late.err));
    }

    // A second copy started with a settings file hands it over and ends; without one it
    // runs on its own, and the name stays with the first.
    void secondCopy()
    {
        Mailbox box;
        CommandBus bus;
        QVERIFY(!bus.start(QString()));
        MainWindow window(box.store.factory());
        bus.serve(&window);
        QTemporaryDir config;

        // A relative name is taken from the second copy's working folder.
        ClientRun run = runClient(gui, {QStringLiteral("weekly.qbk")}, m_files.path(),
                                  programEnvironment(config.path()));
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.err, QString());
        QCOMPARE(window.settings().fileName, m_weekly);
        QCOMPARE(window.recentFiles->list().entries().value(0).text, m_weekly);

        // A file that cannot be opened: the user of the first copy is told in a box, and
        // the second copy says why on stderr and fails.
        const QString missing = m_files.filePath(QStringLiteral("missing.qbk"));
        QProcess second;
        BoxWatcher boxes(&second);
        startClient(second, gui, {missing}, {}, programEnvironment(config.path()));
        run = clientEnd(second);
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.err, QStringLiteral("quillbrook: the copy that runs could not open %1: "
                                         "Cannot open file %1\n")
                              .arg(missing));
        QTRY_COMPARE(boxes.seen.size(), 1);
        QCOMPARE(boxes.seen.first().text, QStringLiteral("Cannot open file ") + missing);
        QVERIFY(boxes.seen.first().answeredWhileShown);
        QCOMPARE(window.settings().fileName, m_weekly);

        // Without a file it starts as an independent copy.
        QProcess independent;
        startClient(independent, gui, {}, {}, programEnvironment(config.path()));
        QString said;
        QTRY_VERIFY_WITH_TIMEOUT(
            (said += QString::fromUtf8(independent.readAllStandardError())).contains(u'\n'), 30000);
        QCOMPARE(said, QStringLiteral("quillbrook: another copy owns the bus name "
                                      "org.vellmor.Quillbrook; this copy runs without the "
                                      "command interface\n"));
        // It gets as far as its first steps after showing its window.
        QTRY_VERIFY_WITH_TIMEOUT(
            QFile::exists(config.filePath(QStringLiteral("quillbrook/user.reg"))), 30000);
        QCOMPARE(independent.state(), QProcess::Running);
        independent.terminate();
        QVERIFY(independent.waitForFinished(10000));
        QCOMPARE(nameOwner(), QDBusConnection::sessionBus().baseService());
    }

    // quillbrook-cli open sends the command for an absolute path, and refuses at once
    // what would not reach the program intact.
    void commandLineOpen()
    {
        Mailbox box;
        CommandBus bus;
        QVERIFY(!bus.start(QString()));
        MainWindow window(box.store.factory());
        bus.serve(&window);

        ClientRun run =
            runClient(cli, {QStringLiteral("open"), QStringLiteral("other.qbk")}, m_files.path());
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out + run.err, QString());
        QCOMPARE(window.settings().fileName, m_other);
        QCOMPARE(window.windowTitle(),
                 QStringLiteral("other.qbk - Quillbrook by Vellmor Software"));

        const QString quoted = m_files.filePath(QStringLiteral("say \"hi\".qbk"));
        QVERIFY(writeSettingsFile(quoted, QStringLiteral("/logs/quoted.log")));
        run = runClient(cli, {QStringLiteral("open"), quoted});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains(QStringLiteral("cannot be sent to the desktop program: the path "
                                                 "holds a double quote")),
                 qPrintable(run.err));
        run =
            runClient(cli, {QStringLiteral("open"), QStringLiteral("missing.qbk")}, m_files.path());
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.err, QStringLiteral("quillbrook-cli: Cannot open file %1\n")
                              .arg(m_files.filePath(QStringLiteral("missing.qbk"))));
        QCOMPARE(runClient(cli, {QStringLiteral("open")}).exitCode, 1);
        QCOMPARE(runClient(cli, {QStringLiteral("open"), m_weekly, m_other}).exitCode, 1);
        QCOMPARE(window.settings().fileName, m_other);
        QCOMPARE(window.recentFiles->list().entries().size(), 1);

        bus.close();
        run = runClient(cli, {QStringLiteral("open"), m_weekly});
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.err,
                 QStringLiteral("quillbrook-cli: no desktop program runs to open %1 (start "
                                "quillbrook first)\n")
                     .arg(m_weekly));
    }

    // The desktop program itself: started with a settings file it opens it, and it serves
    // commands under its name.
    void desktopProgramServes()
    {
        QTemporaryDir config;
        QProcess program;
        startClient(program, gui, {m_weekly}, {}, programEnvironment(config.path()));
        const ClientRun waited =
            runClient(QStringLiteral("gdbus"),
                      {QStringLiteral("wait"), QStringLiteral("--session"),
                       QStringLiteral("--timeout"), QStringLiteral("30"), remote::busName});
        QCOMPARE(waited.exitCode, 0);
        // Its recent files, stored once its window shows, begin with the file it opened.
        const QString hive = config.filePath(QStringLiteral("quillbrook/user.reg"));
        QTRY_VERIFY_WITH_TIMEOUT(readAll(hive).contains("\"Item_0\"=\"" + m_weekly.toUtf8() + '"'),
                                 30000);

        ClientRun run = runClient(QStringLiteral("gdbus"),
                                  executeCall(QStringLiteral("Other"), "[FileOpen(\"x\")]"));
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains(QString(remote::unknownTopicError)), qPrintable(run.err));
        run = runClient(cli, {QStringLiteral("open"), m_other});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.err, QString());
        QCOMPARE(program.state(), QProcess::Running);
        program.terminate();
        QVERIFY(program.waitForFinished(10000));
    }

    // With no session bus the program starts all the same, and says once that the
    // command interface is not there; the command-line tool says why it cannot send.
    void noSessionBus()
    {
        QTemporaryDir config;
        QProcessEnvironment environment = programEnvironment(config.path());
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                           QStringLiteral("unix:path=") +
                               m_files.filePath(QStringLiteral("no-bus")));
        QProcess program;
        startClient(program, gui, {}, {}, environment);
        QTRY_VERIFY_WITH_TIMEOUT(
            QFile::exists(config.filePath(QStringLiteral("quillbrook/user.reg"))), 30000);
        QCOMPARE(program.state(), QProcess::Running);
        program.terminate();
        QVERIFY(program.waitForFinished(10000));
        const QString said = QString::fromUtf8(program.readAllStandardError());
        QCOMPARE(said.count(QStringLiteral("the command interface is not available")), 1);
        QVERIFY2(said.startsWith(QStringLiteral(
                     "quillbrook: the command interface is not available: no session bus")),
                 qPrintable(said));

        const ClientRun run = runClient(cli, {QStringLiteral("open"), m_weekly}, {}, environment);
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.startsWith(
                     QStringLiteral("quillbrook-cli: no session bus to reach the desktop program")),
                 qPrintable(run.err));
        QCOMPARE(run.err.count(u'\n'), 1);
    }
};

QTEST_MAIN(TestCommandBus)
#include "test_command_bus.moc"
