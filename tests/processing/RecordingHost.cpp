#include "RecordingHost.h"

void RecordingStatusWindow::AttachWorker(QThread *worker)
{
    m_worker = worker;
    m_host->steps << QStringLiteral("attach");
}

void RecordingStatusWindow::ShowStatus(const QString &text)
{
    lastStatus = text;
    m_host->steps << QStringLiteral("status: ") + text;
    if (!cancelOnStatus.isEmpty() && text.startsWith(cancelOnStatus) && m_worker)
        m_worker->requestInterruption();
}

void RecordingStatusWindow::MarkFinished()
{
    finished = true;
    m_worker = nullptr;
    m_host->steps << QStringLiteral("finished");
}

void RecordingStatusWindow::closeWindow()
{
    closed = true;
    m_host->steps << QStringLiteral("close");
}
