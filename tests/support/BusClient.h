#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTest>

// Helpers for the suites of the command interface, which run on a session bus of their
// own (dbus-run-session, started around them by ctest), never the machine's, and call it
// with real clients: gdbus, the command-line tool and the desktop program.

// Whether this process runs on the private bus that ctest starts for it.
inline bool onPrivateBus()
{
    return qEnvironmentVariable("QB_PRIVATE_BUS") == QLatin1String("1") &&
           !qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS");
}

// text as a string in GVariant's text form, which gdbus reads its arguments in: quoted,
// with backslashes, quotes and control characters escaped, so any text arrives as it is.
inline QString gvariantString(const QString &text)
{
    QString quoted = QStringLiteral("'");
    for (const QChar c : text) {
        if (c == u'\\' || c == u'\'')
            quoted += u'\\' + QString(c);
        else if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            quoted += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            quoted += c;
    }
    return quoted + u'\'';
}

struct ClientRun
{
    bool ended = false; // within the time allowed
    int exitCode = -1;  // -1 when it crashed or did not end
    QString out;
    QString err;
};

// Starts program; the caller lets this thread's event loop run until it ends.
inline void
startClient(QProcess &process, const QString &program, const QStringList &arguments,
            const QString &workingFolder = {},
            const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    process.setProcessEnvironment(environment);
    if (!workingFolder.isEmpty())
        process.setWorkingDirectory(workingFolder);
    process.start(program, arguments);
}

// Waits for a started client while this thread's event loop runs on, so that a command
// service in this process can answer it meanwhile.
inline ClientRun clientEnd(QProcess &process, int timeoutMs = 30000)
{
    ClientRun run;
    run.ended =
        QTest::qWaitFor([&process] { return process.state() == QProcess::NotRunning; }, timeoutMs);
    if (!run.ended) {
        process.kill();
        process.waitForFinished();
    }
    if (run.ended && process.exitStatus() == QProcess::NormalExit)
        run.exitCode = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

inline ClientRun
runClient(const QString &program, const QStringList &arguments, const QString &workingFolder = {},
          const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    startClient(process, program, arguments, workingFolder, environment);
    return clientEnd(process);
}

// The arguments of gdbus that call Execute(topic, command) on the program's bus name.
inline QStringList executeCall(const QString &topic, const QString &command)
{
    return {QStringLiteral("call"),          QStringLiteral("--session"),
            QStringLiteral("--timeout"),     QStringLiteral("20"),
            QStringLiteral("--dest"),        QStringLiteral("org.vellmor.Quillbrook"),
            QStringLiteral("--object-path"), QStringLiteral("/"),
            QStringLiteral("--method"),      QStringLiteral("org.vellmor.Quillbrook.Execute"),
            gvariantString(topic),           gvariantString(command)};
}
