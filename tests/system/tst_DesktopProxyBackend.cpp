#include "system/GnomeProxyBackend.h"
#include "system/KdeProxyBackend.h"
#include "system/SystemProxySwitch.h"

#include <QDBusConnection>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

// The GNOME and KDE backends against the real desktop tools, in a private HOME whose settings
// go to files: gsettings' keyfile backend and kioslaverc.
namespace {

bool isGnome(const QString& backend)
{
    return backend == QLatin1String("gnome");
}

QString program(const QString& backend, bool write = false)
{
    return QStandardPaths::findExecutable(isGnome(backend) ? QStringLiteral("gsettings")
                                          : write          ? QStringLiteral("kwriteconfig5")
                                                           : QStringLiteral("kreadconfig5"));
}

// Reads one setting ("http.host", "ProxyType"), or writes it when value is not null.
QString runTool(const QString& backend, const QString& name, const QString& value = QString())
{
    const bool write = !value.isNull();
    QStringList args{"--file", "kioslaverc", "--group", "Proxy Settings", "--key", name};
    if (isGnome(backend)) {
        const int dot = name.indexOf(u'.');
        args = QStringList{write ? "set" : "get", "org.gnome.system.proxy"};
        if (dot >= 0)
            args[1] += u'.' + name.left(dot);
        args << name.mid(dot + 1);
        if (write)
            args << value;
    } else {
        // A key missing from kioslaverc shows so.
        args << (write ? QStringList{"--", value} : QStringList{"--default", "<absent>"});
    }
    QProcess process;
    process.start(program(backend, write), args);
    if (!process.waitForFinished(10000) || process.exitCode() != 0)
        return QStringLiteral("<failed: %1>").arg(args.join(u' '));
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// Why the backend's tools cannot be used here; null when they can.
const char* missingTools(const QString& backend)
{
    if (!program(backend).isEmpty() && !program(backend, true).isEmpty())
        return nullptr;
    return isGnome(backend) ? "gsettings missing (libglib2.0-bin, gsettings-desktop-schemas)"
                            : "kreadconfig5/kwriteconfig5 missing (libkf5config-bin)";
}

std::unique_ptr<DesktopProxyBackend> make(const QString& backend)
{
    if (isGnome(backend))
        return std::make_unique<GnomeProxyBackend>(program(backend));
    return std::make_unique<KdeProxyBackend>(program(backend, true), program(backend));
}

// name=value for everything the backend may change.
QStringList desktopState(const QString& backend)
{
    QStringList state;
    for (const QString& name :
         isGnome(backend) ? QStringList{"mode", "ignore-hosts", "http.host", "http.port",
                                        "https.host", "https.port", "socks.host", "socks.port"}
                          : QStringList{"ProxyType", "httpProxy", "httpsProxy", "socksProxy",
                                        "ReversedException", "NoProxyFor"})
        state << name + u'=' + runTool(backend, name);
    return state;
}

} // namespace

class tst_DesktopProxyBackend : public QObject
{
    Q_OBJECT

public slots:
    void kioReparsed(const QString& protocol) { m_reparsed << protocol; }

private:
    QString contract() const { return m_home.filePath(QStringLiteral("InternetSettings.conf")); }

    QTemporaryDir m_home;
    QProcess m_bus;
    QString m_busAddress;
    QStringList m_reparsed;

private slots:
    void initTestCase()
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

    void init()
    {
        QFile::remove(m_home.filePath(QStringLiteral(".config/glib-2.0/settings/keyfile")));
        QFile::remove(m_home.filePath(QStringLiteral(".config/kioslaverc")));
        QFile::remove(contract());
    }

    void cleanupTestCase()
    {
        m_bus.kill();
        m_bus.waitForFinished();
    }

    void onThenOffRestores_data()
    {
        // clang-format off
        QTest::addColumn<QString>("backend");
        QTest::addColumn<QString>("proxy");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("before"); // set by the user beforehand, ";" between settings
        QTest::addColumn<QString>("on");     // part of the desktop state once switched on

        QTest::newRow("gnome: HTTP over defaults")
            << "gnome" << "10.1.2.3:8080" << "HTTP" << ""
            << "mode='manual';http.host='10.1.2.3';http.port=8080;https.host='10.1.2.3';"
               "https.port=8080;socks.host='';ignore-hosts=['localhost', '127.0.0.0/8', '::1']";
        QTest::newRow("gnome: SOCKS5 over a manual proxy")
            << "gnome" << "10.1.2.3:1081" << "SOCKS5"
            << "mode='manual';http.host='10.0.0.1';http.port=3128;socks.host='10.0.0.2';"
               "socks.port=1080;ignore-hosts=['example.org']"
            << "socks.host='10.1.2.3';socks.port=1081;http.host='';https.host='';mode='manual';"
               "ignore-hosts=['localhost', '127.0.0.0/8', '::1']";
        QTest::newRow("gnome: IPv6 over automatic, no exceptions")
            << "gnome" << "[::1]:8080" << "" << "mode='auto';ignore-hosts=@as []"
            << "mode='manual';http.host='::1';https.port=8080;"
               "ignore-hosts=['localhost', '127.0.0.0/8', '::1']";
        QTest::newRow("kde: HTTP, no kioslaverc yet")
            << "kde" << "10.1.2.3:8080" << "HTTP" << ""
            << "ProxyType=1;httpProxy=http://10.1.2.3 8080;httpsProxy=http://10.1.2.3 8080;"
               "socksProxy=;ReversedException=false;NoProxyFor=localhost,127.0.0.0/8,::1";
        QTest::newRow("kde: SOCKS5 over a manual proxy")
            << "kde" << "10.1.2.3:1081" << "SOCKS5"
            << "ProxyType=1;httpProxy=http://10.0.0.1 3128;NoProxyFor=example.org;"
               "ReversedException=true"
            << "ProxyType=1;socksProxy=socks://10.1.2.3 1081;httpProxy=;httpsProxy=;"
               "ReversedException=false";
        QTest::newRow("kde: IPv6 over a script") << "kde" << "[::1]:8080" << "HTTPS"
                                                 << "ProxyType=2;socksProxy="
                                                 << "ProxyType=1;httpsProxy=http://[::1] 8080";
        // clang-format on
    }

    // Switched on twice (the first save is the one kept) and off: the desktop is as it was.
    void onThenOffRestores()
    {
        QFETCH(QString, backend);
        QFETCH(QString, proxy);
        QFETCH(QString, type);
        QFETCH(QString, before);
        QFETCH(QString, on);
        if (const char* missing = missingTools(backend))
            QSKIP(missing);

        for (const QString& setting : before.split(u';', Qt::SkipEmptyParts))
            QVERIFY(!runTool(backend, setting.section(u'=', 0, 0), setting.section(u'=', 1))
                         .startsWith(QLatin1String("<failed")));
        const QStringList original = desktopState(backend);
        SystemProxySwitch sw(contract(), make(backend));
        Result result = sw.switchOn(proxy, type);
        QVERIFY2(result.ok(), qPrintable(result.message()));
        const QStringList state = desktopState(backend);
        for (const QString& setting : on.split(u';'))
            QVERIFY2(state.contains(setting), qPrintable(setting + " not in " + state.join(u'|')));

        result = sw.switchOn(QStringLiteral("192.0.2.1:9"), QStringLiteral("SOCKS4"));
        QVERIFY2(result.ok(), qPrintable(result.message()));
        result = sw.switchOff();
        QVERIFY2(result.ok(), qPrintable(result.message()));
        QCOMPARE(desktopState(backend), original);
    }

    void brokenTool_data()
    {
        // clang-format off
        QTest::addColumn<QString>("backend");
        QTest::addColumn<QString>("broken");    // the one tool replaced
        QTest::addColumn<QByteArray>("script"); // the replacement; none when empty
        QTest::addColumn<QString>("message");

        const QByteArray failing =
            "#!/bin/sh\nprintf '\\n  no such schema\\nusage\\n' >&2\nexit 3\n";
        QTest::newRow("gsettings missing")
            << "gnome" << "gsettings" << QByteArray() << "System proxy: gsettings not found";
        QTest::newRow("kreadconfig5 missing")
            << "kde" << "kreadconfig5" << QByteArray() << "System proxy: kreadconfig5 not found";
        QTest::newRow("kwriteconfig5 failing")
            << "kde" << "kwriteconfig5" << failing << "System proxy: kwriteconfig5 failed: no such schema";
        QTest::newRow("kwriteconfig5 crashing") << "kde" << "kwriteconfig5"
                                                << QByteArray("#!/bin/sh\nkill -SEGV $$\n")
                                                << "System proxy: kwriteconfig5 crashed";
        // clang-format on
    }

    // The switch says which tool let it down, and the contract is written all the same.
    void brokenTool()
    {
        QFETCH(QString, backend);
        QFETCH(QString, broken);
        QFETCH(QByteArray, script);
        QFETCH(QString, message);
        if (const char* missing = missingTools(backend))
            QSKIP(missing);

        const QString path = m_home.filePath(QStringLiteral("tools/") + broken);
        if (!script.isEmpty()) {
            QVERIFY(QDir().mkpath(m_home.filePath(QStringLiteral("tools"))));
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(script) == script.size());
            file.close();
            QVERIFY(file.setPermissions(file.permissions() | QFile::ExeOwner));
        }
        std::unique_ptr<DesktopProxyBackend> tool;
        if (isGnome(backend))
            tool = std::make_unique<GnomeProxyBackend>(path);
        else if (broken == QLatin1String("kreadconfig5"))
            tool = std::make_unique<KdeProxyBackend>(program(backend, true), path);
        else
            tool = std::make_unique<KdeProxyBackend>(path, program(backend));

        const Result result =
            SystemProxySwitch(contract(), std::move(tool)).switchOn("10.1.2.3:8080", "HTTP");
        QVERIFY(!result.ok());
        QCOMPARE(result.message(), message);
        // The desktop did not take it: the contract names no proxy either.
        SystemProxySwitch reader(contract(), nullptr);
        QCOMPARE(reader.value(QStringLiteral("ProxyEnable")), QString());
        QCOMPARE(reader.value(QStringLiteral("ProxyServer")), QString());
    }

    void kdeTellsKio()
    {
        if (const char* missing = missingTools(QStringLiteral("kde")))
            QSKIP(missing);
        if (m_busAddress.isEmpty())
            QSKIP("dbus-daemon missing: no private session bus to listen on");

        QDBusConnection watcher = QDBusConnection::connectToBus(m_busAddress, "watcher");
        QVERIFY(watcher.connect(QString(), "/KIO/Scheduler", "org.kde.KIO.Scheduler",
                                "reparseSlaveConfiguration", this, SLOT(kioReparsed(QString))));
        SystemProxySwitch sw(contract(), make(QStringLiteral("kde")));
        QVERIFY(sw.switchOn(QStringLiteral("10.1.2.3:8080"), QString()).ok());
        QTRY_COMPARE(m_reparsed, QStringList{QString()});
        QVERIFY(sw.switchOff().ok());
        QTRY_COMPARE(m_reparsed.size(), 2);
    }
};

QTEST_GUILESS_MAIN(tst_DesktopProxyBackend)
#include "tst_DesktopProxyBackend.moc"
