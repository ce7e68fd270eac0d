#include "CommandClient.h"

#include "CommandInterface.h"

#include <QDBusMessage>

namespace remote {

Delivery sendCommand(const QString &command, const QDBusConnection &bus)
{
    if (!bus.isConnected())
        return {Delivery::Outcome::NoBus, bus.lastError().message()};
    QDBusMessage call =
        QDBusMessage::createMethodCall(busName, objectPath, interfaceName, executeMethod);
    // Nothing is started on demand: only a copy that the user runs takes commands.
    call.setAutoStartService(false);
    call << QString(topic) << command;
    const QDBusMessage reply = bus.call(call);
    settle(bus);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return {};
    const QString error = reply.errorName();
    if (error == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
        error == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner"))
        return {Delivery::Outcome::NoRunningCopy, reply.errorMessage()};
    return {Delivery::Outcome::Refused, reply.errorMessage()};
}

void settle(const QDBusConnection &bus)
{
    if (bus.isConnected())
        bus.call(QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
            QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping")));
}

} // namespace remote
