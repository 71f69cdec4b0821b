#include "system/GnomeProxyBackend.h"
#include "system/KdeProxyBackend.h"
#include "system/SystemProxySwitch.h"

#include <QDBusConnection>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

// The GNOME and KDE backends against the real desktop tools, in a private HOME whose settings
// go to files: gsettings' keyfile backend and kioslaverc.
namespace {

const QStringList gnomeSettings{"mode",      "ignore-hosts", "http.host",  "http.port",
                                "https.host", "https.port",  "socks.host", "socks.port"};
const QStringList kdeKeys{"ProxyType",  "httpProxy",         "httpsProxy",
                          "socksProxy", "ReversedException", "NoProxyFor"};

QString program(const QString& backend, bool write = false)
{
    if (backend == QLatin1String("gnome"))
        return QStandardPaths::findExecutable(QStringLiteral("gsettings"));
    return QStandardPaths::findExecutable(write ? QStringLiteral("kwriteconfig5")
                                                : QStringLiteral("kreadconfig5"));
}

QStringList toolArgs(const QString& backend, const QString& name)
{
    if (backend == QLatin1String("kde"))
        return {"--file", "kioslaverc", "--group", "Proxy Settings", "--key", name};
    const int dot = name.indexOf(u'.');
    if (dot < 0)
        return {"org.gnome.system.proxy", name};
    return {"org.gnome.system.proxy." + name.left(dot), name.mid(dot + 1)};
}

QString runTool(const QString& path, const QStringList& args)
{
    QProcess process;
    process.start(path, args);
    if (!process.waitForFinished(10000) || process.exitCode() != 0)
        return QStringLiteral("<failed: %1>").arg(args.join(u' '));
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// name=value for everything the backend may change; a KDE key missing from kioslaverc shows so.
QStringList desktopState(const QString& backend)
{
    QStringList state;
    const bool gnome = backend == QLatin1String("gnome");
    for (const QString& name : gnome ? gnomeSettings : kdeKeys) {
        const QStringList args = gnome ? QStringList{"get"} + toolArgs(backend, name)
                                       : toolArgs(backend, name) << "--default" << "<absent>";
        state << name + u'=' + runTool(program(backend), args);
    }
    return state;
}

bool preset(const QString& backend, const QStringList& settings)
{
    for (const QString& setting : settings) {
        const QString name = setting.section(u'=', 0, 0);
        const QString value = setting.section(u'=', 1);
        const QStringList args = backend == QLatin1String("gnome")
                                     ? QStringList{"set"} + toolArgs(backend, name) << value
                                     : toolArgs(backend, name) << "--" << value;
        if (runTool(program(backend, true), args).startsWith(QLatin1String("<failed")))
            return false;
    }
    return true;
}

} // namespace

class tst_DesktopProxyBackend : public QObject
{
    Q_OBJECT

public slots:
    void kioReparsed(const QString& protocol) { m_reparsed << protocol; }

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();
    void onThenOffRestores_data();
    void onThenOffRestores();
    void brokenTool_data();
    void brokenTool();
    void kdeTellsKio();

private:
    void skipWithoutTools(const QString& backend);
    std::unique_ptr<DesktopProxyBackend> make(const QString& backend) const;
    QString configFile(const QString& backend) const
    {
        return backend == QLatin1String("gnome")
                   ? m_home.filePath(QStringLiteral(".config/glib-2.0/settings/keyfile"))
                   : m_home.filePath(QStringLiteral(".config/kioslaverc"));
    }
    QString contract() const { return m_home.filePath(QStringLiteral("InternetSettings.conf")); }

    QTemporaryDir m_home;
    QProcess m_bus;
    QString m_busAddress;
    QStringList m_reparsed;
};

void tst_DesktopProxyBackend::initTestCase()
{
    QVERIFY(m_home.isValid());
    qputenv("HOME", m_home.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", m_home.filePath(QStringLiteral(".config")).toLocal8Bit());
    qputenv("GSETTINGS_BACKEND", "keyfile");

    // A bus of our own, so that nothing reaches the desktop the tests run on.
    const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (!daemon.isEmpty()) {
        m_bus.start(daemon, {"--session", "--nofork", "--print-address=1"});
        if (m_bus.waitForReadyRead(10000))
            m_busAddress = QString::fromUtf8(m_bus.readLine()).trimmed();
    }
    const QString address =
        m_busAddress.isEmpty() ? "unix:path=" + m_home.filePath("no-bus") : m_busAddress;
    qputenv("DBUS_SESSION_BUS_ADDRESS", address.toLocal8Bit());
}

void tst_DesktopProxyBackend::init()
{
    QFile::remove(configFile(QStringLiteral("gnome")));
    QFile::remove(configFile(QStringLiteral("kde")));
    QFile::remove(contract());
}

void tst_DesktopProxyBackend::cleanupTestCase()
{
    if (m_bus.state() != QProcess::NotRunning) {
        m_bus.kill();
        m_bus.waitForFinished();
    }
}

void tst_DesktopProxyBackend::skipWithoutTools(const QString& backend)
{
    if (program(backend).isEmpty() || program(backend, true).isEmpty())
        QSKIP(backend == QLatin1String("gnome")
                  ? "gsettings missing (libglib2.0-bin, gsettings-desktop-schemas)"
                  : "kreadconfig5/kwriteconfig5 missing (libkf5config-bin)");
}

std::unique_ptr<DesktopProxyBackend> tst_DesktopProxyBackend::make(const QString& backend) const
{
    if (backend == QLatin1String("gnome"))
        return std::make_unique<GnomeProxyBackend>(program(backend));
    return std::make_unique<KdeProxyBackend>(program(backend, true), program(backend));
}

void tst_DesktopProxyBackend::onThenOffRestores_data()
{
    QTest::addColumn<QString>("backend");
    QTest::addColumn<QString>("proxy");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QStringList>("before"); // set by the user beforehand
    QTest::addColumn<QStringList>("on");     // part of the desktop state once switched on

    const QString local = "['localhost', '127.0.0.0/8', '::1']";
    QTest::newRow("gnome: HTTP over defaults")
        << "gnome" << "10.1.2.3:8080" << "HTTP" << QStringList()
        << QStringList{"mode='manual'",      "http.host='10.1.2.3'", "http.port=8080",
                       "https.host='10.1.2.3'", "https.port=8080",   "socks.host=''",
                       "ignore-hosts=" + local};
    QTest::newRow("gnome: SOCKS5 over a manual proxy")
        << "gnome" << "10.1.2.3:1081" << "SOCKS5"
        << QStringList{"mode='manual'",       "http.host='10.0.0.1'", "http.port=3128",
                       "socks.host='10.0.0.2'", "socks.port=1080",   "ignore-hosts=['example.org']"}
        << QStringList{"socks.host='10.1.2.3'", "socks.port=1081", "http.host=''",
                       "https.host=''",         "mode='manual'",   "ignore-hosts=" + local};
    QTest::newRow("gnome: IPv6 over automatic, no exceptions")
        << "gnome" << "[::1]:8080" << "" << QStringList{"mode='auto'", "ignore-hosts=@as []"}
        << QStringList{"mode='manual'", "http.host='::1'", "https.port=8080",
                       "ignore-hosts=" + local};

    QTest::newRow("kde: HTTP, no kioslaverc yet")
        << "kde" << "10.1.2.3:8080" << "HTTP" << QStringList()
        << QStringList{"ProxyType=1",
                       "httpProxy=http://10.1.2.3 8080",
                       "httpsProxy=http://10.1.2.3 8080",
                       "socksProxy=",
                       "ReversedException=false",
                       "NoProxyFor=localhost,127.0.0.0/8,::1"};
    QTest::newRow("kde: SOCKS5 over a manual proxy")
        << "kde" << "10.1.2.3:1081" << "SOCKS5"
        << QStringList{"ProxyType=1", "httpProxy=http://10.0.0.1 3128", "NoProxyFor=example.org",
                       "ReversedException=true"}
        << QStringList{"ProxyType=1", "socksProxy=socks://10.1.2.3 1081", "httpProxy=",
                       "httpsProxy=", "ReversedException=false"};
    QTest::newRow("kde: IPv6 over a script")
        << "kde" << "[::1]:8080" << "HTTPS" << QStringList{"ProxyType=2", "socksProxy="}
        << QStringList{"ProxyType=1", "httpsProxy=http://[::1] 8080"};
}

void tst_DesktopProxyBackend::onThenOffRestores()
{
    QFETCH(QString, backend);
    QFETCH(QString, proxy);
    QFETCH(QString, type);
    QFETCH(QStringList, before);
    QFETCH(QStringList, on);
    skipWithoutTools(backend);

    QVERIFY(preset(backend, before));
    const QStringList original = desktopState(backend);
    SystemProxySwitch sw(contract(), make(backend));

    SystemProxySwitch::Result result = sw.switchOn(proxy, type);
    QVERIFY2(result.ok, qPrintable(result.message));
    const QStringList state = desktopState(backend);
    for (const QString& setting : on)
        QVERIFY2(state.contains(setting), qPrintable(setting + " not in " + state.join(u'|')));

    result = sw.switchOn(QStringLiteral("192.0.2.1:9"), QStringLiteral("SOCKS4"));
    QVERIFY2(result.ok, qPrintable(result.message));
    result = sw.switchOff();
    QVERIFY2(result.ok, qPrintable(result.message));
    QCOMPARE(desktopState(backend), original);
    QCOMPARE(sw.value(QStringLiteral("ProxyEnable")), QStringLiteral("0"));
}

void tst_DesktopProxyBackend::brokenTool_data()
{
    QTest::addColumn<QString>("backend");
    QTest::addColumn<QString>("broken"); // the one tool replaced
    QTest::addColumn<bool>("exists");    // by a script that fails, else by nothing
    QTest::addColumn<QString>("message");

    QTest::newRow("gsettings missing")
        << "gnome" << "gsettings" << false << "System proxy: gsettings not found";
    QTest::newRow("kreadconfig5 missing")
        << "kde" << "kreadconfig5" << false << "System proxy: kreadconfig5 not found";
    QTest::newRow("kwriteconfig5 failing")
        << "kde" << "kwriteconfig5" << true << "System proxy: kwriteconfig5 failed: no such schema";
    QTest::newRow("kwriteconfig5 crashing")
        << "kde" << "kwriteconfig5" << true << "System proxy: kwriteconfig5 crashed";
}

void tst_DesktopProxyBackend::brokenTool()
{
    QFETCH(QString, backend);
    QFETCH(QString, broken);
    QFETCH(bool, exists);
    QFETCH(QString, message);
    skipWithoutTools(backend);

    const QString path = m_home.filePath(QStringLiteral("tools/") + broken);
    if (exists) {
        QVERIFY(QDir().mkpath(m_home.filePath(QStringLiteral("tools"))));
        QFile script(path);
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write(message.endsWith(QLatin1String("crashed"))
                         ? "#!/bin/sh\nkill -SEGV $$\n"
                         : "#!/bin/sh\nprintf '\\n  no such schema\\nusage\\n' >&2\nexit 3\n");
        script.close();
        QVERIFY(script.setPermissions(script.permissions() | QFile::ExeOwner));
    }
    std::unique_ptr<DesktopProxyBackend> tool;
    if (backend == QLatin1String("gnome"))
        tool = std::make_unique<GnomeProxyBackend>(path);
    else if (broken == QLatin1String("kreadconfig5"))
        tool = std::make_unique<KdeProxyBackend>(program(backend, true), path);
    else
        tool = std::make_unique<KdeProxyBackend>(path, program(backend));

    const SystemProxySwitch::Result result =
        SystemProxySwitch(contract(), std::move(tool)).switchOn("10.1.2.3:8080", "HTTP");
    QVERIFY(!result.ok);
    QCOMPARE(result.message, message);
    SystemProxySwitch reader(contract(), nullptr);
    QCOMPARE(reader.value(QStringLiteral("ProxyEnable")), QStringLiteral("1"));
    QCOMPARE(reader.value(QStringLiteral("ProxyServer")), QStringLiteral("10.1.2.3:8080"));
}

void tst_DesktopProxyBackend::kdeTellsKio()
{
    skipWithoutTools(QStringLiteral("kde"));
    if (m_busAddress.isEmpty())
        QSKIP("dbus-daemon missing: no private session bus to listen on");

    QDBusConnection watcher = QDBusConnection::connectToBus(m_busAddress, "watcher");
    QVERIFY(watcher.connect(QString(), "/KIO/Scheduler", "org.kde.KIO.Scheduler",
                            "reparseSlaveConfiguration", this, SLOT(kioReparsed(QString))));
    SystemProxySwitch sw(contract(), make(QStringLiteral("kde")));
    QVERIFY(sw.switchOn(QStringLiteral("10.1.2.3:8080"), QString()).ok);
    QTRY_COMPARE(m_reparsed, QStringList{QString()});
    QVERIFY(sw.switchOff().ok);
    QTRY_COMPARE(m_reparsed.size(), 2);
}

QTEST_GUILESS_MAIN(tst_DesktopProxyBackend)
#include "tst_DesktopProxyBackend.moc"
