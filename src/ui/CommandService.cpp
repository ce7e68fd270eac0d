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
    if (command.size() > remote::longestCommand) {
        // Not worth a box, nor the memory of one: no command that opens a file is as long.
        sendErrorReply(QString(remote::invalidCommandError),
                       QStringLiteral("The command is %1 characters long; a command has at "
                                      "most %2")
                           .arg(command.size())
                           .arg(remote::longestCommand));
        return;
    }
    const QString joined = remote::joinedLines(command);
    const std::optional<QString> path = remote::fileOpenPath(joined);
    if (!path) {
        const QString message = QStringLiteral("Invalid DDE message ") + joined;
        sendErrorReply(QString(remote::invalidCommandError), message);
        tellUser(QMessageBox::NoIcon, message);
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
        tellUser(QMessageBox::Critical, e.message());
    }
}

void CommandService::tellUser(QMessageBox::Icon icon, const QString &message)
{
    if (m_box && m_box->isVisible()) {
        ++m_moreFailures;
        // A flood of commands changes the box's text once per turn of the event loop.
        if (!m_countDue) {
            m_countDue = true;
            QTimer::singleShot(0, this, &CommandService::showCount);
        }
        return;
    }
    // Shown without a loop of its own, so that this call ends at once and the next
    // command finds this box instead of opening one inside it.
    auto *box = new QMessageBox(icon, QApplication::applicationName(), message, QMessageBox::Ok,
                                m_window->dialogParent());
    box->setTextFormat(Qt::PlainText);
    connect(box, &QDialog::finished, box, &QObject::deleteLater);
    m_box = box;
    m_moreFailures = 0;
    box->open();
}

void CommandService::showCount()
{
    m_countDue = false;
    if (m_box && m_moreFailures > 0)
        m_box->setInformativeText(
            QStringLiteral("%1 more command(s) sent meanwhile could not be carried out either.")
                .arg(m_moreFailures));
}
