#pragma once

// One IMAP4rev1 connection, blocking on the calling thread. Every wait is cut into slices
// of at most 100 ms so that the cancel check is asked often; one Connection per thread.
// Besides the wait for the server's next bytes, each command has a deadline and a bound on
// what its answer may bring, so a server that drips or floods cannot hold or fill the
// caller.

#include "imap/Command.h"
#include "imap/ResponseValue.h"

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QSslCertificate>
#include <QSslError>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>

class QSslSocket;

namespace imap {

class ResponseParser;

// Plain is allowed only to a loopback host (127.0.0.1, ::1, localhost).
enum class Security { Tls, StartTls, Plain };

struct ServerAddress
{
    QString host;
    quint16 port = 993;
    Security security = Security::Tls;
};

struct Credentials
{
    QString user;
    QString password;
};

struct TlsTrust
{
    // Authorities trusted beside the system's.
    QList<QSslCertificate> extraAuthorities;
    // SHA-256 (raw bytes) of one certificate the user chose to trust despite its errors.
    QByteArray trustedFingerprint;
};

// What one command (or the greeting) may take, whatever the server sends.
struct CommandBounds
{
    // The whole command, answer included, must end within deadline plus a second for each
    // bytesPerSecond moved: a large answer arriving steadily is waited for, a trickle not.
    std::chrono::milliseconds deadline = std::chrono::minutes(2);
    qint64 bytesPerSecond = 16 * 1024;
    qint64 maxResponses = 100000; // untagged responses to one command
    qint64 maxBytes = 1ll << 30;  // bytes of one command's answer
};

class Connection
{
public:
    // cancelled: asked during every wait; true stops with imap::Cancelled. Without one,
    // an interruption requested of the calling thread (QThread::requestInterruption, as
    // a worker's Cancel does) stops.
    explicit Connection(ServerAddress address, TlsTrust trust = {},
                        std::function<bool()> cancelled = {});
    ~Connection(); // logs out politely when it can, never throws
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    // Connects, reads the greeting (PREAUTH, BYE), upgrades with STARTTLS when asked,
    // learns the capabilities, then authenticates: AUTHENTICATE PLAIN when advertised, else
    // LOGIN. timeout: the longest wait for the server at any one step.
    void open(const Credentials &credentials,
              std::chrono::milliseconds timeout = std::chrono::seconds(30));
    bool isOpen() const;
    // Case-insensitive: "UIDPLUS", "MOVE", "LITERAL+", "AUTH=PLAIN".
    bool hasCapability(QByteArrayView name) const;

    // Runs one command (the class adds the tag and CRLF). Untagged responses are handed to
    // onUntagged one by one as they arrive; returns the tagged OK. NO/BAD: CommandFailed;
    // BYE, a drop, a protocol error, a timeout or an answer beyond CommandBounds:
    // ConnectionError, and the connection is closed. timeout: the longest wait for the
    // server's next bytes.
    Response run(const Command &command,
                 const std::function<void(const Response &)> &onUntagged = {},
                 std::chrono::milliseconds timeout = std::chrono::seconds(60));

    // For commands from now on.
    void setCommandBounds(const CommandBounds &bounds) { m_bounds = bounds; }

    // The texts of [ALERT] responses received so far, which the server wants shown.
    QStringList takeAlerts();
    // From LIST "" "" (asked once); empty for a flat namespace.
    QByteArray hierarchySeparator();

private:
    void connectSocket(std::chrono::milliseconds timeout);
    void readGreeting(std::chrono::milliseconds timeout);
    void startTls(std::chrono::milliseconds timeout);
    void waitEncrypted(std::chrono::milliseconds timeout);
    void authenticate(const Credentials &credentials, std::chrono::milliseconds timeout);
    // LOGIN or AUTHENTICATE PLAIN, whichever the server offers; its tagged answer.
    Response logIn(const Credentials &credentials, std::chrono::milliseconds timeout);
    void refreshCapabilities(const Response &tagged, std::chrono::milliseconds timeout);
    [[noreturn]] void failCertificate();
    // continuationReply: sent (with CRLF) when the server asks to continue, as
    // AUTHENTICATE does without SASL-IR.
    Response runCommand(const Command &command,
                        const std::function<void(const Response &)> &onUntagged,
                        std::chrono::milliseconds timeout,
                        const QByteArray &continuationReply = QByteArray());
    void waitForContinuation(const Command &command, const QByteArray &tag,
                             const std::function<void(const Response &)> &onUntagged,
                             std::chrono::milliseconds timeout);
    void handleUntagged(const Response &response,
                        const std::function<void(const Response &)> &onUntagged);
    void closeSocket();
    void send(const QByteArray &bytes, std::chrono::milliseconds timeout);
    Response readResponse(std::chrono::milliseconds timeout);
    void noteResponse(const Response &response);
    void beginCommand(const QByteArray &verb);
    // Counts bytes sent or received for the command; too many fail.
    void countMoved(qint64 bytes, bool received);
    std::chrono::steady_clock::time_point commandDeadline() const;
    void checkCommandDeadline();
    QString commandName() const;
    [[noreturn]] void fail(const QString &what);
    void checkCancelled();
    QString where() const;

    ServerAddress m_address;
    TlsTrust m_trust;
    std::function<bool()> m_cancelled;
    CommandBounds m_bounds;
    // The command in flight: its verb (empty for the greeting), when it began, the bytes
    // it moved and the responses it brought.
    QByteArray m_commandVerb;
    std::chrono::steady_clock::time_point m_commandStart;
    qint64 m_commandMoved = 0;
    qint64 m_commandReceived = 0;
    qint64 m_commandResponses = 0;
    std::unique_ptr<QSslSocket> m_socket;
    std::unique_ptr<ResponseParser> m_parser;
    QSet<QByteArray> m_capabilities; // upper-case
    QStringList m_alerts;
    QByteArray m_separator;
    bool m_separatorKnown = false;
    bool m_authenticated = false;
    bool m_open = false;
    bool m_loggingOut = false;
    int m_nextTag = 1;
    // What the TLS handshake reported, for a CertificateError.
    QList<QSslError> m_sslErrors;
    QSslCertificate m_peerCertificate;
};

// Whether host names the loopback interface, where an unencrypted connection is allowed.
bool isLoopbackHost(const QString &host);

} // namespace imap
