#include "service/ReferenceService.h"
#include "support/TestServers.h"
#include "support/TinyProxy.h"
#include "testing/CurlEngine.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTest>
#include <QTimer>

#include <optional>

using Reach = ProbeResult::Reach;
Q_DECLARE_METATYPE(ProxyType)
Q_DECLARE_METATYPE(ProbeResult::Reach)

namespace {

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
    r.userAgent = "Corvatel-Test/1";
    return r;
}

} // namespace

class tst_CurlEngine : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(m_service.start({}), qPrintable(m_service.errorString()));
        m_gate = m_service.baseUrl() + QStringLiteral("/gate.php?x=1");
        if (TinyProxy::executable().isEmpty())
            QSKIP("tinyproxy is not installed (test.sh installs it)");
        const QString failure = m_tinyproxy.start();
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
    }

    void basics()
    {
        CurlEngine engine;
        const auto direct = fetch(engine, request(m_gate));
        QVERIFY(direct);
        QVERIFY2(direct->ok, qPrintable(direct->errorText));
        QCOMPARE(direct->status, 200);
        QCOMPARE(direct->reach, Reach::Beyond);
        QVERIFY(direct->body.contains("HTTP_USER_AGENT=Corvatel-Test/1"));

        const auto viaHttp = fetch(engine, request(m_gate, ProxyType::Http, m_tinyproxy.address()));
        QVERIFY(viaHttp);
        QVERIFY2(viaHttp->ok, qPrintable(viaHttp->errorText));
        QCOMPARE(viaHttp->reach, Reach::Beyond);
        QVERIFY(viaHttp->body.contains("HTTP_VIA="));

        const QString closed = QStringLiteral("127.0.0.1:%1").arg(closedLoopbackPort());
        const auto none = fetch(engine, request(m_gate, ProxyType::Socks5, closed));
        QVERIFY(none);
        QVERIFY(!none->ok);
        QCOMPARE(none->reach, Reach::None);
        QVERIFY(!none->errorText.isEmpty());
        QCOMPARE(engine.inFlight(), 0);
    }

private:
    ReferenceService m_service;
    TinyProxy m_tinyproxy;
    QString m_gate;
};

QTEST_GUILESS_MAIN(tst_CurlEngine)
#include "tst_CurlEngine.moc"
