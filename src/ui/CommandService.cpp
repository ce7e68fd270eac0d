#include "CommandService.h"

#include "MainWindow.h"
#include "common/Error.h"
#include "remote/CommandInterface.h"
#include "remote/FileOpenCommand.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QTimer>

CommandService::CommandService(QObject *parent) : QObject(parent) {}

bool CommandService::registerOn(QDBusConnection &bus)
{
    return bus.registerObject(QString(remote::objectPath), this,
                              QDBusConnection::ExportScriptableSlots);
}

void CommandService::setWindow(MainWindow *window)
{
    m_window = window;
}

void CommandService::Execute(const QString &topic, const QString &command)
{
    if (topic.compare(remote::topic, Qt::CaseInsensitive) != 0) {
        sendErrorReply(QString(remote::unknownTopicError),
                       QStringLiteral("There is no topic %1; commands go to the topic %2")
                           .arg(topic, remote::topic));
        return;
    }
    if (!m_window) {
        sendErrorReply(QString(remote::notReadyError),
                       QStringLiteral("The program is starting or closing"));
        return;
    }
    const QString joined = remote::joinedLines(command);
    const std::optional<QString> path = remote::fileOpenPath(joined);
    if (!path) {
        const QString message = QStringLiteral("Invalid DDE message ") + joined;
        sendErrorReply(QString(remote::invalidCommandError), message);
        afterReply([message](MainWindow &window) {
            QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), message,
                            QMessageBox::Ok, window.dialogParent());
            box.exec();
        });
        return;
    }
    openSettingsFile(*path);
}

void CommandService::openSettingsFile(const QString &path)
{
    try {
        // The file is read on this thread while the caller waits for its answer: a name
        // of something other than a file (a pipe, a terminal) would hold the program
        // on its first read, so it fails at once as an unreadable file does.
        const QFileInfo info(path);
        if (info.exists() && !info.isFile())
            throw qb::Error(QStringLiteral("Cannot open file %1").arg(path));
        m_window->loadSettingsFile(path);
    } catch (const qb::Error &e) {
        sendErrorReply(QString(remote::openFailedError), e.message());
        afterReply([message = e.message()](MainWindow &window) { window.showError(message); });
    }
}

void CommandService::afterReply(std::function<void(MainWindow &)> show)
{
    // The error reply has gone. The box comes on the event loop's next turn, so that this
    // call ends at once and the box's own loop never runs inside it.
    QTimer::singleShot(0, this, [this, show = std::move(show)] {
        if (m_window)
            show(*m_window);
    });
}
