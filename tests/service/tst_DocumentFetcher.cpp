#include "base/StopFlag.h"
#include "service/DocumentFetcher.h"
#include "service/HttpFetcher.h"
#include "support/TestServers.h"
#include "support/TinyProxy.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QSslConfiguration>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <memory>
#include <sys/resource.h>
#include <vector>

namespace {

constexpr qint64 MiB = 1024 * 1024;

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// A target kind for FloodServer; declaredLength < 0 sends the body chunked.
QString flood(qint64 bodyBytes, qint64 declaredLength = -1)
{
    return QStringLiteral("flood %1 %2").arg(bodyBytes).arg(declaredLength);
}

// Redirects "/N" to "/N-1" with the given status and a body of its own, and answers "end" at
// "/0".
class ChainServer final : public LoopbackServer
{
public:
    explicit ChainServer(int status) : m_status(status) {}

private:
    void respond(QTcpSocket* socket) override
    {
        const int left = requests().last().split(' ').value(1).mid(1).toInt();
        socket->write(left > 0
                          ? "HTTP/1.1 " + QByteArray::number(m_status) + " Moved\r\nLocation: /" +
                                QByteArray::number(left - 1) + "\r\nContent-Length: 5\r\n\r\nmoved"
                          : QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nend"));
    }
    int m_status;
};

// A page a proxy test would accept, sent too slowly, cut off or in the wrong protocol.
const QByteArray GatePage = "HTTP/1.1 200 OK\r\nContent-Length: 20\r\nConnection: close\r\n\r\n"
                            "GATEWAY_INTERFACE=x\n";

} // namespace

// DocumentFetcher over a real HttpFetcher, against loopback servers; the window's clock ticks
// once a second unless a test ticks by hand.
class tst_DocumentFetcher final : public QObject
{
    Q_OBJECT

    template <typename T, typename... Args> T* server(Args&&... args)
    {
        m_servers.push_back(std::make_unique<T>(std::forward<Args>(args)...));
        return static_cast<T*>(m_servers.back().get());
    }

    QString target(const QString& kind)
    {
        const QStringList words = kind.split(' ');
        if (kind == "ok")
            return server<FixedServer>(200, "grüße")->url();
        if (kind == "404")
            return server<FixedServer>(404, "error page")->url();
        if (kind == "refused")
            return QStringLiteral("http://127.0.0.1:%1/").arg(closedLoopbackPort());
        if (kind == "reset")
            return server<ResettingServer>()->url();
        if (kind == "hang")
            return server<HangingServer>()->url();
        if (words[0] == "flood")
            return server<FloodServer>(words[1].toLongLong(), words[2].toLongLong())->url();
        if (words[0] != "redirect")
            return kind;
        if (kind == "redirect limit") // the redirect's own body does not count
            return server<RedirectServer>(
                       server<FloodServer>(HttpFetcher::MaxBodyBytes, HttpFetcher::MaxBodyBytes)
                           ->url())
                ->url();
        auto* redirect = server<RedirectServer>(server<FixedServer>(200, "hello")->url());
        if (kind != "redirect")
            redirect->useTls(kind == "redirect https" ? m_tls : TestCertificate::create());
        return redirect->url();
    }

    QString hostile(const QString& kind)
    {
        const qsizetype head = GatePage.indexOf("\r\n\r\n") + 4;
        const QByteArray cutHeader("HTTP/1.1 200 OK\r\nContent-Le");
        if (kind == "body trickles")
            return server<TrickleServer>(GatePage.left(head), GatePage.mid(head))->url();
        if (kind == "close mid-header")
            return server<RawServer>(cutHeader, RawServer::End::Close)->url();
        if (kind == "garbage, kept open")
            return server<RawServer>(QByteArray("\x16\x03\x01\xff\x00garbage\r\n\r\n\x80", 17),
                                     RawServer::End::KeepOpen)
                ->url();
        if (kind == "plain answer to TLS")
            return QStringLiteral("https://127.0.0.1:%1/")
                .arg(server<ClosingServer>(true, GatePage)->serverPort());
        if (kind == "TLS server, plain request") {
            auto* tls = server<RawServer>(GatePage, RawServer::End::Close);
            tls->useTls(m_tls);
            return tls->url().replace("https://", "http://");
        }
        return server<HangingServer>()->url().replace("http://", "https://"); // no handshake
    }

    static constexpr int TestTimeout = 2;
    StopFlag m_stop;
    std::unique_ptr<HttpFetcher> m_http;
    std::unique_ptr<DocumentFetcher> m_doc;
    std::vector<std::unique_ptr<QTcpServer>> m_servers;
    QTimer m_clock;
    TestCertificate m_tls; // trusted for the whole run

private slots:
    void initTestCase()
    {
        m_tls = TestCertificate::create();
        if (m_tls.isNull())
            return;
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.addCaCertificate(m_tls.certificate);
        QSslConfiguration::setDefaultConfiguration(configuration);
    }

    void init()
    {
        m_stop.clear();
        m_http = std::make_unique<HttpFetcher>();
        m_doc = std::make_unique<DocumentFetcher>(*m_http, m_stop);
        m_clock.setTimerType(Qt::PreciseTimer);
        m_clock.setInterval(1000);
        connect(&m_clock, &QTimer::timeout, m_doc.get(), &DocumentFetcher::tick);
        m_clock.start();
    }

    void cleanup()
    {
        m_clock.stop();
        m_doc.reset();
        m_http.reset();
        m_servers.clear();
    }

    void answers_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("proxy");
        QTest::addColumn<QString>("result");
        QTest::addColumn<int>("error");
        QTest::addColumn<int>("status");

        const QString none;
        const QString full(int(HttpFetcher::MaxBodyBytes), QLatin1Char('x'));
        const QString deadProxy = QStringLiteral("127.0.0.1:%1").arg(closedLoopbackPort());
        QTest::newRow("200, utf-8") << "ok" << none << QString::fromUtf8("grüße") << 0 << 200;
        QTest::newRow("404") << "404" << none << "" << 0 << 404;
        QTest::newRow("refused") << "refused" << none << "" << -1 << -1;
        QTest::newRow("reset mid-body") << "reset" << none << "" << -1 << 200;
        QTest::newRow("redirect") << "redirect" << none << "hello" << 0 << 200;
        QTest::newRow("https redirects to http") << "redirect https" << none << "hello" << 0 << 200;
        QTest::newRow("untrusted certificate") << "redirect untrusted" << none << "" << -1 << -1;
        // Stalls after 64 KiB: only the header can end it quickly.
        QTest::newRow("40 GiB declared")
            << flood(64 * 1024, 40 * 1024 * MiB) << none << "" << -1 << 200;
        QTest::newRow("200 MiB streamed") << flood(200 * MiB) << none << "" << -1 << 200;
        QTest::newRow("limit + 1 streamed") << flood(full.size() + 1) << none << "" << -1 << 200;
        QTest::newRow("limit declared")
            << flood(full.size(), full.size()) << none << full << 0 << 200;
        QTest::newRow("limit streamed") << flood(full.size()) << none << full << 0 << 200;
        QTest::newRow("limit after a redirect") << "redirect limit" << none << full << 0 << 200;
        QTest::newRow("proxy refuses") << "ok" << deadProxy << "" << -1 << -1;
        QTest::newRow("proxy without port") << "ok" << QString("127.0.0.1") << "" << -1 << -1;
        QTest::newRow("ftp URL") << "ftp://127.0.0.1/" << none << "" << -1 << -1;
        QTest::newRow("empty URL") << "" << none << "" << -1 << -1;
    }

    void answers()
    {
        QFETCH(QString, kind);
        QFETCH(QString, proxy);
        QFETCH(QString, result);
        QFETCH(int, error);
        QFETCH(int, status);
        if (kind.startsWith("redirect ") && m_tls.isNull())
            QSKIP("no TLS backend or no openssl tool to make a test certificate");

        QElapsedTimer clock;
        clock.start();
        QCOMPARE(m_doc->getDOC_WINHTTP(true, DocumentFetcher::DefaultTimeoutSeconds, target(kind),
                                       proxy),
                 result);
        // Well inside the 60 s time-out, with room for a busy machine.
        QVERIFY2(clock.elapsed() < 15000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(m_doc->httpError, error);
        QCOMPARE(m_doc->httpStatus, status);
        QVERIFY(m_doc->httpFinished);
        // Every request, redirect hops included, carries the user agent; an oversize body is not
        // read on to its end.
        for (const auto& server : m_servers) {
            for (const QByteArray& request : static_cast<LoopbackServer*>(server.get())->requests())
                QVERIFY2(request.contains("\r\nUser-Agent: Mozilla/5.0 (Windows NT 5.2; "
                                          "rv:10.0.2) NEWT ActiveX Firefox/10.0.2\r\n"),
                         request.constData());
            if (const auto* flood = dynamic_cast<const FloodServer*>(server.get()))
                QVERIFY2(flood->bytesSent() < 100 * MiB,
                         qPrintable(QString::number(flood->bytesSent())));
        }
    }

    void redirects_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("hops");
        QTest::addColumn<QString>("result");
        QTest::addColumn<int>("answered"); // the status the fetch ends with
        for (int status : {301, 302, 303, 307, 308})
            QTest::addRow("%d followed", status) << status << 1 << "end" << 200;
        QTest::newRow("300 not followed") << 300 << 1 << "" << 300;
        QTest::newRow("the most hops followed") << 302 << HttpFetcher::MaxRedirects << "end" << 200;
        QTest::newRow("one hop too many") << 302 << HttpFetcher::MaxRedirects + 1 << "" << -1;
    }

    void redirects()
    {
        QFETCH(int, status);
        QFETCH(int, hops);
        QFETCH(QString, result);
        QFETCH(int, answered);
        auto* chain = server<ChainServer>(status);
        QCOMPARE(m_doc->getDOC_WINHTTP(true, DocumentFetcher::DefaultTimeoutSeconds,
                                       chain->url() + QString::number(hops)),
                 result);
        QCOMPARE(m_doc->httpStatus, answered);
        QCOMPARE(m_doc->httpError, answered == -1 ? -1 : 0);
        QCOMPARE(int(chain->requests().size()),
                 answered == 300 ? 1 : std::min(hops, HttpFetcher::MaxRedirects) + 1);
    }

    // A proxy the fetcher accepts is connected to (nobody listens there: refused by the system);
    // one it refuses ends the job with -1 without a connection.
    void proxyPorts_data()
    {
        QTest::addColumn<QString>("proxy");
        QTest::addColumn<bool>("used");
        QTest::newRow("port 1") << "127.0.0.1:1" << true;
        QTest::newRow("port 65535") << "127.0.0.1:65535" << true;
        QTest::newRow("port 0") << "127.0.0.1:0" << false;
        QTest::newRow("port 65536") << "127.0.0.1:65536" << false;
        QTest::newRow("SOCKS, port 1") << "socks=127.0.0.1:1" << true;
        QTest::newRow("blank in host") << "127.0 .0.1:80" << false;
        QTest::newRow("IPv6 in brackets") << "[::1]:1" << true;
        QTest::newRow("IPv4 in brackets") << "[127.0.0.1]:1" << false;
    }

    void proxyPorts()
    {
        QFETCH(QString, proxy);
        QFETCH(bool, used);
        FetchJob* job = m_http->start({QUrl(QStringLiteral("http://198.51.100.1/")), proxy, 0});
        FetchResult result;
        connect(job, &FetchJob::finished, this, [&result](const FetchResult& r) { result = r; });
        QTRY_VERIFY_WITH_TIMEOUT(result.finished, 10000);
        QCOMPARE(result.error == -1, !used);
        QVERIFY(result.error != 0);
    }

    // A fetch allowed T seconds ends on the tick that takes the counter past T.
    void timeOut_data()
    {
        QTest::addColumn<int>("limit");
        QTest::addColumn<int>("answerMs");  // -1: never
        QTest::addColumn<int>("handTicks"); // -1: the clock runs; else this many ticks at 100 ms
        QTest::addColumn<QString>("result");
        QTest::addColumn<int>("seconds");

        const int T = TestTimeout, Default = DocumentFetcher::DefaultTimeoutSeconds;
        QTest::newRow("no answer") << T << -1 << -1 << "" << 3;
        QTest::newRow("answer in the T-th second") << T << 300 << 2 << "" << 2;
        QTest::newRow("answer before the T-th second") << T << 300 << 1 << "late" << 1;
        QTest::newRow("the default allows 60 s") << Default << 300 << 59 << "late" << 59;
        QTest::newRow("the default ends in the 60th") << Default << 300 << 60 << "" << 60;
    }

    void timeOut()
    {
        QFETCH(int, limit);
        QFETCH(int, answerMs);
        QFETCH(int, handTicks);
        QFETCH(QString, result);
        QFETCH(int, seconds);
        const QString url =
            answerMs < 0 ? target("hang") : server<FixedServer>(200, "late", answerMs)->url();
        if (handTicks >= 0) {
            m_clock.stop();
            QTimer::singleShot(100, Qt::PreciseTimer, m_doc.get(), [this, handTicks] {
                for (int i = 0; i < handTicks; ++i)
                    m_doc->tick();
            });
        }

        QElapsedTimer clock;
        clock.start();
        QCOMPARE(m_doc->getDOC_WINHTTP(true, limit, url), result);
        const qint64 elapsed = clock.elapsed(), expected = answerMs < 0 ? 2000 : answerMs;
        QVERIFY2(elapsed >= expected - 100 && elapsed <= expected + 1500,
                 qPrintable(QString::number(elapsed)));
        QCOMPARE(m_doc->httpError, result.isEmpty() ? -1 : 0);
        QCOMPARE(m_doc->httpSeconds, seconds);
        QCOMPARE(m_doc->httpStatus, answerMs < 0 ? -1 : 200);
    }

    void hostileServers_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("timesOut"); // only the time-out can end it

        for (const char* kind : {"body trickles", "TLS handshake unanswered"})
            QTest::newRow(kind) << kind << true;
        for (const char* kind : {"close mid-header", "garbage, kept open", "plain answer to TLS",
                                 "TLS server, plain request"})
            QTest::newRow(kind) << kind << false;
    }

    // Every fetch from a hostile server ends as a failure within its bound (a trickle sends a byte
    // a second).
    void hostileServers()
    {
        QFETCH(QString, kind);
        QFETCH(bool, timesOut);
        if (kind.contains("TLS") && m_tls.isNull())
            QSKIP("no TLS backend or no openssl tool to make a test certificate");

        QElapsedTimer clock;
        clock.start();
        QCOMPARE(m_doc->getDOC_WINHTTP(true, TestTimeout, hostile(kind)), QString());
        QVERIFY2(clock.elapsed() < 6000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(m_doc->httpError, -1);
        QVERIFY(m_doc->httpFinished || timesOut);
        if (timesOut)
            QCOMPARE(m_doc->httpSeconds, TestTimeout + 1);
    }

    void stop_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("stopMs"); // -1: set before the fetch
        QTest::addColumn<int>("status");

        QTest::newRow("no answer for 3 s") << "hang" << 3000 << -1;
        QTest::newRow("200 announced, body incomplete") << flood(5, 1000) << 300 << 200;
        QTest::newRow("set before the fetch") << "hang" << -1 << -1;
    }

    void stop()
    {
        QFETCH(QString, kind);
        QFETCH(int, stopMs);
        QFETCH(int, status);
        const QString url = target(kind);
        if (stopMs < 0)
            m_stop.request();
        QTimer::singleShot(qMax(stopMs, 0), m_doc.get(), [this] { m_stop.request(); });

        QElapsedTimer clock;
        clock.start();
        const double cpuBefore = cpuSeconds();
        QCOMPARE(m_doc->getDOC_WINHTTP(true, DocumentFetcher::DefaultTimeoutSeconds, url),
                 QString());
        const double cpu = cpuSeconds() - cpuBefore;
        QVERIFY2(clock.elapsed() < qMax(stopMs, 0) + 700,
                 qPrintable(QString::number(clock.elapsed())));
        QVERIFY2(cpu < 0.15, qPrintable(QString::number(cpu))); // it sleeps, never spins
        QCOMPARE(m_doc->httpError, 0);
        QCOMPARE(m_doc->httpStatus, status);
        QVERIFY(!m_doc->httpFinished);
    }

    // A fetch started while another waits leaves the outcome of the one it interrupted alone.
    void innerFetchLeavesOuterOutcome()
    {
        const QString outer = server<FixedServer>(200, "outer", 1200)->url();
        const QString inner = target("refused");
        QList<int> innerSeen; // body size, status, error
        QTimer::singleShot(200, m_doc.get(), [&] {
            innerSeen = {int(m_doc->getDOC_WINHTTP(true, TestTimeout, inner).size()),
                         m_doc->httpStatus, m_doc->httpError};
        });
        QCOMPARE(m_doc->getDOC_WINHTTP(true, DocumentFetcher::DefaultTimeoutSeconds, outer),
                 QString("outer"));
        QCOMPARE(m_doc->httpStatus, 200);
        QCOMPARE(m_doc->httpError, 0);
        QCOMPARE(innerSeen, QList<int>({0, -1, -1}));
    }

    void throughTinyproxy()
    {
        if (TinyProxy::executable().isEmpty())
            QSKIP("tinyproxy is not installed (test.sh installs it)");
        TinyProxy proxy;
        const QString failure = proxy.start();
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        auto* site = server<FixedServer>(200, "through the proxy");

        QCOMPARE(m_doc->getDOC_WINHTTP(true, TestTimeout, site->url(), proxy.address()),
                 QString("through the proxy"));
        QCOMPARE(site->requests().size(), 1);
        QVERIFY2(site->requests()[0].contains("tinyproxy"), site->requests()[0].constData());
    }

    // Without waiting the request still goes out; the fetcher is torn down with it in flight.
    void withoutWaiting()
    {
        auto* hang = server<HangingServer>();
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(m_doc->getDOC_WINHTTP(false, DocumentFetcher::DefaultTimeoutSeconds, hang->url()),
                 QString());
        QVERIFY(clock.elapsed() < 500);
        QCOMPARE(m_doc->httpError, 0);
        QTRY_COMPARE(hang->requests().size(), 1);
    }

    // The job's own limit ends a fetch when no clock watches it; abort() ends one at once.
    void jobBackstopAndAbort()
    {
        const HangingServer* hanging = server<HangingServer>();
        QList<FetchResult> results;
        const auto start = [&](int timeoutSeconds) {
            const QPointer<FetchJob> job =
                m_http->start({QUrl(hanging->url()), QString(), timeoutSeconds});
            connect(job, &FetchJob::finished, this, [&](const FetchResult& r) { results << r; });
            return job;
        };
        const QPointer<FetchJob> limited = start(1), stuck = start(0);

        QTRY_COMPARE_WITH_TIMEOUT(results.size(), 1, 3000);
        QCOMPARE(results[0].error, -1);
        QCOMPARE(results[0].elapsedSeconds, 1);
        QVERIFY(stuck && !stuck->isFinished());
        stuck->abort();
        stuck->abort();
        QCOMPARE(results.size(), 2); // at once, and once only
        QCOMPARE(results[1].error, -1);
        QTRY_VERIFY(limited.isNull() && stuck.isNull()); // both delete themselves

        // A job deleted while its request is in flight says nothing more.
        FetchJob* dropped = start(0);
        QTRY_COMPARE(hanging->requests().size(), 3);
        delete dropped;
        QCOMPARE(results.size(), 2);
    }

    // The body is decoded chunk by chunk as it comes: characters cut by a chunk's end or ending
    // with it, a byte order mark inside the body and a character cut by the body's end come out
    // as if the whole body had been decoded at once.
    void bodyDecodedAcrossChunks()
    {
        // BOM a ä b € 😀 c BOM d, and the first byte of an ä.
        const QList<QByteArray> pieces{
            QByteArray::fromHex("efbbbf61c3"), QByteArray::fromHex("a462e282"),
            QByteArray::fromHex("acf09f98"),   QByteArray::fromHex("80"),
            QByteArray::fromHex("63"),         QByteArray::fromHex("efbbbf64c3")};
        const QByteArray body = pieces.join();
        QTcpServer piecewise;
        QVERIFY(piecewise.listen(QHostAddress::LocalHost));
        connect(&piecewise, &QTcpServer::newConnection, this, [&] {
            QTcpSocket* socket = piecewise.nextPendingConnection();
            socket->write("HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) +
                          "\r\nConnection: close\r\n\r\n");
            for (int i = 0; i < pieces.size(); ++i) {
                QTimer::singleShot(40 * (i + 1), socket, [socket, piece = pieces[i]] {
                    socket->write(piece);
                    socket->flush();
                });
            }
        });
        const QPointer<FetchJob> job = m_http->start(
            {QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(piecewise.serverPort())), {}, 5});
        FetchResult result;
        connect(job, &FetchJob::finished, this, [&](const FetchResult& r) { result = r; });
        QTRY_VERIFY(result.finished);
        QCOMPARE(result.error, 0);
        QCOMPARE(result.body, QString::fromUtf8(body));
        QCOMPARE(result.body.count(QChar(QChar::ByteOrderMark)), 1); // the first one is no text
    }
};

QTEST_MAIN(tst_DocumentFetcher)
#include "tst_DocumentFetcher.moc"
