#pragma once

#include "CliSupport.h"
#include "ConsoleHost.h"
#include "log/TLogManager.h"

#include <QEventLoop>

#include <cstdio>
#include <functional>

namespace cli {

// Runs a worker that changes emails (putting a job's emails back, relinking notes) in a
// console status window until it ends: what was done goes to stdout, what was not to
// stderr. start makes the worker for the window. Returns the exit status as the job
// commands do: 0 done, 3 some refused (or stopped by an error after some were done), 2
// cancelled, 1 stopped before anything was done.
template <class Worker, class Report, class Kind>
int runChangeWorker(ConsoleHost &host, InterruptCatcher &interrupts, Kind doneKind,
                    const std::function<Worker *(ConsoleStatusWindow *)> &start)
{
    TLogManager::setMessageSink(errorBoxesOf(&host));
    ConsoleStatusWindow window(&host);
    window.setFinalStatusPrinted(true);
    QEventLoop loop;
    Report report;
    QString error;
    bool ended = false;
    interrupts.watch(&window);
    Worker *worker = start(&window);
    QObject::connect(worker, &Worker::outcome, &loop, [doneKind](Kind kind, const QString &text) {
        if (kind == doneKind)
            printOut(text + QLatin1Char('\n'));
        else
            std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    });
    QObject::connect(worker, &Worker::jobEnded, &loop, [&, worker](Report r) {
        report = r;
        error = worker->failure();
        ended = true;
    });
    QObject::connect(worker, &QObject::destroyed, &loop, &QEventLoop::quit);
    loop.exec();
    interrupts.watch(nullptr);
    TLogManager::setMessageSink(nullptr);
    if (!ended)
        return 1;
    if (!error.isEmpty())
        return report.done > 0 ? 3 : 1;
    if (report.cancelled)
        return 2;
    return report.refused > 0 ? 3 : 0;
}

} // namespace cli
