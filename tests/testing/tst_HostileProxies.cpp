#include "model/ImportedListStore.h"
#include "model/ProxyTableModel.h"
#include "model/SettingsStore.h"
#include "service/DocumentFetcher.h"
#include "service/HttpFetcher.h"
#include "support/FakeTestRunHost.h"
#include "support/TestServers.h"
#include "testing/ProxyTester.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

constexpr int T = 2; // the test time-out here, in seconds

const QByteArray Canned = "GATEWAY_INTERFACE=CGI/1.1\nREMOTE_ADDR=127.0.0.1\n";

// A proxy that takes part as itself: it counts the connections or requests it got.
struct Proxy
{
    std::unique_ptr<QTcpServer> server;
    int asked() const
    {
        if (const auto* closing = dynamic_cast<const ClosingServer*>(server.get()))
            return closing->accepted();
        return int(static_cast<const LoopbackServer*>(server.get())->requests().size());
    }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(server->serverPort()); }
};

Proxy hostileProxy(const QString& kind)
{
    const QByteArray page =
        "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(Canned.size()) + "\r\n\r\n" +
        Canned;
    const QByteArray garbage("\x00\xff\x13garbage\x80\x81\r\n\x01\x02\x03\r\n\r\n", 21);
    QTcpServer* server = nullptr;
    if (kind == "canned page")
        server = new FixedServer(200, Canned);
    else if (kind == "200, empty body")
        server = new FixedServer(200, QByteArray());
    else if (kind == "garbage, then close")
        server = new RawServer(garbage, RawServer::End::Close);
    else if (kind == "garbage, kept open")
        server = new RawServer(garbage, RawServer::End::KeepOpen);
    else if (kind == "closes at once")
        server = new ClosingServer(false);
    else if (kind == "closes mid-request")
        server = new ClosingServer(true);
    else if (kind == "trickles the gate page")
        server = new TrickleServer({}, page);
    else if (kind == "cut-off gate page")
        server = new RawServer(page.left(page.size() - 10), RawServer::End::Close);
    return {std::unique_ptr<QTcpServer>(server)};
}

} // namespace

// Proxies that lie, stall or talk nonsense. A test run through them must end, and end with the
// proxy marked failed, except where the gate check cannot tell.
class tst_HostileProxies final : public QObject
{
    Q_OBJECT

private slots:
    void testRun_data();
    void testRun();
    void socksHandshake_data();
    void socksHandshake();
};

void tst_HostileProxies::testRun_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("parallel");
    QTest::addColumn<QString>("active");

    for (const int parallel : {1, 4}) {
        const auto row = [parallel](const char* kind) -> QTestData& {
            return QTest::addRow("%s, %d at once", kind, parallel)
                   << QString::fromLatin1(kind) << parallel;
        };
        // Never forwards, yet passes: the gate check only looks for the CGI echo in the body.
        row("canned page") << "Y";
        row("200, empty body") << "N";
        row("garbage, then close") << "N";
        row("garbage, kept open") << "N";
        row("closes at once") << "N";
        row("closes mid-request") << "N";
        row("trickles the gate page") << "N";
        row("cut-off gate page") << "N";
    }
}

void tst_HostileProxies::testRun()
{
    QFETCH(QString, kind);
    QFETCH(int, parallel);
    QFETCH(QString, active);

    QTemporaryDir dir;
    SettingsStore settings(dir.filePath(QStringLiteral("Corvatel.conf")));
    settings.write(QStringLiteral("ParallelTests"), QString::number(parallel));
    FakeTestRunHost host;
    HttpFetcher http;
    DocumentFetcher fetcher(http, host.stop);
    fetcher.setTestTimeout(T);
    QTimer clock; // the window's one-second clock
    clock.setInterval(1000);
    connect(&clock, &QTimer::timeout, &fetcher, &DocumentFetcher::tick);
    clock.start();
    ImportedListStore store;
    ProxyTableModel imported;
    // Nobody serves the region page: a passing proxy's look-up fails at once.
    const QString service = QStringLiteral("http://127.0.0.1:%1").arg(closedLoopbackPort());
    ProxyTester tester(host, fetcher, http, store, imported, settings, service);

    const Proxy proxy = hostileProxy(kind);
    ProxyTableModel rows;
    rows.setRows(1);
    for (int i = 0; i < 2; ++i) {
        ProxyTableModel::Row row;
        row.cells[ProxyRow::Active] = QStringLiteral("?");
        row.cells[ProxyRow::Proxy] = proxy.address();
        rows.appendRows({row});
    }
    QElapsedTimer elapsed;
    elapsed.start();
    tester.testSelectedProxies({&rows, 1, 1, 2});

    // Serially both rows may wait their whole time-out; well short of that times ten.
    QVERIFY2(elapsed.elapsed() < 2 * (T + 1) * 1000 + 4000,
             qPrintable(QString::number(elapsed.elapsed())));
    QVERIFY(proxy.asked() >= 2);
    for (int r = 1; r <= 2; ++r)
        QCOMPARE(rows.TextMatrix(r, ProxyRow::Active), active);
    QVERIFY(host.status.endsWith(active == u"Y" ? "\r\nProxy OK" : "\r\nInvalid Proxy"));
    QVERIFY(!tester.isRunning());
    QVERIFY(!host.locked);
    if (active == u"N")
        QCOMPARE(tester.lastGateBody(), QString());
}

void tst_HostileProxies::socksHandshake_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("timesOut");

    // Something that is no SOCKS server, asked as one.
    QTest::newRow("closes at the greeting") << "closes" << false;
    QTest::newRow("answers the greeting, then closes") << "half" << false;
    QTest::newRow("garbage for a greeting") << "garbage" << false;
    QTest::newRow("never answers the greeting") << "silent" << true;
}

void tst_HostileProxies::socksHandshake()
{
    QFETCH(QString, kind);
    QFETCH(bool, timesOut);

    std::unique_ptr<QTcpServer> server;
    if (kind == "closes")
        server = std::make_unique<ClosingServer>(true);
    else if (kind == "half")
        server = std::make_unique<ClosingServer>(true, QByteArray("\x05\x00", 2));
    else if (kind == "garbage")
        server = std::make_unique<ClosingServer>(true, QByteArray("HTTP/1.0 400 Bad\r\n\r\n"));
    else
        server = std::make_unique<HangingServer>();
    const QUrl site(QStringLiteral("http://127.0.0.1:%1/gate.php").arg(closedLoopbackPort()));

    HttpFetcher http;
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

QTEST_GUILESS_MAIN(tst_HostileProxies)
#include "tst_HostileProxies.moc"
