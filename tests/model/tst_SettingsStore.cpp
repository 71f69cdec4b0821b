#include "model/SettingsStore.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

class tst_SettingsStore : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void defaultsOnEmptyStore_data();
    void defaultsOnEmptyStore();
    void keyCaseDoesNotMatter_data();
    void keyCaseDoesNotMatter();
    void handWrittenSpellings_data();
    void handWrittenSpellings();
    void valuesStayTexts_data();
    void valuesStayTexts();
    void defaultPathHonoursXdgConfigHome();

private:
    QString confPath() const { return m_dir->filePath(QStringLiteral("Corvatel/Corvatel.conf")); }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void tst_SettingsStore::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void tst_SettingsStore::defaultsOnEmptyStore_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected"); // null: the reader supplies the default

    const struct
    {
        const char* key;
        const char* value;
    } table[] = {
        {"chkREFER", "0"},
        {"chkGET", "0"},
        {"chkPOST", "0"},
        {"chkSSL", "0"},
        {"chkCOOKIES", "0"},
        {"chkCOR", "1"},
        {"chkIMP", "1"},
        {"chkWINDOWS", "0"},
        {"chkTEST", "1"},
        {"txtTimeout", "60"},
        {"cboFont", "MS Sans Serif"},
        {"cboFontSize", "8"},
        {"Left", nullptr},
        {"Top", nullptr},
        {"Width", "12000"},
        {"Height", "7000"},
        {"LastTab", "1"},
        {"EMR", "0"},
        {"Email", nullptr},
        {"MYIP", ""},
        {"LAST_MYIP", nullptr},
    };
    for (const auto& entry : table) {
        QTest::newRow(entry.key) << QString::fromLatin1(entry.key)
                                 << (entry.value ? QString::fromLatin1(entry.value) : QString());
    }

    int known = 0;
    for (const SettingsStore::Key* key = SettingsStore::keys(); key->name; ++key)
        ++known;
    QCOMPARE(known, int(std::size(table)));
}

void tst_SettingsStore::defaultsOnEmptyStore()
{
    QFETCH(QString, key);
    QFETCH(QString, expected);

    const SettingsStore store(confPath());
    QVERIFY(!store.contains(key));
    QCOMPARE(store.read(key), expected.isNull() ? QString() : expected);
    QCOMPARE(SettingsStore::defaultOf(key.toUpper()), expected.isNull() ? QString() : expected);
    QCOMPARE(store.read(key, QStringLiteral("given")), QStringLiteral("given"));
    QVERIFY(!QFile::exists(confPath())); // reading creates nothing
}

void tst_SettingsStore::keyCaseDoesNotMatter_data()
{
    QTest::addColumn<QString>("written");
    QTest::addColumn<QString>("read");
    QTest::addColumn<QString>("stored"); // the one spelling in the file

    QTest::newRow("dialog's time-out key") << "txtTIMEOUT"
                                           << "txtTimeout"
                                           << "txtTimeout";
    QTest::newRow("canonical written, odd read") << "txtTimeout"
                                                 << "TXTTIMEOUT"
                                                 << "txtTimeout";
    QTest::newRow("lower case check box") << "chkcor"
                                          << "CHKCOR"
                                          << "chkCOR";
    QTest::newRow("window place") << "LEFT"
                                  << "left"
                                  << "Left";
    QTest::newRow("unknown key") << "MyOwnKey"
                                 << "MYOWNKEY"
                                 << "myownkey";
}

void tst_SettingsStore::keyCaseDoesNotMatter()
{
    QFETCH(QString, written);
    QFETCH(QString, read);
    QFETCH(QString, stored);

    {
        SettingsStore store(confPath());
        store.write(written, QStringLiteral("first"));
        store.write(read, QStringLiteral("30"));
        QCOMPARE(store.read(read), QStringLiteral("30"));
        QCOMPARE(store.read(written, QStringLiteral("x")), QStringLiteral("30"));
        QVERIFY(store.contains(written.toLower()));
    }

    const SettingsStore reopened(confPath());
    QCOMPARE(reopened.read(written), QStringLiteral("30"));
    QSettings raw(confPath(), QSettings::IniFormat);
    raw.beginGroup(QStringLiteral("Settings"));
    QCOMPARE(raw.childKeys(), QStringList{stored});
}

void tst_SettingsStore::handWrittenSpellings_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");

    QTest::newRow("TXTTIMEOUT") << "txtTimeout"
                                << "45";
    QTest::newRow("cbofont") << "cboFont"
                             << "DejaVu Sans";
    QTest::newRow("ChkCor") << "chkCOR"
                            << "0";
    QTest::newRow("unknown key with a comma value") << "window title"
                                                    << "a, b";
}

void tst_SettingsStore::handWrittenSpellings()
{
    QFETCH(QString, key);
    QFETCH(QString, value);

    QVERIFY(QDir().mkpath(m_dir->filePath(QStringLiteral("Corvatel"))));
    QVERIFY(QFile::copy(QStringLiteral(CORVATEL_TEST_DATA "/settings/odd-case.conf"), confPath()));

    SettingsStore store(confPath());
    QVERIFY(store.contains(key));
    QCOMPARE(store.read(key), value);
    QCOMPARE(store.read(key.toUpper(), QStringLiteral("x")), value);

    // A value this program writes afterwards wins over the hand-written spelling.
    store.write(key.toUpper(), QStringLiteral("12"));
    QCOMPARE(store.read(key), QStringLiteral("12"));
    QCOMPARE(SettingsStore(confPath()).read(key), QStringLiteral("12"));
}

void tst_SettingsStore::valuesStayTexts_data()
{
    QTest::addColumn<QString>("value");

    QTest::newRow("leading zeros") << "0010";
    QTest::newRow("single-precision number") << "1234.5";
    QTest::newRow("comma") << "a, b";
    QTest::newRow("blanks around") << "  spaced  ";
    QTest::newRow("INI specials") << "x=1; y=\"2\" [z] \\ #";
    QTest::newRow("variant-like") << "@Variant(abc)";
    QTest::newRow("non-Latin") << "Z\u00fcrich \u4e2d";
    QTest::newRow("empty") << "";
}

void tst_SettingsStore::valuesStayTexts()
{
    QFETCH(QString, value);

    SettingsStore(confPath()).write(QStringLiteral("MYIP"), value);
    const SettingsStore store(confPath());
    QVERIFY(store.contains(QStringLiteral("myip")));
    QCOMPARE(store.read(QStringLiteral("MYIP"), QStringLiteral("absent")), value);
}

void tst_SettingsStore::defaultPathHonoursXdgConfigHome()
{
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", m_dir->path().toLocal8Bit());
    const QString path = SettingsStore::defaultPath();
    qputenv("XDG_CONFIG_HOME", saved);
    QCOMPARE(path, confPath());

    // The directory need not exist yet: the first write creates it.
    SettingsStore(path).write(QStringLiteral("EMR"), QStringLiteral("1"));
    QVERIFY(QFile::exists(confPath()));
}

QTEST_GUILESS_MAIN(tst_SettingsStore)
#include "tst_SettingsStore.moc"
