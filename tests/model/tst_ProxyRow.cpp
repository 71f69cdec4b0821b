#include "model/NumberText.h"
#include "model/ProxyRow.h"

#include <QTest>

using ProxyRow::Cells;

namespace {

QStringList toList(const Cells& cells)
{
    return QStringList(cells.begin(), cells.end());
}

// Thirteen cells: the given ones first, the rest empty.
QStringList row(QStringList cells)
{
    while (cells.size() < ProxyRow::ColumnCount)
        cells.append(QString());
    return cells;
}

Cells prefilled(const QString& text)
{
    Cells cells;
    cells.fill(text);
    return cells;
}

} // namespace

class tst_ProxyRow : public QObject
{
    Q_OBJECT

private slots:
    void groupedCounts()
    {
        QCOMPARE(NumberText::grouped(999), QStringLiteral("999"));
        QCOMPARE(NumberText::grouped(2000), QStringLiteral("2 000"));
        QCOMPARE(NumberText::grouped(-1234567), QStringLiteral("-1 234 567"));
    }

    void storedRowText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("cells");
        QTest::addColumn<bool>("roundTrips");
        QTest::addColumn<ProxyRow::Colour>("colour");
        QTest::addColumn<QString>("proxy");

        const ProxyRow::Colour none = ProxyRow::NoColour;
        QTest::newRow("new import")
            << ProxyRow::newImportedRowText("1.2.3.4:80") << row({"?", "1.2.3.4:80", "0"}) << true
            << none << "1.2.3.4:80";
        const QStringList full{
            "Y", "5.6.7.8:3128", "2",    "85", "2013-05-01 12:34", "HTTP", "1", "2", "3", "4",
            "5", "DE",           "Elite"};
        QTest::newRow("full row, Y green")
            << "Y|5.6.7.8:3128|2|85|2013-05-01 12:34|HTTP|1|2|3|4|5|DE|Elite|" << full << true
            << ProxyRow::PassedColour << "5.6.7.8:3128";
        QTest::newRow("N red, text after last bar unused")
            << "N|1.1.1.1:8080|7" << row({"N", "1.1.1.1:8080"}) << false << ProxyRow::FailedColour
            << "1.1.1.1:8080";
        QTest::newRow("empty mark, empty proxy")
            << "||0|" << row({"", "", "0"}) << false << none << "";
        QTest::newRow("longer mark, proxy without bar after it")
            << "NY|1.2.3.4:80" << row({"NY"}) << false << none << "1.2.3.4:80";
        QTest::newRow("pieces past column 12 dropped")
            << "a|b|c|d|e|f|g|h|i|j|k|l|m|n|o|"
            << QStringList{"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l", "m"} << false
            << none << "b";
        QTest::newRow("empty") << "" << row({}) << false << none << "";
    }

    void storedRowText()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, cells);
        QFETCH(bool, roundTrips);
        QFETCH(ProxyRow::Colour, colour);
        QFETCH(QString, proxy);

        Cells read;
        ProxyRow::readStoredRowText(text, read);
        QCOMPARE(toList(read), cells);
        if (roundTrips)
            QCOMPARE(ProxyRow::storedRowText(read), text);
        QCOMPARE(ProxyRow::markColour(read[ProxyRow::Active]), colour);
        QCOMPARE(ProxyRow::proxyField(text).toString(), proxy);

        // Empty pieces keep what the cell held before.
        Cells kept = prefilled("old");
        ProxyRow::readStoredRowText(text, kept);
        for (int col = 0; col < ProxyRow::ColumnCount; ++col)
            QCOMPARE(kept[col], cells[col].isEmpty() ? QStringLiteral("old") : cells[col]);
    }

    void serviceLine_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QStringList>("cells"); // the prefilled cells when refused

        const QStringList untouched = toList(prefilled("old"));

        // Every field differs, so each must land in its own column.
        QTest::newRow("full line")
            << "1.2.3.4:80|3|85|2013-05-01 12:34:56|HTTP|Yes|No|YES|NO|yes|US|Anonymous proxy|"
            << true
            << QStringList{
                   "Y",   "1.2.3.4:80", "3",   "85", "2013-05-01 12:34", "HTTP", "Yes", "No",
                   "YES", "NO",         "yes", "US", "Anonymous proxy"};
        QTest::newRow("reliable 0")
            << "1.2.3.4:80|3|0|" << true << row({"Y", "1.2.3.4:80", "3", "?"});
        QTest::newRow("reliable abc")
            << "1.2.3.4:80|3|abc|" << true << row({"Y", "1.2.3.4:80", "3", "?"});
        QTest::newRow("reliable padded kept as sent")
            << "1.2.3.4:80|3| 85 |" << true << row({"Y", "1.2.3.4:80", "3", " 85 "});
        QTest::newRow("tested without colon")
            << "1.2.3.4:80|||yesterday|" << true << row({"Y", "1.2.3.4:80", "", "", "yesterday"});
        QTest::newRow("tested, colon first")
            << "1.2.3.4:80|||:07|" << true << row({"Y", "1.2.3.4:80", "", "", ""});
        QTest::newRow("empty pieces stay empty")
            << "1.2.3.4:80|||||SOCKS5|" << true
            << row({"Y", "1.2.3.4:80", "", "", "", "", "SOCKS5"});
        QTest::newRow("too few fields, rest dropped")
            << "1.2.3.4:80|7" << true << row({"Y", "1.2.3.4:80"});
        QTest::newRow("too many fields")
            << "a|b|c|d|e|f|g|h|i|j|k|l|m|n|" << true
            << QStringList{"Y", "a", "b", "?", "d", "e", "f", "g", "h", "i", "j", "k", "l"};
        QTest::newRow("loopback refused") << "127.0.0.1:80|1|85|" << false << untouched;
        QTest::newRow("0. refused") << "0.0.0.0:80|1|85|" << false << untouched;
        QTest::newRow("10. accepted") << "10.0.0.1:80|" << true << row({"Y", "10.0.0.1:80"});
        QTest::newRow("1270. accepted") << "1270.0.0.1:80|" << true << row({"Y", "1270.0.0.1:80"});
    }

    void serviceLine()
    {
        QFETCH(QString, line);
        QFETCH(bool, accepted);
        QFETCH(QStringList, cells);

        // A reused row must not keep anything from the line before.
        Cells out = prefilled("old");
        QCOMPARE(ProxyRow::serviceLineToCells(line, out), accepted);
        QCOMPARE(toList(out), cells);
    }
};

QTEST_GUILESS_MAIN(tst_ProxyRow)
#include "tst_ProxyRow.moc"
