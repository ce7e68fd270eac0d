// The HTTP fetch against a server of the test's own on 127.0.0.1: whole replies, failures
// of every kind with their messages, the limits, stopping, one fetch at a time, and the
// address taken apart.
#include "LocalHttpServer.h"
#include "update/HttpFetch.h"
#include "update/Url.h"

#include <QElapsedTimer>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

using update::HttpFetch;

namespace {

// Bytes that never repeat in a short span, so a lost or doubled chunk shows.
QByteArray patterned(qsizetype size)
{
    QByteArray bytes;
    bytes.reserve(size);
    for (qsizetype i = 0; i < size; ++i)
        bytes.append(char('a' + (i * 7 + i / 26) % 26));
    return bytes;
}

struct Ended
{
    bool done = false;
    QString text;
    QByteArray data;
    QString error;
};

// Runs one fetch to its end (or a minute); what it delivered.
Ended fetchFrom(HttpFetch &fetch, const QString &url)
{
    Ended ended;
    QObject context;
    QObject::connect(&fetch, &HttpFetch::doneString, &context, [&](const QString &text) {
        ended.done = true;
        ended.text = text;
    });
    QObject::connect(&fetch, &HttpFetch::doneData, &context, [&](const QByteArray &data) {
        ended.done = true;
        ended.data = data;
    });
    QObject::connect(&fetch, &HttpFetch::error, &context,
                     [&](const QString &message) { ended.error = message; });
    QSignalSpy finished(&fetch, &HttpFetch::finished);
    fetch.URL = url;
    if (!fetch.fetchText())
        return ended;
    finished.wait(60000);
    return ended;
}

ServedReply reply(const QByteArray &body, int status = 200)
{
    ServedReply served;
    served.status = status;
    served.body = body;
    return served;
}

ServedReply redirect(const QByteArray &to)
{
    ServedReply served;
    served.status = 302;
    served.body = "moved";
    served.headers = {{"Location", to}};
    return served;
}

// Sets an environment variable for the rest of the scope.
auto environment(const char *name, const QByteArray &value)
{
    const QByteArray old = qgetenv(name);
    const bool had = qEnvironmentVariableIsSet(name);
    qputenv(name, value);
    return qScopeGuard([=] {
        if (had)
            qputenv(name, old);
        else
            qunsetenv(name);
    });
}

QString tlsFile(const char *name)
{
    return QStringLiteral(QB_TEST_TLS "/") + QLatin1String(name);
}

} // namespace

class TestHttpFetch : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void splitsAddresses_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("scheme");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("path");
        QTest::newRow("any letter case") << "HTTP://example/versions.txt?a=1"
                                         << "http"
                                         << "example"
                                         << "/versions.txt?a=1";
        QTest::newRow("no scheme") << "host/path"
                                   << "http"
                                   << "host"
                                   << "/path";
        QTest::newRow("https") << "https://h.example/p"
                               << "https"
                               << "h.example"
                               << "/p";
        QTest::newRow("port") << "http://127.0.0.1:8080/v"
                              << "http"
                              << "127.0.0.1:8080"
                              << "/v";
        QTest::newRow("bare host") << "http://example"
                                   << "http"
                                   << ""
                                   << "example";
        QTest::newRow("nothing after scheme") << "http://"
                                              << "http"
                                              << ""
                                              << "";
        QTest::newRow("empty host") << "http:///versions.txt"
                                    << "http"
                                    << ""
                                    << "/versions.txt";
        QTest::newRow("scheme inside the query") << "host/go?to=http://other/x"
                                                 << "http"
                                                 << "host"
                                                 << "/go?to=http://other/x";
        QTest::newRow("scheme later in a bare address") << "a?b=http://c/d"
                                                        << "http"
                                                        << "a?b=http:"
                                                        << "//c/d";
        QTest::newRow("other scheme") << "ftp://files/x"
                                      << "ftp"
                                      << ""
                                      << "files/x";
        QTest::newRow("file") << "FILE:///etc/passwd"
                              << "file"
                              << ""
                              << "/etc/passwd";
        QTest::newRow("empty") << ""
                               << "http"
                               << ""
                               << "";
    }
    void splitsAddresses()
    {
        QFETCH(QString, url);
        QFETCH(QString, scheme);
        QFETCH(QString, host);
        QFETCH(QString, path);
        const update::UrlParts parts = update::splitUrl(url);
        QCOMPARE(parts.scheme, scheme);
        QCOMPARE(parts.host, host);
        QCOMPARE(parts.path, path);
    }

    void deliversTheWholeReplyWithProgress()
    {
        LocalHttpServer server;
        const QByteArray body = patterned(300000);
        server.serve(QStringLiteral("/versions.txt"), reply(body));
        HttpFetch fetch;
        QList<QPair<qint64, qint64>> progress;
        connect(&fetch, &HttpFetch::progress, this, [&](qint64 total, qint64 received) {
            progress.append({total, received});
        });
        const Ended ended = fetchFrom(fetch, server.url(QStringLiteral("/versions.txt?x=1")));
        QVERIFY2(ended.done, qPrintable(ended.error));
        QCOMPARE(ended.text.toLatin1(), body);
        QVERIFY(fetch.succeeded());
        QCOMPARE(fetch.httpStatus(), 200);
        QVERIFY(!progress.isEmpty());
        QCOMPARE(progress.last(), qMakePair(qint64(body.size()), qint64(body.size())));
        for (qsizetype i = 1; i < progress.size(); ++i)
            QVERIFY(progress[i].second > progress[i - 1].second);

        const SeenRequest request = server.requests().value(0);
        QCOMPARE(request.method, "GET");
        QCOMPARE(request.target, "/versions.txt?x=1");
        QCOMPARE(request.version, "HTTP/1.0");
        QCOMPARE(request.headers.value("user-agent"), "Orvandel HTTPGet");
        QCOMPARE(request.headers.value("pragma"), "no-cache");
        QVERIFY(!request.headers.contains("referer"));
        QVERIFY(!request.headers.contains("authorization"));
    }

    void sendsAgentRefererCredentialsAndPost()
    {
        LocalHttpServer server;
        server.serve(QStringLiteral("/form"), reply("thanks"));
        HttpFetch fetch;
        fetch.Agent = QStringLiteral("Quillbrook");
        fetch.Referer = QStringLiteral("http://referring.example/page");
        fetch.UserName = QStringLiteral("user");
        fetch.Password = QStringLiteral("pa:ss");
        fetch.PostQuery = QStringLiteral("a=1&b=two");
        const Ended ended = fetchFrom(fetch, server.url(QStringLiteral("/form")));
        QVERIFY2(ended.done, qPrintable(ended.error));
        QCOMPARE(ended.text, QStringLiteral("thanks"));
        const SeenRequest request = server.requests().value(0);
        QCOMPARE(request.method, "POST");
        QCOMPARE(request.body, "a=1&b=two");
        QCOMPARE(request.headers.value("user-agent"), "Quillbrook");
        QCOMPARE(request.headers.value("referer"), "http://referring.example/page");
        QCOMPARE(request.headers.value("authorization"),
                 "Basic " + QByteArray("user:pa:ss").toBase64());

        // An empty Agent sends no User-Agent at all.
        fetch.Agent.clear();
        fetch.PostQuery.clear();
        QVERIFY(fetchFrom(fetch, server.url(QStringLiteral("/form"))).done);
        QCOMPARE(server.requests().value(1).method, "GET");
        QVERIFY(!server.requests().value(1).headers.contains("user-agent"));
    }

    // An error page is a reply like any other; an empty reply is a failure.
    void errorPagesAreRepliesButEmptyRepliesFail()
    {
        LocalHttpServer server;
        server.serve(QStringLiteral("/empty"), reply(""));
        server.serve(QStringLiteral("/empty404"), reply("", 404));
        HttpFetch fetch;
        Ended ended = fetchFrom(fetch, server.url(QStringLiteral("/missing")));
        QVERIFY(ended.done);
        QVERIFY(ended.text.contains(QStringLiteral("Not here")));
        QCOMPARE(fetch.httpStatus(), 404);

        for (const char *path : {"/empty", "/empty404"}) {
            ended = fetchFrom(fetch, server.url(QLatin1String(path)));
            QVERIFY(!ended.done);
            QVERIFY(!fetch.succeeded());
            QVERIFY2(ended.error.contains(QStringLiteral("empty")), qPrintable(ended.error));
        }
    }

    void refusesRepliesPastTheLimit()
    {
        LocalHttpServer server;
        ServedReply big = reply(patterned(2 << 20));
        server.serve(QStringLiteral("/announced"), big);
        big.announceLength = false;
        server.serve(QStringLiteral("/streamed"), big);
        server.serve(QStringLiteral("/exact"), reply(patterned(1 << 20)));
        HttpFetch fetch;
        for (const char *path : {"/announced", "/streamed"}) {
            const Ended ended = fetchFrom(fetch, server.url(QLatin1String(path)));
            QVERIFY(!ended.done);
            QVERIFY2(ended.error.contains(QStringLiteral("larger than 1 MiB")),
                     qPrintable(ended.error));
        }
        // A reply of exactly the limit is read whole.
        const Ended ended = fetchFrom(fetch, server.url(QStringLiteral("/exact")));
        QVERIFY2(ended.done, qPrintable(ended.error));
        QCOMPARE(ended.text.size(), 1 << 20);
    }

    void failsWhenTheConnectionDropsMidBody()
    {
        LocalHttpServer server;
        ServedReply dropped = reply(patterned(100000));
        dropped.behaviour = ServedReply::Behaviour::DropMidBody;
        server.serve(QStringLiteral("/versions.txt"), dropped);
        HttpFetch fetch;
        const Ended ended = fetchFrom(fetch, server.url(QStringLiteral("/versions.txt")));
        QVERIFY(!ended.done);
        QVERIFY(!fetch.succeeded());
        QVERIFY2(ended.error.startsWith(QStringLiteral("Cannot fetch http://127.0.0.1:")),
                 qPrintable(ended.error));
    }

    void givesUpOnASilentServer()
    {
        LocalHttpServer server;
        ServedReply silent;
        silent.behaviour = ServedReply::Behaviour::Silent;
        server.serve(QStringLiteral("/versions.txt"), silent);
        HttpFetch fetch;
        fetch.Limits.totalTimeoutMs = 400;
        QElapsedTimer timer;
        timer.start();
        const Ended ended = fetchFrom(fetch, server.url(QStringLiteral("/versions.txt")));
        QVERIFY(!ended.done);
        QVERIFY2(ended.error.contains(QStringLiteral("timed out")), qPrintable(ended.error));
        QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(server.requests().size(), 1);
    }

    void failsWithoutAServer()
    {
        quint16 closedPort = 0;
        {
            LocalHttpServer gone;
            closedPort = gone.port();
        }
        HttpFetch fetch;
        const Ended ended =
            fetchFrom(fetch, QStringLiteral("http://127.0.0.1:%1/versions.txt").arg(closedPort));
        QVERIFY(!ended.done);
        QVERIFY2(ended.error.contains(QStringLiteral("Cannot fetch")), qPrintable(ended.error));
    }

    void refusesAddressesItCannotFetch_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("why");
        QTest::newRow("bare host") << "http://127.0.0.1"
                                   << "no host name followed by a path";
        QTest::newRow("ftp") << "ftp://127.0.0.1/versions.txt"
                             << "only http and https";
        QTest::newRow("file") << "file:///etc/passwd"
                              << "only http and https";
    }
    void refusesAddressesItCannotFetch()
    {
        QFETCH(QString, url);
        QFETCH(QString, why);
        HttpFetch fetch;
        const Ended ended = fetchFrom(fetch, url);
        QVERIFY(!ended.done);
        QVERIFY2(ended.error.contains(why), qPrintable(ended.error));
    }

    void followsAtMostFiveRedirects()
    {
        LocalHttpServer server;
        for (int i = 1; i <= 6; ++i)
            server.serve(QStringLiteral("/r%1").arg(i),
                         redirect(server.url(QStringLiteral("/r%1").arg(i + 1)).toLatin1()));
        server.serve(QStringLiteral("/r7"), reply("arrived"));
        HttpFetch fetch;
        Ended ended = fetchFrom(fetch, server.url(QStringLiteral("/r2")));
        QVERIFY2(ended.done, qPrintable(ended.error));
        QCOMPARE(ended.text, QStringLiteral("arrived"));

        ended = fetchFrom(fetch, server.url(QStringLiteral("/r1")));
        QVERIFY(!ended.done);
        QVERIFY2(ended.error.contains(QStringLiteral("redirects more than 5 times")),
                 qPrintable(ended.error));
    }

    void neverFollowsARedirectOutOfHttpAndHttps()
    {
        LocalHttpServer server;
        server.serve(QStringLiteral("/to-file"), redirect("file:///etc/passwd"));
        HttpFetch fetch;
        const Ended ended = fetchFrom(fetch, server.url(QStringLiteral("/to-file")));
        QVERIFY(!ended.done);
        QVERIFY2(ended.error.contains(QStringLiteral("only http and https addresses are followed")),
                 qPrintable(ended.error));
    }

    void verifiesCertificatesAndStaysOnHttps()
    {
        LocalHttpServer plain;
        plain.serve(QStringLiteral("/versions.txt"), reply("plain text"));
        LocalHttpServer secure(tlsFile("server.key"), tlsFile("server.pem"));
        secure.serve(QStringLiteral("/versions.txt"), reply("secure text"));
        secure.serve(QStringLiteral("/to-http"),
                     redirect(plain.url(QStringLiteral("/versions.txt")).toLatin1()));
        secure.serve(QStringLiteral("/to-https"),
                     redirect(secure.url(QStringLiteral("/versions.txt")).toLatin1()));

        // The test's authority is not one the system trusts.
        HttpFetch fetch;
        Ended ended = fetchFrom(fetch, secure.url(QStringLiteral("/versions.txt")));
        QVERIFY(!ended.done);
        QVERIFY2(ended.error.contains(QStringLiteral("certificate")), qPrintable(ended.error));

        fetch.CaCertificates = tlsFile("ca.pem");
        ended = fetchFrom(fetch, secure.url(QStringLiteral("/versions.txt")));
        QVERIFY2(ended.done, qPrintable(ended.error));
        QCOMPARE(ended.text, QStringLiteral("secure text"));
        ended = fetchFrom(fetch, secure.url(QStringLiteral("/to-https")));
        QVERIFY2(ended.done, qPrintable(ended.error));

        ended = fetchFrom(fetch, secure.url(QStringLiteral("/to-http")));
        QVERIFY(!ended.done);
        QVERIFY2(ended.error.contains(QStringLiteral("redirects only to https")),
                 qPrintable(ended.error));
        QVERIFY(plain.requests().isEmpty());
    }

    void goesThroughTheProxyTheEnvironmentNames()
    {
        LocalHttpServer proxy;
        proxy.serve(QStringLiteral("/versions.txt"), reply("from the proxy"));
        const auto httpProxy = environment("http_proxy", proxy.url().toLatin1());
        const auto noProxy = environment("no_proxy", "");
        HttpFetch fetch;
        Ended ended = fetchFrom(fetch, QStringLiteral("http://quillbrook.invalid/versions.txt"));
        QVERIFY2(ended.done, qPrintable(ended.error));
        QCOMPARE(ended.text, QStringLiteral("from the proxy"));
        QCOMPARE(proxy.requests().value(0).target, "http://quillbrook.invalid/versions.txt");

        // A host that no_proxy names is reached directly.
        LocalHttpServer direct;
        direct.serve(QStringLiteral("/versions.txt"), reply("direct"));
        const auto bypass = environment("no_proxy", "127.0.0.1");
        ended = fetchFrom(fetch, direct.url(QStringLiteral("/versions.txt")));
        QVERIFY2(ended.done, qPrintable(ended.error));
        QCOMPARE(ended.text, QStringLiteral("direct"));
        QCOMPARE(proxy.requests().size(), 1);
    }

    void binaryRepliesMustGiveTheirLength()
    {
        LocalHttpServer server;
        QByteArray bytes = patterned(5000);
        bytes[10] = '\0';
        bytes[11] = char(0xff);
        ServedReply withLength = reply(bytes);
        server.serve(QStringLiteral("/with"), withLength);
        withLength.announceLength = false;
        server.serve(QStringLiteral("/without"), withLength);
        HttpFetch fetch;
        fetch.BinaryData = true;
        Ended ended = fetchFrom(fetch, server.url(QStringLiteral("/with")));
        QVERIFY2(ended.done, qPrintable(ended.error));
        QCOMPARE(ended.data, bytes);
        ended = fetchFrom(fetch, server.url(QStringLiteral("/without")));
        QVERIFY(!ended.done);
        QVERIFY2(ended.error.contains(QStringLiteral("does not give its length")),
                 qPrintable(ended.error));
    }

    void abortStopsTheTransfer()
    {
        LocalHttpServer server;
        ServedReply slow = reply(patterned(400000));
        slow.behaviour = ServedReply::Behaviour::Slow;
        slow.chunkBytes = 2000;
        slow.chunkEveryMs = 20;
        server.serve(QStringLiteral("/slow"), slow);
        HttpFetch fetch;
        QSignalSpy progress(&fetch, &HttpFetch::progress);
        QSignalSpy done(&fetch, &HttpFetch::doneString);
        QSignalSpy error(&fetch, &HttpFetch::error);
        QSignalSpy finished(&fetch, &HttpFetch::finished);
        fetch.URL = server.url(QStringLiteral("/slow"));
        QVERIFY(fetch.fetchText());
        QVERIFY(progress.wait(10000));
        QElapsedTimer timer;
        timer.start();
        fetch.abortFetch();
        QVERIFY(finished.wait(5000));
        QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(done.size(), 0);
        QCOMPARE(error.size(), 1);
        QCOMPARE(error.first().first().toString(), QStringLiteral("The transfer was stopped"));
        QVERIFY(!fetch.fetching());
        // The server saw the client go long before the body was all sent.
        QTRY_COMPARE_WITH_TIMEOUT(server.closedConnections(), 1, 5000);
        QVERIFY(server.bodyBytesSent() < 200000);
    }

    // Nothing arrives to end the wait for a reply: the stop still ends it at once.
    void abortStopsTheWaitForASilentServer()
    {
        LocalHttpServer server;
        ServedReply silent;
        silent.behaviour = ServedReply::Behaviour::Silent;
        server.serve(QStringLiteral("/versions.txt"), silent);
        HttpFetch fetch;
        QSignalSpy error(&fetch, &HttpFetch::error);
        QSignalSpy finished(&fetch, &HttpFetch::finished);
        fetch.URL = server.url(QStringLiteral("/versions.txt"));
        QVERIFY(fetch.fetchText());
        QTRY_COMPARE_WITH_TIMEOUT(server.requests().size(), 1, 5000);
        QElapsedTimer timer;
        timer.start();
        fetch.abortFetch();
        QVERIFY(finished.wait(10000));
        QVERIFY2(timer.elapsed() < 2500, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(error.first().first().toString(), QStringLiteral("The transfer was stopped"));
    }

    void startsOneFetchAtATime()
    {
        LocalHttpServer server;
        ServedReply slow = reply(patterned(20000));
        slow.behaviour = ServedReply::Behaviour::Slow;
        slow.chunkBytes = 5000;
        server.serve(QStringLiteral("/slow"), slow);
        server.serve(QStringLiteral("/other"), reply("other"));
        HttpFetch fetch;
        QSignalSpy done(&fetch, &HttpFetch::doneString);
        QSignalSpy finished(&fetch, &HttpFetch::finished);
        fetch.URL = server.url(QStringLiteral("/slow"));
        QVERIFY(fetch.fetchText());
        fetch.URL = server.url(QStringLiteral("/other"));
        QVERIFY(!fetch.fetchText());
        QVERIFY(fetch.fetching());
        QVERIFY(finished.wait(10000));
        QCOMPARE(done.size(), 1);
        QCOMPARE(done.first().first().toString().size(), 20000);
        QTest::qWait(100);
        QCOMPARE(server.requests().size(), 1);
        QCOMPARE(finished.size(), 1);

        // Once it has ended, the next fetch starts.
        QVERIFY(fetch.fetchText());
        QVERIFY(finished.wait(10000));
        QCOMPARE(done.last().first().toString(), QStringLiteral("other"));
    }

    void freedWhileFetchingReportsToNoOne()
    {
        LocalHttpServer server;
        ServedReply slow = reply(patterned(400000));
        slow.behaviour = ServedReply::Behaviour::Slow;
        slow.chunkBytes = 2000;
        slow.chunkEveryMs = 20;
        server.serve(QStringLiteral("/slow"), slow);
        int events = 0;
        QObject witness;
        {
            auto *fetch = new HttpFetch;
            connect(fetch, &HttpFetch::finished, &witness, [&] { ++events; });
            connect(fetch, &HttpFetch::error, &witness, [&] { ++events; });
            connect(fetch, &HttpFetch::doneString, &witness, [&] { ++events; });
            QSignalSpy progress(fetch, &HttpFetch::progress);
            fetch->URL = server.url(QStringLiteral("/slow"));
            QVERIFY(fetch->fetchText());
            QVERIFY(progress.wait(10000));
            QElapsedTimer timer;
            timer.start();
            delete fetch;
            QVERIFY2(timer.elapsed() < 3000, qPrintable(QString::number(timer.elapsed())));
        }
        QTRY_COMPARE_WITH_TIMEOUT(server.closedConnections(), 1, 5000);
        QTest::qWait(200);
        QCOMPARE(events, 0);
    }

    void waitThreadReturnsWithTheOutcome()
    {
        LocalHttpServer server;
        server.serve(QStringLiteral("/versions.txt"), reply("waited"));
        HttpFetch fetch;
        fetch.WaitThread = true;
        QString text;
        connect(&fetch, &HttpFetch::doneString, this, [&](const QString &t) { text = t; });
        fetch.URL = server.url(QStringLiteral("/versions.txt"));
        QVERIFY(fetch.fetchText());
        QCOMPARE(text, QStringLiteral("waited"));
        QVERIFY(!fetch.fetching());
    }
};

QTEST_GUILESS_MAIN(TestHttpFetch)
#include "test_http_fetch.moc"
