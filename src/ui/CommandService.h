#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QMessageBox>
#include <QObject>
#include <QPointer>

class MainWindow;

// The running copy's command interface on the session bus (see remote/CommandInterface.h).
// Execute(topic, command) with the command [FileOpen("<path>")] opens that settings file
// in the main window as File > Open does, without asking about unsaved changes and
// without bringing the window to the front. It answers at once: an error reply for an
// unknown topic, an invalid command or a file that cannot be opened. The user hears of the
// last two in one box that never waits for a click (callers may send many): while it
// shows, later failures only add to the count it gives. A command too long to be one is
// refused with the error reply alone.
class CommandService : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.vellmor.Quillbrook")
public:
    explicit CommandService(QObject *parent = nullptr);

    // Puts this object on bus at the interface's object path; false when the bus refuses.
    bool registerOn(QDBusConnection &bus);
    // The window that commands act on. Without one (before it exists, once it closes)
    // commands are refused.
    void setWindow(MainWindow *window);

public Q_SLOTS:
    Q_SCRIPTABLE void Execute(const QString &topic, const QString &command);

private:
    void openSettingsFile(const QString &path);
    // Tells the user of a failed command: in a new box, or in the count of the one shown.
    void tellUser(QMessageBox::Icon icon, const QString &message);
    void showCount();

    QPointer<MainWindow> m_window;
    QPointer<QMessageBox> m_box;
    int m_moreFailures = 0; // since the box showed
    bool m_countDue = false;
};
