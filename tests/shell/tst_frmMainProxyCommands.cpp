// The main window's proxy commands: test runs through the window, Stop, the system proxy switch
// and the auto-test timer.
#include "model/SettingsStore.h"
#include "service/ReferenceService.h"
#include "support/MainWindowFixture.h"
#include "support/TestServers.h"
#include "system/SystemProxySwitch.h"
#include "testing/ProxyTester.h"
#include "views/ProxyGrid.h"

#include <QAction>
#include <QFile>
#include <QGroupBox>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>

class tst_frmMainProxyCommands : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void testRunThroughWindow();
    void stopDuringRun();
    void switchOnAndOff_data();
    void switchOnAndOff();
    void switchOnNeedsAProxy();
    void autoTestFollowsSetting_data();
    void autoTestFollowsSetting();
    void startAndEndSwitchOff();

private:
    frmMain& startWith(MainWindowFixture& f, const QStringList& imported);
    static QString contract();

    ReferenceService m_service;
};

void tst_frmMainProxyCommands::initTestCase()
{
    QVERIFY2(m_service.start({}), qPrintable(m_service.errorString()));
}

void tst_frmMainProxyCommands::init()
{
    QFile::remove(SystemProxySwitch::defaultContractPath());
}

QString tst_frmMainProxyCommands::contract()
{
    QFile file(SystemProxySwitch::defaultContractPath());
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// The window on its imported page, with the given stored lines.
frmMain& tst_frmMainProxyCommands::startWith(MainWindowFixture& f, const QStringList& imported)
{
    f.writeList(imported);
    f.deployment.serviceUrl = m_service.baseUrl();
    f.store->write(QStringLiteral("chkCOR"), QStringLiteral("0"));
    f.store->write(QStringLiteral("LastTab"), QStringLiteral("2"));
    f.store->write(QStringLiteral("txtTimeout"), QStringLiteral("30"));
    frmMain& w = f.create();
    w.Form_Load();
    return w;
}

void tst_frmMainProxyCommands::testRunThroughWindow()
{
    MainWindowFixture f;
    const QString dead = QStringLiteral("localhost:%1").arg(closedLoopbackPort());
    // A proxy that takes its time and answers with an elite gate page.
    FixedServer slow(200, "GATEWAY_INTERFACE=CGI/1.1\nANONYMITY=ELITE PROXY\n", 300);
    const QString working = QStringLiteral("localhost:%1").arg(slow.serverPort());
    frmMain& w = startWith(f, {"?|" + working + "|0|||||||||||", "?|" + dead + "|0|||||||||||"});
    QCOMPARE(w.activeGrid, 3);
    QCOMPARE(w.MSHi->Rows(), 3);
    w.MSHi->setRow(1);
    w.MSHi->setRowSel(2);

    bool seenRunning = false;
    QTimer spy;
    spy.setInterval(5);
    connect(&spy, &QTimer::timeout, [&] {
        if (!w.menuStop->isEnabled())
            return;
        seenRunning = true;
        QVERIFY(!w.menuTools->isEnabled());
        QVERIFY(!w.menuRefresh->isEnabled());
        QVERIFY(!w.Option1->isEnabled());
        QVERIFY(!w.MSHi->isEnabled());
        QVERIFY(!w.frame->isEnabled());
        // Readable while the frame is greyed out, and still drawn inside it.
        QVERIFY(w.txtSTAT->isEnabled());
        QVERIFY(w.ProgressBar1->isEnabled());
        QVERIFY(w.frame->geometry().contains(w.txtSTAT->geometry()));
        QVERIFY(w.frame->geometry().contains(w.ProgressBar1->geometry()));
        QVERIFY(w.txtSTAT->geometry().right() < w.ProgressBar1->geometry().left());
        QCOMPARE(w.ProgressBar1->maximum(), 2);
    });
    spy.start();
    w.menuTestProxy->trigger();
    spy.stop();

    QVERIFY(seenRunning);
    QCOMPARE(w.MSHi->TextMatrix(1, ProxyRow::Active), QStringLiteral("Y"));
    QCOMPARE(w.MSHi->TextMatrix(2, ProxyRow::Active), QStringLiteral("N"));
    QCOMPARE(w.statusText(), "Testing proxy : " + dead + "\nInvalid Proxy");
    QVERIFY(w.httpResult.isEmpty()); // the last gate body, of the dead proxy
    QVERIFY(w.menuTools->isEnabled());
    QVERIFY(!w.menuStop->isEnabled());
    QVERIFY(w.MSHi->isEnabled());
    QVERIFY(w.frame->isEnabled());
    QCOMPARE(w.ProgressBar1->value(), 0);
    // The selection shrinks to the last tested row.
    QCOMPARE(w.MSHi->Row(), 2);
    QCOMPARE(w.MSHi->RowSel(), 2);
    QCOMPARE(w.MSHi->ColSel(), 0);
}

void tst_frmMainProxyCommands::stopDuringRun()
{
    HangingServer hanging;
    const QString silent = QStringLiteral("localhost:%1").arg(hanging.serverPort());
    MainWindowFixture f;
    frmMain& w = startWith(f, {"?|" + silent + "|0|||||||||||", "?|" + silent + "1|0|||||||||||"});
    w.MSHi->setRow(1);
    w.MSHi->setRowSel(2);
    QString statusAtStop;
    QTimer::singleShot(300, &w, [&] {
        w.menuStop->trigger();
        statusAtStop = w.statusText();
    });
    w.menuTestProxy->trigger();

    QCOMPARE(statusAtStop, QStringLiteral("Finished checking proxies.."));
    QCOMPARE(w.MSHi->TextMatrix(1, ProxyRow::Active), QStringLiteral("N"));
    QCOMPARE(w.MSHi->TextMatrix(2, ProxyRow::Active), QStringLiteral("?"));
    QVERIFY(!w.stopRequested);
    QVERIFY(w.menuTools->isEnabled());
    QVERIFY(!w.menuStop->isEnabled());
    QVERIFY(!w.MSHi->hasFocus());
}

void tst_frmMainProxyCommands::switchOnAndOff_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("server");
    // The row's type reaches the switch; its other types are the switch's own test.
    QTest::newRow("HTTP") << "HTTP" << "203.0.113.5:8080";
    QTest::newRow("SOCKS5") << "SOCKS5" << "socks=203.0.113.5:8080";
}

void tst_frmMainProxyCommands::switchOnAndOff()
{
    QFETCH(QString, type);
    QFETCH(QString, server);
    MainWindowFixture f;
    frmMain& w = startWith(f, {"Y|203.0.113.5:8080|1||2024-01-01 10:00|" + type +
                               "||||||Oslo, Norway|Anonymous proxy|"});
    w.MSHi->setRow(1);
    w.menuPROXON->trigger();

    QCOMPARE(w.windowTitle(),
             QStringLiteral("Corvatel - version 2.1.89 - Using [203.0.113.5:8080] in Oslo, Norway"));
    QCOMPARE(w.TrayX1->toolTip(), w.windowTitle());
    QCOMPARE(w.statusText(), QStringLiteral("Proxy Use Enabled"));
    QCOMPARE(w.enabledProxyLabel, QStringLiteral("203.0.113.5:8080 [Oslo, Norway]"));
    SystemProxySwitch& sw = w.proxySwitch();
    QCOMPARE(sw.value(QStringLiteral("ProxyEnable")), QStringLiteral("1"));
    QCOMPARE(sw.value(QStringLiteral("ProxyOverride")), QStringLiteral("<local>"));
    QCOMPARE(sw.value(QStringLiteral("ProxyServer")), server);
    QVERIFY(contract().contains(QLatin1String("[Internet%20Settings]")));
    // The switch marks no row.
    QCOMPARE(w.MSHi->TextMatrix(1, ProxyRow::Active), QStringLiteral("Y"));

    w.menuPROXOFF->trigger();
    QCOMPARE(w.windowTitle(), QStringLiteral("Corvatel - version 2.1.89"));
    QCOMPARE(w.TrayX1->toolTip(), w.windowTitle());
    QCOMPARE(w.statusText(), QStringLiteral("Proxy Use (System) Disabled"));
    QVERIFY(w.enabledProxyLabel.isEmpty());
    QCOMPARE(sw.value(QStringLiteral("ProxyEnable")), QStringLiteral("0"));
    QVERIFY(!contract().contains(QLatin1String("ProxyOverride")));
    QVERIFY(!contract().contains(QLatin1String("ProxyServer")));
}

void tst_frmMainProxyCommands::switchOnNeedsAProxy()
{
    MainWindowFixture f;
    frmMain& w = startWith(f, {});
    // The imported grid holds only its header row; nothing is switched on.
    w.menuPROXON->trigger();
    QCOMPARE(w.windowTitle(), QStringLiteral("Corvatel - version 2.1.89"));
    QCOMPARE(w.proxySwitch().value(QStringLiteral("ProxyEnable")), QStringLiteral("0"));
    QVERIFY(!w.timerPTest->isActive());
}

void tst_frmMainProxyCommands::autoTestFollowsSetting_data()
{
    QTest::addColumn<QString>("chkTEST");
    QTest::newRow("auto-test on") << "1";
    QTest::newRow("auto-test off") << "0";
}

void tst_frmMainProxyCommands::autoTestFollowsSetting()
{
    QFETCH(QString, chkTEST);
    MainWindowFixture f;
    f.store->write(QStringLiteral("chkTEST"), chkTEST);
    frmMain& w = startWith(f, {"Y|203.0.113.5:8080|1||2024-01-01 10:00|HTTP||||||Oslo||"});
    w.MSHi->setRow(1);
    w.menuPROXON->trigger();
    QCOMPARE(w.timerPTest->isActive(), chkTEST == "1");
    QCOMPARE(w.timerPTest->interval(), 60000);

    // With the setting off the switch leaves the timer alone either way.
    w.timerPTest->start();
    w.menuPROXOFF->trigger();
    QCOMPARE(w.timerPTest->isActive(), chkTEST == "0");
}

void tst_frmMainProxyCommands::startAndEndSwitchOff()
{
    {
        // A proxy left on by a run that crashed.
        SystemProxySwitch leftOn(SystemProxySwitch::defaultContractPath(),
                                 SystemProxySwitch::backendFor(QStringLiteral("file")));
        leftOn.switchOn(QStringLiteral("198.51.100.7:3128"), QStringLiteral("HTTP"));
    }
    MainWindowFixture f;
    frmMain& w = startWith(f, {"Y|203.0.113.5:8080|1||2024-01-01 10:00|HTTP||||||Oslo||"});
    QCOMPARE(w.proxySwitch().value(QStringLiteral("ProxyEnable")), QStringLiteral("0"));
    QVERIFY(w.proxySwitch().value(QStringLiteral("ProxyServer")).isEmpty());

    w.MSHi->setRow(1);
    w.menuPROXON->trigger();
    QCOMPARE(w.proxySwitch().value(QStringLiteral("ProxyEnable")), QStringLiteral("1"));
    w.close();
    QCOMPARE(f.terminations, 1);
    QCOMPARE(w.proxySwitch().value(QStringLiteral("ProxyEnable")), QStringLiteral("0"));
    QVERIFY(!contract().contains(QLatin1String("ProxyServer")));
}

QTEST_MAIN(tst_frmMainProxyCommands)
#include "tst_frmMainProxyCommands.moc"
