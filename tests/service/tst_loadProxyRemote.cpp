#include "service/ReferenceService.h"
#include "support/MainWindowFixture.h"
#include "support/WindowControls.h"
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
        // Two pieces only: the text after the last separator never counts, and one line is too few.
        QTest::newRow("second line without <BR>") << a + "<BR>" + b << QStringList{};
        QTest::newRow("three lines, last one unterminated")
            << a + "<BR>" + b + "<BR>" + line("3.3.3.3:1")
            << QStringList{"1.1.1.1:80", "2.2.2.2:8080"};
        QTest::newRow("an empty first line")
            << "<BR>" + a + "<BR>" + b + "<BR>" << QStringList{"1.1.1.1:80", "2.2.2.2:8080"};
        QTest::newRow("lower-case <br> is no separator")
            << a + "<br>" + b + "<br>" + a + "<br>" << QStringList{};
        QTest::newRow("loopback and zero lines skipped")
            << line("127.0.0.1:80") + "<BR>" + line("0.0.0.0:80") + "<BR>" + line("10.0.0.1:80") +
                   "<BR>"
            << QStringList{"10.0.0.1:80"};
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
        for (int r = 1; r < ui::MSH(w)->Rows(); ++r)
            if (!ui::MSH(w)->TextMatrix(r, 1).isEmpty())
                got << ui::MSH(w)->TextMatrix(r, 1);
        got.sort();
        QCOMPARE(got, proxies);
        QCOMPARE(w.panelText(1), QStringLiteral("%1 Main").arg(proxies.size()));
        QCOMPARE(w.statusText(), QString());
    }

    void rowsAreMappedSortedAndBanded()
    {
        MainWindowFixture f;
        const QByteArray body = line("1.1.1.1:80", "2013-04-30 23:59:10") + "<BR>" +
                                line("2.2.2.2:80", "2013-05-01 12:34:56") + "<BR>" +
                                line("3.3.3.3:80", "2012-01-01 00:00:00") + "<BR>" +
                                line("4.4.4.4:80", "no time here") + "<BR>";
        frmMain& w = start(f, body);
        // Newest test first; a value without ":" is kept whole and sorts as text (the cells each
        // line gives: tst_ProxyRow).
        const QStringList order{"4.4.4.4:80", "2.2.2.2:80", "1.1.1.1:80", "3.3.3.3:80"};
        QCOMPARE(ui::MSH(w)->Rows(), 5);
        for (int r = 1; r < 5; ++r) {
            QCOMPARE(ui::MSH(w)->TextMatrix(r, ProxyRow::Proxy), order[r - 1]);
            // Downloaded rows keep the default text colour until tested.
            QCOMPARE(ui::MSH(w)->rows().cellForeColor(r, 1), ProxyRow::NoColour);
            QCOMPARE(ui::MSH(w)->rows().cellBackColor(r, 4),
                     r % 2 ? ProxyRow::White : QRgb(0xFFE6F0F0));
        }
        // The first row is selected whole.
        QCOMPARE((QList<int>{ui::MSH(w)->Row(), ui::MSH(w)->RowSel(), ui::MSH(w)->Col(),
                             ui::MSH(w)->ColSel()}),
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
        QCOMPARE(items(*ui::cboLOC(w)), QStringList({"Bergen", "Oslo"}));
        QCOMPARE(ListPages::comboText(*ui::cboLOC(w)), QStringLiteral("All Locations"));
        QCOMPARE(ui::cboTYPE(w)->count(), 2);
        QCOMPARE(ui::cboCLASS(w)->count(), 1);

        w.Option2_Click();
        QCOMPARE(ui::ProgressBar1(w)->value(), 0);
        QCOMPARE(items(*ui::cboLOC(w)), QStringList({"Lima"}));
        QCOMPARE(items(*ui::cboTYPE(w)), QStringList({"HTTPS"}));
        QCOMPARE(ui::cboCLASS(w)->count(), 0);
        w.loadProxyRemote();
        QCOMPARE(items(*ui::cboLOC(w)), QStringList({"Lima"}));
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
        QCOMPARE(ui::MSH(w)->Rows(), 2);
        QCOMPARE(ui::MSH(w)->TextMatrix(1, 1), QString());
        QCOMPARE(w.panelText(1), QStringLiteral("0 Main"));
        // A stored text without a mark that starts like a loopback address is not shown.
        QCOMPARE(ui::MSHi(w)->Rows(), 3);
        QCOMPARE(ui::MSHi(w)->TextMatrix(2, 1), QStringLiteral("127.0.0.1:81"));
        QCOMPARE(w.panelText(2), QStringLiteral("2 Imported"));
        // Loaded again, the imported grid is rebuilt from the list: nothing of the rows shown
        // before is left, not even a colour. The main grid's one row is selected whole again
        // after a click on one of its cells, as a longer list's first row would be.
        w.importedStore().setItem(0, QStringLiteral("?|5.6.7.8:80|0|||||||||||"));
        ui::MSH(w)->setCol(3);
        w.loadProxyRemote();
        QCOMPARE((QList<int>{ui::MSH(w)->Row(), ui::MSH(w)->RowSel(), ui::MSH(w)->Col(),
                             ui::MSH(w)->ColSel()}),
                 (QList<int>{1, 1, 0, 12}));
        QCOMPARE(ui::MSHi(w)->Rows(), 3);
        QCOMPARE(ui::MSHi(w)->TextMatrix(1, 1), QStringLiteral("5.6.7.8:80"));
        QCOMPARE(ui::MSHi(w)->rows().cellForeColor(1, 1), ProxyRow::NoColour);
    }

    // Every failed fetch gives the same empty body (the ways a fetch fails: tst_DocumentFetcher).
    void failedDownloadLeavesOneEmptyRow()
    {
        MainWindowFixture f;
        m_service.setListBody(line("1.1.1.1:80") + "<BR>" + line("2.2.2.2:80") + "<BR>");
        f.deployment.serviceUrl = m_service.baseUrl() + QStringLiteral("/missing");
        frmMain& w = f.create();
        w.Form_Load();
        QCOMPARE(ui::MSH(w)->Rows(), 2);
        QCOMPARE(ui::MSH(w)->TextMatrix(1, 1), QString());
        QCOMPARE(w.panelText(1), QStringLiteral("0 Main"));
        QVERIFY(ui::menuRefresh(w)->isEnabled());
        // With no imported list the imported grid is left as it is.
        ui::MSHi(w)->setRows(3);
        ui::MSHi(w)->setTextMatrix(1, 1, QStringLiteral("kept:1"));
        w.loadProxyRemote();
        QCOMPARE(ui::MSHi(w)->Rows(), 3);
        QCOMPARE(ui::MSHi(w)->TextMatrix(1, 1), QStringLiteral("kept:1"));
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
            refreshDuring = ui::menuRefresh(w)->isEnabled();
            stopDuring = ui::menuStop(w)->isEnabled();
            statusDuring = w.statusText();
        });
        ui::menuRefresh(w)->trigger();
        QVERIFY(!refreshDuring);
        QVERIFY(stopDuring);
        QCOMPARE(statusDuring, QStringLiteral("Loading External Proxy List.."));
        QVERIFY(ui::menuRefresh(w)->isEnabled());
        QVERIFY(!ui::menuStop(w)->isEnabled());
        QCOMPARE(ui::MSH(w)->Rows(), 3);
    }

private:
    static QStringList items(const QComboBox& combo)
    {
        QStringList list;
        for (int i = 0; i < combo.count(); ++i)
            list << combo.itemText(i);
        return list;
    }

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
