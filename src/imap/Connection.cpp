#include "imap/Connection.h"

#include "imap/CertificateReport.h"
#include "imap/ImapError.h"
#include "imap/ResponseParser.h"

#include <QHostAddress>
#include <QNetworkProxy>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QThread>

#include <utility>

namespace imap {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The longest single wait on the socket, so that the cancel check stays prompt.
constexpr milliseconds waitSlice(100);
// How long the destructor waits for LOGOUT's answer.
constexpr milliseconds logoutTimeout(2000);
// Bytes taken from the socket at once.
constexpr qint64 readChunk = 64 * 1024;
// LITERAL- lets a client send literals of up to this size without waiting.
constexpr qsizetype literalMinusLimit = 4096;

int sliceUntil(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
    return int(qBound(milliseconds(1), left, waitSlice).count());
}

QString seconds(milliseconds timeout)
{
    return QString::number(double(timeout.count()) / 1000.0, 'g', 4);
}

} // namespace

bool isLoopbackHost(const QString &host)
{
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    QString address = host;
    if (address.startsWith(u'[') && address.endsWith(u']'))
        address = address.mid(1, address.size() - 2);
    QHostAddress parsed;
    return parsed.setAddress(address) && parsed.isLoopback();
}

Connection::Connection(ServerAddress address, TlsTrust trust, std::function<bool()> cancelled)
    : m_address(std::move(address)), m_trust(std::move(trust)), m_cancelled(std::move(cancelled))
{
    // A worker's Cancel reaches every wait of the connections on its thread.
    if (!m_cancelled)
        m_cancelled = [] { return QThread::currentThread()->isInterruptionRequested(); };
}

Connection::~Connection()
{
    if (isOpen()) {
        try {
            m_loggingOut = true;
            runCommand(Command("LOGOUT"), {}, logoutTimeout);
        } catch (...) {
            // The server may already be gone; there is nothing left to tell anyone.
        }
    }
    closeSocket();
}

QString Connection::where() const
{
    const QString host = m_address.host.contains(u':') && !m_address.host.startsWith(u'[')
                             ? QStringLiteral("[%1]").arg(m_address.host)
                             : m_address.host;
    return QStringLiteral("%1:%2").arg(host).arg(m_address.port);
}

void Connection::closeSocket()
{
    m_open = false;
    if (m_socket)
        m_socket->abort();
}

void Connection::fail(const QString &what)
{
    closeSocket();
    throw ConnectionError(QStringLiteral("IMAP server %1: %2").arg(where(), what));
}

void Connection::checkCancelled()
{
    if (m_cancelled && m_cancelled()) {
        closeSocket();
        throw Cancelled();
    }
}

void Connection::beginCommand(const QByteArray &verb)
{
    m_commandVerb = verb;
    m_commandStart = Clock::now();
    m_commandMoved = 0;
    m_commandReceived = 0;
    m_commandResponses = 0;
}

QString Connection::commandName() const
{
    return m_commandVerb.isEmpty() ? QStringLiteral("the greeting")
                                   : QString::fromLatin1(m_commandVerb);
}

Clock::time_point Connection::commandDeadline() const
{
    const qint64 rate = qMax<qint64>(1, m_bounds.bytesPerSecond);
    return m_commandStart + m_bounds.deadline + milliseconds(m_commandMoved / rate * 1000);
}

void Connection::checkCommandDeadline()
{
    if (Clock::now() >= commandDeadline())
        fail(QStringLiteral("no complete answer to %1 within %2 s")
                 .arg(commandName(), seconds(std::chrono::duration_cast<milliseconds>(
                                         Clock::now() - m_commandStart))));
}

void Connection::countMoved(qint64 bytes, bool received)
{
    m_commandMoved += bytes;
    if (!received)
        return;
    m_commandReceived += bytes;
    if (m_commandReceived > m_bounds.maxBytes)
        fail(QStringLiteral("the answer to %1 went beyond %2 bytes")
                 .arg(commandName())
                 .arg(m_bounds.maxBytes));
}

bool Connection::isOpen() const
{
    return m_open && m_socket && m_socket->state() == QAbstractSocket::ConnectedState;
}

bool Connection::hasCapability(QByteArrayView name) const
{
    return m_capabilities.contains(name.toByteArray().toUpper());
}

QStringList Connection::takeAlerts()
{
    return std::exchange(m_alerts, {});
}

void Connection::open(const Credentials &credentials, milliseconds timeout)
{
    if (isOpen())
        return;
    if (m_address.security == Security::Plain && !isLoopbackHost(m_address.host))
        throw ConnectionError(
            QStringLiteral("IMAP server %1: an unencrypted connection is only allowed to this "
                           "computer (127.0.0.1, ::1, localhost); choose TLS or STARTTLS")
                .arg(where()));
    m_capabilities.clear();
    m_authenticated = false;
    m_separatorKnown = false;
    try {
        connectSocket(timeout);
        beginCommand({});
        readGreeting(timeout);
        if (m_address.security == Security::StartTls)
            startTls(timeout);
        if (m_capabilities.isEmpty())
            runCommand(Command("CAPABILITY"), {}, timeout);
        if (!m_authenticated)
            authenticate(credentials, timeout);
    } catch (...) {
        closeSocket();
        throw;
    }
    m_open = true;
}

void Connection::connectSocket(milliseconds timeout)
{
    closeSocket();
    m_socket = std::make_unique<QSslSocket>();
    m_parser = std::make_unique<ResponseParser>();
    m_sslErrors.clear();
    m_peerCertificate = QSslCertificate();
    // IMAP goes straight to the server: a proxy from the environment is for HTTP.
    m_socket->setProxy(QNetworkProxy::NoProxy);
    if (m_address.security != Security::Plain) {
        // Reading the system's authorities costs more than a whole session on loopback:
        // only a connection that will be encrypted pays for it.
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        QList<QSslCertificate> authorities = QSslConfiguration::systemCaCertificates();
        authorities += m_trust.extraAuthorities;
        tls.setCaCertificates(authorities);
        tls.setPeerVerifyMode(QSslSocket::VerifyPeer);
        m_socket->setSslConfiguration(tls);
    }
    QObject::connect(m_socket.get(), &QSslSocket::sslErrors, m_socket.get(),
                     [this](const QList<QSslError> &errors) {
                         m_sslErrors = errors;
                         m_peerCertificate = m_socket->peerCertificate();
                         // The one certificate the user chose to trust, whatever is wrong
                         // with it; any other still fails.
                         if (!m_trust.trustedFingerprint.isEmpty() &&
                             sha256Fingerprint(m_peerCertificate) == m_trust.trustedFingerprint)
                             m_socket->ignoreSslErrors();
                     });

    if (m_address.security == Security::Tls)
        m_socket->connectToHostEncrypted(m_address.host, m_address.port);
    else
        m_socket->connectToHost(m_address.host, m_address.port);
    const auto deadline = Clock::now() + timeout;
    while (m_socket->state() != QAbstractSocket::ConnectedState) {
        checkCancelled();
        if (m_socket->state() == QAbstractSocket::UnconnectedState)
            fail(QStringLiteral("cannot connect: %1").arg(m_socket->errorString()));
        if (Clock::now() >= deadline)
            fail(QStringLiteral("no connection within %1 s").arg(seconds(timeout)));
        m_socket->waitForConnected(sliceUntil(deadline));
    }
    if (m_address.security == Security::Plain && !m_socket->peerAddress().isLoopback())
        fail(QStringLiteral("the name led to %1, not to this computer; an unencrypted "
                            "connection is only allowed to this computer")
                 .arg(m_socket->peerAddress().toString()));
    if (m_address.security == Security::Tls)
        waitEncrypted(timeout);
}

void Connection::waitEncrypted(milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    while (!m_socket->isEncrypted()) {
        checkCancelled();
        if (m_socket->state() != QAbstractSocket::ConnectedState) {
            if (!m_sslErrors.isEmpty())
                failCertificate();
            fail(QStringLiteral("the TLS handshake failed: %1").arg(m_socket->errorString()));
        }
        if (Clock::now() >= deadline)
            fail(QStringLiteral("no TLS handshake within %1 s").arg(seconds(timeout)));
        m_socket->waitForEncrypted(sliceUntil(deadline));
    }
}

void Connection::failCertificate()
{
    const QString text = certificateFailureText(where(), m_sslErrors, m_peerCertificate);
    closeSocket();
    throw CertificateError(text, sha256Fingerprint(m_peerCertificate));
}

void Connection::readGreeting(milliseconds timeout)
{
    const Response greeting = readResponse(timeout);
    if (greeting.type != Response::Type::Untagged || !greeting.isStatus())
        fail(QStringLiteral("the server did not greet as an IMAP server does"));
    if (greeting.name == "BYE")
        fail(QStringLiteral("the server refused the connection: %1")
                 .arg(QString::fromUtf8(greeting.text)));
    if (greeting.name == "PREAUTH") {
        // STARTTLS is only possible before authentication: a server that skips it leaves
        // the session unprotected.
        if (m_address.security == Security::StartTls)
            fail(QStringLiteral("the server authenticated the connection before STARTTLS; "
                                "refusing to continue unencrypted"));
        m_authenticated = true;
    } else if (greeting.name != "OK") {
        fail(QStringLiteral("the server greeted with %1: %2")
                 .arg(QString::fromLatin1(greeting.name), QString::fromUtf8(greeting.text)));
    }
}

void Connection::startTls(milliseconds timeout)
{
    if (m_capabilities.isEmpty())
        runCommand(Command("CAPABILITY"), {}, timeout);
    if (!hasCapability("STARTTLS"))
        fail(QStringLiteral("the server does not offer STARTTLS; refusing to continue "
                            "unencrypted"));
    runCommand(Command("STARTTLS"), {}, timeout);
    // Anything that came before the handshake was not protected by it and is not trusted.
    if (m_parser->hasBufferedData() || m_socket->bytesAvailable() > 0)
        fail(QStringLiteral("the server sent data before the TLS handshake"));
    m_capabilities.clear();
    m_socket->startClientEncryption();
    waitEncrypted(timeout);
}

void Connection::authenticate(const Credentials &credentials, milliseconds timeout)
{
    try {
        refreshCapabilities(logIn(credentials, timeout), timeout);
    } catch (const CommandFailed &refused) {
        if (refused.status() != "NO")
            throw;
        const QString account = credentials.user + QLatin1Char('@') + m_address.host;
        // UNAVAILABLE (RFC 5530) says the server cannot log anybody in now: the password
        // may be right, so it is not called wrong.
        if (refused.responseCode() == "UNAVAILABLE") {
            throw ConnectionError(
                QStringLiteral("Login to %1 failed: the server cannot log in now (%2)")
                    .arg(account, QString::fromUtf8(refused.serverText())));
        }
        QString message =
            QStringLiteral("Login to %1 failed: the server refused the password").arg(account);
        if (!refused.serverText().isEmpty())
            message += QStringLiteral(" (%1)").arg(QString::fromUtf8(refused.serverText()));
        throw LoginRefused(message);
    }
}

Response Connection::logIn(const Credentials &credentials, milliseconds timeout)
{
    Response tagged;
    if (hasCapability("AUTH=PLAIN")) {
        const QByteArray token =
            (QByteArray(1, '\0') + credentials.user.toUtf8() + '\0' + credentials.password.toUtf8())
                .toBase64();
        if (hasCapability("SASL-IR"))
            tagged = runCommand(Command("AUTHENTICATE PLAIN").atom(token), {}, timeout);
        else
            tagged = runCommand(Command("AUTHENTICATE PLAIN"), {}, timeout, token);
    } else if (hasCapability("LOGINDISABLED")) {
        fail(QStringLiteral("the server offers neither AUTH=PLAIN nor LOGIN on this connection"));
    } else {
        tagged = runCommand(Command("LOGIN")
                                .string(credentials.user.toUtf8())
                                .string(credentials.password.toUtf8()),
                            {}, timeout);
    }
    m_authenticated = true;
    return tagged;
}

void Connection::refreshCapabilities(const Response &tagged, milliseconds timeout)
{
    // Servers may offer more after login, and say so in the OK; else ask.
    if (tagged.code != "CAPABILITY") {
        m_capabilities.clear();
        runCommand(Command("CAPABILITY"), {}, timeout);
    }
}

Response Connection::run(const Command &command,
                         const std::function<void(const Response &)> &onUntagged,
                         milliseconds timeout)
{
    if (!isOpen())
        throw ConnectionError(QStringLiteral("IMAP server %1: not connected").arg(where()));
    return runCommand(command, onUntagged, timeout);
}

Response Connection::runCommand(const Command &command,
                                const std::function<void(const Response &)> &onUntagged,
                                milliseconds timeout, const QByteArray &continuationReply)
{
    if (!m_socket || m_socket->state() != QAbstractSocket::ConnectedState)
        fail(QStringLiteral("not connected"));
    beginCommand(command.verb());
    const QByteArray tag = 'A' + QByteArray::number(m_nextTag++).rightJustified(4, '0');
    QByteArray line = tag + ' ';
    for (const Command::Piece &piece : command.pieces()) {
        line += piece.text;
        if (!piece.hasLiteral)
            continue;
        const qsizetype size = piece.literal.size();
        const bool waitForServer =
            !hasCapability("LITERAL+") && !(hasCapability("LITERAL-") && size <= literalMinusLimit);
        line += '{' + QByteArray::number(size) + (waitForServer ? "}\r\n" : "+}\r\n");
        send(line, timeout);
        line.clear();
        if (waitForServer)
            waitForContinuation(command, tag, onUntagged, timeout);
        send(piece.literal, timeout);
    }
    line += "\r\n";
    send(line, timeout);

    bool replied = false;
    while (true) {
        const Response response = readResponse(timeout);
        switch (response.type) {
        case Response::Type::Untagged:
            handleUntagged(response, onUntagged);
            break;
        case Response::Type::Continuation:
            if (!continuationReply.isNull() && !replied) {
                send(continuationReply + "\r\n", timeout);
                replied = true;
            } else if (command.verb() == "AUTHENTICATE") {
                send("*\r\n", timeout); // ends the exchange: the server answers BAD
            } else {
                fail(QStringLiteral("a continuation request that %1 did not ask for")
                         .arg(QString::fromLatin1(command.verb())));
            }
            break;
        case Response::Type::Tagged:
            if (response.tag != tag)
                fail(QStringLiteral("an answer to a command that was not sent (tag %1)")
                         .arg(QString::fromLatin1(response.tag)));
            if (response.name != "OK")
                throw CommandFailed(command.verb(), response.name, response.code, response.text);
            return response;
        }
    }
}

void Connection::waitForContinuation(const Command &command, const QByteArray &tag,
                                     const std::function<void(const Response &)> &onUntagged,
                                     milliseconds timeout)
{
    while (true) {
        const Response response = readResponse(timeout);
        if (response.type == Response::Type::Continuation)
            return;
        if (response.type == Response::Type::Untagged) {
            handleUntagged(response, onUntagged);
            continue;
        }
        if (response.tag != tag)
            fail(QStringLiteral("an answer to a command that was not sent (tag %1)")
                     .arg(QString::fromLatin1(response.tag)));
        // The server turned the literal down: the command is over.
        if (response.name != "OK")
            throw CommandFailed(command.verb(), response.name, response.code, response.text);
        fail(QStringLiteral("%1 completed before its literal was sent")
                 .arg(QString::fromLatin1(command.verb())));
    }
}

void Connection::handleUntagged(const Response &response,
                                const std::function<void(const Response &)> &onUntagged)
{
    if (response.name == "BYE" && !m_loggingOut)
        fail(QStringLiteral("the server ended the session: %1")
                 .arg(QString::fromUtf8(response.text)));
    if (++m_commandResponses > m_bounds.maxResponses)
        fail(QStringLiteral("more than %1 responses to %2")
                 .arg(m_bounds.maxResponses)
                 .arg(commandName()));
    if (!onUntagged)
        return;
    try {
        onUntagged(response);
    } catch (...) {
        // The rest of the command's answer is still on its way: the connection cannot be
        // used for another command.
        closeSocket();
        throw;
    }
}

void Connection::noteResponse(const Response &response)
{
    if (response.code == "ALERT")
        m_alerts << QString::fromUtf8(response.text);
    const std::vector<Value> *capabilities = nullptr;
    if (response.code == "CAPABILITY")
        capabilities = &response.codeArgs;
    else if (response.type == Response::Type::Untagged && response.name == "CAPABILITY")
        capabilities = &response.values;
    if (capabilities) {
        m_capabilities.clear();
        for (const Value &value : *capabilities)
            m_capabilities.insert(value.text.toUpper());
    }
}

void Connection::send(const QByteArray &bytes, milliseconds timeout)
{
    if (m_socket->write(bytes) != bytes.size())
        fail(QStringLiteral("cannot send: %1").arg(m_socket->errorString()));
    auto deadline = Clock::now() + timeout;
    qint64 waiting = m_socket->bytesToWrite();
    countMoved(bytes.size(), false);
    while (waiting > 0) {
        checkCancelled();
        if (m_socket->state() != QAbstractSocket::ConnectedState)
            fail(QStringLiteral("the connection was lost while sending"));
        if (Clock::now() >= deadline)
            fail(QStringLiteral("could not send within %1 s").arg(seconds(timeout)));
        checkCommandDeadline();
        m_socket->waitForBytesWritten(sliceUntil(std::min(deadline, commandDeadline())));
        const qint64 now = m_socket->bytesToWrite();
        if (now < waiting)
            deadline = Clock::now() + timeout;
        waiting = now;
    }
}

Response Connection::readResponse(milliseconds timeout)
{
    auto deadline = Clock::now() + timeout;
    while (true) {
        std::optional<Response> response;
        qint64 received = 0;
        try {
            response = m_parser->next();
            if (!response && m_socket->bytesAvailable() > 0) {
                const QByteArray bytes = m_socket->read(readChunk);
                received = bytes.size();
                m_parser->feed(bytes);
            }
        } catch (const ConnectionError &protocolError) {
            fail(protocolError.message());
        }
        if (response) {
            noteResponse(*response);
            return std::move(*response);
        }
        if (received > 0) {
            countMoved(received, true);
            deadline = Clock::now() + timeout;
        }
        // Asked between pieces too, so that neither a flood nor a trickle of bytes keeps
        // Cancel or the command's deadline from being noticed.
        checkCancelled();
        checkCommandDeadline();
        if (received > 0)
            continue;
        if (m_socket->state() != QAbstractSocket::ConnectedState)
            fail(m_parser->hasPartialData()
                     ? QStringLiteral("the connection was lost in the middle of a response")
                     : QStringLiteral("the server closed the connection"));
        if (Clock::now() >= deadline)
            fail(QStringLiteral("no answer within %1 s").arg(seconds(timeout)));
        m_socket->waitForReadyRead(sliceUntil(std::min(deadline, commandDeadline())));
    }
}

QByteArray Connection::hierarchySeparator()
{
    if (!m_separatorKnown) {
        QByteArray separator;
        run(Command("LIST").string("").string(""), [&separator](const Response &response) {
            if (response.name == "LIST" && response.values.size() >= 2)
                separator = response.values[1].nstring();
        });
        m_separator = separator.isNull() ? QByteArray("") : separator;
        m_separatorKnown = true;
    }
    return m_separator;
}

} // namespace imap
