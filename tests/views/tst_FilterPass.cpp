#include "model/ProxyTableModel.h"
#include "support/FakeWindowHost.h"
#include "views/FilterPass.h"

#include <QTest>

// Criteria as "location|type|class|min|max", "*" for a neutral text.
static FilterCriteria criteria(const QString& text)
{
    const QStringList p = text.split(u'|');
    const auto pick = [](const QString& s, const QString& neutral) {
        return s == QLatin1String("*") ? neutral : s;
    };
    return {pick(p[0], FilterCriteria::allLocations()), pick(p[1], FilterCriteria::allTypes()),
            pick(p[2], FilterCriteria::allClasses()), p[3], p[4]};
}

class tst_FilterPass : public QObject
{
    Q_OBJECT

    // Active, Proxy, Speed, Tested, Type, Location, Class.
    static void fill(ProxyTableModel& m)
    {
        for (const char* row :
             {"a:1|3|2024-01-02 10:00|HTTP|Oslo|Anon", "b:1|5||HTTPS|oslo|Transp",
              "c:1|6|2024-03-01 08:00|HTTP|Oslo|Transp", "d:1||2023-12-31 23:59|SOCKS5|Lima|",
              "e:1|0|2024-01-02 09:59|HTTP|Lima|Anon", "f:1|4.5||HTTP|Oslo|Anon",
              "g:1|?|2022-05-05 05:05||Lima|Anon"}) {
            const QStringList c = QString::fromLatin1(row).split(u'|');
            m.AddItem(
                QStringList{"Y", c[0], c[1], "", c[2], c[3], "", "", "", "", "", c[4], c[5]}.join(
                    u'\t'));
        }
    }
    static QString proxies(const ProxyTableModel& m)
    {
        QStringList list;
        for (int r = 1; r < m.Rows(); ++r)
            list << m.TextMatrix(r, ProxyRow::Proxy).left(1);
        return list.join(u' ');
    }

private slots:
    void isActive_data()
    {
        QTest::addColumn<QString>("criteria");
        QTest::addColumn<bool>("active");
        QTest::newRow("all neutral") << "*|*|*|0|0" << false;
        QTest::newRow("zeros") << "*|*|*|00|000" << false;
        QTest::newRow("lower bound") << "*|*|*|3|0" << true;
        QTest::newRow("emptied boxes") << "*|*|*||" << true;
        QTest::newRow("type") << "*|HTTP|*|0|0" << true;
        QTest::newRow("neutral text, other case") << "All locations|*|*|0|0" << true;
    }
    void isActive()
    {
        QFETCH(QString, criteria);
        QFETCH(bool, active);
        QCOMPARE(::criteria(criteria).isActive(), active);
    }

    void applyFilter_data()
    {
        // clang-format off
        QTest::addColumn<QString>("criteria");
        QTest::addColumn<QString>("expected"); // newest test first, untested last
        QTest::newRow("location, exact case") << "Oslo|*|*|0|0" << "c a f";
        QTest::newRow("type") << "*|HTTPS|*|0|0" << "b";
        QTest::newRow("class") << "*|*|Transp|0|0" << "c b";
        QTest::newRow("lower bound alone filters nothing") << "*|*|*|4|0" << "c a e d g b f";
        QTest::newRow("0 to 5 inclusive, no empty speed") << "*|*|*|0|5" << "a e g b f";
        QTest::newRow("both bounds") << "*|*|*|4|5" << "b f";
        QTest::newRow("emptied upper bound is 0") << "*|*|*|0|" << "e g";
        QTest::newRow("rules combine") << "Oslo|HTTP|Anon|0|5" << "a f";
        QTest::newRow("none passes") << "Nowhere|*|*|0|0" << "";
        // clang-format on
    }
    void applyFilter()
    {
        QFETCH(QString, criteria);
        QFETCH(QString, expected);
        ProxyTableModel source;
        fill(source);
        source.setCellForeColor(1, 0, 7, ProxyRow::Class, ProxyRow::PassedColour);
        ProxyTableModel result;
        result.AddItem(QStringLiteral("Y\told:1")); // a previous result
        result.AddItem(QStringLiteral("Y\told:2"));
        FakeWindowHost host;
        FilterPass pass(host);
        const FilterPass::Outcome outcome = pass.applyFilter(source, result, ::criteria(criteria));

        QCOMPARE(proxies(result), expected); // no row passing: one empty row
        QCOMPARE(outcome.passed, expected.isEmpty() ? 0 : int(expected.count(u' ')) + 1);
        QCOMPARE(host.progressMax, source.Rows() - 1); // one step a row, none for the header
        QCOMPARE(host.progress.last(), 0);
        // Texts are copied whole, colours not; the source stays as it was.
        const int from = proxies(source).indexOf(expected.left(1)) / 2 + 1;
        for (int c = 0; !expected.isEmpty() && c < ProxyRow::ColumnCount; ++c) {
            QCOMPARE(result.TextMatrix(1, c), source.TextMatrix(from, c));
            QCOMPARE(result.cellForeColor(1, c), ProxyRow::NoColour);
        }
        QCOMPARE(proxies(source), QStringLiteral("a b c d e f g"));
    }

    // Stop is looked at after every copied row and after every row; the pass clears it.
    void stop_data()
    {
        // clang-format off
        QTest::addColumn<QString>("location");
        QTest::addColumn<QString>("expected");
        QTest::newRow("first row passes") << "Oslo" << "a";
        QTest::newRow("first row excluded") << "Lima" << "";
        // clang-format on
    }
    void stop()
    {
        QFETCH(QString, location);
        QFETCH(QString, expected);
        ProxyTableModel source;
        fill(source);
        ProxyTableModel result;
        FakeWindowHost host;
        host.stop.request();
        FilterPass pass(host);
        QVERIFY(pass.applyFilter(source, result, ::criteria(location + "|*|*|0|0")).stopped);
        QCOMPARE(proxies(result), expected);
        QVERIFY(!host.stop.isRequested());
    }
};

QTEST_GUILESS_MAIN(tst_FilterPass)
#include "tst_FilterPass.moc"
