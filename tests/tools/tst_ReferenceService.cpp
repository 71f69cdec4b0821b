#include "service/ReferenceService.h"

#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

const QByteArrayList kLines = {
    "localhost:8642|1|100|2024-04-30 12:00:00|HTTP|Yes|Yes|Yes|Yes|No|Local, Loopback|"
    "Anonymous proxy|",
    "192.0.2.7:8080|4|0|2024-04-01 10:00:00|SOCKS5|No|Yes|No|No|No||Transparent proxy|",
    "10.1.2.3:3128|9|n/a|2024-03-02 03:04:05||Yes|Yes|Yes|Yes|Yes|Brazil|"
    "High anonymous / Elite proxy|"};
// Mixed line ends and a blank line; the last line has no line end.
const QByteArray kListFile = kLines[0] + "\r\n\n" + kLines[1] + "\r" + kLines[2];
const QByteArray kListBody = kLines.join("<BR>") + "<BR>";
const QByteArray kRegionsFile = "localhost:8642\tLocal, Loopback\n"
                                "10.1.2.3:3128\tBrazil, Sao Paulo\r\n"
                                "line without a tab\n";

struct Response
{
    int status = 0;
    QByteArray contentType;
    QByteArray body;
    QByteArray allow;
};

Response fetch(const QUrl& url, const QByteArrayList& headers = {},
               const QNetworkProxy& proxy = QNetworkProxy(QNetworkProxy::NoProxy),
               const QByteArray& method = "GET")
{
    QNetworkAccessManager manager;
    manager.setProxy(proxy);
    QNetworkRequest request(url);
    request.setTransferTimeout(20000);
    for (const QByteArray& header : headers) {
        const qsizetype colon = header.indexOf(':');
        request.setRawHeader(header.left(colon), header.mid(colon + 1).trimmed());
    }
    std::unique_ptr<QNetworkReply> reply(
        method == "GET" ? manager.get(request) : manager.sendCustomRequest(request, method, "x=1"));
    QSignalSpy finished(reply.get(), &QNetworkReply::finished);
    if (!finished.wait(30000))
        return {};
    return {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
            reply->rawHeader("Content-Type"), reply->readAll(), reply->rawHeader("Allow")};
}

bool hasLine(const QByteArray& body, const QByteArray& line)
{
    return body.split('\n').contains(line);
}

// What came back on a raw connection: up to the server's close, or up to `waitMs` after a whole
// answer (head and Content-Length bytes) was in.
struct RawResult
{
    QByteArray data;
    bool closed = false;
};

bool answerComplete(const QByteArray& data)
{
    const qsizetype headEnd = data.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return false;
    const QByteArray head = data.left(headEnd).toLower();
    const qsizetype at = head.indexOf("content-length:");
    const qsizetype length =
        at < 0 ? 0 : head.mid(at + 15).split('\r').first().trimmed().toLongLong();
    return data.size() >= headEnd + 4 + length;
}

RawResult exchange(quint16 port, const QByteArray& bytes, int waitMs)
{
    RawResult result;
    QTcpSocket socket;
    QObject::connect(&socket, &QTcpSocket::readyRead, [&] { result.data += socket.readAll(); });
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!QTest::qWaitFor([&] { return socket.state() == QAbstractSocket::ConnectedState; }, 5000))
        return result;
    socket.write(bytes);
    const auto isClosed = [&] { return socket.state() == QAbstractSocket::UnconnectedState; };
    // The whole answer or a close first, then a little longer for a close that follows the answer.
    if (QTest::qWaitFor([&] { return isClosed() || answerComplete(result.data); }, 10000))
        (void)QTest::qWaitFor(isClosed, waitMs);
    result.data += socket.readAll();
    result.closed = isClosed();
    return result;
}

} // namespace

class tst_ReferenceService : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void pages_data();
    void pages();
    void largeListIsServedIntact();
    void gate_data();
    void gate();
    void proxyStyleRequests_data();
    void proxyStyleRequests();
    void rawRequests_data();
    void rawRequests();
    void garbageIsRefusedAndServiceGoesOn_data();
    void garbageIsRefusedAndServiceGoesOn();
    void mailList_data();
    void mailList();
    void homePageLinksCallerAddress_data();
    void homePageLinksCallerAddress();
    void startFailures_data();
    void startFailures();

private:
    QUrl url(const QString& pathAndQuery) const
    {
        return QUrl(m_service->baseUrl() + pathAndQuery);
    }
    ReferenceService::Options options() const;

    QTemporaryDir m_dir;
    std::unique_ptr<ReferenceService> m_service;
};

ReferenceService::Options tst_ReferenceService::options() const
{
    ReferenceService::Options options;
    options.listFile = m_dir.filePath(QStringLiteral("list.txt"));
    options.regionsFile = m_dir.filePath(QStringLiteral("regions.txt"));
    options.mailListFile = m_dir.filePath(QStringLiteral("maillist.txt"));
    return options;
}

void tst_ReferenceService::initTestCase()
{
    QVERIFY(m_dir.isValid());
    for (const auto& [name, text] :
         {std::pair{"list.txt", kListFile}, {"regions.txt", kRegionsFile}}) {
        QFile file(m_dir.filePath(QLatin1String(name)));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text);
    }
}

void tst_ReferenceService::init()
{
    QFile::remove(options().mailListFile);
    m_service = std::make_unique<ReferenceService>();
    QVERIFY2(m_service->start(options()), qPrintable(m_service->errorString()));
    QVERIFY(m_service->port() != 0);
}

void tst_ReferenceService::cleanup()
{
    m_service.reset();
}

void tst_ReferenceService::pages_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QByteArray>("body"); // null: not compared

    const auto row = [](const char* name, const char* method, const char* target, int status,
                        const char* contentType, const QByteArray& body = QByteArray()) {
        QTest::newRow(name) << QByteArray(method) << QString::fromLatin1(target) << status
                            << QByteArray(contentType) << body;
    };
    const char *html = "text/html", *text = "text/plain";
    row("list", "GET", "/ppx.php?M=L&P=C&V=2", 200, html, kListBody);
    row("list, items reordered", "GET", "/ppx.php?V=2&P=C&M=L", 200, html, kListBody);
    row("list, other version", "GET", "/ppx.php?M=L&P=C&V=3", 400, text);
    row("list, other product", "GET", "/ppx.php?M=L&P=X&V=2", 400, text);
    row("list, other mode", "GET", "/ppx.php?M=X&P=C&V=2", 400, text);
    row("list, no query", "GET", "/ppx.php", 400, text);
    row("region known", "GET", "/getregion.php?P=localhost:8642", 200, text, "Local, Loopback");
    row("region, CR LF line", "GET", "/getregion.php?P=10.1.2.3:3128", 200, text,
        "Brazil, Sao Paulo");
    row("region of another port", "GET", "/getregion.php?P=10.1.2.3:80", 200, text, "");
    row("region, empty P", "GET", "/getregion.php?P=", 200, text, "");
    row("region without P", "GET", "/getregion.php?Q=1", 400, text);
    row("maillist without email", "GET", "/maillist.php", 400, text);
    row("address page", "GET", "/ip/10.1.2.3", 200, html);
    row("unknown page", "GET", "/proxy.php", 404, text);
    row("page name with a tail", "GET", "/gate.php/x", 404, text);
    row("page name in other case", "GET", "/GATE.PHP", 404, text);
    row("POST to the gate", "POST", "/gate.php", 405, text);
    row("POST to an unknown page", "POST", "/nothing", 404, text);
}

void tst_ReferenceService::pages()
{
    QFETCH(QByteArray, method);
    QFETCH(QString, target);
    QFETCH(int, status);
    QFETCH(QByteArray, contentType);
    QFETCH(QByteArray, body);

    const Response response = fetch(url(target), {}, QNetworkProxy(QNetworkProxy::NoProxy), method);
    QCOMPARE(response.status, status);
    QVERIFY2(response.contentType.startsWith(contentType), response.contentType.constData());
    if (!body.isNull())
        QCOMPARE(response.body, body);
    if (status == 405)
        QCOMPARE(response.allow, QByteArray("GET"));
    QCOMPARE(m_service->requestCount(url(target).path()), 1);
}

void tst_ReferenceService::largeListIsServedIntact()
{
    QByteArray body;
    for (int i = 0; i < 100000; ++i)
        body += QStringLiteral("10.%1.%2.%3:8080|%4|90|2024-01-01 00:00:00|HTTP|Yes|Yes|Yes|Yes|No|"
                               "Nowhere|Anonymous proxy|<BR>")
                    .arg(i >> 16)
                    .arg((i >> 8) & 255)
                    .arg(i & 255)
                    .arg(i % 30)
                    .toLatin1();
    m_service->setListBody(body);

    const Response response = fetch(url(QStringLiteral("/ppx.php?M=L&P=C&V=2")));
    QCOMPARE(response.status, 200);
    QCOMPARE(response.body.size(), body.size());
    QVERIFY(response.body == body);
    const QList<QByteArray> pieces = response.body.split('<');
    QCOMPARE(pieces.size(), 100001);
    QVERIFY(pieces.last() == "BR>");
}

void tst_ReferenceService::gate_data()
{
    QTest::addColumn<QByteArrayList>("headers");
    QTest::addColumn<bool>("elite");
    QTest::addColumn<QByteArrayList>("lines");

    const auto row = [](const char* name, QByteArrayList headers, bool elite, QByteArray line) {
        QTest::newRow(name) << headers << elite
                            << QByteArrayList{"GATEWAY_INTERFACE=CGI/1.1", "REMOTE_ADDR=127.0.0.1",
                                              line};
    };
    row("plain request", {}, true, "REQUEST_METHOD=GET");
    row("proxy named in an ordinary header", {"User-Agent: ProxyChecker/1.0"}, true,
        "HTTP_USER_AGENT=Pr0xyChecker/1.0");
    row("Via", {"Via: 1.1 tinyproxy (tinyproxy/1.11.1)"}, false,
        "HTTP_VIA=1.1 tinypr0xy (tinypr0xy/1.11.1)");
    row("X-Forwarded-For", {"X-Forwarded-For: 203.0.113.5"}, false,
        "HTTP_X_FORWARDED_FOR=203.0.113.5");
    row("Forwarded", {"Forwarded: for=203.0.113.5"}, false, "HTTP_FORWARDED=for=203.0.113.5");
    row("X-Real-IP", {"X-Real-IP: 203.0.113.5"}, false, "HTTP_X_REAL_IP=203.0.113.5");
    row("Client-IP", {"Client-IP: 203.0.113.5"}, false, "HTTP_CLIENT_IP=203.0.113.5");
    row("Proxy-Connection", {"Proxy-Connection: keep-alive"}, false,
        "HTTP_PR0XY_CONNECTION=keep-alive");
    row("header name in lower case", {"via: 1.0 cache"}, false, "HTTP_VIA=1.0 cache");
    row("marker shouted in a value", {"X-Forwarded-For: 10.0.0.1", "X-Note: PROXY proxy pRoXy"},
        false, "HTTP_X_NOTE=PR0XY pr0xy pR0Xy");
}

void tst_ReferenceService::gate()
{
    QFETCH(QByteArrayList, headers);
    QFETCH(bool, elite);
    QFETCH(QByteArrayList, lines);

    const Response response = fetch(url(QStringLiteral("/gate.php")), headers);
    QCOMPARE(response.status, 200);
    QVERIFY(response.contentType.startsWith("text/plain"));
    QCOMPARE(response.body.contains("PROXY"), elite);
    for (const QByteArray& line : lines)
        QVERIFY2(hasLine(response.body, line),
                 (line + " missing in:\n" + response.body).constData());
}

void tst_ReferenceService::proxyStyleRequests_data()
{
    QTest::addColumn<QString>("target"); // "%1": the service's base URL
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("bodyStart");

    QTest::newRow("gate at the service's address")
        << "%1/gate.php" << 200 << QByteArray("GATEWAY_INTERFACE=");
    // Names no one can resolve: only the proxy route can reach them.
    QTest::newRow("gate under another host")
        << "http://service.invalid/gate.php" << 200 << QByteArray("GATEWAY_INTERFACE=");
    QTest::newRow("list under another host")
        << "http://service.invalid:81/ppx.php?M=L&P=C&V=2" << 200 << kListBody.left(30);
    QTest::newRow("unknown page") << "http://service.invalid/none.php" << 404 << QByteArray("404");
}

void tst_ReferenceService::proxyStyleRequests()
{
    QFETCH(QString, target);
    QFETCH(int, status);
    QFETCH(QByteArray, bodyStart);

    const QUrl address(QString(target).replace(QLatin1String("%1"), m_service->baseUrl()));
    const QNetworkProxy proxy(QNetworkProxy::HttpProxy, QStringLiteral("localhost"),
                              m_service->port());
    const Response response = fetch(address, {}, proxy);
    QCOMPARE(response.status, status);
    QVERIFY2(response.body.startsWith(bodyStart), response.body.left(200).constData());
    QCOMPARE(m_service->requestCount(address.path()), 1);
    // Qt's client sends no Proxy-Connection header, so through the service as its own proxy the
    // gate sees nothing that gives a proxy away.
    if (address.path() == QLatin1String("/gate.php"))
        QVERIFY2(hasLine(response.body, "ANONYMITY=ELITE PROXY"), response.body.constData());
}

void tst_ReferenceService::rawRequests_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("closed");

    QTest::newRow("absolute-form target")
        << QByteArray("GET http://elsewhere.invalid:81/getregion.php?P=localhost:8642 HTTP/1.1\r\n"
                      "Host: elsewhere.invalid:81\r\n\r\n")
        << QByteArray("Local, Loopback") << false;
    QTest::newRow("absolute-form, HTTP/1.0 asking to close")
        << QByteArray("GET http://127.0.0.1/getregion.php?P=localhost:8642 HTTP/1.0\r\n"
                      "Host: 127.0.0.1\r\nConnection: close\r\n\r\n")
        << QByteArray("Local, Loopback") << true;
    QTest::newRow("origin-form asking to close")
        << QByteArray("GET /maillist.php?email=a%40b.example HTTP/1.1\r\nHost: x\r\n"
                      "Connection: keep-alive, Close\r\n\r\n")
        << QByteArray("OK") << true;
    QTest::newRow("GET with a body")
        << QByteArray("GET /getregion.php?P=localhost:8642 HTTP/1.1\r\nHost: x\r\n"
                      "Content-Length: 5\r\n\r\nhello")
        << QByteArray("Local, Loopback") << false;
}

void tst_ReferenceService::rawRequests()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, body);
    QFETCH(bool, closed);

    // Long enough for a close to arrive, short enough not to slow the run when none comes.
    const RawResult result = exchange(m_service->port(), request, closed ? 5000 : 300);
    QVERIFY2(result.data.startsWith("HTTP/1.1 200 "), result.data.constData());
    QVERIFY(result.data.endsWith("\r\n\r\n" + body));
    QCOMPARE(result.closed, closed);
}

void tst_ReferenceService::garbageIsRefusedAndServiceGoesOn_data()
{
    QTest::addColumn<QByteArray>("request");

    QTest::newRow("garbage request line") << QByteArray("garbage garbage\r\n\r\n");
    QTest::newRow("binary") << QByteArray("\x00\x01\x02\xff\xfe\r\n\r\n", 9);
    QTest::newRow("no version") << QByteArray("GET /gate.php\r\n\r\n");
    QTest::newRow("blank in the target") << QByteArray("GET /gate .php HTTP/1.1\r\n\r\n");
    QTest::newRow("unreadable Content-Length")
        << QByteArray("GET /gate.php HTTP/1.1\r\nContent-Length: abc\r\n\r\n");
    QTest::newRow("two different Content-Lengths")
        << QByteArray("GET /gate.php HTTP/1.1\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\n"
                      "hello!");
}

void tst_ReferenceService::garbageIsRefusedAndServiceGoesOn()
{
    QFETCH(QByteArray, request);

    const RawResult result = exchange(m_service->port(), request, 300);
    QVERIFY2(result.closed, result.data.constData());
    QVERIFY2(result.data.isEmpty() || result.data.startsWith("HTTP/1.1 400 "),
             result.data.constData());

    const Response after = fetch(url(QStringLiteral("/gate.php")));
    QCOMPARE(after.status, 200);
    QVERIFY(hasLine(after.body, "GATEWAY_INTERFACE=CGI/1.1"));
}

void tst_ReferenceService::mailList_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("appended");

    QTest::newRow("address") << "email=ann%40example.org" << 200 << QByteArray("ann@example.org\n");
    QTest::newRow("escaped + & # and blanks")
        << "email=a%2Bb%26c%23d%20e%40example.org" << 200 << QByteArray("a+b&c#d e@example.org\n");
    QTest::newRow("line break inside") << "email=x%40y.org%0Aforged%40y.org" << 400 << QByteArray();
    QTest::newRow("empty") << "email=" << 400 << QByteArray();
    QTest::newRow("missing") << "mail=x%40y.org" << 400 << QByteArray();
}

void tst_ReferenceService::mailList()
{
    QFETCH(QString, query);
    QFETCH(int, status);
    QFETCH(QByteArray, appended);

    QFile file(options().mailListFile);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("earlier@example.org\n");
    file.close();

    const Response response = fetch(url(QStringLiteral("/maillist.php?") + query));
    QCOMPARE(response.status, status);
    if (status == 200)
        QCOMPARE(response.body, QByteArray("OK"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), "earlier@example.org\n" + appended);
}

void tst_ReferenceService::homePageLinksCallerAddress_data()
{
    QTest::addColumn<QHostAddress>("bind");

    QTest::newRow("IPv4 loopback") << QHostAddress(QHostAddress::LocalHost);
    // A dual-stack socket sees an IPv4 caller as ::ffff:127.0.0.1.
    QTest::newRow("any address, dual stack") << QHostAddress(QHostAddress::Any);
}

void tst_ReferenceService::homePageLinksCallerAddress()
{
    QFETCH(QHostAddress, bind);

    ReferenceService::Options options;
    options.bind = bind;
    m_service = std::make_unique<ReferenceService>();
    QVERIFY2(m_service->start(options), qPrintable(m_service->errorString()));

    const Response response = fetch(url(QStringLiteral("/")));
    QCOMPARE(response.status, 200);
    QVERIFY(response.contentType.startsWith("text/html"));
    // Read the address the way the program does: after the first "/ip/", up to a double quote.
    const qsizetype at = response.body.indexOf("/ip/");
    QVERIFY(at >= 0);
    const QByteArray rest = response.body.mid(at + 4);
    QCOMPARE(rest.left(rest.indexOf('"')), QByteArray("127.0.0.1"));
}

void tst_ReferenceService::startFailures_data()
{
    QTest::addColumn<QString>("option"); // which one gets a bad value

    QTest::newRow("list file missing") << "list";
    QTest::newRow("regions file missing") << "regions";
    QTest::newRow("mail list in a missing folder") << "maillist";
    QTest::newRow("port taken") << "port";
}

void tst_ReferenceService::startFailures()
{
    QFETCH(QString, option);

    ReferenceService::Options options = this->options();
    const QString path = m_dir.filePath(QStringLiteral("missing/") + option);
    if (option == QLatin1String("list"))
        options.listFile = path;
    else if (option == QLatin1String("regions"))
        options.regionsFile = path;
    else if (option == QLatin1String("maillist"))
        options.mailListFile = path;
    else
        options.port = m_service->port();

    ReferenceService second;
    QVERIFY(!second.start(options));
    QVERIFY(!second.errorString().isEmpty());
    if (option != QLatin1String("port"))
        QVERIFY2(second.errorString().contains(path), qPrintable(second.errorString()));
    QCOMPARE(second.port(), quint16(0));
}

QTEST_GUILESS_MAIN(tst_ReferenceService)
#include "tst_ReferenceService.moc"
