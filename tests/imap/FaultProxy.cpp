#include "FaultProxy.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

bool writeAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t wrote = ::send(fd, data, size, MSG_NOSIGNAL);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            return false;
        data += wrote;
        size -= size_t(wrote);
    }
    return true;
}

// The size of a literal announced at the end of a line ("... {123}\r\n" or "{123+}\r\n"),
// or -1.
qint64 literalAtEnd(const QByteArray &line)
{
    QByteArray text = line;
    while (text.endsWith('\n') || text.endsWith('\r'))
        text.chop(1);
    if (!text.endsWith('}'))
        return -1;
    const qsizetype open = text.lastIndexOf('{');
    if (open < 0)
        return -1;
    QByteArray number = text.mid(open + 1, text.size() - open - 2);
    if (number.endsWith('+') || number.endsWith('-'))
        number.chop(1);
    bool ok = false;
    const qint64 size = number.toLongLong(&ok);
    return ok && size >= 0 ? size : -1;
}

// "UID STORE" for "A0007 UID STORE 5 +FLAGS...", "APPEND" for "A0003 APPEND INBOX ...".
QByteArray verbOf(const QByteArray &line, QByteArray *tag)
{
    const QList<QByteArray> words = line.trimmed().split(' ');
    *tag = words.value(0);
    QByteArray verb = words.value(1).toUpper();
    if (verb == "UID")
        verb += ' ' + words.value(2).toUpper();
    return verb;
}

// Bytes of a stream taken line by line, literals passed over whole.
struct LineReader
{
    QByteArray pending;
    qint64 literalLeft = 0;
    bool inCommand = false; // the next line continues a command after its literal
};

} // namespace

struct FaultProxy::Pair
{
    int client = -1;
    int server = -1;
    LineReader fromClient;
    LineReader fromServer;
    QByteArray awaitedTag; // drop once the server's answer with this tag is passed on
    QByteArray awaitedCommand;

    ~Pair()
    {
        for (const int fd : {client, server}) {
            if (fd >= 0) {
                ::shutdown(fd, SHUT_RDWR);
                ::close(fd);
            }
        }
    }
};

FaultProxy::FaultProxy(quint16 serverPort) : m_serverPort(serverPort) {}

FaultProxy::~FaultProxy()
{
    if (m_thread.joinable()) {
        const char stop = 's';
        [[maybe_unused]] const ssize_t wrote = ::write(m_wake[1], &stop, 1);
        m_thread.join();
    }
    m_pairs.clear();
    for (const int fd : {m_listener, m_wake[0], m_wake[1]}) {
        if (fd >= 0)
            ::close(fd);
    }
}

bool FaultProxy::start()
{
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listener < 0 || ::pipe2(m_wake, O_CLOEXEC) != 0)
        return false;
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(m_listener, reinterpret_cast<sockaddr *>(&address), length) != 0 ||
        ::listen(m_listener, 16) != 0 ||
        ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return false;
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { serve(); });
    return true;
}

void FaultProxy::dropAt(const QByteArray &verb, int nth, When when)
{
    std::lock_guard lock(m_mutex);
    m_dropVerb = verb.toUpper();
    m_dropCountdown = nth;
    m_dropWhen = when;
}

void FaultProxy::setOneBytePerWrite(bool on)
{
    std::lock_guard lock(m_mutex);
    m_oneByte = on;
}

void FaultProxy::onDrop(std::function<void(const QByteArray &command)> hook)
{
    std::lock_guard lock(m_mutex);
    m_dropHook = std::move(hook);
}

QByteArrayList FaultProxy::verbsSeen() const
{
    std::lock_guard lock(m_mutex);
    return m_verbs;
}

void FaultProxy::serve()
{
    while (true) {
        std::vector<pollfd> watched{{m_wake[0], POLLIN, 0}, {m_listener, POLLIN, 0}};
        for (const auto &pair : m_pairs) {
            watched.push_back({pair->client, POLLIN, 0});
            watched.push_back({pair->server, POLLIN, 0});
        }
        if (::poll(watched.data(), watched.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (watched[0].revents)
            return;
        // Only the pairs that were polled; one accepted now waits for the next round.
        const size_t polled = m_pairs.size();
        if (watched[1].revents & POLLIN)
            accept();
        // Back to front, so that a dropped pair leaves the indexes of the others.
        for (size_t i = polled; i-- > 0;) {
            const short clientEvents = watched[2 + 2 * i].revents;
            const short serverEvents = watched[3 + 2 * i].revents;
            Pair &pair = *m_pairs[i];
            bool keep = true;
            if (clientEvents)
                keep = fromClient(pair);
            if (keep && serverEvents)
                keep = fromServer(pair);
            if (!keep)
                m_pairs.erase(m_pairs.begin() + qsizetype(i));
        }
    }
}

void FaultProxy::accept()
{
    const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0)
        return;
    auto pair = std::make_unique<Pair>();
    pair->client = client;
    pair->server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(m_serverPort);
    if (pair->server < 0 ||
        ::connect(pair->server, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
        return; // the client sees the connection closed
    // Each byte written on its own reaches the client as a segment of its own.
    const int on = 1;
    ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ++m_connections;
    m_pairs.push_back(std::move(pair));
}

bool FaultProxy::fromClient(Pair &pair)
{
    char buffer[65536];
    const ssize_t got = ::read(pair.client, buffer, sizeof buffer);
    if (got <= 0)
        return false;
    LineReader &reader = pair.fromClient;
    reader.pending.append(buffer, got);
    while (!reader.pending.isEmpty()) {
        if (reader.literalLeft > 0) {
            const qsizetype take =
                qsizetype(std::min<qint64>(reader.literalLeft, reader.pending.size()));
            if (!writeAll(pair.server, reader.pending.constData(), size_t(take)))
                return false;
            reader.pending.remove(0, take);
            reader.literalLeft -= take;
            continue;
        }
        const qsizetype end = reader.pending.indexOf('\n');
        if (end < 0)
            break;
        const QByteArray line = reader.pending.left(end + 1);
        reader.pending.remove(0, end + 1);
        if (!clientLine(pair, line))
            return false;
    }
    return true;
}

bool FaultProxy::clientLine(Pair &pair, const QByteArray &line)
{
    LineReader &reader = pair.fromClient;
    if (!reader.inCommand) {
        QByteArray tag;
        const QByteArray verb = verbOf(line, &tag);
        std::lock_guard lock(m_mutex);
        m_verbs << verb;
        if (m_dropCountdown > 0 && verb == m_dropVerb && --m_dropCountdown == 0) {
            if (m_dropWhen == When::BeforeCommand) {
                if (m_dropHook)
                    m_dropHook(line);
                ++m_drops;
                return false;
            }
            pair.awaitedTag = tag;
            pair.awaitedCommand = line;
        }
    }
    if (!writeAll(pair.server, line.constData(), size_t(line.size())))
        return false;
    const qint64 literal = literalAtEnd(line);
    reader.inCommand = literal >= 0;
    reader.literalLeft = std::max<qint64>(literal, 0);
    return true;
}

bool FaultProxy::fromServer(Pair &pair)
{
    char buffer[65536];
    const ssize_t got = ::read(pair.server, buffer, sizeof buffer);
    if (got <= 0)
        return false;
    bool oneByte = false;
    {
        std::lock_guard lock(m_mutex);
        oneByte = m_oneByte;
    }
    const auto pass = [&](const char *data, size_t size) {
        if (!oneByte)
            return writeAll(pair.client, data, size);
        for (size_t i = 0; i < size; ++i) {
            if (!writeAll(pair.client, data + i, 1))
                return false;
        }
        return true;
    };
    LineReader &reader = pair.fromServer;
    reader.pending.append(buffer, got);
    while (!reader.pending.isEmpty()) {
        if (reader.literalLeft > 0) {
            const qsizetype take =
                qsizetype(std::min<qint64>(reader.literalLeft, reader.pending.size()));
            if (!pass(reader.pending.constData(), size_t(take)))
                return false;
            reader.pending.remove(0, take);
            reader.literalLeft -= take;
            continue;
        }
        const qsizetype end = reader.pending.indexOf('\n');
        if (end < 0)
            break;
        const QByteArray line = reader.pending.left(end + 1);
        reader.pending.remove(0, end + 1);
        if (!pass(line.constData(), size_t(line.size())))
            return false;
        const bool answer = !reader.inCommand && !pair.awaitedTag.isEmpty() &&
                            line.startsWith(pair.awaitedTag + ' ');
        const qint64 literal = literalAtEnd(line);
        reader.inCommand = literal >= 0;
        reader.literalLeft = std::max<qint64>(literal, 0);
        if (answer) {
            std::lock_guard lock(m_mutex);
            if (m_dropHook)
                m_dropHook(pair.awaitedCommand);
            ++m_drops;
            return false;
        }
    }
    return true;
}
