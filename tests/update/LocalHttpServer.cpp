#include "LocalHttpServer.h"

#include <QFile>
#include <QMetaObject>
#include <QPointer>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

// Serves the connections of one LocalHttpServer, on its thread.
class HttpResponder : public QObject
{
public:
    explicit HttpResponder(LocalHttpServer &owner) : m_owner(owner) {}
    // The server and its sockets go first, while the handlers they call still have a
    // whole responder: a socket closed as it goes reports its end to it.
    ~HttpResponder() override { delete m_server; }

    quint16 listen(const QString &keyFile, const QString &certificateFile)
    {
        if (keyFile.isEmpty()) {
            m_server = new QTcpServer(this);
        } else {
            auto *server = new QSslServer(this);
            QFile key(keyFile);
            key.open(QIODevice::ReadOnly);
            QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
            tls.setPrivateKey(QSslKey(&key, QSsl::Rsa));
            const auto chain = QSslCertificate::fromPath(certificateFile);
            tls.setLocalCertificateChain(chain);
            tls.setPeerVerifyMode(QSslSocket::VerifyNone);
            server->setSslConfiguration(tls);
            // A client that refuses the certificate ends the handshake; nothing to do.
            connect(server, &QSslServer::errorOccurred, this,
                    [](QSslSocket *socket, QAbstractSocket::SocketError) { socket->abort(); });
            m_server = server;
        }
        connect(m_server, &QTcpServer::pendingConnectionAvailable, this, &HttpResponder::accept);
        m_server->listen(QHostAddress::LocalHost, 0);
        return m_server->serverPort();
    }

private:
    void accept()
    {
        while (QTcpSocket *socket = m_server->nextPendingConnection()) {
            {
                QMutexLocker lock(&m_owner.m_lock);
                ++m_owner.m_connections;
            }
            auto buffer = std::make_shared<QByteArray>();
            connect(socket, &QTcpSocket::readyRead, socket,
                    [this, socket, buffer] { readFrom(socket, *buffer); });
            connect(socket, &QTcpSocket::disconnected, socket, [this, socket] {
                {
                    QMutexLocker lock(&m_owner.m_lock);
                    ++m_owner.m_closed;
                }
                socket->deleteLater();
            });
        }
    }

    void readFrom(QTcpSocket *socket, QByteArray &buffer)
    {
        buffer += socket->readAll();
        const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
        if (headerEnd < 0 || socket->property("answered").toBool())
            return;
        SeenRequest request;
        const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
        const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
        request.method = requestLine.value(0);
        request.target = requestLine.value(1);
        request.version = requestLine.value(2);
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines[i].indexOf(':');
            if (colon > 0)
                request.headers.insert(lines[i].left(colon).trimmed().toLower(),
                                       lines[i].mid(colon + 1).trimmed());
        }
        const qsizetype length = request.headers.value("content-length").toLongLong();
        if (buffer.size() < headerEnd + 4 + length)
            return;
        request.body = buffer.mid(headerEnd + 4, length);
        socket->setProperty("answered", true);

        QByteArray path = request.target;
        if (path.startsWith("http://")) // through a proxy: the whole address
            path = path.mid(path.indexOf('/', 7));
        path = path.left(path.indexOf('?') < 0 ? path.size() : path.indexOf('?'));
        ServedReply reply;
        {
            QMutexLocker lock(&m_owner.m_lock);
            m_owner.m_requests.append(request);
            const auto found = m_owner.m_replies.constFind(QString::fromLatin1(path));
            if (found != m_owner.m_replies.constEnd()) {
                reply = *found;
            } else {
                reply.status = 404;
                reply.body = "<html><body>Not here</body></html>";
            }
        }
        answer(socket, reply);
    }

    void answer(QTcpSocket *socket, const ServedReply &reply)
    {
        using Behaviour = ServedReply::Behaviour;
        if (reply.behaviour == Behaviour::Silent)
            return;
        QByteArray head = "HTTP/1.0 " + QByteArray::number(reply.status) + " Status\r\n";
        if (reply.announceLength || reply.behaviour == Behaviour::DropMidBody)
            head += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
        for (const auto &[name, value] : reply.headers)
            head += name + ": " + value + "\r\n";
        head += "Connection: close\r\n\r\n";
        socket->write(head);
        if (reply.behaviour == Behaviour::Slow) {
            sendSlowly(socket, reply);
            return;
        }
        const QByteArray body = reply.behaviour == Behaviour::DropMidBody
                                    ? reply.body.left(reply.body.size() / 2)
                                    : reply.body;
        socket->write(body);
        counted(body.size());
        socket->disconnectFromHost();
    }

    void sendSlowly(QTcpSocket *socket, const ServedReply &reply)
    {
        auto *timer = new QTimer(socket);
        auto sent = std::make_shared<qsizetype>(0);
        connect(timer, &QTimer::timeout, socket, [this, socket, timer, sent, reply] {
            if (socket->state() != QAbstractSocket::ConnectedState) {
                timer->stop();
                return;
            }
            const QByteArray chunk = reply.body.mid(*sent, reply.chunkBytes);
            socket->write(chunk);
            counted(chunk.size());
            *sent += chunk.size();
            if (*sent >= reply.body.size()) {
                timer->stop();
                socket->disconnectFromHost();
            }
        });
        timer->start(reply.chunkEveryMs);
    }

    void counted(qint64 bytes)
    {
        QMutexLocker lock(&m_owner.m_lock);
        m_owner.m_bodyBytesSent += bytes;
    }

    LocalHttpServer &m_owner;
    QTcpServer *m_server = nullptr;
};

LocalHttpServer::LocalHttpServer()
{
    start(QString(), QString());
}

LocalHttpServer::LocalHttpServer(const QString &keyFile, const QString &certificateFile)
    : m_tls(true)
{
    start(keyFile, certificateFile);
}

void LocalHttpServer::start(const QString &keyFile, const QString &certificateFile)
{
    auto *responder = new HttpResponder(*this);
    responder->moveToThread(&m_thread);
    m_responder = responder;
    m_thread.start();
    QMetaObject::invokeMethod(
        responder, [&] { m_port = responder->listen(keyFile, certificateFile); },
        Qt::BlockingQueuedConnection);
}

LocalHttpServer::~LocalHttpServer()
{
    QMetaObject::invokeMethod(
        m_responder, [this] { delete m_responder; }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}

QString LocalHttpServer::url(const QString &path) const
{
    return QStringLiteral("%1://127.0.0.1:%2%3")
        .arg(m_tls ? QStringLiteral("https") : QStringLiteral("http"))
        .arg(m_port)
        .arg(path);
}

void LocalHttpServer::serve(const QString &path, const ServedReply &reply)
{
    QMutexLocker lock(&m_lock);
    m_replies.insert(path, reply);
}

QList<SeenRequest> LocalHttpServer::requests() const
{
    QMutexLocker lock(&m_lock);
    return m_requests;
}

int LocalHttpServer::connections() const
{
    QMutexLocker lock(&m_lock);
    return m_connections;
}

int LocalHttpServer::closedConnections() const
{
    QMutexLocker lock(&m_lock);
    return m_closed;
}

qint64 LocalHttpServer::bodyBytesSent() const
{
    QMutexLocker lock(&m_lock);
    return m_bodyBytesSent;
}
