#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QProcess>
#include <QTest>
#include <QTimer>

#include <functional>

// The message boxes that show while it lives: what each said, and whether a client
// process had its answer while the box was still up (a command's answer must never wait
// for a click). Each box is closed once seen.
class BoxWatcher : public QObject
{
public:
    struct Seen
    {
        QString title;
        QString text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        bool answeredWhileShown = false;
        Qt::TextFormat format = Qt::AutoText; // how its texts are read
    };

    explicit BoxWatcher(QProcess *client = nullptr) : m_client(client)
    {
        m_poll.setInterval(10);
        connect(&m_poll, &QTimer::timeout, this, &BoxWatcher::poll);
        m_poll.start();
    }

    QList<Seen> seen;
    // Runs while a box shows, before it is closed.
    std::function<void(QMessageBox *)> onBox;

private:
    void poll()
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || m_busy)
            return;
        m_busy = true;
        Seen shown{box->windowTitle(), box->text(), box->icon(), false, box->textFormat()};
        if (m_client)
            shown.answeredWhileShown = QTest::qWaitFor(
                [this] { return m_client->state() == QProcess::NotRunning; }, 10000);
        seen << shown;
        if (onBox)
            onBox(box);
        box->done(QMessageBox::Ok);
        m_busy = false;
    }

    QProcess *m_client;
    QTimer m_poll;
    bool m_busy = false;
};
