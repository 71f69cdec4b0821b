#include "model/SettingsStore.h"
#include "shell/Deployment.h"
#include "shell/WindowSettings.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

namespace {

// The nine check box copies, by key.
const QList<QPair<QString, int WindowSettings::*>> checkBoxes = {
    {QStringLiteral("chkREFER"), &WindowSettings::chkREFER},
    {QStringLiteral("chkGET"), &WindowSettings::chkGET},
    {QStringLiteral("chkPOST"), &WindowSettings::chkPOST},
    {QStringLiteral("chkSSL"), &WindowSettings::chkSSL},
    {QStringLiteral("chkCOOKIES"), &WindowSettings::chkCOOKIES},
    {QStringLiteral("chkCOR"), &WindowSettings::chkCOR},
    {QStringLiteral("chkIMP"), &WindowSettings::chkIMP},
    {QStringLiteral("chkWINDOWS"), &WindowSettings::chkWINDOWS},
    {QStringLiteral("chkTEST"), &WindowSettings::chkTEST},
};

// In the order of deploymentFields().
const QList<QByteArray> deploymentVariables = {
    "CORVATEL_SERVICE_URL", "CORVATEL_IPINFO_URL",   "CORVATEL_WHATIP_URL",
    "CORVATEL_PROBE_URL",   "CORVATEL_SITE_URL",     "CORVATEL_FACEBOOK_URL",
    "CORVATEL_TWITTER_URL", "CORVATEL_SYSTEM_PROXY",
};

QStringList deploymentFields(const Deployment& d)
{
    return {d.serviceUrl, d.ipInfoUrl,   d.whatIpUrl,  d.probeUrl,
            d.siteUrl,    d.facebookUrl, d.twitterUrl, d.systemProxy};
}

} // namespace

class tst_WindowSettings : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void emptyStoreGivesDefaults();
    void eachCheckBoxHasItsKey();
    void checkBoxText_data();
    void checkBoxText();
    void timeout_data();
    void timeout();
    void fontTextsAreCopied();

    void toWholeNumber_data();
    void toWholeNumber();
    void toNumber_data();
    void toNumber();

    void deploymentDefaults();
    void deploymentOverrides_data();
    void deploymentOverrides();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<SettingsStore> m_store;
};

void tst_WindowSettings::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_store = std::make_unique<SettingsStore>(m_dir->filePath(QStringLiteral("Corvatel.conf")));
    for (const QByteArray& variable : deploymentVariables)
        qunsetenv(variable.constData());
}

void tst_WindowSettings::cleanup()
{
    for (const QByteArray& variable : deploymentVariables)
        qunsetenv(variable.constData());
}

void tst_WindowSettings::emptyStoreGivesDefaults()
{
    WindowSettings copies;
    copies.readFrom(*m_store);
    QCOMPARE(copies.chkREFER, 0);
    QCOMPARE(copies.chkGET, 0);
    QCOMPARE(copies.chkPOST, 0);
    QCOMPARE(copies.chkSSL, 0);
    QCOMPARE(copies.chkCOOKIES, 0);
    QCOMPARE(copies.chkCOR, 1);
    QCOMPARE(copies.chkIMP, 1);
    QCOMPARE(copies.chkWINDOWS, 0);
    QCOMPARE(copies.chkTEST, 1);
    QCOMPARE(copies.txtTimeout, 60);
    QCOMPARE(copies.cboFont, QStringLiteral("MS Sans Serif"));
    QCOMPARE(copies.cboFontSize, QStringLiteral("8"));
}

void tst_WindowSettings::eachCheckBoxHasItsKey()
{
    for (int i = 0; i < checkBoxes.size(); ++i)
        m_store->write(checkBoxes.at(i).first.toUpper(), QString::number(10 + i));
    WindowSettings copies;
    copies.readFrom(*m_store);
    for (int i = 0; i < checkBoxes.size(); ++i)
        QCOMPARE(copies.*checkBoxes.at(i).second, 10 + i);
}

void tst_WindowSettings::checkBoxText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("previous");
    QTest::addColumn<int>("expected");

    QTest::newRow("abc at start") << "abc" << 0 << 0;
    QTest::newRow("abc keeps 1") << "abc" << 1 << 1;
    QTest::newRow("empty keeps 1") << "" << 1 << 1;
    QTest::newRow("1 with blanks") << " 1 " << 0 << 1;
    QTest::newRow("0 replaces 1") << "0" << 1 << 0;
    QTest::newRow("rounded up") << "0.6" << 0 << 1;
    QTest::newRow("number then text") << "1x" << 0 << 0;
    QTest::newRow("too large") << "99999999999" << 1 << 1;
}

void tst_WindowSettings::checkBoxText()
{
    QFETCH(QString, text);
    QFETCH(int, previous);
    QFETCH(int, expected);

    m_store->write(QStringLiteral("chkCOR"), text);
    WindowSettings copies;
    copies.chkCOR = previous;
    copies.readFrom(*m_store);
    QCOMPARE(copies.chkCOR, expected);
}

void tst_WindowSettings::timeout_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("expected");

    const QString key = QStringLiteral("txtTimeout");
    QTest::newRow("30") << key << "30" << 30;
    QTest::newRow("dialog writes txtTIMEOUT") << "txtTIMEOUT"
                                              << "30" << 30;
    QTest::newRow("blanks around") << key << " 45 " << 45;
    QTest::newRow("whole decimal") << key << "30.0" << 30;
    QTest::newRow("abc") << key << "abc" << 60;
    QTest::newRow("0") << key << "0" << 60;
    QTest::newRow("-3") << key << "-3" << 60;
    QTest::newRow("1.5") << key << "1.5" << 60;
    QTest::newRow("empty") << key << "" << 60;
    QTest::newRow("overflow") << key << "99999999999" << 60;
}

void tst_WindowSettings::timeout()
{
    QFETCH(QString, key);
    QFETCH(QString, text);
    QFETCH(int, expected);

    m_store->write(key, text);
    WindowSettings copies;
    copies.txtTimeout = 17;
    copies.readFrom(*m_store);
    QCOMPARE(copies.txtTimeout, expected);
}

void tst_WindowSettings::fontTextsAreCopied()
{
    m_store->write(QStringLiteral("CBOFONT"), QStringLiteral(" DejaVu Sans "));
    m_store->write(QStringLiteral("cboFontSize"), QStringLiteral("10.5"));
    WindowSettings copies;
    copies.readFrom(*m_store);
    QCOMPARE(copies.cboFont, QStringLiteral(" DejaVu Sans "));
    QCOMPARE(copies.cboFontSize, QStringLiteral("10.5"));
}

void tst_WindowSettings::toWholeNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("value");

    QTest::newRow("integer") << "42" << true << 42;
    QTest::newRow("signed") << "-7" << true << -7;
    QTest::newRow("blanks") << "\t 8 \n" << true << 8;
    QTest::newRow("round up") << "2.6" << true << 3;
    QTest::newRow("negative decimal") << "-2.6" << true << -3;
    QTest::newRow("point first") << ".6" << true << 1;
    QTest::newRow("int max") << "2147483647" << true << 2147483647;
    QTest::newRow("int min") << "-2147483648" << true << int(-2147483647 - 1);
    QTest::newRow("past int max") << "2147483648" << false << 0;
    QTest::newRow("empty") << "" << false << 0;
    QTest::newRow("sign only") << "-" << false << 0;
    QTest::newRow("digits then letters") << "12abc" << false << 0;
    QTest::newRow("two points") << "1.2.3" << false << 0;
    QTest::newRow("group separator") << "1,000" << false << 0;
    QTest::newRow("exponent") << "1e3" << false << 0;
    QTest::newRow("inf") << "inf" << false << 0;
    QTest::newRow("hex") << "0x10" << false << 0;
}

void tst_WindowSettings::toWholeNumber()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(int, value);

    int result = -12345;
    QCOMPARE(SettingsText::toWholeNumber(text, result), ok);
    QCOMPARE(result, ok ? value : -12345);
}

void tst_WindowSettings::toNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<double>("value");

    QTest::newRow("twips") << "12000" << true << 12000.0;
    QTest::newRow("single precision") << " 1234.5 " << true << 1234.5;
    QTest::newRow("exponent") << "1.5e3" << true << 1500.0;
    QTest::newRow("empty") << "" << false << 0.0;
    QTest::newRow("text") << "wide" << false << 0.0;
    QTest::newRow("decimal comma") << "1234,5" << false << 0.0;
    QTest::newRow("inf") << "inf" << false << 0.0;
}

void tst_WindowSettings::toNumber()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(double, value);

    double result = -1.0;
    QCOMPARE(SettingsText::toNumber(text, result), ok);
    QCOMPARE(result, ok ? value : -1.0);
}

void tst_WindowSettings::deploymentDefaults()
{
    QCOMPARE(deploymentFields(Deployment::fromEnvironment()),
             (QStringList{"http://127.0.0.1:8642", "http://127.0.0.1:8642/",
                          "http://127.0.0.1:8642/", "http://www.google.com/",
                          "https://corvatel.example/", "https://www.facebook.com/corvatel.example",
                          "https://twitter.com/corvatel_example", "auto"}));
}

void tst_WindowSettings::deploymentOverrides_data()
{
    QTest::addColumn<QByteArray>("variable");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("expected");

    QTest::newRow("service") << QByteArray("CORVATEL_SERVICE_URL") << "http://10.0.0.1:9"
                             << "http://10.0.0.1:9";
    QTest::newRow("service loses trailing slashes")
        << QByteArray("CORVATEL_SERVICE_URL") << "http://10.0.0.1:9//"
        << "http://10.0.0.1:9";
    QTest::newRow("IP info gains a slash")
        << QByteArray("CORVATEL_IPINFO_URL") << "http://info.test/base"
        << "http://info.test/base/";
    QTest::newRow("IP info keeps its slash")
        << QByteArray("CORVATEL_IPINFO_URL") << "http://info.test/"
        << "http://info.test/";
    QTest::newRow("probe") << QByteArray("CORVATEL_PROBE_URL") << "http://127.0.0.1:1/p"
                           << "http://127.0.0.1:1/p";
    QTest::newRow("twitter") << QByteArray("CORVATEL_TWITTER_URL") << "http://t.test/"
                             << "http://t.test/";
    QTest::newRow("system proxy") << QByteArray("CORVATEL_SYSTEM_PROXY") << "file"
                                  << "file";
    QTest::newRow("empty service is no override") << QByteArray("CORVATEL_SERVICE_URL") << ""
                                                  << "http://127.0.0.1:8642";
    QTest::newRow("empty system proxy is no override") << QByteArray("CORVATEL_SYSTEM_PROXY") << ""
                                                       << "auto";
}

void tst_WindowSettings::deploymentOverrides()
{
    QFETCH(QByteArray, variable);
    QFETCH(QString, value);
    QFETCH(QString, expected);

    qputenv(variable.constData(), value.toUtf8());
    QStringList wanted = deploymentFields(Deployment::defaults());
    wanted[deploymentVariables.indexOf(variable)] = expected;
    QCOMPARE(deploymentFields(Deployment::fromEnvironment()), wanted);
}

QTEST_GUILESS_MAIN(tst_WindowSettings)
#include "tst_WindowSettings.moc"
