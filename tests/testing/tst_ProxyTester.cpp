#include "service/ReferenceService.h"
#include "support/RealProxies.h"
#include "support/TestServers.h"
#include "support/TesterBench.h"
#include "support/TlsJudge.h"
#include "testing/OpenFiles.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>

#include <sys/resource.h>

namespace {

QString cellsOf(const ProxyTableModel& rows, int row)
{
    ProxyRow::Cells cells = rows.row(row).cells;
    cells[ProxyRow::Tested] = cells[ProxyRow::Tested].isEmpty() ? QString() : QStringLiteral("T");
    // A measured speed differs from run to run.
    cells[ProxyRow::Speed].replace(QRegularExpression(QStringLiteral("^\\d+\\.\\d\\d$")),
                                   QStringLiteral("S"));
    return ProxyRow::storedRowText(cells);
}

const QRegularExpression TestTime(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d$"));

} // namespace

class tst_ProxyTester : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // Real proxies of every type, each from Debian.
        using Kind = RealProxy::Kind;
        const std::tuple<QString, Kind, QStringList> servers[] = {
            {"squid", Kind::Squid, {}},
            {"squid quiet", Kind::Squid, {"forwarded_for delete", "via off"}},
            {"dante", Kind::Dante, {}},
            {"microsocks", Kind::Microsocks, {}},
            {"ssh", Kind::SshDynamic, {}},
            {"tinyproxy via", Kind::Tinyproxy, {}},
            {"tinyproxy quiet", Kind::Tinyproxy, {"DisableViaHeader Yes"}},
            {"tinyproxy x", Kind::Tinyproxy, {"XTinyproxy Yes"}}};
        for (const auto& [name, kind, extra] : servers) {
            auto proxy = std::make_unique<RealProxy>(kind);
            const QString failure = proxy->start(extra);
            QVERIFY2(failure.isEmpty(), qPrintable(name + ": " + failure));
            m_real.insert(name, proxy->address());
            m_realProxies.push_back(std::move(proxy));
        }
        m_via = m_real.value(QStringLiteral("tinyproxy via"));
        m_noVia = m_real.value(QStringLiteral("tinyproxy quiet"));
        m_dead = QStringLiteral("127.0.0.1:%1").arg(closedLoopbackPort());
        const QString failure = m_tls.start();
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        qputenv("CORVATEL_CA_FILE", m_tls.caFile().toLocal8Bit());
        m_mmdb = m_data.filePath(QStringLiteral("test.mmdb"));
        QVERIFY2(QProcess::execute(
                     QStringLiteral("perl"),
                     {QStringLiteral(CORVATEL_SOURCE_DIR "/tests/testing/make_test_mmdb.pl"),
                      m_mmdb}) == 0,
                 "the test location database could not be built");

        ReferenceService::Options options;
        options.regionsFile =
            m_data.write(QStringLiteral("regions.txt"),
                         (m_via + "\tVia Land\n" + m_noVia + "\tQuiet Land\n").toUtf8());
        QVERIFY2(m_service.start(options), qPrintable(m_service.errorString()));
    }

    // A location must not break its stored line apart; the service's answers hold no line break.
    void locationFromAnswer()
    {
        QCOMPARE(ProxyCheck::locationFromAnswer(QStringLiteral("Oslo|Norway\r\nmore\n")),
                 QStringLiteral("Oslo Norway  more"));
    }

    void outcome_data()
    {
        QTest::addColumn<QString>("spec"); // via, noVia, dead, hanging or a text; |type|location
        QTest::addColumn<int>("grid");
        QTest::addColumn<int>("parallel");
        QTest::addColumn<QString>("expected"); // active|location|class
        QTest::addColumn<QString>("lastStatus");
        QTest::addColumn<QStringList>("setup"); // judges.lst=<its text> or setting=value
        QTest::addColumn<QStringList>("said");  // parts of the statuses

        const QString ok = QStringLiteral("Proxy OK");
        const QString invalid = QStringLiteral("Invalid Proxy");
        const QString untested = QStringLiteral("Unable to Test Socks4/5");
        const QString anonymous = QStringLiteral("Y|Via Land|Anonymous proxy");
        const auto row = [](const char* name, const char* spec, int grid, int parallel,
                            const QString& expected, const QString& lastStatus,
                            const QStringList& setup = {}, const QStringList& said = {}) {
            QTest::newRow(name) << QString(spec) << grid << parallel << expected << lastStatus
                                << setup << said;
        };
        // Imported page: the class is judged; the region is looked up only for an empty Location.
        row("via, imported", "via||", 3, 1, anonymous, ok);
        row("no via, imported", "noVia|HTTP|", 3, 1, "Y|Quiet Land|High anonymous / Elite proxy",
            ok);
        row("location kept", "via||Known", 3, 1, "Y|Known|Anonymous proxy", ok);
        // Service page: the class stays as the list had it.
        row("service page", "noVia|HTTP|", 1, 1, "Y|Quiet Land|", ok);
        row("dead", "dead||", 3, 1, "N||", invalid);
        // Side by side, the counts take the proxy's place.
        row("dead, parallel", "dead||", 2, 4, "N||",
            "Testing 1 proxy: 1 done, 0 working, 1 failed, 0 running");
        row("not a proxy", "no-port||", 3, 1, "N||", invalid);
        // A type nobody knows is not tested; "http" is another type. An HTTP proxy asked to be
        // a SOCKS proxy fails.
        row("unknown type", "via|SOCKS4/5|", 3, 1, "?||", untested);
        row("lower-case http", "via|http|", 1, 2, "?||", untested);
        row("http proxy as socks5", "via|SOCKS5|", 3, 1, "N||", invalid);
        row("https without an https judge", "via|HTTPS|", 3, 1, "?||",
            "HTTPS proxies need an https judge in judges.lst: they are not tested.");
        // Looking for a type costs a proxy that never answers one time-out, not one per protocol.
        row("silent proxy, its type looked for", "hanging||", 3, 1, "N||", invalid,
            {"DetectType=1"});
        // judges.lst: each judge is fetched directly first; those that fail are left out, each
        // with a line, and so are lines that are no URL. With no judge left nothing is tested.
        const QString deadJudge = QStringLiteral("http://%1/gate.php").arg(m_dead);
        row("judges: dead, no url, gate", "via||", 3, 1, anonymous, ok,
            {"judges.lst=" + deadJudge + "\nftp://x/\n" + gate()},
            {"Judge " + deadJudge + " left out: ",
             "judges.lst line 2 is no http(s) URL: ftp://x/"});
        row("judges: json echo", "via||", 3, 1, anonymous, ok,
            {"judges.lst=" + m_service.baseUrl() + "/get"});
        const QString noJudge =
            QStringLiteral("No judge in judges.lst answered: nothing was tested.");
        row("judges: none answers", "via||", 3, 1, "?||", noJudge, {"judges.lst=" + deadJudge});
        row("judges: echo without the token", "via||", 3, 1, "?||", noJudge,
            {"judges.lst=" + m_cannedJudge->url()}, {"its answer does not echo the request"});
    }

    void outcome()
    {
        QFETCH(QString, spec);
        QFETCH(int, grid);
        QFETCH(int, parallel);
        QFETCH(QString, expected);
        QFETCH(QString, lastStatus);
        QFETCH(QStringList, setup);
        QFETCH(QStringList, said);

        const QString proxy = spec.section(u'|', 0, 0);
        const QString hanging = QStringLiteral("127.0.0.1:%1").arg(m_hanging.serverPort());
        const QString address = proxy == "via"       ? m_via
                                : proxy == "noVia"   ? m_noVia
                                : proxy == "dead"    ? m_dead
                                : proxy == "hanging" ? hanging
                                                     : proxy;
        const QString active = expected.section(u'|', 0, 0);
        TesterBench b(m_service.baseUrl(), parallel, proxy == "hanging" ? 1 : 5);
        for (const QString& item : setup) {
            const QString key = item.section(u'=', 0, 0), value = item.section(u'=', 1);
            if (key == QLatin1String("judges.lst"))
                b.dir.write(key, value.toUtf8());
            else
                b.settings.write(key, value);
        }
        ProxyTableModel rows;
        b.fill(rows, {address + spec.mid(proxy.size())}, true);
        const int regionsBefore = m_service.requestCount(QStringLiteral("/getregion.php"));
        const qsizetype hangingBefore = m_hanging.requests().size();
        b.run(rows, grid, 1, 1);

        const auto cell = [&rows](int column) { return rows.TextMatrix(1, column); };
        QCOMPARE(cell(ProxyRow::Active) + u'|' + cell(ProxyRow::Location) + u'|' +
                     cell(ProxyRow::Class),
                 expected);
        QCOMPARE(b.host.status.split(QStringLiteral("\r\n")).last(), lastStatus);
        QCOMPARE(b.host.statuses.first(), QStringLiteral("Testing 1 Proxies.."));
        for (const QString& part : said)
            QVERIFY2(b.host.statuses.join(u'\n').contains(part), qPrintable(part));
        QCOMPARE(m_hanging.requests().size() - hangingBefore, qsizetype(proxy == "hanging"));
        const int regions =
            m_service.requestCount(QStringLiteral("/getregion.php")) - regionsBefore;
        QCOMPARE(regions, active == "Y" && spec.endsWith(u'|') ? 1 : 0);
        if (active == "?") {
            QCOMPARE(cell(ProxyRow::Tested), QString());
            QCOMPARE(rows.cellForeColor(1, 0), ProxyRow::NoColour);
            QVERIFY(b.host.tested.isEmpty());
        } else {
            QVERIFY(parallel > 1 ||
                    b.host.status.startsWith("Testing proxy : " + address + "\r\n"));
            // One at a time, the proxy is named while it is being tested, as before.
            QCOMPARE(b.host.statuses.contains("Testing proxy : " + address), parallel == 1);
            QVERIFY(TestTime.match(cell(ProxyRow::Tested)).hasMatch());
            QCOMPARE(cell(ProxyRow::Speed).isEmpty(), active == "N");
            const ProxyRow::Colour colour =
                active == "Y" ? ProxyRow::PassedColour : ProxyRow::FailedColour;
            QCOMPARE(rows.cellForeColor(1, 0), colour);
            QCOMPARE(rows.cellForeColor(1, ProxyRow::Class), colour);
            QCOMPARE(b.host.tested, QList<int>{1});
        }
        // The run gives everything back and forgets a Stop.
        QVERIFY(!b.host.locked);
        QCOMPARE(b.host.unlocks, 1);
        QCOMPARE(b.host.progress.last(), 0);
        QVERIFY(!b.host.busy);
        QVERIFY(!b.tester.isRunning());
        // Only the imported page writes proxy.lst.
        const bool imported = grid >= 3 && active != "?";
        QCOMPARE(b.listOnDisk(),
                 imported ? ProxyRow::storedRowText(rows.row(1).cells) + u'\n' : QString());
    }

    // Each real proxy, tested on the imported page, against the judge of the row: the service's
    // gate (the user's address from MYIP), the JSON echo, or an https judge beside the gate.
    void realProxies_data()
    {
        QTest::addColumn<QString>("proxy"); // a name of m_real
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("judges"); // gate, json, https
        QTest::addColumn<bool>("detect");
        QTest::addColumn<QString>("expected"); // active|type|class
        const auto row = [](const char* name, const char* proxy, const char* type,
                            const char* judges, const QString& expected, bool detect = false) {
            QTest::newRow(name) << QString(proxy) << QString(type) << QString(judges) << detect
                                << expected;
        };
        const QString T = QStringLiteral("Transparent proxy"),
                      A = QStringLiteral("Anonymous proxy"),
                      E = QStringLiteral("High anonymous / Elite proxy");
        // Squid tells every site the user's address in X-Forwarded-For.
        row("squid, gate", "squid", "HTTP", "gate", "Y|HTTP|" + T);
        row("squid, json", "squid", "", "json", "Y||" + T);
        row("squid quiet, gate", "squid quiet", "HTTP", "gate", "Y|HTTP|" + E);
        // Through a tunnel the proxy sees nothing it could add to.
        row("squid, https", "squid", "HTTPS", "https", "Y|HTTPS|" + E);
        row("tinyproxy via, json", "tinyproxy via", "HTTP", "json", "Y|HTTP|" + A);
        row("tinyproxy x-tinyproxy, gate", "tinyproxy x", "HTTP", "gate", "Y|HTTP|" + T);
        row("dante socks5", "dante", "SOCKS5", "json", "Y|SOCKS5|" + E);
        row("dante socks4", "dante", "SOCKS4", "gate", "Y|SOCKS4|" + E);
        row("dante refuses socks4a", "dante", "SOCKS4A", "gate", "N|SOCKS4A|");
        row("ssh -D socks4a", "ssh", "SOCKS4A", "json", "Y|SOCKS4A|" + E);
        row("ssh -D socks5, https", "ssh", "SOCKS5", "https", "Y|SOCKS5|" + E);
        // An untyped proxy's type is found when asked for, and kept.
        row("found: http", "tinyproxy quiet", "", "gate", "Y|HTTP|" + E, true);
        row("found: socks5", "microsocks", "", "json", "Y|SOCKS5|" + E, true);
        row("not looked for", "microsocks", "", "json", "N||");
    }

    void realProxies()
    {
        QFETCH(QString, proxy);
        QFETCH(QString, type);
        QFETCH(QString, judges);
        QFETCH(bool, detect);
        QFETCH(QString, expected);
        TesterBench b(m_service.baseUrl());
        b.settings.write(QStringLiteral("MYIP"), QStringLiteral("127.0.0.1"));
        b.settings.write(QStringLiteral("DetectType"), detect ? QStringLiteral("1") : QString());
        b.settings.write(QStringLiteral("MmdbFile"), m_mmdb);
        if (judges == QLatin1String("json"))
            b.dir.write(QStringLiteral("judges.lst"), (m_service.baseUrl() + "/get\n").toUtf8());
        else if (judges == QLatin1String("https"))
            b.dir.write(QStringLiteral("judges.lst"), (gate() + u'\n' + m_tls.url()).toUtf8());
        b.fill(b.imported, {m_real.value(proxy) + u'|' + type}, true);
        b.run(b.imported, 3, 1, 1);
        const auto cell = [&b](int column) { return b.imported.TextMatrix(1, column); };
        QCOMPARE(cell(ProxyRow::Active) + u'|' + cell(ProxyRow::Type) + u'|' +
                     cell(ProxyRow::Class),
                 expected);
        // The location comes from the database, by the address the judge saw.
        QCOMPARE(cell(ProxyRow::Location), expected.startsWith(u'Y')
                                               ? QStringLiteral("Loopback City, Loopback Land")
                                               : QString());
        QCOMPARE(b.store.item(0), ProxyRow::storedRowText(b.imported.row(1).cells));
        if (expected.startsWith(u'Y'))
            QVERIFY2(QRegularExpression(QStringLiteral("^\\d+\\.\\d\\d$"))
                         .match(cell(ProxyRow::Speed))
                         .hasMatch(),
                     qPrintable(cell(ProxyRow::Speed)));
    }

    // A location database that cannot be read is said once; the service's region page answers.
    void brokenLocationDatabase()
    {
        TesterBench b(m_service.baseUrl(), 2);
        b.settings.write(QStringLiteral("MmdbFile"),
                         b.dir.write(QStringLiteral("broken.mmdb"), QByteArray(4096, 'x')));
        b.fill(b.imported, {m_noVia, m_via}, true);
        b.run(b.imported, 3, 1, 2);
        QCOMPARE(b.imported.TextMatrix(1, ProxyRow::Location), QStringLiteral("Quiet Land"));
        QCOMPARE(b.imported.TextMatrix(2, ProxyRow::Location), QStringLiteral("Via Land"));
        QCOMPARE(b.host.status.count(QStringLiteral("broken.mmdb")), 1);
    }

    // With few descriptors left, a run tests fewer at once, says so, and still tests every row.
    void fewSockets()
    {
        rlimit before{};
        QVERIFY(getrlimit(RLIMIT_NOFILE, &before) == 0);
        rlimit low = before;
        low.rlim_cur = before.rlim_cur - rlim_t(OpenFiles::socketsAvailable(0)) + 64 + 2;
        QVERIFY(setrlimit(RLIMIT_NOFILE, &low) == 0);
        const auto restore = qScopeGuard([&] { setrlimit(RLIMIT_NOFILE, &before); });
        TesterBench b(m_service.baseUrl(), 8);
        ProxyTableModel rows;
        b.fill(rows, QStringList(6, m_noVia), false);
        b.run(rows, 1, 1, 6);
        for (int r = 1; r <= 6; ++r)
            QCOMPARE(rows.TextMatrix(r, ProxyRow::Active), QStringLiteral("Y"));
        QVERIFY2(b.host.statuses.join(u'\n').contains(QRegularExpression(
                     QStringLiteral("Testing [12] at once: the open-files limit allows no more."))),
                 qPrintable(b.host.statuses.join(u'\n')));
    }

    void importedLineFollowsRow()
    {
        TesterBench b(m_service.baseUrl());
        ProxyTableModel& rows = b.imported;
        // 1<dead> holds the tested proxy's text inside it; it must stay as it is.
        const QString lookalike = u'1' + m_dead;
        b.store.add(QStringLiteral("Y|") + lookalike +
                    QStringLiteral("|4||2020-01-01 00:00|HTTP|||||"
                                   "|Far|Anonymous proxy|"));
        b.store.add(
            QStringLiteral("Y|") + m_dead +
            QStringLiteral("|7||2020-01-01 00:00|||||||Oslo|High anonymous / Elite proxy|"));
        b.store.add(QStringLiteral("?|") + m_via + QStringLiteral("|0|||||||||||"));
        for (const QString& line : b.store.lines()) {
            ProxyTableModel::Row row;
            ProxyRow::readStoredRowText(line, row.cells);
            rows.appendRows({row});
        }
        b.run(rows, 3, 3, 2);

        // A failed test keeps what was known of the proxy, on disk as on screen.
        QCOMPARE(cellsOf(rows, 2),
                 "N|" + m_dead + "|7||T|||||||Oslo|High anonymous / Elite proxy|");
        QCOMPARE(rows.TextMatrix(3, ProxyRow::Active), QStringLiteral("Y"));
        for (int r = 1; r <= 3; ++r)
            QCOMPARE(b.store.item(r - 1), ProxyRow::storedRowText(rows.row(r).cells));
        QCOMPARE(b.listOnDisk(), b.store.lines().join(u'\n') + u'\n');
        QCOMPARE(b.tester.saveCount(), 2); // after each imported row
    }

    void resultGridWritesMainList()
    {
        TesterBench b(m_service.baseUrl(), 2);
        b.fill(b.imported, {m_dead, m_noVia, m_via}, true);
        ProxyTableModel result; // a filter result holding two of them, in another order
        result.appendRows({b.imported.row(3), b.imported.row(2)});
        b.run(result, 4, 1, 2);

        QCOMPARE(b.imported.TextMatrix(1, ProxyRow::Active), QStringLiteral("?"));
        QCOMPARE(cellsOf(b.imported, 3), cellsOf(result, 1));
        QCOMPARE(cellsOf(b.imported, 2), cellsOf(result, 2));
        QCOMPARE(b.imported.cellForeColor(2, 5), ProxyRow::PassedColour);
        QCOMPARE(b.store.item(1), ProxyRow::storedRowText(result.row(2).cells));
        QCOMPARE(b.store.item(2), ProxyRow::storedRowText(result.row(1).cells));
        QCOMPARE(b.listOnDisk(), b.store.lines().join(u'\n') + u'\n');

        // The whole list changes between runs (a reload, say): the next run finds the rows anew.
        b.imported.RemoveItem(1);
        b.imported.setTextMatrix(2, ProxyRow::Active, QStringLiteral("?"));
        b.run(result, 4, 1, 1);
        QCOMPARE(cellsOf(b.imported, 2), cellsOf(result, 1));
    }

    void selectionDraggedUpwards()
    {
        TesterBench b(m_service.baseUrl());
        ProxyTableModel rows;
        b.fill(rows, QStringList(8, m_dead), false);
        b.run(rows, 1, 7, 4);

        QCOMPARE(b.host.tested, (QList<int>{4, 5, 6, 7}));
        QCOMPARE(b.host.statuses.first(), QStringLiteral("Testing 4 Proxies.."));
        QCOMPARE(b.host.progressMax, 4);
        QCOMPARE(b.host.progress, (QList<int>{1, 2, 3, 4, 0}));
        for (int r : {1, 2, 3, 8})
            QCOMPARE(rows.TextMatrix(r, ProxyRow::Active), QStringLiteral("?"));

        // Rows handed over as they are: three are the fewest that get a bar of their own.
        for (const auto& [given, bar] : {std::pair{std::vector<int>{1, 2}, 0}, {{1, 2, 3}, 3}}) {
            b.host.progressMax = 0;
            b.tester.testProxies(given, {&rows, 1, 1, 1}, b.timeout);
            QCOMPARE(b.host.progressMax, bar);
        }

        // Nothing selected: only the header row is current, or there is no other row.
        b.host.statuses.clear();
        const int unlocks = b.host.unlocks;
        b.run(rows, 1, 0, 1);
        ProxyTableModel empty;
        b.run(empty, 1, 1, 1);
        QVERIFY(b.host.statuses.isEmpty());
        QCOMPARE(b.host.unlocks, unlocks);
        QVERIFY(!b.host.busy);
    }

    void stopDuringGateFetch_data()
    {
        QTest::addColumn<int>("parallel");
        QTest::addColumn<bool>("region"); // the gate passes, the location look-up hangs
        QTest::newRow("one at a time") << 1 << false;
        QTest::newRow("three at once") << 3 << false;
        QTest::newRow("one at a time, region") << 1 << true;
        QTest::newRow("three at once, region") << 3 << true;
    }

    void stopDuringGateFetch()
    {
        QFETCH(int, parallel);
        QFETCH(bool, region);
        HangingServer hanging;
        const QString silent = QStringLiteral("127.0.0.1:%1").arg(hanging.serverPort());
        const QString working = m_noVia;
        // With a region look-up the service hangs, and the judge is the service's gate elsewhere.
        TesterBench b(region ? hanging.url().chopped(1) : m_service.baseUrl(), parallel, 60);
        if (region)
            b.dir.write(QStringLiteral("judges.lst"), gate().toUtf8());
        ProxyTableModel rows;
        b.fill(rows, QStringList(6, region ? working : silent), true);
        const QStringList stored = b.store.lines();
        QTimer::singleShot(400, [&] {
            b.host.stop.request();
            b.tester.wake();
        });
        QElapsedTimer clock;
        clock.start();
        b.run(rows, 3, 1, 6);

        QVERIFY2(clock.elapsed() < 20000, "Stop did not end the run");
        // The tests in flight never had their time-out: they are written nowhere, and nothing
        // after them is started.
        QVERIFY(b.host.tested.isEmpty());
        for (int r = 1; r <= 6; ++r)
            QCOMPARE(rows.TextMatrix(r, ProxyRow::Active), QStringLiteral("?"));
        QCOMPARE(b.store.lines(), stored);
        QVERIFY(b.listOnDisk().isEmpty());
        QCOMPARE(hanging.requests().size(), parallel);
        QVERIFY(b.host.status.endsWith(QStringLiteral("\r\nFinished checking proxies..")));
        QVERIFY(!b.host.stop.isRequested());
        QVERIFY(!b.host.locked);
    }

    void parallelMatchesSerial()
    {
        const QStringList proxies = {m_via,
                                     m_dead + QStringLiteral("|HTTP|Oslo"),
                                     m_noVia + QStringLiteral("|SOCKS4/5"),
                                     m_noVia + QStringLiteral("|HTTP|Elsewhere"),
                                     QStringLiteral("garbage"),
                                     m_via + QStringLiteral("|http")};
        QString lists[2];
        QStringList cells[2];
        int width[2] = {1, 8};
        for (int k = 0; k < 2; ++k) {
            TesterBench b(m_service.baseUrl(), width[k]);
            b.fill(b.imported, proxies, true);
            b.run(b.imported, 3, 1, b.imported.Rows() - 1);
            for (int r = 1; r < b.imported.Rows(); ++r)
                cells[k] << cellsOf(b.imported, r);
            lists[k] = b.listOnDisk();
            lists[k].replace(
                QRegularExpression(QStringLiteral("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d")),
                QStringLiteral("T"));
            lists[k].replace(QRegularExpression(QStringLiteral("^(.\\|[^|]*\\|)\\d+\\.\\d\\d\\|"),
                                                QRegularExpression::MultilineOption),
                             QStringLiteral("\\1S|"));
            QCOMPARE(b.host.progress.last(), 0);
            // The last proxy tested one at a time is no proxy: no body of an earlier one stays.
            QVERIFY(k == 1 || b.tester.lastGateBody().isEmpty());
            // One save per tested row one at a time; in parallel the first result, then the end.
            QVERIFY(k == 0 ? b.tester.saveCount() == 4 : b.tester.saveCount() <= 2);
            // Side by side the status counts; the two of unknown type are done, not tested.
            QVERIFY2(k == 0 || b.host.status.startsWith(QStringLiteral(
                                   "Testing 6 proxies: 6 done, 2 working, 2 failed, 0 running")),
                     qPrintable(b.host.status));
            QVERIFY(b.host.progressText.isEmpty());
        }
        QCOMPARE(cells[1], cells[0]);
        QCOMPARE(lists[1], lists[0]);
        QVERIFY(cells[0][0].startsWith(QLatin1String("Y|")));
        QVERIFY(cells[0][1].startsWith(QLatin1String("N|")));

        // One row tested at full width: its result is saved once, not again at the end.
        TesterBench one(m_service.baseUrl(), 8);
        one.fill(one.imported, {m_via}, true);
        one.run(one.imported, 3, 1, 1);
        QCOMPARE(one.tester.saveCount(), 1);
    }

    // Once the results in hand are written, a parallel run waits for the rest without work:
    // its CPU time stays far below the time it waits.
    void runWaitsIdle()
    {
        HangingServer hanging;
        TesterBench b(m_service.baseUrl(), 2, 1);
        ProxyTableModel rows;
        b.fill(rows,
               {QStringLiteral("127.0.0.1:%1").arg(closedLoopbackPort()),
                QStringLiteral("127.0.0.1:%1").arg(hanging.serverPort())},
               false);
        const auto cpu = [] {
            rusage u{};
            getrusage(RUSAGE_SELF, &u);
            return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
                   (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
        };
        QElapsedTimer wall;
        wall.start();
        const double before = cpu();
        b.run(rows, 1, 1, 2);
        const double used = cpu() - before;
        const double waited = wall.elapsed() / 1000.0;
        QVERIFY(waited >= 0.9); // the hanging proxy's time-out
        QVERIFY2(used < waited / 2,
                 qPrintable(QStringLiteral("%1 s CPU in %2 s").arg(used).arg(waited)));
        QCOMPARE(rows.TextMatrix(1, ProxyRow::Active), QStringLiteral("N"));
        QCOMPARE(rows.TextMatrix(2, ProxyRow::Active), QStringLiteral("N"));
    }

    // A judge that dies during a run is left out after its failures, and the proxies that failed
    // on it are tested again on the other judge.
    void judgeDiesMidRun()
    {
        auto dying = std::make_unique<ReferenceService>();
        QVERIFY(dying->start({}));
        const QString dyingGate = dying->baseUrl() + QStringLiteral("/gate.php");
        TesterBench b(m_service.baseUrl(), 2);
        b.dir.write(QStringLiteral("judges.lst"), (dyingGate + u'\n' + gate()).toUtf8());
        ProxyTableModel rows;
        b.fill(rows, QStringList(12, m_noVia), false);
        b.host.onRowWritten = [&](int) { dying.reset(); };
        b.run(rows, 1, 1, 12);
        for (int r = 1; r <= 12; ++r)
            QCOMPARE(rows.TextMatrix(r, ProxyRow::Active), QStringLiteral("Y"));
        QVERIFY(b.host.statuses.join(u'\n').contains(QStringLiteral("Judge ") + dyingGate +
                                                     QStringLiteral(" stopped answering")));
    }

    // Proxies that cannot be reached, and proxies that answer with a page of their own, fail;
    // the judge stays.
    void badProxiesKeepTheJudge()
    {
        TesterBench b(m_service.baseUrl(), 4, 2);
        b.dir.write(QStringLiteral("judges.lst"), gate().toUtf8());
        QStringList proxies(8, m_dead);
        proxies << QStringList(6, QStringLiteral("127.0.0.1:%1").arg(m_cannedJudge->serverPort()));
        ProxyTableModel rows;
        b.fill(rows, proxies, false);
        const int before = m_service.requestCount(QStringLiteral("/gate.php"));
        b.run(rows, 1, 1, int(proxies.size()));
        for (int r = 1; r <= proxies.size(); ++r)
            QCOMPARE(rows.TextMatrix(r, ProxyRow::Active), QStringLiteral("N"));
        QVERIFY(!b.host.statuses.join(u'\n').contains(QLatin1String("Judge ")));
        // The first check, and one check per three failures that got past a proxy at most.
        QVERIFY(m_service.requestCount(QStringLiteral("/gate.php")) - before <= 3);
    }

    void failedSaveIsSaid()
    {
        TesterBench b(m_service.baseUrl());
        b.fill(b.imported, {m_dead}, true);
        // A folder where proxy.lst should be: no save can replace it.
        QVERIFY(QDir(b.dir.path()).mkdir(QStringLiteral("proxy.lst")));
        b.run(b.imported, 3, 1, 1);
        const QStringList lines = b.host.status.split(QStringLiteral("\r\n"));
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[1], QStringLiteral("Invalid Proxy"));
        QVERIFY2(lines[2].contains(QLatin1String("proxy.lst")), qPrintable(lines[2]));
    }

private:
    QString gate() const { return m_service.baseUrl() + QStringLiteral("/gate.php"); }

    std::vector<std::unique_ptr<RealProxy>> m_realProxies;
    QHash<QString, QString> m_real; // name -> address
    TlsJudge m_tls;
    QString m_mmdb;

    ReferenceService m_service;
    HangingServer m_hanging;
    // An echo page that is always the same: it holds no request's token.
    std::unique_ptr<FixedServer> m_cannedJudge =
        std::make_unique<FixedServer>(200, "GATEWAY_INTERFACE=CGI/1.1\nREMOTE_ADDR=127.0.0.1\n");
    QString m_via;   // tinyproxy, which says Via
    QString m_noVia; // tinyproxy, which says nothing
    QString m_dead;
    WorkFolder m_data;
};

QTEST_GUILESS_MAIN(tst_ProxyTester)
#include "tst_ProxyTester.moc"
