#include "service/HttpFetcher.h"
#include "support/TestServers.h"

#include <QEventLoop>
#include <QHash>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QPointer>
#include <QScopeGuard>
#include <QSslConfiguration>
#include <QTest>
#include <QTimer>

#include <memory>
#include <vector>

namespace {

constexpr qint64 MiB = 1024 * 1024;
constexpr int AnyTransportError = 1000;

struct Outcome
{
    FetchResult result;
    QList<int> started; // statuses announced by responseStarted, in order
    int finishedCount = 0;
    bool startedAfterFinish = false;
    bool deletedItself = false;
};

// Runs one job to its end and a little beyond, to see any late second finished().
Outcome run(HttpFetcher& http, const FetchRequest& request, int limitMs = 15000)
{
    auto outcome = std::make_shared<Outcome>();
    QEventLoop loop;
    QPointer<FetchJob> job = http.start(request);
    // The connections end with the loop, so a job that outlives this call reaches nothing.
    QObject::connect(job, &FetchJob::responseStarted, &loop, [outcome](int status) {
        outcome->started.append(status);
        outcome->startedAfterFinish = outcome->finishedCount > 0;
    });
    QObject::connect(job, &FetchJob::finished, &loop, [outcome, &loop](const FetchResult& result) {
        outcome->result = result;
        ++outcome->finishedCount;
        loop.quit();
    });
    QTimer::singleShot(limitMs, &loop, &QEventLoop::quit);
    loop.exec();
    QTimer::singleShot(50, &loop, &QEventLoop::quit);
    loop.exec();
    outcome->deletedItself = job.isNull();
    return *outcome;
}

FetchRequest get(const QString& url, const QString& proxy = QString(), int timeoutSeconds = 30)
{
    FetchRequest request;
    request.url = QUrl(url);
    request.proxy = proxy;
    request.timeoutSeconds = timeoutSeconds;
    return request;
}

} // namespace

class tst_HttpFetcher final : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { m_servers.clear(); }

    void answers_data();
    void answers();
    void userAgentOnTheWire();
    void rejectedWithoutSending_data();
    void rejectedWithoutSending();
    void directIgnoresApplicationProxy();
    void bodyLimit_data();
    void bodyLimit();
    void redirectFromHttpsToHttp_data();
    void redirectFromHttpsToHttp();
    void jobsRunSideBySide();

private:
    template <typename T, typename... Args> T* server(Args&&... args)
    {
        auto owned = std::make_unique<T>(std::forward<Args>(args)...);
        T* raw = owned.get();
        m_servers.push_back(std::move(owned));
        return raw;
    }
    QString target(const QString& kind);

    std::vector<std::unique_ptr<LoopbackServer>> m_servers;
    HttpFetcher m_http;
};

QString tst_HttpFetcher::target(const QString& kind)
{
    if (kind == "ok")
        return server<FixedServer>(200, "hello")->url("/doc");
    if (kind == "not found")
        return server<FixedServer>(404, "no such page")->url();
    if (kind == "server error")
        return server<FixedServer>(500, "it broke")->url();
    if (kind == "utf-8")
        return server<FixedServer>(200, "gr\xc3\xbc\xc3\x9f\x65")->url();
    if (kind == "redirect")
        return server<RedirectServer>(server<FixedServer>(200, "hello")->url("/moved"))->url();
    if (kind == "redirect loop")
        return server<RedirectServer>()->url();
    if (kind == "refused")
        return QStringLiteral("http://127.0.0.1:%1/").arg(closedLoopbackPort());
    if (kind == "reset")
        return server<ResettingServer>()->url();
    qFatal("unknown target %s", qPrintable(kind));
}

void tst_HttpFetcher::answers_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("proxy");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("error"); // AnyTransportError: some error number of Qt's
    QTest::addColumn<QString>("body");

    const QString none;
    QTest::newRow("200") << "ok" << none << 200 << 0 << "hello";
    QTest::newRow("404 is an answer") << "not found" << none << 404 << 0 << "no such page";
    QTest::newRow("500 is an answer") << "server error" << none << 500 << 0 << "it broke";
    QTest::newRow("utf-8 body") << "utf-8" << none << 200 << 0 << QString::fromUtf8("grüße");
    QTest::newRow("redirect followed") << "redirect" << none << 200 << 0 << "hello";
    QTest::newRow("redirect loop")
        << "redirect loop" << none << -2 << int(QNetworkReply::TooManyRedirectsError) << "";
    QTest::newRow("connection refused")
        << "refused" << none << -1 << int(QNetworkReply::ConnectionRefusedError) << "";
    QTest::newRow("reset mid-body")
        << "reset" << none << 200 << int(QNetworkReply::RemoteHostClosedError) << "*";
    QTest::newRow("proxy refuses")
        << "ok" << QStringLiteral("127.0.0.1:%1").arg(closedLoopbackPort()) << -1
        << AnyTransportError << "";
}

void tst_HttpFetcher::answers()
{
    QFETCH(QString, kind);
    QFETCH(QString, proxy);
    QFETCH(int, status);
    QFETCH(int, error);
    QFETCH(QString, body);

    const Outcome outcome = run(m_http, get(target(kind), proxy));
    QCOMPARE(outcome.finishedCount, 1);
    QVERIFY(outcome.deletedItself);
    QCOMPARE(outcome.result.finished, true);
    if (error == AnyTransportError)
        QVERIFY2(outcome.result.error > 0, qPrintable(QString::number(outcome.result.error)));
    else
        QCOMPARE(outcome.result.error, error);
    if (status != -2)
        QCOMPARE(outcome.result.status, status);
    if (body != "*")
        QCOMPARE(outcome.result.body, body);
    // The status is announced once, before the end, and only for a real answer.
    if (status >= 0) {
        QCOMPARE(outcome.started, QList<int>{status});
        QVERIFY(!outcome.startedAfterFinish);
    } else if (status == -1) {
        QVERIFY(outcome.started.isEmpty());
    }
    QVERIFY(outcome.result.elapsedSeconds <= 1);
}

void tst_HttpFetcher::userAgentOnTheWire()
{
    auto* site = server<FixedServer>();
    QCOMPARE(run(m_http, get(site->url())).result.error, 0);
    QCOMPARE(site->requests().size(), 1);
    QCOMPARE(site->lastHeader("User-Agent"),
             QByteArray("Mozilla/5.0 (Windows NT 5.2; rv:10.0.2) NEWT ActiveX Firefox/10.0.2"));
    QVERIFY(site->lastRequest().startsWith("GET / HTTP/1.1\r\n"));
}

void tst_HttpFetcher::rejectedWithoutSending_data()
{
    QTest::addColumn<QString>("url"); // "site" = the test's own server
    QTest::addColumn<QString>("proxy");

    for (const char* proxy :
         {"nohost", "host:", ":8080", "127.0.0.1:0", "127.0.0.1:65536", "127.0.0.1:http", "a b:80",
          "::1:80", "[nonsense]:80", "user@127.0.0.1:80"})
        QTest::addRow("proxy \"%s\"", proxy) << "site" << QString::fromLatin1(proxy);
    for (const char* url :
         {"", "not a url", "ftp://127.0.0.1/", "file:///etc/hostname", "http://", "http://[::1/"})
        QTest::addRow("url \"%s\"", url) << QString::fromLatin1(url) << QString();
}

void tst_HttpFetcher::rejectedWithoutSending()
{
    QFETCH(QString, url);
    QFETCH(QString, proxy);
    auto* site = server<FixedServer>();

    const Outcome outcome = run(m_http, get(url == "site" ? site->url() : url, proxy), 3000);
    // Connected only after start() returned, so a finished() from inside start() is missed here.
    QCOMPARE(outcome.finishedCount, 1);
    QCOMPARE(outcome.result.error, -1);
    QCOMPARE(outcome.result.status, -1);
    QVERIFY(outcome.result.body.isEmpty());
    QVERIFY(site->requests().isEmpty());
}

void tst_HttpFetcher::directIgnoresApplicationProxy()
{
    const auto restore = qScopeGuard([] { QNetworkProxy::setApplicationProxy(QNetworkProxy()); });
    QNetworkProxy::setApplicationProxy(
        QNetworkProxy(QNetworkProxy::HttpProxy, "127.0.0.1", closedLoopbackPort()));
    const Outcome outcome = run(m_http, get(server<FixedServer>()->url()));
    QCOMPARE(outcome.result.error, 0);
    QCOMPARE(outcome.result.body, QString("hello"));
}

void tst_HttpFetcher::bodyLimit_data()
{
    QTest::addColumn<qint64>("bodyBytes");
    QTest::addColumn<qint64>("declaredLength"); // -1: chunked
    QTest::addColumn<bool>("accepted");

    const qint64 limit = HttpFetcher::MaxBodyBytes;
    // Stalls after 64 KiB: only the header can end it quickly.
    QTest::newRow("huge Content-Length") << 64 * 1024LL << 40 * 1024 * MiB << false;
    QTest::newRow("200 MiB chunked") << 200 * MiB << -1LL << false;
    QTest::newRow("limit + 1, declared") << limit + 1 << limit + 1 << false;
    QTest::newRow("limit + 1, chunked") << limit + 1 << -1LL << false;
    QTest::newRow("exactly the limit, declared") << limit << limit << true;
    QTest::newRow("exactly the limit, chunked") << limit << -1LL << true;
}

void tst_HttpFetcher::bodyLimit()
{
    QFETCH(qint64, bodyBytes);
    QFETCH(qint64, declaredLength);
    QFETCH(bool, accepted);
    auto* flood = server<FloodServer>(bodyBytes, declaredLength);

    QElapsedTimer clock;
    clock.start();
    const Outcome outcome = run(m_http, get(flood->url()), 20000);
    QCOMPARE(outcome.finishedCount, 1);
    QCOMPARE(outcome.result.status, 200);
    if (accepted) {
        QCOMPARE(outcome.result.error, 0);
        QCOMPARE(qint64(outcome.result.body.size()), bodyBytes);
        return;
    }
    QCOMPARE(outcome.result.error, -1);
    QVERIFY(outcome.result.body.isEmpty());
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    // The client stopped reading near the limit instead of taking it all in.
    QVERIFY2(flood->bytesSent() < 100 * MiB, qPrintable(QString::number(flood->bytesSent())));
}

void tst_HttpFetcher::redirectFromHttpsToHttp_data()
{
    QTest::addColumn<bool>("trusted");
    QTest::newRow("trusted certificate") << true;
    QTest::newRow("untrusted certificate") << false;
}

void tst_HttpFetcher::redirectFromHttpsToHttp()
{
    QFETCH(bool, trusted);
    static const TestCertificate tls = TestCertificate::create();
    if (tls.isNull())
        QSKIP("no TLS backend or no openssl tool to make a test certificate");

    const QSslConfiguration previous = QSslConfiguration::defaultConfiguration();
    const auto restore = qScopeGuard([&] { QSslConfiguration::setDefaultConfiguration(previous); });
    if (trusted) {
        QSslConfiguration configuration = previous;
        configuration.addCaCertificate(tls.certificate);
        QSslConfiguration::setDefaultConfiguration(configuration);
    }
    auto* plain = server<FixedServer>(200, "hello");
    auto* secure = server<RedirectServer>(plain->url("/plain"));
    secure->useTls(tls.certificate, tls.key);

    const Outcome outcome = run(m_http, get(secure->url("/secure")));
    QCOMPARE(secure->requests().size(), trusted ? 1 : 0);
    if (trusted) {
        QCOMPARE(outcome.result.error, 0);
        QCOMPARE(outcome.result.status, 200);
        QCOMPARE(outcome.result.body, QString("hello"));
        QVERIFY(plain->lastRequest().startsWith("GET /plain "));
    } else {
        QCOMPARE(outcome.result.error, int(QNetworkReply::SslHandshakeFailedError));
        QVERIFY(plain->requests().isEmpty());
    }
}

void tst_HttpFetcher::jobsRunSideBySide()
{
    auto* hang = server<HangingServer>();
    auto* slow = server<FixedServer>(200, "slow", QStringList(), 300);
    auto* quick = server<FixedServer>(200, "quick");

    QList<QString> order;
    QHash<QString, FetchResult> results;
    const auto watch = [&](FetchJob* job, const QString& name) {
        connect(job, &FetchJob::finished, this, [&, name](const FetchResult& result) {
            order.append(name);
            results.insert(name, result);
        });
        return QPointer<FetchJob>(job);
    };
    const QPointer<FetchJob> stuck = watch(m_http.start(get(hang->url(), QString(), 0)), "stuck");
    watch(m_http.start(get(hang->url(), QString(), 1)), "backstop");
    watch(m_http.start(get(slow->url())), "slow");
    watch(m_http.start(get(quick->url())), "quick");

    QTRY_COMPARE_WITH_TIMEOUT(order.size(), 3, 5000);
    QCOMPARE(order, QList<QString>({"quick", "slow", "backstop"}));
    QCOMPARE(results["slow"].body, QString("slow"));
    QCOMPARE(results["backstop"].error, -1);
    QCOMPARE(results["backstop"].elapsedSeconds, 1);
    QVERIFY(stuck && !stuck->isFinished());
    QCOMPARE(hang->requests().size(), 2);

    stuck->abort();
    QCOMPARE(order.size(), 4); // finished() came at once
    stuck->abort();
    QTest::qWait(100);
    QCOMPARE(order.size(), 4);
    QCOMPARE(results["stuck"].error, -1);
    QVERIFY(stuck.isNull());
}

QTEST_MAIN(tst_HttpFetcher)
#include "tst_HttpFetcher.moc"
