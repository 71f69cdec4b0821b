#include "service/DocumentFetcher.h"
#include "service/HttpFetcher.h"
#include "support/TestServers.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QSslConfiguration>
#include <QTest>
#include <QTimer>

#include <climits>
#include <memory>

namespace {

constexpr int T = 2; // seconds a fetch may take here
// Far above any bound below, far below what an unbounded fetch would take.
constexpr qint64 NothingHangsMs = (T + 1) * 1000 + 3000;

const QByteArray Page = "HTTP/1.1 200 OK\r\nContent-Length: 20\r\nConnection: close\r\n\r\n"
                        "GATEWAY_INTERFACE=x\n";

} // namespace

// Servers that misbehave on purpose, fetched through the window's blocking fetch (with the
// window's one-second clock) and through the job API directly. Every fetch must end as a failure
// within its bound.
class tst_HostileServers final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void failsWithinBound_data();
    void failsWithinBound();

private:
    // A fresh server of the given kind; its URL.
    QString serve(const QString& kind);

    bool m_stop = false;
    std::unique_ptr<HttpFetcher> m_http;
    std::unique_ptr<DocumentFetcher> m_doc;
    std::vector<std::unique_ptr<QTcpServer>> m_servers;
    QTimer m_clock;
    TestCertificate m_tls;
};

void tst_HostileServers::initTestCase()
{
    m_tls = TestCertificate::create();
    if (m_tls.isNull())
        return;
    // Trusted, so that a TLS failure below is the protocol mix-up and not the certificate.
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.addCaCertificate(m_tls.certificate);
    QSslConfiguration::setDefaultConfiguration(configuration);
}

void tst_HostileServers::init()
{
    m_stop = false;
    m_http = std::make_unique<HttpFetcher>();
    m_doc = std::make_unique<DocumentFetcher>(*m_http, m_stop);
    m_doc->setTestTimeout(T);
    m_clock.setInterval(1000);
    connect(&m_clock, &QTimer::timeout, m_doc.get(), &DocumentFetcher::tick);
    m_clock.start();
}

void tst_HostileServers::cleanup()
{
    m_clock.stop();
    m_doc.reset();
    m_http.reset();
    m_servers.clear();
}

QString tst_HostileServers::serve(const QString& kind)
{
    const auto keep = [this](auto* server) {
        m_servers.emplace_back(server);
        return server;
    };
    if (kind == "head trickles")
        return keep(new TrickleServer({}, Page))->url();
    if (kind == "body trickles")
        return keep(new TrickleServer(Page.left(Page.indexOf("\r\n\r\n") + 4),
                                      Page.mid(Page.indexOf("\r\n\r\n") + 4)))
            ->url();
    if (kind == "endless body")
        return keep(new FloodServer(LLONG_MAX / 2, -1))->url();
    if (kind == "redirect loop")
        return keep(new RedirectServer)->url();
    if (kind == "close mid-header")
        return keep(new RawServer("HTTP/1.1 200 OK\r\nContent-Le", RawServer::End::Close))->url();
    if (kind == "reset mid-header")
        return keep(new RawServer("HTTP/1.1 200 OK\r\nContent-Le", RawServer::End::Reset))->url();
    if (kind == "garbage, kept open")
        return keep(new RawServer(QByteArray("\x16\x03\x01\xff\x00garbage\r\n\r\n\x80", 17),
                                  RawServer::End::KeepOpen))
            ->url();
    if (kind == "plain answer to TLS") {
        auto* server = keep(new ClosingServer(true, Page));
        return QStringLiteral("https://127.0.0.1:%1/").arg(server->serverPort());
    }
    if (kind == "TLS server, plain request") {
        auto* server = keep(new RawServer(Page, RawServer::End::Close));
        server->useTls(m_tls);
        return server->url().replace("https://", "http://");
    }
    if (kind == "TLS handshake unanswered") {
        QString url = keep(new HangingServer)->url();
        return url.replace("http://", "https://");
    }
    return kind;
}

void tst_HostileServers::failsWithinBound_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("timesOut"); // only the time-out can end it

    QTest::newRow("head trickles, a byte a second") << "head trickles" << true;
    QTest::newRow("body trickles, a byte a second") << "body trickles" << true;
    QTest::newRow("endless chunked body") << "endless body" << false;
    QTest::newRow("redirect loop") << "redirect loop" << false;
    QTest::newRow("close mid-header") << "close mid-header" << false;
    QTest::newRow("reset mid-header") << "reset mid-header" << false;
    QTest::newRow("garbage, connection kept open") << "garbage, kept open" << false;
    QTest::newRow("TLS handshake answered in plain HTTP") << "plain answer to TLS" << false;
    QTest::newRow("plain HTTP request to a TLS server") << "TLS server, plain request" << false;
    QTest::newRow("TLS handshake never answered") << "TLS handshake unanswered" << true;
}

void tst_HostileServers::failsWithinBound()
{
    QFETCH(QString, kind);
    QFETCH(bool, timesOut);
    if (kind.contains("TLS") && m_tls.isNull())
        QSKIP("no TLS backend or no openssl tool to make a test certificate");

    // The window's way: a proxy test's fetch, waiting on the clock.
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(m_doc->getDOC_WINHTTP(true, true, serve(kind)), QString());
    QVERIFY2(clock.elapsed() < NothingHangsMs, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(m_doc->httpError, -1);
    QVERIFY(m_doc->httpFinished || timesOut);
    if (timesOut)
        QCOMPARE(m_doc->httpSeconds, T + 1);

    // A job on its own, bounded by its own limit only.
    const QPointer<FetchJob> job = m_http->start({QUrl(serve(kind)), QString(), T});
    FetchResult result;
    connect(job, &FetchJob::finished, this, [&result](const FetchResult& r) { result = r; });
    clock.start();
    QTRY_VERIFY_WITH_TIMEOUT(result.finished, int(NothingHangsMs));
    QVERIFY2(result.error != 0, qPrintable(QString::number(result.status)));
    if (timesOut) {
        QCOMPARE(result.error, -1);
        QCOMPARE(result.elapsedSeconds, T);
    }
    // Nothing kept of a body that was cut off or too large.
    QVERIFY2(result.body.size() < 1024, qPrintable(result.body.left(80)));
    QTRY_VERIFY(job.isNull());
}

QTEST_MAIN(tst_HostileServers)
#include "tst_HostileServers.moc"
