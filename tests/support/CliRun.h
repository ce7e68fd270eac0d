#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// What a run of the command-line tool (QB_CLI_PATH, given to the suite by its build)
// printed and how it ended; status is -1 when it did not end within the time given.
struct Run
{
    int status = -1;
    QString out;
    QString err;
};

inline Run runCli(const QStringList &arguments, int timeoutMs = 180000)
{
    QProcess process;
    process.start(QStringLiteral(QB_CLI_PATH), arguments);
    Run run;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        run.err = QStringLiteral("timed out");
        return run;
    }
    run.status = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}
