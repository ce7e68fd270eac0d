#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QPointer>

#include <functional>

class MainWindow;

// The running copy's command interface on the session bus (see remote/CommandInterface.h).
// Execute(topic, command) with the command [FileOpen("<path>")] opens that settings file
// in the main window as File > Open does, without asking about unsaved changes and
// without bringing the window to the front. It answers at once: an error reply for an
// unknown topic, an invalid command or a file that cannot be opened, and the box that
// tells the user of the last two comes after the answer, so no caller waits for a click.
class CommandService : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.vellmor.Quillbrook")
public:
    explicit CommandService(QObject *parent = nullptr);

    // Puts this object on bus at the interface's object path; false when the bus refuses.
    bool registerOn(QDBusConnection &bus);
    // The window that commands act on. Without one (before it exists, once it closes)
    // commands are refused, and boxes still waiting are dropped.
    void setWindow(MainWindow *window);

public Q_SLOTS:
    Q_SCRIPTABLE void Execute(const QString &topic, const QString &command);

private:
    void openSettingsFile(const QString &path);
    // Runs show on the main thread's next turn, after the reply has gone.
    void afterReply(std::function<void(MainWindow &)> show);

    QPointer<MainWindow> m_window;
};
