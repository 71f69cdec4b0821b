#include "service/ReferenceService.h"
#include "support/MainWindowFixture.h"
#include "views/ProxyGrid.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QMenu>
#include <QProgressBar>
#include <QTest>
#include <QTimer>

namespace {

QByteArray line(const QByteArray& proxy, const QByteArray& tested = "2013-05-01 12:34:56",
                const QByteArray& reliable = "85", const QByteArray& location = "Oslo",
                const QByteArray& type = "HTTP", const QByteArray& cls = "Anonymous proxy")
{
    return proxy + "|3|" + reliable + "|" + tested + "|" + type + "|C|G|R|P|S|" + location + "|" +
           cls + "|";
}

} // namespace

class tst_loadProxyRemote : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        ReferenceService::Options options;
        QVERIFY2(m_service.start(options), qPrintable(m_service.errorString()));
    }

    void bodies_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QStringList>("proxies");

        const QByteArray a = line("1.1.1.1:80");
        const QByteArray b = line("2.2.2.2:8080");
        QTest::newRow("two lines each followed by <BR>")
            << a + "<BR>" + b + "<BR>" << QStringList{"1.1.1.1:80", "2.2.2.2:8080"};
        QTest::newRow("one line followed by <BR>") << a + "<BR>" << QStringList{};
        // Two pieces only: the text after the last separator never counts, and one line is too few.
        QTest::newRow("second line without <BR>") << a + "<BR>" + b << QStringList{};
        QTest::newRow("three lines, last one unterminated")
            << a + "<BR>" + b + "<BR>" + line("3.3.3.3:1")
            << QStringList{"1.1.1.1:80", "2.2.2.2:8080"};
        QTest::newRow("an empty first line")
            << "<BR>" + a + "<BR>" + b + "<BR>" << QStringList{"1.1.1.1:80", "2.2.2.2:8080"};
        QTest::newRow("no <BR> at all") << a + "\n" + b + "\n" << QStringList{};
        QTest::newRow("lower-case <br> is no separator")
            << a + "<br>" + b + "<br>" + a + "<br>" << QStringList{};
        QTest::newRow("loopback and zero lines skipped")
            << line("127.0.0.1:80") + "<BR>" + line("0.0.0.0:80") + "<BR>" + line("10.0.0.1:80") +
                   "<BR>"
            << QStringList{"10.0.0.1:80"};
        QTest::newRow("short and long lines")
            << QByteArray("4.4.4.4:1|9|<BR>") + a + "|extra|fields|here|<BR>"
            << QStringList{"1.1.1.1:80", "4.4.4.4:1"};
        QTest::newRow("binary bytes and overlong fields")
            << QByteArray("5.5.5.5:5|\x01\xff\xfe|") + QByteArray(100000, 'x') + "|<BR>" + a +
                   "<BR>"
            << QStringList{"1.1.1.1:80", "5.5.5.5:5"};
    }

    void bodies()
    {
        QFETCH(QByteArray, body);
        QFETCH(QStringList, proxies);

        MainWindowFixture f;
        frmMain& w = start(f, body);
        QStringList got;
        for (int r = 1; r < w.MSH->Rows(); ++r)
            if (!w.MSH->TextMatrix(r, 1).isEmpty())
                got << w.MSH->TextMatrix(r, 1);
        got.sort();
        QCOMPARE(got, proxies);
        QCOMPARE(w.panelText(1), QStringLiteral("%1 Main").arg(proxies.size()));
        QCOMPARE(w.statusText(), QString());
    }

    void rowsAreMappedSortedAndBanded()
    {
        MainWindowFixture f;
        const QByteArray body = line("1.1.1.1:80", "2013-04-30 23:59:10", "0") + "<BR>" +
                                line("2.2.2.2:80", "2013-05-01 12:34:56", "abc") + "<BR>" +
                                line("3.3.3.3:80", "2012-01-01 00:00:00", "95") + "<BR>" +
                                line("4.4.4.4:80", "no time here", "7") + "<BR>";
        frmMain& w = start(f, body);
        // Newest test first; a value without ":" is kept whole and sorts as text; a reliability
        // that is 0 or no number shows as "?".
        const QStringList rows{
            "Y|4.4.4.4:80|3|7|no time here|HTTP|C|G|R|P|S|Oslo|Anonymous proxy|",
            "Y|2.2.2.2:80|3|?|2013-05-01 12:34|HTTP|C|G|R|P|S|Oslo|Anonymous proxy|",
            "Y|1.1.1.1:80|3|?|2013-04-30 23:59|HTTP|C|G|R|P|S|Oslo|Anonymous proxy|",
            "Y|3.3.3.3:80|3|95|2012-01-01 00:00|HTTP|C|G|R|P|S|Oslo|Anonymous proxy|"};
        QCOMPARE(w.MSH->Rows(), 5);
        for (int r = 1; r < 5; ++r) {
            QCOMPARE(ProxyRow::storedRowText(w.MSH->rows().row(r).cells), rows[r - 1]);
            // Downloaded rows keep the default text colour until tested.
            QCOMPARE(w.MSH->rows().cellForeColor(r, 1), ProxyRow::NoColour);
            QCOMPARE(w.MSH->rows().cellBackColor(r, 4), r % 2 ? ProxyRow::White : QRgb(0xFFE6F0F0));
        }
        // The first row is selected whole.
        QCOMPARE((QList<int>{w.MSH->Row(), w.MSH->RowSel(), w.MSH->Col(), w.MSH->ColSel()}),
                 (QList<int>{1, 1, 0, 12}));
        QCOMPARE(w.panelText(1), QStringLiteral("4 Main"));
    }

    void filterChoicesFollowTheActivePage()
    {
        MainWindowFixture f;
        f.writeList({"?|9.9.9.9:80|0|||HTTPS||||||Lima||"});
        const QByteArray body = line("1.1.1.1:80", "2013", "1", "Oslo", "HTTP") + "<BR>" +
                                line("2.2.2.2:80", "2013", "1", "Bergen", "SOCKS5") + "<BR>" +
                                line("3.3.3.3:80", "2013", "1", "Oslo", "HTTP") + "<BR>" +
                                line("4.4.4.4:80", "2013", "1", "", "") + "<BR>";
        frmMain& w = start(f, body);
        QCOMPARE(w.sbLOC, QStringList({"Oslo", "Bergen"}));
        QCOMPARE(w.cboLOC->count(), 2);
        QCOMPARE(frmMain::comboText(*w.cboLOC), QStringLiteral("All Locations"));
        QCOMPARE(w.cboTYPE->count(), 2);
        QCOMPARE(w.cboCLASS->count(), 1);

        w.Option2_Click();
        QCOMPARE(w.ProgressBar1->value(), 0);
        QCOMPARE(w.sbLOC, QStringList({"Lima"}));
        QCOMPARE(w.sbTYPE, QStringList({"HTTPS"}));
        QCOMPARE(w.sbCLASS, QStringList());
        w.loadProxyRemote();
        QCOMPARE(w.sbLOC, QStringList({"Lima"}));
    }

    void serviceOffLeavesOneEmptyRowAndRebuildsImported()
    {
        MainWindowFixture f;
        f.store->write(QStringLiteral("chkCOR"),
                       QStringLiteral("abc")); // not a number: counts as 0
        f.writeList(
            {"N|1.2.3.4:80|0|||||||||||", "127.0.0.1:80|x|", "?|127.0.0.1:81|0|||||||||||"});
        const int before = m_service.requestCount(QStringLiteral("/ppx.php"));
        frmMain& w = start(f, line("1.1.1.1:80") + "<BR>" + line("2.2.2.2:80") + "<BR>");
        QCOMPARE(m_service.requestCount(QStringLiteral("/ppx.php")), before);
        QCOMPARE(w.MSH->Rows(), 2);
        QCOMPARE(w.MSH->TextMatrix(1, 1), QString());
        QCOMPARE(w.panelText(1), QStringLiteral("0 Main"));
        // A stored text without a mark that starts like a loopback address is not shown.
        QCOMPARE(w.MSHi->Rows(), 3);
        QCOMPARE(w.MSHi->TextMatrix(2, 1), QStringLiteral("127.0.0.1:81"));
        QCOMPARE(w.panelText(2), QStringLiteral("2 Imported"));
        // Loaded again, the imported grid is rebuilt from the list: nothing of the rows shown
        // before is left, not even a colour. The main grid's one row is selected whole again
        // after a click on one of its cells, as a longer list's first row would be.
        w.importedStore().setItem(0, QStringLiteral("?|5.6.7.8:80|0|||||||||||"));
        w.MSH->setCol(3);
        w.loadProxyRemote();
        QCOMPARE((QList<int>{w.MSH->Row(), w.MSH->RowSel(), w.MSH->Col(), w.MSH->ColSel()}),
                 (QList<int>{1, 1, 0, 12}));
        QCOMPARE(w.MSHi->Rows(), 3);
        QCOMPARE(w.MSHi->TextMatrix(1, 1), QStringLiteral("5.6.7.8:80"));
        QCOMPARE(w.MSHi->rows().cellForeColor(1, 1), ProxyRow::NoColour);
    }

    void failedDownloadsLeaveOneEmptyRow_data()
    {
        QTest::addColumn<QString>("serviceUrl");
        QTest::newRow("404") << QStringLiteral("/missing");
        QTest::newRow("refused") << QStringLiteral("http://127.0.0.1:9");
        QTest::newRow("bad url") << QStringLiteral("not a url at all");
    }

    void failedDownloadsLeaveOneEmptyRow()
    {
        QFETCH(QString, serviceUrl);
        MainWindowFixture f;
        m_service.setListBody(line("1.1.1.1:80") + "<BR>" + line("2.2.2.2:80") + "<BR>");
        f.deployment.serviceUrl =
            serviceUrl.startsWith(QLatin1Char('/')) ? m_service.baseUrl() + serviceUrl : serviceUrl;
        frmMain& w = f.create();
        w.Form_Load();
        QCOMPARE(w.MSH->Rows(), 2);
        QCOMPARE(w.MSH->TextMatrix(1, 1), QString());
        QCOMPARE(w.panelText(1), QStringLiteral("0 Main"));
        QVERIFY(w.menuRefresh->isEnabled());
        // With no imported list the imported grid is left as it is.
        w.MSHi->setRows(3);
        w.MSHi->setTextMatrix(1, 1, QStringLiteral("kept:1"));
        w.loadProxyRemote();
        QCOMPARE(w.MSHi->Rows(), 3);
        QCOMPARE(w.MSHi->TextMatrix(1, 1), QStringLiteral("kept:1"));
    }

    void controlsDisabledWhileLoading()
    {
        MainWindowFixture f;
        frmMain& w = start(f, line("1.1.1.1:80") + "<BR>" + line("2.2.2.2:80") + "<BR>");
        bool refreshDuring = true;
        bool stopDuring = false;
        QString statusDuring;
        // The fetch waits in a local event loop, so a queued call runs in the middle of the load.
        QTimer::singleShot(0, &w, [&] {
            refreshDuring = w.menuRefresh->isEnabled();
            stopDuring = w.menuStop->isEnabled();
            statusDuring = w.statusText();
        });
        w.menuRefresh->trigger();
        QVERIFY(!refreshDuring);
        QVERIFY(stopDuring);
        QCOMPARE(statusDuring, QStringLiteral("Loading External Proxy List.."));
        QVERIFY(w.menuRefresh->isEnabled());
        QVERIFY(!w.menuStop->isEnabled());
        QCOMPARE(w.MSH->Rows(), 3);
    }

    void stopEndsTheLoadAndIsCleared()
    {
        MainWindowFixture f;
        QByteArray body;
        for (int i = 0; i < 50000; ++i)
            body += line("10.0." + QByteArray::number(i / 250) + "." + QByteArray::number(i % 250) +
                         ":80") +
                    "<BR>";
        frmMain& w = start(f, QByteArray());
        m_service.setListBody(body);
        QTimer::singleShot(0, &w, [&] { w.menuStop->trigger(); });
        w.loadProxyRemote();
        // Stopped during the download: nothing (or only part) was loaded, and the flag is down
        // again.
        QVERIFY(w.MSH->Rows() < 50001);
        QVERIFY(!w.stopRequested.isRequested());
        QVERIFY(w.menuRefresh->isEnabled());
        w.loadProxyRemote();
        QCOMPARE(w.MSH->Rows(), 50001);
    }

private:
    frmMain& start(MainWindowFixture& f, const QByteArray& body)
    {
        m_service.setListBody(body);
        f.deployment.serviceUrl = m_service.baseUrl();
        f.deployment.ipInfoUrl = m_service.baseUrl() + QStringLiteral("/");
        frmMain& w = f.create();
        w.Form_Load();
        return w;
    }

    ReferenceService m_service;
};

QTEST_MAIN(tst_loadProxyRemote)
#include "tst_loadProxyRemote.moc"
