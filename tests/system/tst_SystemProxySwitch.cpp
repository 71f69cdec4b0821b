#include "system/SystemProxySwitch.h"

#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Records what the switch asks of the desktop; each step can be made to fail.
struct Calls
{
    int captures = 0;
    QStringList applied; // "host port socks"
    QList<DesktopProxyBackend::Saved> restored;
};

class FakeBackend final : public DesktopProxyBackend
{
public:
    FakeBackend(Calls& calls, const QString& name = QStringLiteral("fake"))
        : m_calls(calls), m_name(name)
    {}

    QString name() const override { return m_name; }
    bool capture(Saved& saved, QString& error) override
    {
        ++m_calls.captures;
        saved = current;
        error = captureError;
        return captureError.isEmpty();
    }
    bool apply(const QString& host, quint16 port, bool socks, QString&) override
    {
        m_calls.applied << QStringLiteral("%1 %2 %3").arg(host).arg(port).arg(socks);
        return true;
    }
    bool restore(const Saved& saved, QString& error) override
    {
        m_calls.restored << saved;
        error = restoreError;
        return restoreError.isEmpty();
    }

    Saved current;
    QString captureError;
    QString restoreError;

private:
    Calls& m_calls;
    QString m_name;
};

} // namespace

class tst_SystemProxySwitch : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }
    void switchOnWritesContract_data();
    void switchOnWritesContract();
    void switchOffAlone();
    void savedUntilRestored();
    void failedCaptureAppliesNothing();
    void failedRestoreIsRetried();
    void eachBackendKeepsItsOwnSave();
    void proxyText_data();
    void proxyText();
    void unwritableContract();
    void backendFor_data();
    void backendFor();

private:
    QString contract() const { return m_dir->filePath(QStringLiteral("InternetSettings.conf")); }
    QStringList contractKeys() const
    {
        QSettings raw(contract(), QSettings::IniFormat);
        raw.beginGroup(QStringLiteral("Internet Settings"));
        return raw.childKeys();
    }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void tst_SystemProxySwitch::switchOnWritesContract_data()
{
    QTest::addColumn<QString>("proxy");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("applied");

    QTest::newRow("HTTP") << "10.1.2.3:8080" << "HTTP" << "10.1.2.3:8080" << "10.1.2.3 8080 0";
    QTest::newRow("socks4, any case") << "[2001:db8::1]:1080" << "socks4"
                                      << "socks=[2001:db8::1]:1080" << "2001:db8::1 1080 1";
    QTest::newRow("other type") << "10.1.2.3:21" << "FTP" << "10.1.2.3:21" << "10.1.2.3 21 0";
}

void tst_SystemProxySwitch::switchOnWritesContract()
{
    QFETCH(QString, proxy);
    QFETCH(QString, type);
    QFETCH(QString, server);
    QFETCH(QString, applied);

    Calls calls;
    SystemProxySwitch sw(contract(), std::make_unique<FakeBackend>(calls));
    const SystemProxySwitch::Result result = sw.switchOn(proxy, type);
    QVERIFY2(result.ok, qPrintable(result.message));
    QCOMPARE(calls.applied, QStringList{applied});

    QSettings raw(contract(), QSettings::IniFormat);
    raw.beginGroup(QStringLiteral("Internet Settings"));
    QCOMPARE(raw.value(QStringLiteral("ProxyEnable")).toString(), QStringLiteral("1"));
    QCOMPARE(raw.value(QStringLiteral("ProxyOverride")).toString(), QStringLiteral("<local>"));
    QCOMPARE(raw.value(QStringLiteral("ProxyServer")).toString(), server);
    QCOMPARE(sw.value(QStringLiteral("ProxyServer")), server);

    QFile file(contract());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().contains("[Internet%20Settings]\nProxyEnable=1\n"));
}

void tst_SystemProxySwitch::switchOffAlone()
{
    Calls calls;
    SystemProxySwitch sw(contract(), std::make_unique<FakeBackend>(calls));
    const SystemProxySwitch::Result result = sw.switchOff();
    QVERIFY2(result.ok, qPrintable(result.message));
    QCOMPARE(contractKeys(), QStringList{QStringLiteral("ProxyEnable")});
    QCOMPARE(sw.value(QStringLiteral("ProxyEnable")), QStringLiteral("0"));
    QCOMPARE(calls.captures, 0);
    QCOMPARE(calls.restored.size(), 0);
}

void tst_SystemProxySwitch::savedUntilRestored()
{
    Calls calls;
    auto backend = std::make_unique<FakeBackend>(calls);
    // Texts QSettings would otherwise turn into lists, variants or nothing.
    const DesktopProxyBackend::Saved before{{"ignore-hosts", "@as []"},
                                            {"http.host", "'a', 'b'"},
                                            {"empty", ""},
                                            {"spaced", "  x ; y  "}};
    backend->current = before;
    FakeBackend* fake = backend.get();
    SystemProxySwitch sw(contract(), std::move(backend));

    QVERIFY(sw.switchOn(QStringLiteral("10.1.2.3:8080"), QString()).ok);
    fake->current = {{"ignore-hosts", "ours"}};
    QVERIFY(sw.switchOn(QStringLiteral("10.9.9.9:1080"), QStringLiteral("SOCKS5")).ok);
    QCOMPARE(calls.captures, 1);
    QCOMPARE(calls.applied.size(), 2);

    QVERIFY(sw.switchOff().ok);
    QCOMPARE(calls.restored, QList<DesktopProxyBackend::Saved>{before});
    QCOMPARE(contractKeys(), QStringList{QStringLiteral("ProxyEnable")});
    QCOMPARE(sw.value(QStringLiteral("ProxyEnable")), QStringLiteral("0"));

    QVERIFY(sw.switchOff().ok); // forgotten: nothing left to restore
    QCOMPARE(calls.restored.size(), 1);
    QCOMPARE(QSettings(contract(), QSettings::IniFormat).childGroups(),
             QStringList{QStringLiteral("Internet Settings")});
}

void tst_SystemProxySwitch::failedCaptureAppliesNothing()
{
    Calls calls;
    auto backend = std::make_unique<FakeBackend>(calls);
    backend->captureError = QStringLiteral("gsettings not found");
    SystemProxySwitch sw(contract(), std::move(backend));

    const SystemProxySwitch::Result result = sw.switchOn(QStringLiteral("10.1.2.3:8080"), "HTTP");
    QVERIFY(!result.ok);
    QCOMPARE(result.message, QStringLiteral("System proxy: gsettings not found"));
    QVERIFY(calls.applied.isEmpty());
    QCOMPARE(sw.value(QStringLiteral("ProxyServer")), QStringLiteral("10.1.2.3:8080"));
    QVERIFY(sw.switchOff().ok);
    QCOMPARE(calls.restored.size(), 0);
}

void tst_SystemProxySwitch::failedRestoreIsRetried()
{
    Calls calls;
    auto backend = std::make_unique<FakeBackend>(calls);
    backend->current = {{"mode", "'auto'"}};
    FakeBackend* fake = backend.get();
    SystemProxySwitch sw(contract(), std::move(backend));
    QVERIFY(sw.switchOn(QStringLiteral("10.1.2.3:8080"), QString()).ok);

    fake->restoreError = QStringLiteral("gsettings timed out");
    const SystemProxySwitch::Result result = sw.switchOff();
    QCOMPARE(result.message, QStringLiteral("System proxy: gsettings timed out"));
    QVERIFY(!result.ok);
    QCOMPARE(sw.value(QStringLiteral("ProxyEnable")), QStringLiteral("0"));

    fake->restoreError.clear();
    QVERIFY(sw.switchOff().ok);
    QCOMPARE(calls.restored.size(), 2);
    QCOMPARE(calls.restored[1], calls.restored[0]);
    QCOMPARE(calls.restored[1].value(QStringLiteral("mode")), QStringLiteral("'auto'"));
}

void tst_SystemProxySwitch::eachBackendKeepsItsOwnSave()
{
    Calls gnome, kde;
    SystemProxySwitch on(contract(), std::make_unique<FakeBackend>(gnome, "gnome"));
    QVERIFY(on.switchOn(QStringLiteral("10.1.2.3:8080"), QString()).ok);

    // Another desktop's save means nothing here, and must survive for when that desktop is back.
    SystemProxySwitch onKde(contract(), std::make_unique<FakeBackend>(kde, "kde"));
    QVERIFY(onKde.switchOff().ok);
    QCOMPARE(kde.restored.size(), 0);
    QVERIFY(on.switchOff().ok);
    QCOMPARE(gnome.restored.size(), 1);
}

void tst_SystemProxySwitch::proxyText_data()
{
    QTest::addColumn<QString>("proxy");
    QTest::addColumn<QString>("applied"); // empty: refused

    QTest::newRow("name") << "proxy-1.example.org:3128" << "proxy-1.example.org 3128 0";
    QTest::newRow("lowest port") << "10.1.2.3:1" << "10.1.2.3 1 0";
    QTest::newRow("highest port") << "10.1.2.3:65535" << "10.1.2.3 65535 0";
    QTest::newRow("IPv6") << "[::1]:8080" << "::1 8080 0";
    QTest::newRow("no port") << "10.1.2.3" << "";
    QTest::newRow("empty port") << "10.1.2.3:" << "";
    QTest::newRow("port 0") << "10.1.2.3:0" << "";
    QTest::newRow("port too big") << "10.1.2.3:65536" << "";
    QTest::newRow("IPv6 without brackets") << "::1:8080" << "";
    QTest::newRow("open bracket") << "[::1:8080" << "";
    QTest::newRow("blank in host") << "a b:80" << "";
    QTest::newRow("quote in host") << "a'b:80" << "";
    QTest::newRow("empty") << "" << "";
}

void tst_SystemProxySwitch::proxyText()
{
    QFETCH(QString, proxy);
    QFETCH(QString, applied);

    Calls calls;
    SystemProxySwitch sw(contract(), std::make_unique<FakeBackend>(calls));
    const SystemProxySwitch::Result result = sw.switchOn(proxy, QStringLiteral("HTTP"));
    QCOMPARE(sw.value(QStringLiteral("ProxyServer")), proxy);
    QCOMPARE(sw.value(QStringLiteral("ProxyEnable")), QStringLiteral("1"));
    if (applied.isEmpty()) {
        QVERIFY(!result.ok);
        QVERIFY2(result.message.startsWith(QStringLiteral("System proxy: '") + proxy + u'\''),
                 qPrintable(result.message));
        QCOMPARE(calls.captures, 0);
        QVERIFY(calls.applied.isEmpty());
    } else {
        QVERIFY2(result.ok, qPrintable(result.message));
        QCOMPARE(calls.applied, QStringList{applied});
    }
}

void tst_SystemProxySwitch::unwritableContract()
{
    // A folder that is a file cannot be created, whoever runs the test.
    QFile blocker(m_dir->filePath(QStringLiteral("blocker")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const QString path = blocker.fileName() + QStringLiteral("/InternetSettings.conf");

    Calls calls;
    SystemProxySwitch sw(path, std::make_unique<FakeBackend>(calls));
    const SystemProxySwitch::Result result = sw.switchOn(QStringLiteral("10.1.2.3:8080"), "HTTP");
    QVERIFY(!result.ok);
    QVERIFY2(result.message.startsWith(QStringLiteral("System proxy: ")) &&
                 result.message.contains(path),
             qPrintable(result.message));
    // What we would change could not be kept, so it is not changed.
    QVERIFY(calls.applied.isEmpty());
    QVERIFY(!sw.switchOff().ok);
}

void tst_SystemProxySwitch::backendFor_data()
{
    QTest::addColumn<QString>("choice");
    QTest::addColumn<QString>("desktop"); // XDG_CURRENT_DESKTOP
    QTest::addColumn<QString>("expected");

    QTest::newRow("file on GNOME") << "file" << "GNOME" << "file";
    QTest::newRow("gnome anywhere") << "gnome" << "" << "gnome";
    QTest::newRow("KDE spelled loud") << " KDE " << "XFCE" << "kde";
    QTest::newRow("Ubuntu") << "auto" << "ubuntu:GNOME" << "gnome";
    QTest::newRow("Cinnamon") << "auto" << "X-Cinnamon" << "gnome";
    QTest::newRow("Plasma") << "auto" << "KDE" << "kde";
    QTest::newRow("unknown choice is auto") << "dconf" << "KDE" << "kde";
    QTest::newRow("empty choice is auto") << "" << "Unity" << "gnome";
    QTest::newRow("XFCE") << "auto" << "XFCE" << "file";
    QTest::newRow("no desktop") << "auto" << "" << "file";
}

void tst_SystemProxySwitch::backendFor()
{
    QFETCH(QString, choice);
    QFETCH(QString, desktop);
    QFETCH(QString, expected);

    if (QStandardPaths::findExecutable(QStringLiteral("gsettings")).isEmpty() ||
        QStandardPaths::findExecutable(QStringLiteral("kwriteconfig5")).isEmpty())
        QSKIP("needs gsettings (libglib2.0-bin) and kwriteconfig5 (libkf5config-bin)");

    const QByteArray saved = qgetenv("XDG_CURRENT_DESKTOP");
    qputenv("XDG_CURRENT_DESKTOP", desktop.toUtf8());
    const std::unique_ptr<DesktopProxyBackend> backend = SystemProxySwitch::backendFor(choice);
    qputenv("XDG_CURRENT_DESKTOP", saved);
    QCOMPARE(backend->name(), expected);
}

QTEST_GUILESS_MAIN(tst_SystemProxySwitch)
#include "tst_SystemProxySwitch.moc"
