#include "imap/ScriptedImapServer.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSemaphore>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>

namespace {

// Hands out QSslSockets, so that a plain connection can turn to TLS.
class SslCapableServer : public QTcpServer
{
protected:
    void incomingConnection(qintptr handle) override
    {
        auto *socket = new QSslSocket(this);
        socket->setSocketDescriptor(handle);
        addPendingConnection(socket);
    }
};

constexpr int clientWaitMs = 10000;

// A line from the client without its CRLF; false when none came in time or it left.
bool readLine(QSslSocket &socket, QByteArray &line)
{
    QElapsedTimer waited;
    waited.start();
    while (!socket.canReadLine()) {
        if (socket.state() != QAbstractSocket::ConnectedState || waited.elapsed() > clientWaitMs)
            return false;
        socket.waitForReadyRead(50);
    }
    line = socket.readLine();
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    return true;
}

void writeAll(QSslSocket &socket, const QByteArray &bytes)
{
    socket.write(bytes);
    while (socket.bytesToWrite() > 0 && socket.waitForBytesWritten(1000)) {
    }
}

bool encrypt(QSslSocket &socket)
{
    QFile key(ScriptedImapServer::tlsFile("server.key"));
    key.open(QIODevice::ReadOnly);
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setPrivateKey(QSslKey(&key, QSsl::Rsa));
    tls.setLocalCertificateChain(
        QSslCertificate::fromPath(ScriptedImapServer::tlsFile("server.pem")));
    tls.setPeerVerifyMode(QSslSocket::VerifyNone);
    socket.setSslConfiguration(tls);
    socket.startServerEncryption();
    return socket.waitForEncrypted(clientWaitMs);
}

} // namespace

QString ScriptedImapServer::tlsFile(const char *name)
{
    return QStringLiteral(QB_TEST_TLS "/") + QLatin1String(name);
}

ScriptedImapServer::ScriptedImapServer(Tls tls) : m_tls(tls) {}

ScriptedImapServer::~ScriptedImapServer()
{
    if (m_thread)
        finish();
}

ScriptedImapServer &ScriptedImapServer::send(const QByteArray &bytes)
{
    m_steps.push_back({Step::Kind::Send, bytes});
    return *this;
}

ScriptedImapServer &ScriptedImapServer::sendBytewise(const QByteArray &bytes)
{
    m_steps.push_back({Step::Kind::SendBytewise, bytes});
    return *this;
}

ScriptedImapServer &ScriptedImapServer::expect(const QByteArray &line)
{
    m_steps.push_back({Step::Kind::Expect, line});
    return *this;
}

ScriptedImapServer &ScriptedImapServer::expectSilence(int milliseconds)
{
    m_steps.push_back({Step::Kind::Silence, {}, milliseconds});
    return *this;
}

ScriptedImapServer &ScriptedImapServer::pause(int milliseconds)
{
    m_steps.push_back({Step::Kind::Pause, {}, milliseconds});
    return *this;
}

ScriptedImapServer &ScriptedImapServer::startTls()
{
    m_steps.push_back({Step::Kind::StartTls, {}});
    return *this;
}

ScriptedImapServer &ScriptedImapServer::drop()
{
    m_steps.push_back({Step::Kind::Drop, {}});
    return *this;
}

void ScriptedImapServer::addError(const QString &error)
{
    QMutexLocker lock(&m_lock);
    m_errors << error;
}

void ScriptedImapServer::start()
{
    auto listening = std::make_shared<QSemaphore>();
    m_thread.reset(QThread::create([this, listening] {
        SslCapableServer server;
        if (!server.listen(QHostAddress::LocalHost, 0))
            addError(QStringLiteral("cannot listen: %1").arg(server.errorString()));
        m_port = server.serverPort();
        listening->release();
        if (!server.waitForNewConnection(clientWaitMs)) {
            addError(QStringLiteral("no client came"));
            return;
        }
        run(*static_cast<QSslSocket *>(server.nextPendingConnection()));
    }));
    m_thread->start();
    listening->acquire();
}

QStringList ScriptedImapServer::finish()
{
    if (m_thread) {
        if (!m_thread->wait(30000))
            addError(QStringLiteral("the script did not end"));
        m_thread.reset();
    }
    QMutexLocker lock(&m_lock);
    return m_errors;
}

void ScriptedImapServer::run(QSslSocket &socket)
{
    if (m_tls == Tls::Implicit && !encrypt(socket)) {
        addError(QStringLiteral("TLS handshake failed: %1").arg(socket.errorString()));
        return;
    }
    for (const Step &step : m_steps) {
        switch (step.kind) {
        case Step::Kind::Send:
            writeAll(socket, step.bytes);
            break;
        case Step::Kind::SendBytewise:
            for (const char c : step.bytes) {
                writeAll(socket, QByteArray(1, c));
                QThread::usleep(300);
            }
            break;
        case Step::Kind::Expect: {
            QByteArray line;
            if (!readLine(socket, line)) {
                addError(QStringLiteral("expected \"%1\", the client sent nothing")
                             .arg(QString::fromUtf8(step.bytes)));
                socket.abort();
                return;
            }
            if (line != step.bytes) {
                addError(QStringLiteral("expected \"%1\", got \"%2\"")
                             .arg(QString::fromUtf8(step.bytes), QString::fromUtf8(line)));
                socket.abort();
                return;
            }
            break;
        }
        case Step::Kind::Silence:
            socket.waitForReadyRead(step.milliseconds);
            if (socket.bytesAvailable() > 0) {
                addError(QStringLiteral("the client did not wait: \"%1\"")
                             .arg(QString::fromUtf8(socket.readAll())));
                socket.abort();
                return;
            }
            break;
        case Step::Kind::Pause:
            QThread::msleep(step.milliseconds);
            break;
        case Step::Kind::StartTls:
            if (!encrypt(socket)) {
                addError(QStringLiteral("STARTTLS handshake failed: %1").arg(socket.errorString()));
                return;
            }
            break;
        case Step::Kind::Drop:
            socket.abort();
            return;
        }
        ++m_stepsDone;
    }
    QByteArray line;
    while (readLine(socket, line)) {
        const QByteArray tag = line.left(line.indexOf(' '));
        if (line.mid(tag.size()) == " LOGOUT") {
            writeAll(socket, "* BYE logging out\r\n" + tag + " OK LOGOUT completed\r\n");
            socket.disconnectFromHost();
            return;
        }
        addError(QStringLiteral("unexpected line \"%1\"").arg(QString::fromUtf8(line)));
    }
}
