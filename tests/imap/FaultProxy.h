#pragma once

// A TCP proxy on 127.0.0.1 between an IMAP client and a server, on a thread of its own,
// that breaks the network where a test asks: it drops both connections when the client's
// Nth command of a given verb arrives (that command never reaches the server), or right
// after the server's tagged answer to it has been passed on. It can also pass the
// server's bytes on one byte per write, so that every answer reaches the client in pieces.
//
//     FaultProxy proxy(server.port());
//     QVERIFY(proxy.start());
//     proxy.dropAt("UID STORE", 2, FaultProxy::When::AfterReply);
//     ... point the client at proxy.port() ...
//     QCOMPARE(proxy.drops(), 1);
//
// The client's commands are followed across literals ({n} and {n+}), so bytes inside an
// APPEND are never taken for a command; commands are counted over every connection.

#include <QByteArray>
#include <QByteArrayList>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class FaultProxy
{
public:
    enum class When {
        BeforeCommand, // the command is not passed on
        AfterReply,    // the server's tagged answer to it is passed on first
    };

    explicit FaultProxy(quint16 serverPort);
    ~FaultProxy();
    FaultProxy(const FaultProxy &) = delete;
    FaultProxy &operator=(const FaultProxy &) = delete;

    // Listens on a free port of 127.0.0.1; false when it cannot.
    bool start();
    quint16 port() const { return m_port; }

    // verb: the command's name, upper case, as sent after the tag ("APPEND", "UID STORE").
    // nth counts from 1 and from the commands of that verb seen from now on. One drop per
    // call; a later call replaces an earlier one that has not happened yet.
    void dropAt(const QByteArray &verb, int nth, When when);
    void setOneBytePerWrite(bool on);
    // Called on the proxy's thread as it drops, before the client can tell, with the line
    // of the command it drops at ("A0009 APPEND \"INBOX\" (\\Seen) {2310+}\r\n").
    void onDrop(std::function<void(const QByteArray &command)> hook);

    int drops() const { return m_drops.load(); }
    int connections() const { return m_connections.load(); }
    // The verbs of the client's commands passed on or dropped so far, in order.
    QByteArrayList verbsSeen() const;

private:
    struct Pair;

    void serve();
    void accept();
    // Each returns false when the pair is to be dropped.
    bool fromClient(Pair &pair);
    bool fromServer(Pair &pair);
    bool clientLine(Pair &pair, const QByteArray &line);

    quint16 m_serverPort;
    quint16 m_port = 0;
    int m_listener = -1;
    int m_wake[2] = {-1, -1};
    std::thread m_thread;
    std::vector<std::unique_ptr<Pair>> m_pairs;

    mutable std::mutex m_mutex;
    QByteArray m_dropVerb;
    int m_dropCountdown = 0;
    When m_dropWhen = When::BeforeCommand;
    bool m_oneByte = false;
    std::function<void(const QByteArray &)> m_dropHook;
    QByteArrayList m_verbs;

    std::atomic<int> m_drops{0};
    std::atomic<int> m_connections{0};
};
