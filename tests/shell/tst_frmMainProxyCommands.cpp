// The main window's proxy commands: test runs through the window, Stop, the system proxy switch
// and the auto-test timer.
#include "service/ReferenceService.h"
#include "settings/SettingsStore.h"
#include "support/MainWindowFixture.h"
#include "support/TestServers.h"
#include "support/TinyProxy.h"
#include "support/WindowControls.h"
#include "system/SystemProxySwitch.h"
#include "testing/AutoTest.h"
#include "testing/ProxyTester.h"
#include "views/ProxyGrid.h"

#include <QAction>
#include <QMenu>
#include <QProgressBar>
#include <QTest>
#include <QTimer>

class tst_frmMainProxyCommands : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(m_service.start({}), qPrintable(m_service.errorString())); }

    void init() { QFile::remove(SystemProxySwitch::defaultContractPath()); }

    void testRunThroughWindow()
    {
        MainWindowFixture f;
        const QString dead = QStringLiteral("localhost:%1").arg(closedLoopbackPort());
        // The service itself answers as a working proxy.
        const QString working = QStringLiteral("localhost:%1").arg(m_service.port());
        frmMain& w =
            startWith(f, {"?|" + working + "|0|||||||||||", "?|" + dead + "|0|||||||||||"});
        ui::MSHi(w)->setRow(1);
        ui::MSHi(w)->setRowSel(2);

        bool seenRunning = false;
        QTimer spy;
        spy.setInterval(5);
        connect(&spy, &QTimer::timeout, [&] {
            if (!ui::menuStop(w)->isEnabled())
                return;
            seenRunning = true;
            QVERIFY(!ui::menuTools(w)->isEnabled() && !ui::MSHi(w)->isEnabled() &&
                    !ui::frame(w)->isEnabled());
            // Readable while the frame is greyed out.
            QVERIFY(ui::txtSTAT(w)->isEnabled() && ui::ProgressBar1(w)->isEnabled());
            QCOMPARE(ui::ProgressBar1(w)->maximum(), 2);
        });
        spy.start();
        ui::menuTestProxy(w)->trigger();
        spy.stop();

        QVERIFY(seenRunning);
        QCOMPARE(ui::MSHi(w)->TextMatrix(1, ProxyRow::Active) +
                     ui::MSHi(w)->TextMatrix(2, ProxyRow::Active),
                 QStringLiteral("YN"));
        QCOMPARE(w.statusText(), "Testing proxy : " + dead + "\nInvalid Proxy");
        QVERIFY(w.httpResult.isEmpty()); // the last gate body, of the dead proxy
        QVERIFY(ui::menuTools(w)->isEnabled() && !ui::menuStop(w)->isEnabled());
        QVERIFY(ui::MSHi(w)->isEnabled() && ui::frame(w)->isEnabled());
        QCOMPARE(ui::ProgressBar1(w)->value(), 0);
        // The selection shrinks to the last tested row.
        QCOMPARE(QList<int>({ui::MSHi(w)->Row(), ui::MSHi(w)->RowSel(), ui::MSHi(w)->ColSel()}),
                 QList<int>({2, 2, 0}));
    }

    void stopDuringRun()
    {
        HangingServer hanging;
        const QString silent = QStringLiteral("localhost:%1").arg(hanging.serverPort());
        MainWindowFixture f;
        frmMain& w =
            startWith(f, {"?|" + silent + "|0|||||||||||", "?|" + silent + "1|0|||||||||||"});
        w.show();
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        ui::MSHi(w)->setRow(1);
        ui::MSHi(w)->setRowSel(2);
        QString statusAtStop;
        QTimer::singleShot(300, &w, [&] {
            QTest::keyClick(&w, Qt::Key_Escape); // Stop's key
            statusAtStop = w.statusText();
        });
        ui::menuTestProxy(w)->trigger();

        QCOMPARE(statusAtStop, QStringLiteral("Finished checking proxies.."));
        // The test cut short is no failure: its row and stored line keep what they had.
        QCOMPARE(ui::MSHi(w)->TextMatrix(1, ProxyRow::Active) +
                     ui::MSHi(w)->TextMatrix(2, ProxyRow::Active),
                 QStringLiteral("??"));
        QCOMPARE(w.importedStore().item(0), "?|" + silent + "|0|||||||||||");
        QVERIFY(!w.stopRequested.isRequested() && !ui::MSHi(w)->hasFocus());
    }

    // Exit while a parallel run waits ends the program at once, and every result the window
    // showed is in proxy.lst by then (the run itself saves at most once a second).
    void exitDuringParallelRun()
    {
        // Two working proxies (the service answers as one, under two names) and one that hangs.
        HangingServer hanging;
        MainWindowFixture f;
        f.ownEnd = true;
        f.store->write(QStringLiteral("ParallelTests"), QStringLiteral("3"));
        const QStringList lines = {
            QStringLiteral("?|localhost:%1|0|||||||||||").arg(m_service.port()),
            QStringLiteral("?|127.0.0.1:%1|0|||||||||||").arg(m_service.port()),
            QStringLiteral("?|localhost:%1|0|||||||||||").arg(hanging.serverPort())};
        frmMain& w = startWith(f, lines);
        QByteArray onDisk;
        f.endAtOnce = [&] {
            onDisk = f.work.read(QStringLiteral("proxy.lst"));
            ui::menuStop(w)->trigger(); // the process would be gone; here the run has to end
        };
        QTimer poll;
        poll.setInterval(5);
        connect(&poll, &QTimer::timeout, &w, [&] {
            if (ui::MSHi(w)->TextMatrix(1, ProxyRow::Active) == u"Y" &&
                ui::MSHi(w)->TextMatrix(2, ProxyRow::Active) == u"Y") {
                poll.stop();
                ui::menuExit(w)->trigger();
            }
        });
        poll.start();
        ui::MSHi(w)->setRow(1);
        ui::MSHi(w)->setRowSel(3);
        ui::menuTestProxy(w)->trigger();

        QVERIFY(!onDisk.isEmpty());
        const QList<QByteArray> saved = onDisk.split('\n');
        QVERIFY(saved.at(0).startsWith("Y|") && saved.at(1).startsWith("Y|"));
        QCOMPARE(saved.at(2), lines.at(2).toUtf8());
    }

    void switchOnAndOff_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("server");
        QTest::addColumn<bool>("autoTest");
        // The row's type reaches the switch; its other types are the switch's own test.
        QTest::newRow("HTTP, auto-test") << QString("HTTP") << "203.0.113.5:8080" << true;
        QTest::newRow("SOCKS5") << QString("SOCKS5") << "socks=203.0.113.5:8080" << false;
    }

    void switchOnAndOff()
    {
        QFETCH(QString, type);
        QFETCH(QString, server);
        QFETCH(bool, autoTest);
        // A proxy left on by a run that crashed is switched off at the start.
        SystemProxySwitch(SystemProxySwitch::defaultContractPath(),
                          SystemProxySwitch::backendFor(QStringLiteral("file")))
            .switchOn(QStringLiteral("198.51.100.7:3128"), QStringLiteral("HTTP"));
        MainWindowFixture f;
        // Not a number at the first read: the auto-test stays off.
        f.store->write(QStringLiteral("chkTEST"), autoTest ? "1" : "x");
        frmMain& w = startWith(f, {"Y|203.0.113.5:8080|1||2024-01-01 10:00|" + type +
                                       "||||||Oslo, Norway|Anonymous proxy|",
                                   "?|Some proxies I found:|0|||||||||||"});
        // A line the file import kept as it was names no proxy: nothing is switched on or said
        // to be.
        ui::MSHi(w)->setRow(2);
        ui::menuPROXON(w)->trigger();
        QCOMPARE(w.windowTitle(), QStringLiteral("Corvatel - version 2.1.89"));
        QCOMPARE(w.statusText(),
                 QStringLiteral("System proxy: 'Some proxies I found:' is not host:port"));
        QVERIFY(!ui::timerPTest(w)->isActive() && w.enabledProxyLabel.isEmpty());
        SystemProxySwitch& sw = w.proxySwitch();
        QCOMPARE(sw.value("ProxyEnable") + sw.value("ProxyServer"), QStringLiteral("0"));
        ui::MSHi(w)->setRow(1);
        ui::menuPROXON(w)->trigger();

        QCOMPARE(w.windowTitle(),
                 "Corvatel - version 2.1.89 - Using [203.0.113.5:8080] in Oslo, Norway");
        QCOMPARE(ui::TrayX1(w)->toolTip(), w.windowTitle());
        QCOMPARE(w.statusText(), QStringLiteral("Proxy Use Enabled"));
        QCOMPARE(w.enabledProxyLabel, QStringLiteral("203.0.113.5:8080 [Oslo, Norway]"));
        QCOMPARE(QStringList(
                     {sw.value("ProxyEnable"), sw.value("ProxyOverride"), sw.value("ProxyServer")}),
                 QStringList({"1", "<local>", server}));
        QVERIFY(contract().contains(QLatin1String("[Internet%20Settings]")));
        QCOMPARE(ui::MSHi(w)->TextMatrix(1, ProxyRow::Active), QStringLiteral("Y")); // marks no row
        QCOMPARE(ui::timerPTest(w)->isActive(), autoTest);

        // Without the auto-test the switch leaves the timer alone either way.
        ui::timerPTest(w)->start();
        ui::menuPROXOFF(w)->trigger();
        QCOMPARE(ui::timerPTest(w)->isActive(), !autoTest);
        QCOMPARE(w.windowTitle(), QStringLiteral("Corvatel - version 2.1.89"));
        QCOMPARE(ui::TrayX1(w)->toolTip(), w.windowTitle());
        QCOMPARE(w.statusText(), QStringLiteral("Proxy Use (System) Disabled"));
        QVERIFY(w.enabledProxyLabel.isEmpty());
        QCOMPARE(sw.value(QStringLiteral("ProxyEnable")), QStringLiteral("0"));
        QVERIFY(!contract().contains(QLatin1String("ProxyOverride")) &&
                !contract().contains(QLatin1String("ProxyServer")));

        // Closing the window switches it off as well.
        ui::menuPROXON(w)->trigger();
        QCOMPARE(sw.value(QStringLiteral("ProxyEnable")), QStringLiteral("1"));
        w.close();
        QCOMPARE(f.terminations, 1);
        QCOMPARE(sw.value(QStringLiteral("ProxyEnable")), QStringLiteral("0"));
    }

    void autoTestWhileInTray_data()
    {
        QTest::addColumn<bool>("working");
        QTest::newRow("dead proxy") << false;
        QTest::newRow("tinyproxy") << true;
    }

    // Minimised with a proxy switched on, the window probes the page through that proxy at each
    // tick; a failing proxy brings it back with an alert.
    void autoTestWhileInTray()
    {
        QFETCH(bool, working);
        TinyProxy proxy;
        QString server = QStringLiteral("127.0.0.1:%1").arg(closedLoopbackPort());
        if (working) {
            if (TinyProxy::executable().isEmpty())
                QSKIP("tinyproxy is not installed (test.sh installs it)");
            const QString failure = proxy.start();
            QVERIFY2(failure.isEmpty(), qPrintable(failure));
            server = proxy.address();
        }
        FixedServer page(200, "<link id=google_favicon>");
        MainWindowFixture f;
        f.deployment.probeUrl = page.url();
        f.store->write(QStringLiteral("chkTEST"), QStringLiteral("1"));
        frmMain& w = startWith(f, {"Y|" + server + "|1||2024-01-01 10:00|HTTP||||||Oslo||"});
        w.show();
        ui::MSHi(w)->setRow(1);
        ui::menuPROXON(w)->trigger();
        w.setWindowState(Qt::WindowMinimized);
        ui::timerPTest(w)->setInterval(10);

        QTRY_VERIFY(!w.httpResult.isEmpty() || !f.prompts.asked.isEmpty());
        ui::timerPTest(w)->stop();
        const QString alert = "Corvatel: " + AutoTest::alertText(server + " [Oslo]");
        QCOMPARE(f.prompts.asked, working ? QStringList() : QStringList{alert});
        QCOMPARE(w.isMinimized(), working);
        // Only through the proxy: past a dead one the page is never asked.
        QCOMPARE(page.requests().isEmpty(), !working);
        if (working)
            QVERIFY2(page.requests()[0].contains("tinyproxy"), page.requests()[0].constData());
    }

private:
    // The window on its imported page, with the given stored lines.
    frmMain& startWith(MainWindowFixture& f, const QStringList& imported)
    {
        f.deployment.serviceUrl = m_service.baseUrl();
        f.store->write(QStringLiteral("txtTimeout"), QStringLiteral("30"));
        return f.start(imported);
    }

    static QString contract()
    {
        QFile file(SystemProxySwitch::defaultContractPath());
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    ReferenceService m_service;
};

QTEST_MAIN(tst_frmMainProxyCommands)
#include "tst_frmMainProxyCommands.moc"
