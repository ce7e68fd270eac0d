#include "CommandBus.h"

#include "remote/CommandClient.h"
#include "remote/CommandInterface.h"
#include "remote/FileOpenCommand.h"

#include <QDBusConnectionInterface>
#include <QDBusReply>

#include <cstdio>

namespace {

void tellUser(const QString &message)
{
    std::fputs(qPrintable(QStringLiteral("quillbrook: ") + message + QLatin1Char('\n')), stderr);
}

const QString runsWithout = QStringLiteral("this copy runs without the command interface");

} // namespace

CommandBus::CommandBus() : m_bus(QDBusConnection::sessionBus()) {}

CommandBus::~CommandBus()
{
    close();
}

std::optional<int> CommandBus::start(const QString &settingsFile)
{
    if (!m_bus.isConnected()) {
        tellUser(QStringLiteral("the command interface is not available: no session bus (%1)")
                     .arg(m_bus.lastError().message()));
        return std::nullopt;
    }
    switch (claim()) {
    case Claim::Taken:
        return std::nullopt;
    case Claim::Failed:
        tellUser(QStringLiteral("the command interface is not available: ") + m_failure);
        return std::nullopt;
    case Claim::HeldElsewhere:
        break;
    }
    if (settingsFile.isEmpty()) {
        tellUser(QStringLiteral("another copy owns the bus name %1; ").arg(remote::busName) +
                 runsWithout);
        return std::nullopt;
    }
    return handOver(settingsFile);
}

std::optional<int> CommandBus::handOver(const QString &settingsFile)
{
    const QString why = remote::unsendableReason(settingsFile);
    if (!why.isEmpty()) {
        tellUser(QStringLiteral("%1 cannot be handed to the copy that runs (%2), so it opens "
                                "here; ")
                     .arg(settingsFile, why) +
                 runsWithout);
        return std::nullopt;
    }
    const remote::Delivery sent = remote::sendCommand(remote::fileOpenCommand(settingsFile), m_bus);
    switch (sent.outcome) {
    case remote::Delivery::Outcome::Done:
        return 0;
    case remote::Delivery::Outcome::NoRunningCopy:
        // The other copy ended in the meantime: this one takes its place.
        if (claim() == Claim::Taken)
            return std::nullopt;
        tellUser(QStringLiteral("the copy that ran has gone; ") + runsWithout);
        return std::nullopt;
    case remote::Delivery::Outcome::NoBus:
    case remote::Delivery::Outcome::Refused:
        break;
    }
    tellUser(
        QStringLiteral("the copy that runs could not open %1: %2").arg(settingsFile, sent.message));
    return 1;
}

CommandBus::Claim CommandBus::claim()
{
    // The object goes up first, so that a caller who sees the name finds it.
    if (!m_service.registerOn(m_bus)) {
        m_failure = QStringLiteral("the bus refused its object %1").arg(remote::objectPath);
        return Claim::Failed;
    }
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
        m_bus.interface()->registerService(QString(remote::busName),
                                           QDBusConnectionInterface::DontQueueService,
                                           QDBusConnectionInterface::DontAllowReplacement);
    m_serving = reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered;
    if (m_serving)
        return Claim::Taken;
    m_bus.unregisterObject(QString(remote::objectPath));
    if (!reply.isValid()) {
        m_failure = QStringLiteral("the bus refused the name %1 (%2)")
                        .arg(remote::busName, reply.error().message());
        return Claim::Failed;
    }
    return Claim::HeldElsewhere;
}

void CommandBus::serve(MainWindow *window)
{
    if (m_serving)
        m_service.setWindow(window);
}

void CommandBus::close()
{
    if (!m_serving)
        return;
    m_service.setWindow(nullptr);
    m_bus.unregisterService(QString(remote::busName));
    m_bus.unregisterObject(QString(remote::objectPath));
    remote::settle(m_bus);
    m_serving = false;
}
