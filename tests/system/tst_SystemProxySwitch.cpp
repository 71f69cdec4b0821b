#include "system/SystemProxySwitch.h"

#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Records what the switch asks of the desktop; apply and restore can be made to fail.
class FakeBackend final : public DesktopProxyBackend
{
public:
    explicit FakeBackend(const QString& name) : m_name(name) {}
    QString name() const override { return m_name; }
    Result capture(Saved& saved) override
    {
        ++captures;
        saved = current;
        return Result::success();
    }
    Result apply(const QString& host, quint16 port, bool socks) override
    {
        if (!applyError.isEmpty())
            return Result::failure(applyError);
        applied << QStringLiteral("%1 %2 %3").arg(host).arg(port).arg(socks);
        return Result::success();
    }
    Result restore(const Saved& saved) override
    {
        restored << saved;
        return outcome(restoreError);
    }

    int captures = 0;
    QStringList applied; // "host port socks"
    QList<Saved> restored;
    Saved current;
    QString applyError;
    QString restoreError;

private:
    static Result outcome(const QString& error)
    {
        return error.isEmpty() ? Result::success() : Result::failure(error);
    }

    QString m_name;
};

} // namespace

class tst_SystemProxySwitch : public QObject
{
    Q_OBJECT

private:
    // A switch over a new fake backend, which fake then points at.
    std::unique_ptr<SystemProxySwitch> makeSwitch(const QString& path = QString(),
                                                  const QString& name = QStringLiteral("fake"))
    {
        auto backend = std::make_unique<FakeBackend>(name);
        fake = backend.get();
        return std::make_unique<SystemProxySwitch>(path.isEmpty() ? contract() : path,
                                                   std::move(backend));
    }
    QString contract() const { return m_dir->filePath(QStringLiteral("InternetSettings.conf")); }
    QStringList contractKeys() const
    {
        QSettings raw(contract(), QSettings::IniFormat);
        raw.beginGroup(QStringLiteral("Internet Settings"));
        return raw.childKeys();
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    FakeBackend* fake = nullptr;

private slots:
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }

    void savedUntilRestored()
    {
        const auto sw = makeSwitch();
        // Texts QSettings would otherwise turn into lists, variants or nothing.
        const DesktopProxyBackend::Saved before{{"ignore-hosts", "@as []"},
                                                {"http.host", "'a', 'b'"},
                                                {"empty", ""},
                                                {"spaced", "  x ; y  "}};
        fake->current = before;
        QVERIFY(sw->switchOn(QStringLiteral("10.1.2.3:8080"), QString()).ok());
        fake->current = {{"ignore-hosts", "ours"}};
        QVERIFY(sw->switchOn(QStringLiteral("10.9.9.9:1080"), QStringLiteral("SOCKS5")).ok());
        QCOMPARE(fake->applied.size(), 2);

        QVERIFY(sw->switchOff().ok());
        QCOMPARE(fake->restored, QList<DesktopProxyBackend::Saved>{before});
        QCOMPARE(contractKeys(), QStringList{QStringLiteral("ProxyEnable")});
        QCOMPARE(sw->value(QStringLiteral("ProxyEnable")), QStringLiteral("0"));
        QVERIFY(sw->switchOff().ok()); // forgotten: nothing left to restore
        QCOMPARE(fake->restored.size(), 1);
    }

    void failedRestoreIsRetried()
    {
        const auto sw = makeSwitch();
        fake->current = {{"mode", "'auto'"}};
        QVERIFY(sw->switchOn(QStringLiteral("10.1.2.3:8080"), QString()).ok());
        fake->restoreError = QStringLiteral("gsettings timed out");
        const Result result = sw->switchOff();
        QCOMPARE(result.message(), QStringLiteral("System proxy: gsettings timed out"));
        QVERIFY(!result.ok());
        QCOMPARE(sw->value(QStringLiteral("ProxyEnable")), QStringLiteral("0"));

        fake->restoreError.clear();
        QVERIFY(sw->switchOff().ok());
        QCOMPARE(fake->restored, QList<DesktopProxyBackend::Saved>(
                                     2, DesktopProxyBackend::Saved{{"mode", "'auto'"}}));
    }

    // Another desktop's save means nothing here, and must survive for when that desktop is back.
    void eachBackendKeepsItsOwnSave()
    {
        const auto gnome = makeSwitch(QString(), QStringLiteral("gnome"));
        FakeBackend* gnomeBackend = fake;
        QVERIFY(gnome->switchOn(QStringLiteral("10.1.2.3:8080"), QString()).ok());
        const auto kde = makeSwitch(QString(), QStringLiteral("kde"));
        QVERIFY(kde->switchOff().ok());
        QCOMPARE(fake->restored.size(), 0);
        QVERIFY(gnome->switchOff().ok());
        QCOMPARE(gnomeBackend->restored.size(), 1);
    }

    void switchOn_data()
    {
        // clang-format off
        QTest::addColumn<QString>("proxy");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("applied"); // empty: refused

        QTest::newRow("HTTP") << "10.1.2.3:8080" << "HTTP" << "10.1.2.3 8080 0";
        QTest::newRow("socks4, any case") << "[2001:db8::1]:1080" << "socks4" << "2001:db8::1 1080 1";
        QTest::newRow("name") << "proxy-1.example.org:3128" << "" << "proxy-1.example.org 3128 0";
        QTest::newRow("lowest port") << "10.1.2.3:1" << "" << "10.1.2.3 1 0";
        QTest::newRow("highest port") << "10.1.2.3:65535" << "" << "10.1.2.3 65535 0";
        QTest::newRow("no port") << "10.1.2.3" << "" << "";
        QTest::newRow("empty port") << "10.1.2.3:" << "" << "";
        QTest::newRow("port 0") << "10.1.2.3:0" << "" << "";
        QTest::newRow("port too big") << "10.1.2.3:65536" << "" << "";
        QTest::newRow("IPv6 without brackets") << "::1:8080" << "" << "";
        QTest::newRow("open bracket") << "[::1:8080" << "SOCKS5" << "";
        QTest::newRow("blank in host") << "a b:80" << "" << "";
        QTest::newRow("address out of range") << "10.1.2.300:80" << "" << "";
        QTest::newRow("IPv4 in brackets") << "[10.1.2.3]:80" << "" << "";
        QTest::newRow("hyphen ends a label") << "proxy-.example.org:80" << "" << "";
        // A DNS name has at most 253 characters, in labels of at most 63.
        const QString labels = QString(63, u'a') + u'.' + QString(63, u'b') + u'.' + QString(63, u'c');
        const QString longest = labels + u'.' + QString(61, u'd');
        QTest::newRow("longest name") << longest + ":80" << "" << longest + " 80 0";
        QTest::newRow("name too long") << labels + u'.' + QString(62, u'd') + ":80" << "" << "";
        QTest::newRow("label too long") << QString(64, u'a') + ".org:80" << "" << "";
        QTest::newRow("blank around it") << " 10.1.2.3:80" << "" << "";
        QTest::newRow("empty") << "" << "" << "";
        // clang-format on
    }

    // The contract names a proxy only when the desktop took it: a refused proxy text or a backend
    // that failed leaves the contract and the desktop as they were.
    void switchOn()
    {
        QFETCH(QString, proxy);
        QFETCH(QString, type);
        QFETCH(QString, applied);

        for (const bool backendFails : {false, true}) {
            const auto sw = makeSwitch();
            if (backendFails)
                fake->applyError = QStringLiteral("gsettings refused it");
            const Result result = sw->switchOn(proxy, type);
            const bool on = !applied.isEmpty() && !backendFails;
            QCOMPARE(result.ok(), on);
            QCOMPARE(sw->value(QStringLiteral("ProxyEnable")),
                     on ? QStringLiteral("1") : QString());
            QCOMPARE(sw->value(QStringLiteral("ProxyOverride")),
                     on ? QStringLiteral("<local>") : QString());
            QCOMPARE(
                sw->value(QStringLiteral("ProxyServer")),
                on ? (type.contains(QLatin1String("socks"), Qt::CaseInsensitive) ? "socks=" : "") +
                         proxy
                   : QString());
            QCOMPARE(fake->applied, on ? QStringList{applied} : QStringList());
            if (applied.isEmpty()) {
                QVERIFY2(
                    result.message().startsWith(QStringLiteral("System proxy: '") + proxy + u'\''),
                    qPrintable(result.message()));
                QCOMPARE(fake->captures, 0);
            } else if (backendFails) {
                QCOMPARE(result.message(), QStringLiteral("System proxy: gsettings refused it"));
            }
            QFile::remove(m_dir->filePath(QStringLiteral("InternetSettings.conf")));
        }
    }

    void unwritableContract()
    {
        // A folder that is a file cannot be created, whoever runs the test.
        QFile blocker(m_dir->filePath(QStringLiteral("blocker")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        const QString path = blocker.fileName() + QStringLiteral("/InternetSettings.conf");

        const auto sw = makeSwitch(path);
        const Result result = sw->switchOn(QStringLiteral("10.1.2.3:8080"), "HTTP");
        QVERIFY(!result.ok());
        QCOMPARE(result.message(), QStringLiteral("System proxy: cannot write ") + path);
        // What we would change could not be kept, so it is not changed.
        QVERIFY(fake->applied.isEmpty());
        QVERIFY(!sw->switchOff().ok());
    }

    void backendFor_data()
    {
        // clang-format off
        QTest::addColumn<QString>("choice");
        QTest::addColumn<QString>("desktop"); // XDG_CURRENT_DESKTOP
        QTest::addColumn<QString>("expected");

        QTest::newRow("file on GNOME") << "file" << "GNOME" << "file";
        QTest::newRow("gnome anywhere") << "gnome" << "" << "gnome";
        QTest::newRow("KDE spelled loud") << " KDE " << "XFCE" << "kde";
        QTest::newRow("Ubuntu") << "auto" << "ubuntu:GNOME" << "gnome";
        QTest::newRow("Cinnamon") << "auto" << "X-Cinnamon" << "gnome";
        QTest::newRow("unknown choice is auto") << "dconf" << "KDE" << "kde";
        QTest::newRow("empty choice is auto") << "" << "Unity" << "gnome";
        QTest::newRow("XFCE") << "auto" << "XFCE" << "file";
        QTest::newRow("no desktop") << "auto" << "" << "file";
        // clang-format on
    }

    void backendFor()
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
};

QTEST_GUILESS_MAIN(tst_SystemProxySwitch)
#include "tst_SystemProxySwitch.moc"
