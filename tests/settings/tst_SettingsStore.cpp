#include "settings/SettingsStore.h"

#include <QFile>
#include <QSet>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

class tst_SettingsStore : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }
    void defaultsOnEmptyStore()
    {
        const SettingsStore store(conf());
        // Keys are matched without regard to case, so no two may differ only in case; each one
        // reads as its default on an empty store.
        QSet<QString> seen;
        for (const SettingsStore::Key* key = SettingsStore::keys(); key->name; ++key) {
            const QString name = QString::fromLatin1(key->name);
            QVERIFY2(!seen.contains(name.toLower()), key->name);
            seen.insert(name.toLower());
            QCOMPARE(store.read(name.toUpper()), SettingsStore::defaultOf(name));
        }

        QCOMPARE(store.read(QStringLiteral("chkcor")), QStringLiteral("1"));
        QCOMPARE(store.read(QStringLiteral("cboFont")), QStringLiteral("MS Sans Serif"));
        QCOMPARE(store.read(QStringLiteral("parallelTESTS")), QStringLiteral("1"));
        QCOMPARE(store.read(QStringLiteral("Left")), QString()); // the reader supplies it
        QCOMPARE(store.read(QStringLiteral("chkCOR"), QStringLiteral("x")), QStringLiteral("x"));
        QVERIFY(!QFile::exists(conf())); // reading creates nothing
    }

    void keyCaseDoesNotMatter_data()
    {
        QTest::addColumn<QStringList>("keys"); // written, read back, the one spelling in the file
        QTest::addColumn<QString>("value");    // stays the text it was, INI syntax and all

        QTest::newRow("dialog's time-out key")
            << QStringList{"txtTIMEOUT", "txtTimeout", "txtTimeout"} << "a, b";
        QTest::newRow("canonical written, odd read")
            << QStringList{"txtTimeout", "TXTTIMEOUT", "txtTimeout"} << "  Z\u00fcrich \u4e2d  ";
        QTest::newRow("unknown key")
            << QStringList{"MyOwnKey", "MYOWNKEY", "myownkey"} << "@Variant(x=1; y=\"2\" [z] \\ #)";
        QTest::newRow("empty value") << QStringList{"myip", "MyIp", "MYIP"} << "";
    }

    void keyCaseDoesNotMatter()
    {
        QFETCH(QStringList, keys);
        QFETCH(QString, value);

        SettingsStore store(conf());
        store.write(keys[0], QStringLiteral("first"));
        store.write(keys[1], value);
        QCOMPARE(store.read(keys[0], QStringLiteral("absent")), value);
        QCOMPARE(SettingsStore(conf()).read(keys[1], QStringLiteral("absent")), value);
        QSettings raw(conf(), QSettings::IniFormat);
        raw.beginGroup(QStringLiteral("Settings"));
        QCOMPARE(raw.childKeys(), QStringList{keys[2]});
    }

    void handWrittenSpelling()
    {
        QFile file(conf());
        QVERIFY(file.open(QIODevice::WriteOnly) &&
                file.write("[Settings]\nTXTTIMEOUT=45\nWindow Title=a, b\n") > 0);
        file.close();

        SettingsStore store(conf());
        QCOMPARE(store.read(QStringLiteral("txtTimeout")), QStringLiteral("45"));
        QCOMPARE(store.read(QStringLiteral("WINDOW TITLE"), QString()), QStringLiteral("a, b"));
        // A value this program writes afterwards wins over the hand-written spelling.
        store.write(QStringLiteral("txttimeout"), QStringLiteral("12"));
        QCOMPARE(SettingsStore(conf()).read(QStringLiteral("TXTTimeout")), QStringLiteral("12"));
    }

    void writesReachTheDisk()
    {
        {
            SettingsStore store(conf());
            store.write(QStringLiteral("txtTimeout"), QStringLiteral("17"));
            store.sync();
            // Another reader of the file (a second run, say) sees it before this one ends.
            QSettings other(conf(), QSettings::IniFormat);
            QCOMPARE(other.value(QStringLiteral("Settings/txtTimeout")).toString(),
                     QStringLiteral("17"));
        }
        QCOMPARE(SettingsStore(conf()).read(QStringLiteral("TXTTIMEOUT")), QStringLiteral("17"));
    }

    void defaultPathHonoursXdgConfigHome()
    {
        const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", m_dir->path().toLocal8Bit());
        const QString path = SettingsStore::defaultPath();
        qputenv("XDG_CONFIG_HOME", saved);
        QCOMPARE(path, m_dir->filePath(QStringLiteral("Corvatel/Corvatel.conf")));
        SettingsStore(path).write(QStringLiteral("EMR"), QStringLiteral("1")); // creates the folder
        QVERIFY(QFile::exists(path));
    }

private:
    QString conf() const { return m_dir->filePath(QStringLiteral("Corvatel.conf")); }

    std::unique_ptr<QTemporaryDir> m_dir;
};

QTEST_GUILESS_MAIN(tst_SettingsStore)
#include "tst_SettingsStore.moc"
