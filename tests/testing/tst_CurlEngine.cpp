#include "service/ReferenceService.h"
#include "support/RealProxies.h"
#include "support/TestServers.h"
#include "support/TlsJudge.h"
#include "testing/CurlEngine.h"

#include <QDir>
#include <QEventLoop>
#include <QTest>
#include <QTimer>

#include <curl/curl.h>

#include <map>
#include <memory>
#include <optional>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

using Reach = ProbeResult::Reach;
Q_DECLARE_METATYPE(ProxyType)
Q_DECLARE_METATYPE(ProbeResult::Reach)

namespace {

const QByteArray UserAgent = "Corvatel-Test/1";

// Runs one GET on the engine and waits for its result (at most waitMs).
std::optional<ProbeResult> fetch(CurlEngine& engine, const ProbeRequest& request,
                                 int waitMs = 30000)
{
    std::optional<ProbeResult> result;
    QEventLoop loop;
    engine.start(request, [&](const ProbeResult& r) {
        result = r;
        loop.quit();
    });
    QTimer::singleShot(waitMs, &loop, &QEventLoop::quit);
    if (!result)
        loop.exec();
    return result;
}

ProbeRequest request(const QString& url, ProxyType type = ProxyType::Direct,
                     const QString& proxy = QString(), int timeoutMs = 15000)
{
    ProbeRequest r;
    r.url = QUrl(url);
    r.type = type;
    r.proxy = proxy;
    r.timeoutMs = timeoutMs;
    r.userAgent = UserAgent;
    return r;
}

// Sets CORVATEL_CA_FILE (unless path is empty) for as long as it lives.
struct CaFile
{
    explicit CaFile(const QString& path)
    {
        if (!path.isEmpty())
            qputenv("CORVATEL_CA_FILE", path.toLocal8Bit());
    }
    ~CaFile() { qunsetenv("CORVATEL_CA_FILE"); }
};

} // namespace

class tst_CurlEngine : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(m_service.start({}), qPrintable(m_service.errorString()));
        m_urls["gate"] = m_service.baseUrl() + QStringLiteral("/gate.php?x=1");
        const QString failure = m_tls.start();
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        m_urls["tls"] = m_tls.url() + QStringLiteral("?x=1");
        m_urls["closed"] = QStringLiteral("http://127.0.0.1:%1/").arg(closedLoopbackPort());
        m_urls["tls closed"] = QStringLiteral("https://127.0.0.1:%1/").arg(closedLoopbackPort());
        m_urls["hanging"] = m_hanging.url();

        m_proxies["closed"] = QStringLiteral("127.0.0.1:%1").arg(closedLoopbackPort());
        m_proxies["closing"] = QStringLiteral("127.0.0.1:%1").arg(m_closing.serverPort());
        m_proxies["garbage"] = QStringLiteral("127.0.0.1:%1").arg(m_garbage.serverPort());
        m_proxies["hanging"] = QStringLiteral("127.0.0.1:%1").arg(m_hanging.serverPort());
        using Kind = RealProxy::Kind;
        for (const auto& [key, kind] : {std::pair{"squid", Kind::Squid},
                                        {"dante", Kind::Dante},
                                        {"microsocks", Kind::Microsocks},
                                        {"ssh", Kind::SshDynamic}}) {
            if (!RealProxy::missing(kind).isEmpty())
                continue; // its rows say so when they run
            auto proxy = std::make_unique<RealProxy>(kind);
            const QString failure = proxy->start();
            QVERIFY2(failure.isEmpty(), qPrintable(key + (": " + failure)));
            m_proxies[key] = proxy->address();
            m_real.push_back(std::move(proxy));
        }

        // Every transfer below would fail if the engine listened to these: they name a proxy
        // that closes every connection, and exempt every host from proxying.
        m_envProxy = QByteArray("http://") + m_proxies["closing"].toLatin1();
        for (const char* name :
             {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
            qputenv(name, m_envProxy);
        qputenv("no_proxy", "*");
        qputenv("NO_PROXY", "*");
    }

    void cleanupTestCase()
    {
        for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy",
                                 "ALL_PROXY", "no_proxy", "NO_PROXY"})
            qunsetenv(name);
    }

    // What a request says of itself, direct and through proxies (every type through its real
    // server is the tester's own test), and that the judge's certificate is trusted only through
    // CORVATEL_CA_FILE.
    void throughProxies_data()
    {
        QTest::addColumn<ProxyType>("type");
        QTest::addColumn<QString>("proxy");
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("trusted");

        const auto row = [](const char* name, ProxyType type, const char* proxy, const char* url,
                            bool trusted = true) {
            QTest::newRow(name) << type << QString(proxy) << QString(url) << trusted;
        };
        row("direct", ProxyType::Direct, "", "gate");
        row("direct https", ProxyType::Direct, "", "tls");
        row("tunnel to http, squid", ProxyType::HttpsTunnel, "squid", "gate");
        row("socks4, ssh", ProxyType::Socks4, "ssh", "gate");
        row("untrusted, direct", ProxyType::Direct, "", "tls", false);
        row("untrusted, tunnel", ProxyType::HttpsTunnel, "squid", "tls", false);
        row("untrusted, socks5", ProxyType::Socks5, "microsocks", "tls", false);
    }

    void throughProxies()
    {
        QFETCH(ProxyType, type);
        QFETCH(QString, proxy);
        QFETCH(QString, url);
        QFETCH(bool, trusted);
        if (!proxy.isEmpty() && !m_proxies.count(proxy))
            QSKIP(qPrintable(proxy + " is not installed (test.sh installs it)"));
        const CaFile ca(trusted ? m_tls.caFile() : QString());
        CurlEngine engine;
        const auto r = fetch(engine, request(m_urls[url], type, m_proxies[proxy]));
        QVERIFY(r);
        QCOMPARE(r->reach, Reach::Beyond);
        QCOMPARE(m_closing.accepted(), 0); // the proxy of the environment
        if (!trusted) {
            QVERIFY(!r->ok);
            QCOMPARE(r->curlCode, int(CURLE_PEER_FAILED_VERIFICATION));
            QVERIFY2(r->errorText.contains(QStringLiteral("certificate")),
                     qPrintable(r->errorText));
            QCOMPARE(r->status, 0);
            return;
        }
        QVERIFY2(r->ok, qPrintable(r->errorText));
        QCOMPARE(r->status, 200);
        QVERIFY(r->errorText.isEmpty());
        QVERIFY(r->seconds > 0 && r->seconds < 15);
        QVERIFY2(r->body.contains("GATEWAY_INTERFACE=CGI/1.1\n"), r->body.constData());
        QVERIFY2(r->body.contains("QUERY_STRING=x=1\n"), r->body.constData());
        QVERIFY2(r->body.contains("HTTP_USER_AGENT=" + UserAgent + '\n'), r->body.constData());
        // Neither redirects nor compression are asked for.
        QVERIFY2(!r->body.contains("HTTP_ACCEPT_ENCODING="), r->body.constData());
        // A tunnel and a SOCKS proxy see nothing to add to.
        QVERIFY2(!r->body.contains("HTTP_VIA="), r->body.constData());
    }

    // How far a request got, for what the proxy or its absence did.
    void reach_data()
    {
        QTest::addColumn<ProxyType>("type");
        QTest::addColumn<QString>("proxy");
        QTest::addColumn<QString>("url");
        QTest::addColumn<Reach>("reach");
        QTest::addColumn<bool>("timedOut");

        auto row = [](const QByteArray& name, ProxyType type, const char* proxy, const char* url,
                      Reach reach, bool timedOut = false) {
            QTest::newRow(name) << type << QString(proxy) << QString(url) << reach << timedOut;
        };
        row("direct, closed port", ProxyType::Direct, "", "closed", Reach::None);
        row("direct, hanging server", ProxyType::Direct, "", "hanging", Reach::Beyond, true);
        for (ProxyType type : {ProxyType::Http, ProxyType::HttpsTunnel, ProxyType::Socks4,
                               ProxyType::Socks4a, ProxyType::Socks5}) {
            const QByteArray t = QByteArray::number(int(type));
            row("closed proxy port, type " + t, type, "closed", "gate", Reach::None);
            row("proxy closes, type " + t, type, "closing", "gate", Reach::Proxy);
            row("proxy answers garbage, type " + t, type, "garbage", "gate", Reach::Proxy);
            row("proxy hangs, type " + t, type, "hanging", "gate", Reach::Proxy, true);
        }
        // The proxy says, in its own protocol, that the target is not there.
        row("squid, closed target", ProxyType::Http, "squid", "closed", Reach::Beyond);
        row("squid tunnel, closed target", ProxyType::HttpsTunnel, "squid", "tls closed",
            Reach::Beyond);
        row("dante socks5, closed target", ProxyType::Socks5, "dante", "closed", Reach::Beyond);
        row("dante socks4, closed target", ProxyType::Socks4, "dante", "closed", Reach::Beyond);
        // OpenSSH closes the SOCKS connection without a reply when it cannot open the channel:
        // from outside that is a proxy that closed.
        row("ssh socks5, closed target", ProxyType::Socks5, "ssh", "closed", Reach::Proxy);
        // dante refuses SOCKS4A with a SOCKS4 reply.
        row("dante, socks4a", ProxyType::Socks4a, "dante", "gate", Reach::Beyond);
        // The handshake was done; the target then kept quiet.
        row("dante socks5, hanging target", ProxyType::Socks5, "dante", "hanging", Reach::Beyond,
            true);
        row("ssh socks4a, hanging target", ProxyType::Socks4a, "ssh", "hanging", Reach::Beyond,
            true);
        row("squid, hanging target", ProxyType::Http, "squid", "hanging", Reach::Proxy, true);
        // The wrong protocol to a real proxy.
        // squid waits for the end of an HTTP head that never comes.
        row("socks5 to squid", ProxyType::Socks5, "squid", "gate", Reach::Proxy, true);
        row("socks4 to squid", ProxyType::Socks4, "squid", "gate", Reach::Proxy, true);
        row("http to dante", ProxyType::Http, "dante", "gate", Reach::Proxy);
        row("tunnel to microsocks", ProxyType::HttpsTunnel, "microsocks", "tls", Reach::Proxy);
    }

    void reach()
    {
        QFETCH(ProxyType, type);
        QFETCH(QString, proxy);
        QFETCH(QString, url);
        QFETCH(Reach, reach);
        QFETCH(bool, timedOut);
        if (!proxy.isEmpty() && !m_proxies.count(proxy))
            QSKIP(qPrintable(proxy + " is not installed (test.sh installs it)"));
        const CaFile ca(m_tls.caFile());
        CurlEngine engine;
        const int envProxyUsed = m_closing.accepted();
        const auto r = fetch(engine, request(m_urls[url], type, m_proxies[proxy], 1500));
        QVERIFY(r);
        const QString seen = QStringLiteral("reach %1, code %2, status %3: %4")
                                 .arg(int(r->reach))
                                 .arg(r->curlCode)
                                 .arg(r->status)
                                 .arg(r->errorText);
        QVERIFY2(r->reach == reach, qPrintable(seen));
        QCOMPARE(r->timedOut, timedOut);
        QVERIFY(!r->errorText.isEmpty() || r->ok);
        QVERIFY(!r->noSocket);
        if (proxy != "closing")
            QCOMPARE(m_closing.accepted(), envProxyUsed);
    }

    void bodyLimit_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<qint64>("declared"); // -1: chunked
        QTest::addColumn<bool>("tooLarge");
        QTest::newRow("chunked, over") << CurlEngine::MaxBodyBytes + 1 << qint64(-1) << true;
        QTest::newRow("no length said, over")
            << CurlEngine::MaxBodyBytes + 4096 << CurlEngine::MaxBodyBytes * 4 << true;
        QTest::newRow("exactly the most")
            << CurlEngine::MaxBodyBytes << CurlEngine::MaxBodyBytes << false;
    }

    void bodyLimit()
    {
        QFETCH(qint64, bytes);
        QFETCH(qint64, declared);
        QFETCH(bool, tooLarge);
        FloodServer flood(bytes, declared);
        CurlEngine engine;
        const auto r = fetch(engine, request(flood.url(), ProxyType::Direct, QString(), 20000));
        QVERIFY(r);
        QCOMPARE(r->tooLarge, tooLarge);
        QCOMPARE(r->ok, !tooLarge);
        QCOMPARE(r->body.size(), tooLarge ? 0 : bytes);
        QCOMPARE(r->status, 200);
        QVERIFY(!r->timedOut);
    }

    // Callbacks come from the event loop, exactly once, never for what was cancelled, and may
    // start and cancel transfers themselves.
    void callbacks()
    {
        FixedServer quick(200, "GATEWAY_INTERFACE=CGI/1.1\n");
        auto engine = std::make_unique<CurlEngine>();
        int calls[4] = {};
        bool started = false;
        // Refused by curl itself: still reported later, not from start().
        engine->start(request(QStringLiteral("ftp://127.0.0.1/")), [&](const ProbeResult& r) {
            QVERIFY(started);
            QVERIFY(!r.ok && !r.errorText.isEmpty());
            QCOMPARE(r.reach, Reach::None);
            ++calls[0];
        });
        started = true;
        const quint64 hanging =
            engine->start(request(m_hanging.url()), [&](const ProbeResult&) { ++calls[1]; });
        const quint64 cancelled =
            engine->start(request(m_hanging.url()), [&](const ProbeResult&) { ++calls[1]; });
        engine->cancel(cancelled);
        engine->cancel(cancelled);
        engine->cancel(987654);
        QCOMPARE(engine->inFlight(), 2);
        engine->start(request(quick.url()), [&](const ProbeResult& r) {
            QVERIFY(r.ok);
            ++calls[2];
            engine->cancel(hanging);
            engine->start(request(quick.url()), [&](const ProbeResult& again) {
                QVERIFY(again.ok);
                ++calls[3];
                engine.reset(); // the engine may go from inside its own callback
            });
        });
        QTRY_VERIFY_WITH_TIMEOUT(!engine, 10000);
        QTest::qWait(100);
        QCOMPARE(calls[0], 1);
        QCOMPARE(calls[1], 0);
        QCOMPARE(calls[2], 1);
        QCOMPARE(calls[3], 1);

        // Destroyed with transfers in flight: no callback, nothing left behind.
        {
            CurlEngine doomed;
            for (int i = 0; i < 5; ++i)
                doomed.start(request(m_hanging.url()), [&](const ProbeResult&) { ++calls[1]; });
            QTest::qWait(100);
        }
        QTest::qWait(100);
        QCOMPARE(calls[1], 0);
    }

    // Out of file descriptors: the transfer says so, and nothing was tried.
    void noSocket()
    {
        CurlEngine engine;
        rlimit saved{};
        QCOMPARE(getrlimit(RLIMIT_NOFILE, &saved), 0);
        int highest = 0;
        for (const QString& fd :
             QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System))
            highest = std::max(highest, fd.toInt());
        rlimit low = saved;
        low.rlim_cur = rlim_t(highest) + 1;
        QCOMPARE(setrlimit(RLIMIT_NOFILE, &low), 0);
        // Fill the gaps below the limit, so that no descriptor is left at all.
        std::vector<int> fillers;
        for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
            fillers.push_back(fd);
        const auto r = fetch(engine, request(m_urls["gate"]), 10000);
        for (int fd : fillers)
            ::close(fd);
        QCOMPARE(setrlimit(RLIMIT_NOFILE, &saved), 0);
        QVERIFY(r);
        QVERIFY(r->noSocket);
        QCOMPARE(r->reach, Reach::None);
        QVERIFY(!r->ok);
        // And with descriptors back, the same engine works again.
        const auto again = fetch(engine, request(m_urls["gate"]));
        QVERIFY(again && again->ok && !again->noSocket);
    }

    // Many transfers at once all end by their time-out, and give back every descriptor.
    void manyAtOnce()
    {
        constexpr int Count = 64;
        HangingServer server;
        server.setMaxPendingConnections(Count);
        const int fdsBefore = openFiles();
        {
            CurlEngine engine;
            int timedOut = 0;
            for (int i = 0; i < Count; ++i)
                engine.start(
                    request(server.url() + QString::number(i), ProxyType::Direct, QString(), 300),
                    [&](const ProbeResult& r) { timedOut += r.timedOut; });
            QCOMPARE(engine.inFlight(), Count);
            QTRY_COMPARE_WITH_TIMEOUT(engine.inFlight(), 0, 10000);
            QCOMPARE(timedOut, Count);
        }
        QTest::qWait(200); // the server's sockets go with deleteLater
        QVERIFY2(openFiles() <= fdsBefore, qPrintable(QString::number(openFiles())));
    }

private:
    static int openFiles()
    {
        return int(
            QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size());
    }

    ReferenceService m_service;
    TlsJudge m_tls;
    HangingServer m_hanging;
    ClosingServer m_closing{false};
    ClosingServer m_garbage{true, "garbage, not a proxy's answer\r\n\r\n"};
    std::vector<std::unique_ptr<RealProxy>> m_real;
    std::map<QString, QString> m_urls;
    std::map<QString, QString> m_proxies;
    QByteArray m_envProxy;
};

QTEST_GUILESS_MAIN(tst_CurlEngine)
#include "tst_CurlEngine.moc"
