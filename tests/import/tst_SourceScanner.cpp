#include "import/SourceScanner.h"
#include "model/ImportedListStore.h"
#include "model/ProxyRow.h"
#include "service/DocumentFetcher.h"
#include "service/HttpFetcher.h"
#include "support/FakeWindowHost.h"
#include "support/TestServers.h"
#include "support/WorkFolder.h"

#include <QSet>
#include <QTest>
#include <QTimer>

// The source list, progress bar and title of the dialog, as plain values.
class FakeScanView final : public SourceScanner::View
{
public:
    int sourceCount() const override { return int(sources.size()); }
    QString source(int index) const override { return sources.value(index); }
    bool isSourceSelected(int index) const override { return selected.contains(index); }
    void selectAllSources() override
    {
        for (int i = 0; i < sources.size(); ++i)
            selected.insert(i);
    }
    void setSourcesEnabled(bool enabled) override { enabledLog << enabled; }
    void setProgressMaximum(int maximum) override { progressMaximum = maximum; }
    void setProgressValue(int value) override { progress << value; }
    void setTitle(const QString& title) override { titles << title; }

    QStringList sources;
    QSet<int> selected;
    QList<bool> enabledLog;
    int progressMaximum = -1;
    QList<int> progress;
    QStringList titles;
};

struct Scan
{
    explicit Scan(const QStringList& listed = {})
    {
        for (const QString& proxy : listed)
            store.add(ProxyRow::newImportedRowText(proxy));
    }

    QStringList storedProxies() const
    {
        QStringList list;
        for (const QString& line : store.lines())
            list << ProxyRow::proxyField(line).toString();
        return list;
    }
    QByteArray saved() const { return work.read(QStringLiteral("proxy.lst")); }

    WorkFolder work;
    ImportedListStore store;
    FakeWindowHost host;
    FakeScanView view;
    HttpFetcher http;
    DocumentFetcher fetcher{http, host.stop};
    SourceScanner scanner{store, fetcher, host, view};
};

static QStringList paths(const LoopbackServer& server)
{
    QStringList list;
    for (const QByteArray& head : server.requests())
        list << QString::fromLatin1(head.split(' ').value(1));
    return list;
}

class tst_SourceScanner : public QObject
{
    Q_OBJECT

private slots:
    void candidates_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("plain, then prefixed before a full stop")
            << "Proxies: 10.0.0.1:808 and further on http://192.168.1.1:81."
            << QStringList{"10.0.0.1:808", "192.168.1.1:81"};
        QTest::newRow("prefix in capitals kept")
            << "HTTP://1.2.3.4:80 Http://5.6.7.8:90"
            << QStringList{"HTTP://1.2.3.4:80", "Http://5.6.7.8:90"};
        QTest::newRow("letters after the port") << "1.2.3.4:80abc" << QStringList{};
        QTest::newRow("full stop after the port") << "1.2.3.4:80." << QStringList{"1.2.3.4:80"};
        QTest::newRow("no range check") << "999.999.999.999:1" << QStringList{"999.999.999.999:1"};
        QTest::newRow("prefix inside a word") << "xhttp://1.2.3.4:80" << QStringList{"1.2.3.4:80"};
        QTest::newRow("three parts, glued digits")
            << "1.2.3:80 x1.2.3.4:80 1.2.3.4.5:6" << QStringList{"2.3.4.5:6"};
        QTest::newRow("table cells and list items")
            << "<td>10.1.1.1</td><td>8080</td><li>10.2.2.2:3128</li>"
            << QStringList{"10.2.2.2:3128"};
        QTest::newRow("digits of other scripts")
            << QString::fromUtf8("\xD9\xA1.2.3.4:80") << QStringList{};
    }
    void candidates()
    {
        QFETCH(QString, page);
        QFETCH(QStringList, expected);
        QStringList found;
        for (const QStringView candidate : SourceScanner::candidates(page))
            found << candidate.toString();
        QCOMPARE(found, expected);
    }

    void scanAll()
    {
        // Pages get the fetcher's 60 s, not a proxy test's few: the first one answers after five
        // ticks.
        FixedServer first(200, "10.0.0.1:808 ... http://192.168.1.1:81. 10.0.0.1:808 11.2.3.4:80",
                          500);
        FixedServer second(200,
                           "HTTP://10.0.0.1:808 192.168.1.1:81 1.2.3.4:80abc 999.999.999.999:1");
        FixedServer missing(404, "5.5.5.5:55");
        const QString closed = QStringLiteral("http://127.0.0.1:%1/").arg(closedLoopbackPort());
        Scan scan({"11.2.3.4:80", "1.2.3.4:800"});
        scan.view.sources = {first.url(), second.url(), closed, missing.url()};
        QTimer clock; // the window's one-second clock, ten times as fast
        QObject::connect(&clock, &QTimer::timeout, &scan.fetcher, [&scan] { scan.fetcher.tick(); });
        clock.start(100);

        const SourceScanner::Outcome outcome = scan.scanner.cmdScan_Click();
        QCOMPARE(scan.scanner.newProxyCount, 4);
        QCOMPARE(outcome.scanned, 4);
        QCOMPARE(outcome.read, 2);
        QCOMPARE(scan.storedProxies(),
                 (QStringList{"11.2.3.4:80", "1.2.3.4:800", "10.0.0.1:808", "192.168.1.1:81",
                              "HTTP://10.0.0.1:808", "999.999.999.999:1"}));
        QCOMPARE(scan.store.lines().last(), ProxyRow::newImportedRowText("999.999.999.999:1"));
        QByteArray text;
        for (const QString& line : scan.store.lines())
            text += line.toUtf8() + '\n';
        QCOMPARE(scan.saved(), text);
        QCOMPARE(scan.host.panels.value(2), QStringLiteral("6 Imported"));
        QCOMPARE(scan.view.titles,
                 (QStringList{"Import - reading " + first.url(), "Import (4) found so far..",
                              "Import - reading " + second.url(), "Import (3) found so far..",
                              "Import - reading " + closed, "Import - reading " + missing.url()}));
        QCOMPARE(scan.host.status, QStringLiteral("Scan done: 4 new proxies; 2 of 4 pages read."));
        QCOMPARE(scan.view.selected.size(), 4); // none was selected: all were scanned
        QCOMPARE(scan.view.enabledLog, (QList<bool>{false, true}));
        QCOMPARE(scan.view.progressMaximum, 3);
        QCOMPARE(scan.view.progress, (QList<int>{0, 1, 2, 3, 0}));
    }

    void oneNewProxyThenNone()
    {
        FixedServer page(200, "page with 10.0.0.9:8080 only");
        Scan scan;
        scan.view.sources = {page.url()};
        scan.scanner.cmdScan_Click();
        QCOMPARE(scan.host.status, QStringLiteral("Scan done: 1 new proxy; 1 of 1 pages read."));
        // Nothing new: nothing written.
        QVERIFY(QFile::remove(scan.work.filePath(QStringLiteral("proxy.lst"))));
        scan.host.panels.clear();
        scan.scanner.cmdScan_Click();
        QCOMPARE(scan.scanner.newProxyCount, 0);
        QCOMPARE(scan.saved(), QByteArray("(none)"));
        QVERIFY(scan.host.panels.isEmpty());
    }

    void onlySelectedPages()
    {
        FixedServer server(200, "7.7.7.7:7");
        Scan scan;
        for (int i = 1; i <= 5; ++i)
            scan.view.sources << server.url() + QString::number(i);
        scan.view.selected = {1, 3};
        scan.scanner.cmdScan_Click();
        QCOMPARE(paths(server), (QStringList{"/2", "/4"}));
        QCOMPARE(scan.view.selected, (QSet<int>{1, 3}));
        QCOMPARE(scan.view.progress, (QList<int>{0, 1, 2, 3, 4, 0}));
        QCOMPARE(scan.scanner.newProxyCount, 1);
    }

    void stopDuringFetch()
    {
        HangingServer hanging;
        FixedServer next(200, "7.7.7.7:7");
        Scan scan;
        scan.view.sources = {hanging.url(), next.url()};
        // Nothing ticks: only the Stop request itself can wake the waiting fetch.
        QTimer::singleShot(100, &scan.fetcher, [&scan] { scan.host.stop.request(); });
        const SourceScanner::Outcome outcome = scan.scanner.cmdScan_Click();
        QVERIFY(outcome.stopped);
        QCOMPARE(outcome.scanned, 1);
        QVERIFY(next.requests().isEmpty());
        QVERIFY(!scan.host.stop.isRequested());
        QVERIFY2(scan.host.status.startsWith(QStringLiteral("Scan stopped")),
                 qPrintable(scan.host.status));
    }
};

QTEST_GUILESS_MAIN(tst_SourceScanner)
#include "tst_SourceScanner.moc"
