#include "service/HttpFetcher.h"
#include "support/WorkFolder.h"
#include "testing/JudgeEcho.h"
#include "testing/JudgeList.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTest>

using JudgeEcho::Kind;

Q_DECLARE_METATYPE(JudgeEcho::Kind)

namespace {

const QString Transparent = QStringLiteral("Transparent proxy");
const QString Anonymous = QStringLiteral("Anonymous proxy");
const QString Elite = QStringLiteral("High anonymous / Elite proxy");
const QByteArray Token = "0123456789abcdef0123456789abcdef";

QString headerText(const JudgeEcho::Report& report)
{
    QStringList lines;
    for (const auto& [name, value] : report.headers)
        lines << name + QStringLiteral(": ") + value;
    return lines.join(u'|');
}

} // namespace

class tst_JudgeEcho : public QObject
{
    Q_OBJECT

private slots:
    void literalBodies_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("serviceGate");
        QTest::addColumn<QString>("user");
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<QString>("error"); // a part of it
        QTest::addColumn<bool>("passed");
        QTest::addColumn<QString>("klass");

        const QByteArray gate = "GATEWAY_INTERFACE=CGI/1.1\nREMOTE_ADDR=203.0.113.9\n";
        const QByteArray query = "QUERY_STRING=corvatel=" + Token + "\n";
        const QString user = QStringLiteral("198.51.100.4");
        const auto json = [](const QByteArray& headers, const QByteArray& origin) {
            return "{\"args\":{\"corvatel\":\"" + Token + "\"},\"headers\":{" + headers +
                   "},\"origin\":\"" + origin + "\"}";
        };
        // Judged as another judge, status 200, the user 198.51.100.4, unless a row says otherwise.
        struct As
        {
            bool gate = false;
            QString user = QStringLiteral("198.51.100.4");
            int status = 200;
        };
        const auto row = [](const char* name, const QByteArray& body, Kind kind, bool passed,
                            const QString& klass, const As& as = {}, const char* error = "") {
            QTest::newRow(name) << body << as.status << as.gate << as.user << kind
                                << QString::fromLatin1(error) << passed << klass;
        };
        const As gateAs{true};

        row("gate, token only in REQUEST_URI",
            gate + "QUERY_STRING=\nREQUEST_URI=/gate.php?corvatel=" + Token + "\n", Kind::Cgi, true,
            Anonymous, gateAs);
        row("gate, token missing", gate + "QUERY_STRING=corvatel=" + Token.left(31) + "\n",
            Kind::Cgi, false, Anonymous, gateAs);
        row("gate, status 404", gate + query, Kind::Cgi, false, Anonymous, {true, user, 404});
        row("gate, marker decides whatever the headers",
            gate + query + "HTTP_X_FORWARDED_FOR=10.0.0.1\nANONYMITY=ELITE PROXY\n", Kind::Cgi,
            true, Elite, gateAs);
        row("gate, the user's address in an added header",
            gate + query + "HTTP_X_SEEN=" + user.toLatin1() + "\nANONYMITY=ELITE PROXY\n",
            Kind::Cgi, true, Transparent, gateAs);
        row("no GATEWAY_INTERFACE, as the service's gate", "REMOTE_ADDR=203.0.113.9\n" + query,
            Kind::Cgi, false, Anonymous, gateAs);
        row("no GATEWAY_INTERFACE, as another judge", "REMOTE_ADDR=203.0.113.9\n" + query,
            Kind::Cgi, true, Elite);
        row("HTML-wrapped, spaced, CR LF, a revealing header",
            "<html><body>\r\nREMOTE_ADDR = 203.0.113.9<br>\r\nQUERY_STRING = corvatel=" + Token +
                "<br />\r\n<b>HTTP_X_FORWARDED_FOR</b> = 10.9.8.7<BR>\r\n</body></html>",
            Kind::Cgi, true, Anonymous);
        row("HTML-wrapped on one line, the user forwarded",
            "<p>REMOTE_ADDR=203.0.113.9</p><p>" + query +
                "</p><p>HTTP_CLIENT_IP=" + user.toLatin1() + "</p>",
            Kind::Cgi, true, Transparent);
        row("JSON, origin lists the user before the exit",
            json("\"Host\":\"judge\"", user.toLatin1() + ", 203.0.113.9"), Kind::Json, true,
            Transparent);
        row("JSON, origin lists another hop", json("\"Host\":\"judge\"", "10.1.1.1, 203.0.113.9"),
            Kind::Json, true, Anonymous);
        row("JSON, the user's address unknown", json("", user.toLatin1() + ", 203.0.113.9"),
            Kind::Json, true, Anonymous, {false, QString()});
        row("JSON, an added header holds another address",
            json("\"x-seen-by\":\"for 10.0.0.1:3128\"", "203.0.113.9"), Kind::Json, true,
            Anonymous);
        row("JSON, an added header holds the exit address",
            json("\"X-Exit\":\"[203.0.113.9]:80\"", "203.0.113.9"), Kind::Json, true, Elite);
        row("JSON, 10.0.0.11 is not the user 10.0.0.1",
            json("\"X-Hop\":\"10.0.0.11\"", "10.0.0.11"), Kind::Json, true, Elite,
            {false, QStringLiteral("10.0.0.1")});
        row("JSON, 10.0.0.1 is", json("\"X-Hop\":\"10.0.0.1\"", "10.0.0.11"), Kind::Json, true,
            Transparent, {false, QStringLiteral("10.0.0.1")});
        row("JSON, IPv6 user in Forwarded",
            json("\"forwarded\":\"for=\\\"[2001:db8::7]:443\\\"\"", "2001:db8::1"), Kind::Json,
            true, Transparent, {false, QStringLiteral("2001:DB8:0::7")});
        row("JSON, a short dotted number with a port is no address",
            json("\"X-Build\":\"build 1.2.3:80\"", "203.0.113.9"), Kind::Json, true, Elite);
        row("JSON, our own headers may name anything",
            json("\"Host\":\"198.51.100.4\",\"User-Agent\":\"x 10.0.0.1\",\"Accept\":\"10.0.0.2\"",
                 "203.0.113.9"),
            Kind::Json, true, Elite);
        row("JSON, versions are no addresses",
            json("\"X-Agent\":\"Browser/120.0.0.0 (1.1; 1.2.3.4.5)\"", "203.0.113.9"), Kind::Json,
            true, Elite);
        row("JSON, token in the url only",
            "{\"headers\":{},\"origin\":\"203.0.113.9\",\"url\":\"http://j/get?corvatel=" + Token +
                "\"}",
            Kind::Json, true, Elite);
        row("JSON, an escape spelling the token's first digit",
            "{\"args\":{\"corvatel\":\"\\u0000" + Token.mid(1) + "\"},\"headers\":{}}", Kind::Json,
            false, Elite);
        row("JSON, service gate needs GATEWAY_INTERFACE", json("", "203.0.113.9"), Kind::Json,
            false, Anonymous, gateAs);
        // Neither echo: nothing passes, and the reason is given.
        row("broken JSON", "{\"headers\":{\"Via\":", Kind::Unknown, false, Elite, {}, "not JSON");
        row("JSON without headers", "{\"args\":{\"corvatel\":\"" + Token + "\"}}", Kind::Unknown,
            false, Elite, {}, "no headers");
        row("JSON headers not an object", "{\"headers\":[1]}", Kind::Unknown, false, Elite, {},
            "no headers");
        row("neither kind", "Hello, " + Token, Kind::Unknown, false, Elite, {}, "no CGI or JSON");
        row("empty", " \r\n", Kind::Unknown, false, Elite, {}, "empty");
    }

    void literalBodies()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QFETCH(bool, serviceGate);
        QFETCH(QString, user);
        QFETCH(Kind, kind);
        QFETCH(QString, error);
        QFETCH(bool, passed);
        QFETCH(QString, klass);

        const JudgeEcho::Report report = JudgeEcho::parse(body);
        QCOMPARE(report.kind, kind);
        QVERIFY2(error.isEmpty() ? report.error.isEmpty() : report.error.contains(error),
                 qPrintable(report.error));
        QCOMPARE(JudgeEcho::passed(report, status, QString::fromLatin1(Token), serviceGate),
                 passed);
        QCOMPARE(JudgeEcho::anonymityClass(report, user, serviceGate), klass);
    }

    void fields_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("remoteAddr");
        QTest::addColumn<QString>("headers"); // "Name: value|..."

        QTest::newRow("CGI names canonical, blanks around =, the first REMOTE_ADDR counts")
            << QByteArray("REMOTE_ADDR = 10.0.0.1 \r\nremote_addr=10.0.0.2\r\n"
                          "HTTP_X_FORWARDED_FOR = a, b\r\nHTTP_USER_AGENT=x=y\r\nHTTP_=z\r\n")
            << "10.0.0.1"
            << "X-Forwarded-For: a, b|User-Agent: x=y";
        QTest::newRow("plain text keeps a < in a value")
            << QByteArray("REMOTE_ADDR=10.0.0.1\nHTTP_X_A=<b>x</b> &amp;\n") << "10.0.0.1"
            << "X-A: <b>x</b> &amp;";
        QTest::newRow("HTML: a doctype and a comment are tags too")
            << QByteArray("<!DOCTYPE html><p>REMOTE_ADDR=10.0.0.1<!-- x --></p>") << "10.0.0.1"
            << "";
        QTest::newRow("HTML: tags dropped, entities decoded, a lone < kept")
            << QByteArray("<pre>REMOTE_ADDR=10.0.0.1<br>HTTP_X_A=a &lt; b &amp; c<br>"
                          "HTTP_X_B=1 < 2 &#65;&#x42;&bogus;</pre>")
            << "10.0.0.1"
            << "X-A: a < b & c|X-B: 1 < 2 AB&bogus;";
        QTest::newRow("JSON names canonical, repeated values joined, last origin the caller")
            << QByteArray("\xEF\xBB\xBF {\"headers\":{\"x-real-ip\":\"1.2.3.4\",\"X-A\":[\"1\",2]},"
                          "\"origin\":\" 10.0.0.9 ,10.0.0.1\"}")
            << "10.0.0.1"
            << "X-A: 1, 2|X-Real-Ip: 1.2.3.4";
    }

    void fields()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, remoteAddr);
        QFETCH(QString, headers);

        const JudgeEcho::Report report = JudgeEcho::parse(body);
        QCOMPARE(report.remoteAddr, remoteAddr);
        QCOMPARE(headerText(report), headers);
    }

    void withToken_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("expected");

        QTest::newRow("no query") << "http://j.example/g"
                                  << "http://j.example/g?corvatel=T";
        QTest::newRow("query kept as written")
            << "https://j.example:8443/g?a=1&b=%20+%2F"
            << "https://j.example:8443/g?a=1&b=%20+%2F&corvatel=T";
        QTest::newRow("empty query") << "http://j.example/g?"
                                     << "http://j.example/g?corvatel=T";
        QTest::newRow("fragment stays last") << "http://j.example/g?a=1#part"
                                             << "http://j.example/g?a=1&corvatel=T#part";
        QTest::newRow("fragment holding a ?") << "http://j.example/#x?y=1"
                                              << "http://j.example/?corvatel=T#x?y=1";
    }

    void withToken()
    {
        QFETCH(QString, url);
        QFETCH(QString, expected);
        QCOMPARE(JudgeEcho::withToken(url, QStringLiteral("T")), expected);
    }

    void hugeBodies_data()
    {
        QTest::addColumn<QByteArray>("body");
        const qsizetype size = HttpFetcher::MaxBodyBytes;
        QByteArray addresses;
        for (int i = 0; addresses.size() < size; ++i)
            addresses += "10.0." + QByteArray::number(i % 256) + '.' + QByteArray::number(i % 199) +
                         ", 2001:db8::" + QByteArray::number(i % 9999, 16) + ' ';
        QTest::newRow("CGI, one header of addresses")
            << "REMOTE_ADDR=1.2.3.4\nHTTP_X_A=" + addresses;
        QTest::newRow("HTML, unclosed tags") << "<br>" + QByteArray(size, '<');
        QTest::newRow("JSON, deep nesting") << QByteArray(size, '[');
    }

    // An answer as large as the fetcher lets through is parsed and judged in bounded time.
    void hugeBodies()
    {
        QFETCH(QByteArray, body);
        QElapsedTimer clock;
        clock.start();
        const JudgeEcho::Report report = JudgeEcho::parse(body);
        for (bool gate : {false, true})
            JudgeEcho::anonymityClass(report, QStringLiteral("192.0.2.1"), gate);
        QVERIFY2(clock.elapsed() < 20000, qPrintable(QString::number(clock.elapsed())));
    }

    void judgeList_data()
    {
        QTest::addColumn<QByteArray>("file"); // null: no file
        QTest::addColumn<QStringList>("urls");
        QTest::addColumn<QStringList>("refused");

        QTest::newRow("missing file") << QByteArray() << QStringList() << QStringList();
        QTest::newRow("valid, blank lines, CR LF, blanks around")
            << QByteArray("http://a.example/gate.php\r\n\n  https://[2001:db8::1]:8443/e?x=1 \n"
                          "HTTP://B.example")
            << QStringList{"http://a.example/gate.php", "https://[2001:db8::1]:8443/e?x=1",
                           "HTTP://B.example"}
            << QStringList();
        QTest::newRow("refused lines named once each with their number")
            << QByteArray("ftp://a.example/\nhttp://\nhttp://a b.example/\nhttp://ok.example/\n"
                          "judge.example/gate.php\nhttp://x.example/\x01\n")
            << QStringList{"http://ok.example/"}
            << QStringList{"judges.lst line 1 is no http(s) URL: ftp://a.example/",
                           "judges.lst line 2 is no http(s) URL: http://",
                           "judges.lst line 3 is no http(s) URL: http://a b.example/",
                           "judges.lst line 5 is no http(s) URL: judge.example/gate.php",
                           "judges.lst line 6 is no http(s) URL: http://x.example/\x01"};
        QTest::newRow("duplicates listed once, first place kept")
            << QByteArray("http://b.example/\nhttp://a.example/\nhttp://b.example/\n")
            << QStringList{"http://b.example/", "http://a.example/"} << QStringList();
    }

    void judgeList()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, urls);
        QFETCH(QStringList, refused);

        WorkFolder folder;
        if (!file.isNull())
            folder.write(QStringLiteral("judges.lst"), file);
        const QString path = JudgeList::defaultPath();
        const JudgeList::Loaded loaded = JudgeList::load(path);
        QVERIFY(loaded.read.ok());
        QCOMPARE(loaded.urls, urls);
        QStringList named;
        for (const JudgeList::Refused& r : loaded.refused)
            named << JudgeList::refusedText(path, r);
        QCOMPARE(named, refused);

        // What is saved loads back the same, one URL a line.
        QVERIFY(JudgeList::save(path, urls).ok());
        QCOMPARE(folder.read(QStringLiteral("judges.lst")),
                 urls.isEmpty() ? QByteArray() : urls.join(u'\n').toUtf8() + '\n');
        QCOMPARE(JudgeList::load(path).urls, urls);
    }
};

QTEST_GUILESS_MAIN(tst_JudgeEcho)
#include "tst_JudgeEcho.moc"
