#include "service/DocumentFetcher.h"
#include "service/HttpFetcher.h"
#include "support/TestServers.h"
#include "support/TinyProxy.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <memory>
#include <sys/resource.h>
#include <vector>

namespace {

constexpr qint64 MiB = 1024 * 1024;

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

} // namespace

class tst_DocumentFetcher final : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void outcome_data();
    void outcome();
    void timeOut_data();
    void timeOut();
    void answerInTheLastSecond_data();
    void answerInTheLastSecond();
    void stop_data();
    void stop();
    void waitingDoesNotSpin();
    void throughRealProxy();
    void innerFetchLeavesOuterOutcome_data();
    void innerFetchLeavesOuterOutcome();
    void counterWraps_data();
    void counterWraps();
    void waitingCounterWraps();
    void withoutWaiting();

private:
    template <typename T, typename... Args> T* server(Args&&... args)
    {
        auto owned = std::make_unique<T>(std::forward<Args>(args)...);
        T* raw = owned.get();
        m_servers.push_back(std::move(owned));
        return raw;
    }
    QString target(const QString& kind);
    // Sets the Stop flag and wakes the waiting fetches after ms.
    void stopAfter(int ms);

    bool m_stop = false;
    std::unique_ptr<HttpFetcher> m_http;
    std::unique_ptr<DocumentFetcher> m_doc;
    std::vector<std::unique_ptr<LoopbackServer>> m_servers;
    QTimer m_clock;
};

void tst_DocumentFetcher::init()
{
    m_stop = false;
    m_http = std::make_unique<HttpFetcher>();
    m_doc = std::make_unique<DocumentFetcher>(*m_http, m_stop);
    // Like the window's clock: it runs on its own, whenever a fetch starts.
    m_clock.setTimerType(Qt::PreciseTimer);
    m_clock.setInterval(1000);
    connect(&m_clock, &QTimer::timeout, m_doc.get(), &DocumentFetcher::tick, Qt::UniqueConnection);
    m_clock.start();
}

void tst_DocumentFetcher::cleanup()
{
    m_clock.stop();
    m_doc.reset();
    m_http.reset();
    m_servers.clear();
}

QString tst_DocumentFetcher::target(const QString& kind)
{
    if (kind == "ok")
        return server<FixedServer>(200, "hello")->url();
    if (kind == "not found")
        return server<FixedServer>(404, "no such page")->url();
    if (kind == "server error")
        return server<FixedServer>(500, "it broke")->url();
    if (kind == "refused")
        return QStringLiteral("http://127.0.0.1:%1/").arg(closedLoopbackPort());
    if (kind == "reset")
        return server<ResettingServer>()->url();
    if (kind == "redirect")
        return server<RedirectServer>(server<FixedServer>(200, "hello")->url("/moved"))->url();
    if (kind == "redirect loop")
        return server<RedirectServer>()->url();
    if (kind == "huge length")
        return server<FloodServer>(64 * 1024, 40 * 1024 * MiB)->url();
    if (kind == "huge stream")
        return server<FloodServer>(200 * MiB)->url();
    if (kind == "hang")
        return server<HangingServer>()->url();
    if (kind == "partial")
        return server<FloodServer>(5, 1000)->url();
    return kind;
}

void tst_DocumentFetcher::stopAfter(int ms)
{
    QTimer::singleShot(ms, m_doc.get(), [this] {
        m_stop = true;
        m_doc->wake();
    });
}

void tst_DocumentFetcher::outcome_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("proxy");
    QTest::addColumn<QString>("result");
    QTest::addColumn<int>("error");
    QTest::addColumn<int>("status"); // -2: not checked

    const QString none;
    const QString refusingProxy = QStringLiteral("127.0.0.1:%1").arg(closedLoopbackPort());
    QTest::newRow("200") << "ok" << none << "hello" << 0 << 200;
    QTest::newRow("404") << "not found" << none << "" << 0 << 404;
    QTest::newRow("500") << "server error" << none << "" << 0 << 500;
    QTest::newRow("connection refused") << "refused" << none << "" << -1 << -1;
    QTest::newRow("reset mid-body") << "reset" << none << "" << -1 << 200;
    QTest::newRow("redirect") << "redirect" << none << "hello" << 0 << 200;
    QTest::newRow("redirect loop") << "redirect loop" << none << "" << -1 << -2;
    QTest::newRow("huge Content-Length") << "huge length" << none << "" << -1 << 200;
    QTest::newRow("200 MiB stream") << "huge stream" << none << "" << -1 << 200;
    QTest::newRow("proxy refuses") << "ok" << refusingProxy << "" << -1 << -1;
    QTest::newRow("proxy text without port") << "ok"
                                             << "127.0.0.1"
                                             << "" << -1 << -1;
    QTest::newRow("ftp URL") << "ftp://127.0.0.1/file" << none << "" << -1 << -1;
    QTest::newRow("not a URL") << "::nonsense::" << none << "" << -1 << -1;
    QTest::newRow("empty URL") << "" << none << "" << -1 << -1;
}

void tst_DocumentFetcher::outcome()
{
    QFETCH(QString, kind);
    QFETCH(QString, proxy);
    QFETCH(QString, result);
    QFETCH(int, error);
    QFETCH(int, status);

    QElapsedTimer clock;
    clock.start();
    QCOMPARE(m_doc->getDOC_WINHTTP(true, false, target(kind), proxy), result);
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(m_doc->httpError, error);
    if (status != -2)
        QCOMPARE(m_doc->httpStatus, status);
    QVERIFY(m_doc->httpFinished);
    QVERIFY(m_doc->httpSeconds <= 1 + clock.elapsed() / 1000);
}

void tst_DocumentFetcher::timeOut_data()
{
    QTest::addColumn<bool>("proxyTest");
    QTest::addColumn<int>("testTimeout");
    QTest::addColumn<int>("answerAfterMs"); // -1: never
    QTest::addColumn<QString>("result");
    QTest::addColumn<int>("error");

    QTest::newRow("proxy test, 2 s, no answer") << true << 2 << -1 << "" << -1;
    QTest::newRow("proxy test, answer in time") << true << 3 << 700 << "late" << 0;
    // Other fetches allow 60 s whatever the test time-out says.
    QTest::newRow("not a proxy test") << false << 1 << 2200 << "late" << 0;
}

void tst_DocumentFetcher::timeOut()
{
    QFETCH(bool, proxyTest);
    QFETCH(int, testTimeout);
    QFETCH(int, answerAfterMs);
    QFETCH(QString, result);
    QFETCH(int, error);
    m_doc->setTestTimeout(testTimeout);
    const QString url = answerAfterMs < 0
                            ? target("hang")
                            : server<FixedServer>(200, "late", QStringList(), answerAfterMs)->url();

    QElapsedTimer clock;
    clock.start();
    QCOMPARE(m_doc->getDOC_WINHTTP(true, proxyTest, url), result);
    const qint64 elapsed = clock.elapsed();
    QCOMPARE(m_doc->httpError, error);
    if (error == 0) {
        QVERIFY(elapsed >= answerAfterMs);
        QCOMPARE(m_doc->httpStatus, 200);
        QVERIFY(m_doc->httpFinished);
        return;
    }
    // Ends on the tick that takes the counter past T, somewhere between T and T + 1 seconds.
    QCOMPARE(m_doc->httpSeconds, testTimeout + 1);
    QVERIFY2(elapsed >= testTimeout * 1000 - 100 && elapsed <= testTimeout * 1000 + 1500,
             qPrintable(QString::number(elapsed)));
    QCOMPARE(m_doc->httpStatus, -1);
    QVERIFY(!m_doc->httpFinished);
}

void tst_DocumentFetcher::answerInTheLastSecond_data()
{
    QTest::addColumn<int>("tickAtMs");
    QTest::addColumn<QString>("result");
    QTest::addColumn<int>("error");

    // With T = 1 the counter reaches T on the first tick; an answer after it is late.
    QTest::newRow("answer before the tick") << 600 << "late" << 0;
    QTest::newRow("answer after the tick") << 100 << "" << -1;
}

void tst_DocumentFetcher::answerInTheLastSecond()
{
    QFETCH(int, tickAtMs);
    QFETCH(QString, result);
    QFETCH(int, error);
    m_clock.stop();
    m_doc->setTestTimeout(1);
    const QString url = server<FixedServer>(200, "late", QStringList(), 300)->url();
    QTimer::singleShot(tickAtMs, Qt::PreciseTimer, m_doc.get(), &DocumentFetcher::tick);

    QCOMPARE(m_doc->getDOC_WINHTTP(true, true, url), result);
    QCOMPARE(m_doc->httpError, error);
    QCOMPARE(m_doc->httpStatus, 200);
    QCOMPARE(m_doc->httpSeconds, error == 0 ? 0 : 1);
}

void tst_DocumentFetcher::stop_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("stopAfterMs"); // -1: already set before the fetch
    QTest::addColumn<int>("status");

    QTest::newRow("no answer") << "hang" << 300 << -1;
    QTest::newRow("200 announced, body incomplete") << "partial" << 300 << 200;
    QTest::newRow("flag already set") << "hang" << -1 << -1;
}

void tst_DocumentFetcher::stop()
{
    QFETCH(QString, kind);
    QFETCH(int, stopAfterMs);
    QFETCH(int, status);
    if (stopAfterMs < 0)
        m_stop = true;
    else
        stopAfter(stopAfterMs);

    QElapsedTimer clock;
    clock.start();
    QCOMPARE(m_doc->getDOC_WINHTTP(true, true, target(kind)), QString());
    QVERIFY2(clock.elapsed() < qMax(stopAfterMs, 0) + 700,
             qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(m_doc->httpError, 0);
    QCOMPARE(m_doc->httpStatus, status);
    QVERIFY(!m_doc->httpFinished);
}

void tst_DocumentFetcher::waitingDoesNotSpin()
{
    const QString url = target("hang");
    stopAfter(3000);
    const double before = cpuSeconds();
    QCOMPARE(m_doc->getDOC_WINHTTP(true, false, url), QString());
    const double used = cpuSeconds() - before;
    qInfo("CPU time of a 3 s wait: %.3f s", used);
    QVERIFY2(used < 0.15, qPrintable(QString::number(used)));
}

void tst_DocumentFetcher::throughRealProxy()
{
    if (TinyProxy::executable().isEmpty())
        QSKIP("tinyproxy is not installed (test.sh installs it)");
    TinyProxy proxy;
    QVERIFY2(proxy.start(), qPrintable(proxy.errorString()));
    auto* site = server<FixedServer>(200, "through the proxy");

    QCOMPARE(m_doc->getDOC_WINHTTP(true, true, site->url("/page"), proxy.address()),
             QString("through the proxy"));
    QCOMPARE(m_doc->httpError, 0);
    QCOMPARE(m_doc->httpStatus, 200);
    QCOMPARE(site->requests().size(), 1);
    QVERIFY2(site->lastHeader("Via").contains("tinyproxy"), site->lastRequest().constData());
    QCOMPARE(site->lastHeader("User-Agent"), QByteArray(HttpFetcher::UserAgent));
}

void tst_DocumentFetcher::innerFetchLeavesOuterOutcome_data()
{
    QTest::addColumn<QString>("innerKind");
    QTest::addColumn<int>("innerStatus");
    QTest::addColumn<int>("innerError");

    QTest::newRow("inner 404") << "not found" << 404 << 0;
    QTest::newRow("inner refused") << "refused" << -1 << -1;
}

void tst_DocumentFetcher::innerFetchLeavesOuterOutcome()
{
    QFETCH(QString, innerKind);
    QFETCH(int, innerStatus);
    QFETCH(int, innerError);
    const QString outerUrl = server<FixedServer>(200, "outer", QStringList(), 1200)->url();
    const QString innerUrl = target(innerKind);

    QString innerResult = "not run";
    int innerSeen[2] = {0, 0};
    QTimer::singleShot(200, m_doc.get(), [&] {
        innerResult = m_doc->getDOC_WINHTTP(true, true, innerUrl);
        innerSeen[0] = m_doc->httpStatus;
        innerSeen[1] = m_doc->httpError;
    });
    QCOMPARE(m_doc->getDOC_WINHTTP(true, false, outerUrl), QString("outer"));
    QCOMPARE(m_doc->httpStatus, 200);
    QCOMPARE(m_doc->httpError, 0);
    QVERIFY(m_doc->httpFinished);

    QCOMPARE(innerResult, QString());
    QCOMPARE(innerSeen[0], innerStatus);
    QCOMPARE(innerSeen[1], innerError);
}

void tst_DocumentFetcher::counterWraps_data()
{
    QTest::addColumn<int>("before");
    QTest::addColumn<int>("after");
    QTest::newRow("counts") << 0 << 1;
    QTest::newRow("reaches the limit") << 99999 << 100000;
    QTest::newRow("wraps past it") << 100000 << 0;
}

void tst_DocumentFetcher::counterWraps()
{
    QFETCH(int, before);
    QFETCH(int, after);
    m_clock.stop();
    m_doc->httpSeconds = before;
    m_doc->tick();
    QCOMPARE(m_doc->httpSeconds, after);
}

void tst_DocumentFetcher::waitingCounterWraps()
{
    // 100001 ticks at once bring a waiting fetch's counter round to 0 again, so it is not
    // past its 60 s and must still be waiting when Stop comes.
    const QString url = target("hang");
    QTimer::singleShot(100, m_doc.get(), [this] {
        for (int i = 0; i < 100001; ++i)
            m_doc->tick();
    });
    stopAfter(400);
    QCOMPARE(m_doc->getDOC_WINHTTP(true, false, url), QString());
    QCOMPARE(m_doc->httpError, 0);
    QVERIFY2(m_doc->httpSeconds <= 2, qPrintable(QString::number(m_doc->httpSeconds)));
}

void tst_DocumentFetcher::withoutWaiting()
{
    auto* hang = server<HangingServer>();
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(m_doc->getDOC_WINHTTP(false, false, hang->url()), QString());
    QVERIFY(clock.elapsed() < 500);
    QCOMPARE(m_doc->httpStatus, -1);
    QCOMPARE(m_doc->httpError, 0);
    QVERIFY(!m_doc->httpFinished);
    // The request still goes out; the fetcher is torn down with it in flight.
    QTRY_COMPARE(hang->requests().size(), 1);
}

QTEST_MAIN(tst_DocumentFetcher)
#include "tst_DocumentFetcher.moc"
