#include "service/ExternalAddress.h"
#include "service/ReferenceService.h"
#include "support/MainWindowFixture.h"

#include <QTest>

class tst_getMyIP : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(m_service.start({}), qPrintable(m_service.errorString())); }

    void addressInPage_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<bool>("found");
        QTest::addColumn<QString>("address");
        QTest::newRow("link") << "<a href=\"https://x/ip/203.0.113.7\">you</a>" << true
                              << "203.0.113.7";
        QTest::newRow("first of two") << "/ip/1.1.1.1\" /ip/2.2.2.2\"" << true << "1.1.1.1";
        QTest::newRow("no closing quote") << "see /ip/198.51.100.1" << true << "198.51.100.1";
        QTest::newRow("longest address")
            << "/ip/" + QString(45, u'f') + "\"" << true << QString(45, u'f');
        QTest::newRow("too long to be one") << "/ip/" + QString(46, u'f') + "\"" << false << "";
        QTest::newRow("huge page without quote") << "/ip/" + QString(1 << 20, u'9') << false << "";
        QTest::newRow("none") << "<html>no address</html>" << false << "";
    }

    void addressInPage()
    {
        QFETCH(QString, page);
        QFETCH(bool, found);
        QFETCH(QString, address);
        bool f = !found;
        QCOMPARE(ExternalAddress::fromPage(page, &f), address);
        QCOMPARE(f, found);
    }

    void learntOncePerDay()
    {
        MainWindowFixture f;
        const QDate day(2026, 12, 6);
        const QString url = m_service.baseUrl() + QStringLiteral("/");
        const int before = m_service.requestCount(QStringLiteral("/"));
        {
            frmMain& w = start(f, url, day);
            QCOMPARE(w.panelText(3), QStringLiteral("127.0.0.1"));
            QCOMPARE(f.store->read(QStringLiteral("MYIP"), {}), QStringLiteral("127.0.0.1"));
            QCOMPARE(f.store->read(QStringLiteral("LAST_MYIP"), {}), ExternalAddress::dayText(day));
            QCOMPARE(w.statusText(), QString());
        }
        QCOMPARE(m_service.requestCount(QStringLiteral("/")), before + 1);

        // Same day: the stored address is shown without asking.
        f.store->write(QStringLiteral("MYIP"), QStringLiteral("192.0.2.55"));
        frmMain& again = start(f, url, day);
        QCOMPARE(again.panelText(3), QStringLiteral("192.0.2.55"));
        QCOMPARE(m_service.requestCount(QStringLiteral("/")), before + 1);

        // Next day: asked again and replaced.
        frmMain& next = start(f, url, day.addDays(1));
        QCOMPARE(next.panelText(3), QStringLiteral("127.0.0.1"));
        QCOMPARE(m_service.requestCount(QStringLiteral("/")), before + 2);
    }

    // A page without an address (a failed fetch gives an empty one) stores an empty address, so
    // the next start asks again that same day.
    void withoutAddress()
    {
        MainWindowFixture f;
        const QDate day(2026, 12, 6);
        QCOMPARE(start(f, m_service.baseUrl() + QStringLiteral("/gate.php"), day).panelText(3),
                 QString());
        QCOMPARE(f.store->read(QStringLiteral("MYIP"), QStringLiteral("unset")), QString());
        QCOMPARE(f.store->read(QStringLiteral("LAST_MYIP"), {}), ExternalAddress::dayText(day));
        const int before = m_service.requestCount(QStringLiteral("/"));
        QCOMPARE(start(f, m_service.baseUrl() + QStringLiteral("/"), day).panelText(3),
                 QStringLiteral("127.0.0.1"));
        QCOMPARE(m_service.requestCount(QStringLiteral("/")), before + 1);
    }

private:
    frmMain& start(MainWindowFixture& f, const QString& ipInfoUrl, const QDate& day)
    {
        f.deployment.ipInfoUrl = ipInfoUrl;
        frmMain& w = f.create();
        w.setToday([day] { return day; });
        w.getMyIP();
        return w;
    }

    ReferenceService m_service;
};

QTEST_MAIN(tst_getMyIP)
#include "tst_getMyIP.moc"
