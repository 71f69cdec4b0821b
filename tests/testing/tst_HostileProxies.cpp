#include "service/HttpFetcher.h"
#include "service/ReferenceService.h"
#include "support/TestServers.h"
#include "support/TesterBench.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTest>

#include <memory>

namespace {

constexpr int T = 2; // the test time-out here, in seconds

std::unique_ptr<QTcpServer> hostileProxy(const QByteArray& kind)
{
    const QByteArray canned = "GATEWAY_INTERFACE=CGI/1.1\nREMOTE_ADDR=127.0.0.1\n";
    const QByteArray page =
        "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(canned.size()) + "\r\n\r\n" +
        canned;
    const QByteArray garbage("\x00\xff\x13garbage\x80\x81\r\n\x01\x02\x03\r\n\r\n", 21);
    if (kind == "canned page")
        return std::make_unique<FixedServer>(200, canned);
    if (kind == "200, empty body")
        return std::make_unique<FixedServer>(200, QByteArray());
    if (kind == "garbage, then close")
        return std::make_unique<RawServer>(garbage, RawServer::End::Close);
    if (kind == "garbage, kept open")
        return std::make_unique<RawServer>(garbage, RawServer::End::KeepOpen);
    if (kind == "closes at once")
        return std::make_unique<ClosingServer>(false);
    if (kind == "closes mid-request")
        return std::make_unique<ClosingServer>(true);
    if (kind == "trickles the gate page")
        return std::make_unique<TrickleServer>(QByteArray(), page);
    return std::make_unique<RawServer>(page.chopped(10), RawServer::End::Close); // cut off
}

// The connections or requests a proxy got.
int asked(const QTcpServer& proxy)
{
    if (const auto* closing = dynamic_cast<const ClosingServer*>(&proxy))
        return closing->accepted();
    return int(static_cast<const LoopbackServer&>(proxy).requests().size());
}

} // namespace

// Proxies that lie, stall or talk nonsense. A test run through them must end, and end with the
// proxy marked failed: a canned gate page never holds the request's token.
class tst_HostileProxies final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(m_service.start({}), qPrintable(m_service.errorString())); }

    void testRun_data()
    {
        QTest::addColumn<bool>("unused"); // the row's name says which proxy
        for (const char* kind : {"canned page", "200, empty body", "garbage, then close",
                                 "garbage, kept open", "closes at once", "closes mid-request",
                                 "trickles the gate page", "cut-off gate page"})
            QTest::newRow(kind) << true;
    }

    // Two rows through the proxy, one at a time and then side by side.
    void testRun()
    {
        for (const int parallel : {1, 4}) {
            const std::unique_ptr<QTcpServer> proxy = hostileProxy(QTest::currentDataTag());
            const QString address = QStringLiteral("127.0.0.1:%1").arg(proxy->serverPort());
            TesterBench b(m_service.baseUrl(), parallel, T);
            ProxyTableModel rows;
            b.fill(rows, {address, address}, false);
            QElapsedTimer elapsed;
            elapsed.start();
            b.run(rows, 1, 1, 2);

            // Serially both rows may wait their whole time-out, but not much longer.
            const QByteArray where = QByteArray::number(parallel) + " at once, " +
                                     QByteArray::number(elapsed.elapsed()) + " ms";
            QVERIFY2(elapsed.elapsed() < 2 * (T + 1) * 1000 + 4000, where);
            QVERIFY2(asked(*proxy) >= 2, where);
            for (int r : {1, 2})
                QVERIFY2(rows.TextMatrix(r, ProxyRow::Active) == u"N", where);
            if (parallel == 1)
                QVERIFY(b.host.status.endsWith("\r\nInvalid Proxy"));
            else
                QVERIFY2(b.host.status.startsWith(
                             "Testing 2 proxies: 2 done, 0 working, 2 failed, 0 running"),
                         qPrintable(b.host.status));
            QVERIFY(!b.tester.isRunning());
            QVERIFY(!b.host.locked);
            if (QTest::currentDataTag() != QByteArrayLiteral("canned page"))
                QCOMPARE(b.tester.lastGateBody(), QString());
        }
    }

    void socksHandshake_data()
    {
        QTest::addColumn<QByteArray>("answer"); // then closes
        QTest::addColumn<bool>("timesOut");     // never answers the greeting
        // Something that is no SOCKS server, asked as one.
        QTest::newRow("closes at the greeting") << QByteArray() << false;
        QTest::newRow("answers the greeting, then closes") << QByteArray("\x05\x00", 2) << false;
        QTest::newRow("garbage for a greeting") << QByteArray("HTTP/1.0 400 Bad\r\n\r\n") << false;
        QTest::newRow("never answers the greeting") << QByteArray() << true;
    }

    void socksHandshake()
    {
        QFETCH(QByteArray, answer);
        QFETCH(bool, timesOut);
        std::unique_ptr<QTcpServer> server;
        if (timesOut)
            server = std::make_unique<HangingServer>();
        else
            server = std::make_unique<ClosingServer>(true, answer);

        HttpFetcher http;
        const QUrl site(QStringLiteral("http://127.0.0.1:%1/gate.php").arg(closedLoopbackPort()));
        const QString proxy = QStringLiteral("socks=127.0.0.1:%1").arg(server->serverPort());
        const QPointer<FetchJob> job = http.start({site, proxy, T});
        FetchResult result;
        connect(job, &FetchJob::finished, this, [&result](const FetchResult& r) { result = r; });
        QTRY_VERIFY_WITH_TIMEOUT(result.finished, (T + 5) * 1000);
        QVERIFY(result.error != 0);
        QCOMPARE(result.status, -1);
        if (timesOut)
            QCOMPARE(result.error, -1);
        QTRY_VERIFY(job.isNull());
    }

private:
    ReferenceService m_service; // the judge the proxies are asked for
};

QTEST_GUILESS_MAIN(tst_HostileProxies)
#include "tst_HostileProxies.moc"
