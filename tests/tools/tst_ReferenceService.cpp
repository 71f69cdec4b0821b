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

QByteArrayList listLines()
{
    QByteArrayList lines = {
        "localhost:8642|1|100|2024-04-30 12:00:00|HTTP|Yes|Yes|Yes|Yes|No|Local, Loopback|Elite|",
        "192.0.2.7:8080|4|0|2024-04-01 10:00:00|SOCKS5|No|Yes|No|No|No||Transparent|"};
    for (int i = 0; i < 100000; ++i) // a list far larger than one read or write
        lines.append("10.0." + QByteArray::number(i) + ":8080|" + QByteArray::number(i % 30) +
                     "|90|2024-01-01 00:00:00|HTTP|Yes|Yes|Yes|Yes|No|Nowhere|Anonymous|");
    return lines;
}
const QByteArrayList kLines = listLines();
// Mixed line ends and a blank line; the last line has no line end.
const QByteArray kListFile = kLines[0] + "\r\n\n" + kLines[1] + "\r" + kLines.mid(2).join('\n');
const QByteArray kListBody = kLines.join("<BR>") + "<BR>";
const QByteArray kRegionsFile =
    "localhost:8642\tLocal, Loopback\n10.1.2.3:3128\tBrazil, Sao Paulo\r\nno tab here\n";
const QByteArray kEarlierMail = "earlier@example.org\n";

} // namespace

class tst_ReferenceService : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    ReferenceService::Options m_files;
    std::unique_ptr<ReferenceService> m_service;

    // The status and body of a GET. A path goes to the service directly; an absolute URL goes to
    // the service as an HTTP proxy.
    std::pair<int, QByteArray> get(const QString& target)
    {
        const bool viaProxy = target.startsWith(QLatin1String("http:"));
        QNetworkAccessManager manager;
        manager.setProxy({viaProxy ? QNetworkProxy::HttpProxy : QNetworkProxy::NoProxy,
                          QStringLiteral("127.0.0.1"), m_service->port()});
        QNetworkRequest request(QUrl(viaProxy ? target : m_service->baseUrl() + target));
        std::unique_ptr<QNetworkReply> reply(manager.get(request));
        QSignalSpy(reply.get(), &QNetworkReply::finished).wait(30000);
        return {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
                reply->readAll()};
    }

private slots:
    void initTestCase()
    {
        m_files = {QHostAddress::LocalHost, 0, m_dir.filePath(QStringLiteral("list.txt")),
                   m_dir.filePath(QStringLiteral("regions.txt")),
                   m_dir.filePath(QStringLiteral("maillist.txt"))};
        QFile list(m_files.listFile), regions(m_files.regionsFile);
        QVERIFY(list.open(QIODevice::WriteOnly) && list.write(kListFile) == kListFile.size());
        QVERIFY(regions.open(QIODevice::WriteOnly) && regions.write(kRegionsFile) > 0);
    }

    void init()
    {
        QFile mail(m_files.mailListFile);
        QVERIFY(mail.open(QIODevice::WriteOnly) && mail.write(kEarlierMail) > 0);
        m_service = std::make_unique<ReferenceService>();
        QVERIFY2(m_service->start(m_files), qPrintable(m_service->errorString()));
    }

    void pages_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");   // null: not compared
        QTest::addColumn<QByteArray>("mailed"); // what the mail list file gains

        const auto row = [](const char* name, const char* target, int status,
                            const QByteArray& body = {}, const QByteArray& mailed = "") {
            QTest::newRow(name) << QString::fromLatin1(target) << status << body << mailed;
        };
        row("large list, query items in any order", "/ppx.php?V=2&P=C&M=L", 200, kListBody);
        row("list, other version", "/ppx.php?M=L&P=C&V=3", 400);
        row("region known, any letter case", "/getregion.php?P=LocalHost:8642", 200,
            "Local, Loopback");
        row("region, CR LF line, asked as a proxy",
            "http://service.invalid/getregion.php?P=10.1.2.3:3128", 200, "Brazil, Sao Paulo");
        row("region unknown", "/getregion.php?P=10.1.2.3:80", 200, "");
        row("region without P", "/getregion.php?Q=1", 400);
        row("mail list, escaped + & # and blanks",
            "/maillist.php?email=a%2Bb%26c%23d%20e%40example.org", 200, "OK",
            "a+b&c#d e@example.org\n");
        row("mail list, line break inside", "/maillist.php?email=x%40y.org%0Aforged%40y.org", 400);
        row("mail list, no address", "/maillist.php?email=", 400);
        row("address page", "/ip/10.1.2.3", 200);
        row("echo, query", "/get?corvatel=1", 200);
        row("echo asked as a proxy", "http://judge.invalid/get", 200);
        row("below the echo", "/get/more", 404);
        row("unknown page", "/proxy.php", 404);
    }

    void pages()
    {
        QFETCH(QString, target);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, mailed);

        const auto [gotStatus, gotBody] = get(target);
        QCOMPARE(gotStatus, status);
        if (!body.isNull())
            QCOMPARE(gotBody, body);
        QCOMPARE(m_service->requestCount(QUrl(target).path()), 1);
        QFile mailList(m_files.mailListFile);
        QVERIFY(mailList.open(QIODevice::ReadOnly));
        QCOMPARE(mailList.readAll(), kEarlierMail + mailed);
    }

    void rawConnections_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("answer"); // the body's end; null: refused, 400 or nothing

        const auto row = [](const char* name, const QByteArray& head, const QByteArray& answer,
                            const QByteArray& body = {}) {
            QTest::newRow(name) << head + "\r\nConnection: keep-alive, Close\r\n\r\n" + body
                                << answer;
        };
        row("garbage", "garbage garbage", {});
        row("two different Content-Lengths",
            "GET /gate.php HTTP/1.1\r\nContent-Length: 5\r\nContent-Length: 6", {}, "hello!");
        // The gate: elite exactly when no header gives a proxy away.
        row("gate, proxy named in an ordinary header",
            "GET /gate.php HTTP/1.1\r\nUser-Agent: ProxyChecker/1.0",
            "\nHTTP_USER_AGENT=Pr0xyChecker/1.0\nHTTP_CONNECTION=keep-alive, Close\n"
            "ANONYMITY=ELITE PROXY\n");
        row("gate asked as a proxy, absolute-form", "GET http://a.invalid/gate.php HTTP/1.1",
            "\nQUERY_STRING=\nREQUEST_URI=/gate.php\nHTTP_CONNECTION=keep-alive, Close\n"
            "ANONYMITY=ELITE PROXY\n");
        // Host names the server; the caller's own address, in any form, gives nothing away.
        row("gate, query, Host and the caller's own address",
            "GET /gate.php?a=1&b=%20x HTTP/1.1\r\nHost: 192.0.2.1:8642\r\n"
            "X-Seen: 127.0.0.1, [::ffff:127.0.0.1]:80\r\nUser-Agent: Browser/120.0.0.0",
            "\nQUERY_STRING=a=1&b=%20x\nREQUEST_URI=/gate.php?a=1&b=%20x\n"
            "HTTP_HOST=192.0.2.1:8642\nHTTP_X_SEEN=127.0.0.1, [::ffff:127.0.0.1]:80\n"
            "HTTP_USER_AGENT=Browser/120.0.0.0\nHTTP_CONNECTION=keep-alive, Close\n"
            "ANONYMITY=ELITE PROXY\n");
        row("gate, X-Tinyproxy with the caller's address",
            "GET /gate.php HTTP/1.1\r\nx-tinyproxy: 127.0.0.1",
            "\nHTTP_X_TINYPR0XY=127.0.0.1\nHTTP_CONNECTION=keep-alive, Close\n"
            "ANONYMITY=REVEALED BY HTTP_X_TINYPR0XY\n");
        row("gate, other addresses in any header",
            "GET /gate.php HTTP/1.1\r\nX-Hop: 10.0.0.1:3128\r\nX-Path: for=\"[2001:db8::7]:443\"",
            "\nHTTP_X_HOP=10.0.0.1:3128\nHTTP_X_PATH=for=\"[2001:db8::7]:443\"\n"
            "HTTP_CONNECTION=keep-alive, Close\nANONYMITY=REVEALED BY HTTP_X_HOP HTTP_X_PATH\n");
        row("gate, Via in lower case", "GET /gate.php HTTP/1.1\r\nvia: 1.1 tinyproxy",
            "\nHTTP_VIA=1.1 tinypr0xy\nHTTP_CONNECTION=keep-alive, Close\n"
            "ANONYMITY=REVEALED BY HTTP_VIA\n");
        row("gate, X-Forwarded-For, marker shouted in a value",
            "GET /gate.php HTTP/1.1\r\nX-Forwarded-For: 10.0.0.1\r\nX-Note: PROXY pRoXy",
            "\nHTTP_X_FORWARDED_FOR=10.0.0.1\nHTTP_X_NOTE=PR0XY pR0Xy\n"
            "HTTP_CONNECTION=keep-alive, Close\nANONYMITY=REVEALED BY HTTP_X_FORWARDED_FOR\n");
        // The JSON echo: query items decoded, a repeated one as an array, header names in
        // canonical form, a repeated header joined, the caller's address, the URL as asked for.
        row("echo, query items and headers",
            "GET /get?a=1&b=%20x&a=2 HTTP/1.1\r\nHost: judge.invalid:8080\r\n"
            "x-forwarded-for: 10.0.0.1\r\nX-A: 1\r\nx-a: 2",
            "{\"args\":{\"a\":[\"1\",\"2\"],\"b\":\" x\"},\"headers\":{\"Connection\":"
            "\"keep-alive, Close\",\"Host\":\"judge.invalid:8080\",\"X-A\":\"1, 2\","
            "\"X-Forwarded-For\":\"10.0.0.1\"},\"origin\":\"127.0.0.1\","
            "\"url\":\"http://judge.invalid:8080/get?a=1&b=%20x&a=2\"}");
        row("echo asked as a proxy, absolute-form, marker left alone",
            "GET http://a.invalid/get?q=PROXY HTTP/1.1",
            "{\"args\":{\"q\":\"PROXY\"},\"headers\":{\"Connection\":\"keep-alive, Close\"},"
            "\"origin\":\"127.0.0.1\",\"url\":\"http://a.invalid/get?q=PROXY\"}");
    }

    // One request per connection, which the service closes after answering; then a working one.
    void rawConnections()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, answer);

        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, m_service->port());
        QVERIFY(socket.waitForConnected(5000));
        socket.write(request);
        QVERIFY(QSignalSpy(&socket, &QTcpSocket::disconnected).wait(5000));
        const QByteArray data = socket.readAll();
        if (answer.isNull())
            QVERIFY2(data.isEmpty() || data.startsWith("HTTP/1.1 400 "), data.constData());
        else
            QVERIFY2(data.startsWith("HTTP/1.1 200 ") && data.endsWith(answer), data.constData());
        QCOMPARE(data.contains("PROXY"), answer.contains("PROXY")); // only an elite gate says it

        QVERIFY(get(QStringLiteral("/gate.php")).second.startsWith("GATEWAY_INTERFACE=CGI/1.1\n"));
    }

    void homePageLinksCallerAddress()
    {
        // Listening dual-stack, the service sees an IPv4 caller as ::ffff:127.0.0.1.
        ReferenceService::Options options;
        options.bind = QHostAddress::Any;
        m_service = std::make_unique<ReferenceService>();
        QVERIFY2(m_service->start(options), qPrintable(m_service->errorString()));

        const auto [status, body] = get(QStringLiteral("/"));
        QCOMPARE(status, 200);
        // Read the address as the program does: after the first "/ip/", up to a double quote.
        const QByteArray rest = body.mid(body.indexOf("/ip/") + 4);
        QCOMPARE(rest.left(rest.indexOf('"')), QByteArray("127.0.0.1"));
    }
};

QTEST_GUILESS_MAIN(tst_ReferenceService)
#include "tst_ReferenceService.moc"
