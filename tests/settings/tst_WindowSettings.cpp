#include "base/Deployment.h"
#include "settings/SettingsStore.h"
#include "settings/WindowSettings.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

// Every copy as text, in the order of the struct.
QStringList copiesOf(const WindowSettings& s)
{
    QStringList texts;
    for (int n : {s.chkREFER, s.chkGET, s.chkPOST, s.chkSSL, s.chkCOOKIES, s.chkCOR, s.chkIMP,
                  s.chkWINDOWS, s.chkTEST, s.txtTimeout})
        texts << QString::number(n);
    return texts << s.cboFont << s.cboFontSize;
}

QStringList fieldsOf(const Deployment& d)
{
    return {d.serviceUrl, d.ipInfoUrl,   d.whatIpUrl,  d.probeUrl,
            d.siteUrl,    d.facebookUrl, d.twitterUrl, d.systemProxy};
}

} // namespace

class tst_WindowSettings : public QObject
{
    Q_OBJECT

private slots:
    void eachCopyHasItsKey()
    {
        QTemporaryDir dir;
        SettingsStore store(dir.filePath(QStringLiteral("Corvatel.conf")));
        store.write(QStringLiteral("chkCOR"), QStringLiteral("abc")); // not a number: keeps 0
        WindowSettings copies;
        copies.readFrom(store);
        QCOMPARE(copiesOf(copies), (QStringList{"0", "0", "0", "0", "0", "0", "1", "0", "1", "60",
                                                "MS Sans Serif", "8"}));

        // Whatever case the key is written in; the texts stay as they are.
        const QStringList keys{"CHKREFER",   "chkget",     "ChkPost", "CHKSSL",
                               "chkcookies", "CHKCOR",     "chkimp",  "CHKWINDOWS",
                               "chktest",    "txtTIMEOUT", "CBOFONT", "cbofontsize"};
        const QStringList values{
            "10", "11", "12", "13", "14", "15", "16", "17", "18", "19", " DejaVu Sans ", "10.5"};
        for (int i = 0; i < keys.size(); ++i)
            store.write(keys[i], values[i]);
        copies.readFrom(store);
        QCOMPARE(copiesOf(copies), values);
    }

    void deploymentFromEnvironment()
    {
        const char* variables[] = {"CORVATEL_SERVICE_URL", "CORVATEL_IPINFO_URL",
                                   "CORVATEL_WHATIP_URL",  "CORVATEL_PROBE_URL",
                                   "CORVATEL_SITE_URL",    "CORVATEL_FACEBOOK_URL",
                                   "CORVATEL_TWITTER_URL", "CORVATEL_SYSTEM_PROXY"};
        // Each sets its field; the service drops trailing "/", the IP-info folder gets one.
        const QStringList values{"s:/x//", "i:/x", "w", "p", "s", "f", "t", "file"};
        for (int i = 0; i < values.size(); ++i)
            qputenv(variables[i], values[i].toUtf8());
        QCOMPARE(fieldsOf(Deployment::fromEnvironment()),
                 (QStringList{"s:/x", "i:/x/", "w", "p", "s", "f", "t", "file"}));

        // An empty variable is no override, and the default folder's "/" gets no second one.
        for (const char* variable : variables)
            qputenv(variable, QByteArray());
        QCOMPARE(fieldsOf(Deployment::fromEnvironment()), fieldsOf(Deployment::defaults()));
    }
};

QTEST_GUILESS_MAIN(tst_WindowSettings)
#include "tst_WindowSettings.moc"
