#pragma once

#include <QDBusConnection>
#include <QString>

namespace remote {

// What became of a command sent to the running copy.
struct Delivery
{
    enum class Outcome {
        Done,          // carried out
        NoRunningCopy, // nobody owns the program's bus name
        NoBus,         // no session bus to send it on
        Refused,       // the running copy answered with an error, or not at all
    };
    Outcome outcome = Outcome::Done;
    // Why, when not done: the bus's or the running copy's own message.
    QString message;
};

// Sends command on the program's topic to the copy that owns the bus name on bus, and
// waits for its answer, which comes at once (any box it shows comes after).
Delivery sendCommand(const QString &command,
                     const QDBusConnection &bus = QDBusConnection::sessionBus());

// One more round trip to the bus, after which everything that the bus sent before has been
// dispatched. A program that ends right after a call runs it first: Qt 6.4 can otherwise
// still be dispatching such a message while the process exits, after its type registry
// has gone ("Trying to construct an instance of an invalid type" on stderr).
void settle(const QDBusConnection &bus);

} // namespace remote
