#include "settings/SettingsStore.h"

#include <QFile>
#include <QSet>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

namespace {

struct Probe
{
    const Setting::Name* key = nullptr;
    std::function<QString(const SettingsStore&)> value;
};

template <typename T> Probe probe(const Setting::Key<T>& key)
{
    return {&key, [&key](const SettingsStore& store) {
                return QVariant::fromValue(store.value(key, T(7))).toString();
            }};
}

} // namespace

Q_DECLARE_METATYPE(Probe)

class tst_SettingsStore : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }
    // Every key of the table: no two differ only in case (keys are matched without regard to
    // it), each reads as its default on an empty store, and whatever case it is written in, the
    // file holds it under its one spelling.
    void everyKeyKeepsItsSpelling()
    {
        SettingsStore store(conf());
        QSet<QString> seen;
        for (const Setting::Name* key : Setting::all) {
            const QString name = QString::fromLatin1(key->name);
            QVERIFY2(!seen.contains(name.toLower()), key->name);
            seen.insert(name.toLower());
            QCOMPARE(store.read(name.toUpper()), Setting::defaultText(*key));
        }
        QVERIFY(!QFile::exists(conf())); // reading creates nothing

        for (const Setting::Name* key : Setting::all)
            store.write(QString::fromLatin1(key->name).toLower(), QLatin1String(key->name));
        QSettings raw(conf(), QSettings::IniFormat);
        raw.beginGroup(QStringLiteral("Settings"));
        const QStringList stored = raw.childKeys();
        QCOMPARE(stored.size(), int(std::size(Setting::all)));
        for (const QString& name : stored)
            QCOMPARE(raw.value(name).toString(), name);
    }

    void storedTextBecomes_data()
    {
        // clang-format off
        QTest::addColumn<Probe>("key");
        QTest::addColumn<QString>("text"); // null: absent
        QTest::addColumn<QString>("value");

        // A check box copy takes the rounded whole number and keeps its value for anything else.
        const Probe chk = probe(Setting::chkCOR);
        QTest::newRow("chk absent") << chk << QString() << "1";
        QTest::newRow("chk 0") << chk << "0" << "0";
        QTest::newRow("chk blanks, sign, point first, rounded away from 0")
            << chk << "\t -.5 \n" << "-1";
        for (const char* text : {"", "abc", "12abc", "1.2.3", "1,000", "1e3", "inf", "2147483648"})
            QTest::addRow("chk '%s'", text) << chk << text << "7";

        // A time-out that is no whole number of seconds above 0 reads as 60.
        const Probe timeout = probe(Setting::txtTimeout);
        QTest::newRow("time-out absent") << timeout << QString() << "60";
        QTest::newRow("time-out 1") << timeout << "1" << "1";
        QTest::newRow("time-out whole decimal, blanks") << timeout << " 30.0 " << "30";
        for (const char* text : {"abc", "0", "-3", "1.5", "99999999999"})
            QTest::addRow("time-out '%s'", text) << timeout << text << "60";

        const Probe parallel = probe(Setting::ParallelTests);
        QTest::newRow("parallel absent") << parallel << QString() << "1";
        QTest::newRow("parallel, blanks around") << parallel << " 8 " << "8";
        QTest::newRow("parallel most") << parallel << "1024" << "1024";
        for (const char* text : {"1025", "0", "2.5"})
            QTest::addRow("parallel '%s'", text) << parallel << text << "1";

        const Probe detect = probe(Setting::DetectType);
        QTest::newRow("detect absent") << detect << QString() << "false";
        QTest::newRow("detect 1, blanks around") << detect << " 1 " << "true";
        QTest::newRow("detect 1.0") << detect << "1.0" << "false";

        // Place and size: a text that is no number, or a negative size, leaves the window's own.
        const Probe width = probe(Setting::Width);
        QTest::newRow("width absent") << width << QString() << "7";
        QTest::newRow("width fraction") << width << " 0.5 " << "0.5";
        for (const char* text : {"-1", "1,234", "inf", ""})
            QTest::addRow("width '%s'", text) << width << text << "7";
        QTest::newRow("left absent") << probe(Setting::Left) << QString() << "7";
        QTest::newRow("left negative") << probe(Setting::Left) << "-20" << "-20";
        // clang-format on
    }

    // What each kind of stored text reads as; 7 stands for the reader's value before.
    void storedTextBecomes()
    {
        QFETCH(Probe, key);
        QFETCH(QString, text);
        QFETCH(QString, value);
        SettingsStore store(conf());
        if (!text.isNull())
            store.write(*key.key, text);
        QCOMPARE(key.value(store), value);
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
