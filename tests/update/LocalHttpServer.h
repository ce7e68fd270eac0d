#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QPair>
#include <QString>
#include <QThread>

class QSslConfiguration;
class QTcpServer;

// What the server does with a request for one path.
struct ServedReply
{
    enum class Behaviour {
        Answer,      // the whole reply, then the connection closes
        Silent,      // reads the request and never answers
        DropMidBody, // announces the body's length, sends half of it and hangs up
        Slow,        // sends the body a chunk at a time
    };
    int status = 200;
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers; // added to the reply's
    bool announceLength = true;                   // a Content-Length header
    Behaviour behaviour = Behaviour::Answer;
    int chunkBytes = 1024; // Slow: bytes per chunk
    int chunkEveryMs = 50; // Slow: time between chunks
};

// A request as the server read it.
struct SeenRequest
{
    QByteArray method;
    QByteArray target; // as on the request line: a path, or a whole address through a proxy
    QByteArray version;
    QHash<QByteArray, QByteArray> headers; // names in lower case
    QByteArray body;
};

// An HTTP server on 127.0.0.1 and a free port, run on a thread of its own so that the
// test's thread may block (waiting for a process) while it answers. Requests for a
// path it was not told of get a 404 with a short page. With TLS certificates given it
// speaks https.
class LocalHttpServer
{
public:
    LocalHttpServer();
    // https with this key and certificate chain (PEM files).
    LocalHttpServer(const QString &keyFile, const QString &certificateFile);
    ~LocalHttpServer();
    LocalHttpServer(const LocalHttpServer &) = delete;
    LocalHttpServer &operator=(const LocalHttpServer &) = delete;

    quint16 port() const { return m_port; }
    // "http://127.0.0.1:PORT" and path (or https).
    QString url(const QString &path = QString()) const;

    // The reply for a path (the target's part before "?").
    void serve(const QString &path, const ServedReply &reply);
    QList<SeenRequest> requests() const;
    int connections() const;
    // Connections the client has closed, or that the server hung up.
    int closedConnections() const;
    // Bytes of reply bodies written so far, over every connection.
    qint64 bodyBytesSent() const;

private:
    friend class HttpResponder;
    void start(const QString &keyFile, const QString &certificateFile);

    QThread m_thread;
    QObject *m_responder = nullptr; // lives on m_thread
    quint16 m_port = 0;
    bool m_tls = false;
    mutable QMutex m_lock;
    QHash<QString, ServedReply> m_replies;
    QList<SeenRequest> m_requests;
    int m_connections = 0;
    int m_closed = 0;
    qint64 m_bodyBytesSent = 0;
};
