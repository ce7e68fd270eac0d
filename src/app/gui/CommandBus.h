#pragma once

#include "ui/CommandService.h"

#include <QDBusConnection>

#include <optional>

class MainWindow;

// The desktop program's place on the session bus, settled before its main window exists.
// The first copy takes the program's bus name with the command service behind it and
// gives it back when it closes. A second copy does not fight for the name: started with a
// settings file, it hands the file to the first and ends; else it runs without the
// service. Without a session bus (a console login) the program runs without it too.
// What it cannot do is said once on stderr.
class CommandBus
{
public:
    CommandBus();
    ~CommandBus();
    CommandBus(const CommandBus &) = delete;
    CommandBus &operator=(const CommandBus &) = delete;

    // Takes the bus name, or hands settingsFile (an absolute path, or empty) to the copy
    // that holds it. The exit status when this copy is done; nothing when it goes on.
    std::optional<int> start(const QString &settingsFile);
    // Whether this copy owns the bus name and serves commands.
    bool serving() const { return m_serving; }
    // From now on commands act on window.
    void serve(MainWindow *window);
    // Gives the name back, before the window goes; later commands are refused.
    void close();

private:
    enum class Claim { Taken, HeldElsewhere, Failed };
    Claim claim();
    std::optional<int> handOver(const QString &settingsFile);

    QDBusConnection m_bus;
    CommandService m_service;
    bool m_serving = false;
    QString m_failure; // why the last claim failed
};
