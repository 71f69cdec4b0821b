#include "base/StopFlag.h"
#include "service/DocumentFetcher.h"
#include "service/HttpFetcher.h"
#include "support/FakeWindowHost.h"
#include "support/ScriptedPrompts.h"
#include "support/TestServers.h"
#include "testing/AutoTest.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

namespace {

// Takes connections, keeps the first bytes each one sends and refuses every SOCKS5 login method.
class RecordingServer final : public QTcpServer
{
public:
    RecordingServer()
    {
        listen(QHostAddress::LocalHost);
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    received += socket->readAll();
                    socket->write(QByteArray("\x05\xff", 2));
                    socket->disconnectFromHost();
                });
            }
        });
    }
    QByteArray received;
};

// An auto-test of the given page over a window that starts minimised.
struct Probe
{
    explicit Probe(const QString& page) : test(host, fetcher, prompts, page)
    {
        host.minimized = true;
    }
    FakeWindowHost host;
    StopFlag stop;
    HttpFetcher http;
    DocumentFetcher fetcher{http, stop};
    ScriptedPrompts prompts;
    AutoTest test;
};

constexpr int Timeout = 60; // the user's test time-out

const QString Alert = QStringLiteral(
    "Corvatel: Error, proxy connection failed : 203.0.113.9:8080 [Oslo], please select another "
    "or disable.");

} // namespace

class tst_AutoTest : public QObject
{
    Q_OBJECT

private slots:
    void probe_data()
    {
        QTest::addColumn<bool>("minimized");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("alert");
        QTest::newRow("page intact")
            << true << 200 << QByteArray("<img id=google_favicon>") << false;
        QTest::newRow("proxy's own page")
            << true << 200 << QByteArray("<h1>Access denied</h1>") << true;
        QTest::newRow("marker in another case")
            << true << 200 << QByteArray("GOOGLE_FAVICON") << true;
        QTest::newRow("error status") << true << 502 << QByteArray("google_favicon") << true;
        QTest::newRow("not minimised: no probe") << false << 502 << QByteArray() << false;
    }

    // The probe goes to the page through the switched-on proxy, which is the one that answers here.
    void probe()
    {
        QFETCH(bool, minimized);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(bool, alert);
        FixedServer proxy(status, body);
        Probe p(QStringLiteral("http://probe.invalid/home"));
        p.host.minimized = minimized;
        p.test.timerPTest_Timer(QStringLiteral("203.0.113.9:8080 [Oslo]"),
                                QStringLiteral("127.0.0.1:%1").arg(proxy.serverPort()), Timeout);

        QCOMPARE(proxy.requests().size(), int(minimized));
        if (minimized) {
            QVERIFY2(proxy.requests()[0].startsWith("GET http://probe.invalid/home "),
                     proxy.requests()[0].constData());
            QCOMPARE(p.test.httpResult().isEmpty(), status != 200);
        }
        QCOMPARE(p.prompts.asked, alert ? QStringList{Alert} : QStringList());
        QCOMPARE(p.host.restores, int(alert));
        QCOMPARE(p.host.minimized, minimized && !alert);
    }

    // A tick that comes while a probe is still waiting for its page is skipped.
    void tickDuringAProbeIsSkipped()
    {
        FixedServer proxy(502, QByteArray());
        Probe p(QStringLiteral("http://probe.invalid/"));
        const QString label = QStringLiteral("203.0.113.9:8080 [Oslo]");
        const QString server = QStringLiteral("127.0.0.1:%1").arg(proxy.serverPort());
        QTimer tick;
        tick.setSingleShot(true);
        connect(&tick, &QTimer::timeout, this,
                [&] { p.test.timerPTest_Timer(label, server, Timeout); });
        tick.start(0);
        p.test.timerPTest_Timer(label, server, Timeout);
        QVERIFY(!tick.isActive());
        QCOMPARE(proxy.requests().size(), 1);
        QCOMPARE(p.prompts.asked, QStringList{Alert});
    }

    // A SOCKS proxy is spoken to as one: the first byte is the SOCKS5 version.
    void probeThroughSocksProxy()
    {
        RecordingServer socks;
        Probe p(QStringLiteral("http://probe.invalid/"));
        p.test.timerPTest_Timer(QStringLiteral("203.0.113.9:8080 [Oslo]"),
                                QStringLiteral("socks=127.0.0.1:%1").arg(socks.serverPort()),
                                Timeout);
        QVERIFY(socks.received.startsWith('\x05'));
        QCOMPARE(p.prompts.asked, QStringList{Alert});
        QCOMPARE(p.host.restores, 1);
    }

    // A proxy that takes the connection and never answers fails the probe at the time-out the
    // tick is given, counted by the window's clock.
    void silentProxyFailsAtTheTimeout()
    {
        HangingServer proxy;
        Probe p(QStringLiteral("http://probe.invalid/"));
        QTimer clock; // the window's one-second clock, ten times as fast
        connect(&clock, &QTimer::timeout, &p.fetcher, &DocumentFetcher::tick);
        clock.start(100);
        QElapsedTimer elapsed;
        elapsed.start();
        p.test.timerPTest_Timer(QStringLiteral("203.0.113.9:8080 [Oslo]"),
                                QStringLiteral("127.0.0.1:%1").arg(proxy.serverPort()), 2);
        QVERIFY2(elapsed.elapsed() < 1500, qPrintable(QString::number(elapsed.elapsed())));
        QCOMPARE(p.fetcher.httpError, -1);
        QCOMPARE(p.prompts.asked, QStringList{Alert});
    }
};

QTEST_GUILESS_MAIN(tst_AutoTest)
#include "tst_AutoTest.moc"
