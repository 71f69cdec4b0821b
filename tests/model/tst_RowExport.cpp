#include "model/RowExport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using RowExport::Extras;

namespace {

// A row whose cells are all text, but for the Proxy cell.
RowExport::Row rowOf(const QString& text)
{
    RowExport::Row row;
    row.cells.fill(text);
    row.cells[ProxyRow::Proxy] = QStringLiteral("1.2.3.4:80");
    row.exitAddress = text;
    row.judge = QStringLiteral("http://judge/");
    return row;
}

} // namespace

class tst_RowExport : public QObject
{
    Q_OBJECT

private slots:
    void header()
    {
        QCOMPARE(RowExport::csvHeader(Extras::Without),
                 "Active,Proxy,Speed,Reliable,Tested,Type,Cookies,Get,Refer,Post,SSL,Location,"
                 "Class\n");
        QVERIFY(RowExport::csvHeader(Extras::With).endsWith(",Class,Exit,Judge\n"));
    }

    // Every form, fed cells that need quoting or escaping, reads back as the same text through
    // an outside parser (JSON) or as the field RFC 4180 asks for (CSV).
    void cellText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("csvField");

        QTest::newRow("plain") << "DE Berlin"
                               << "DE Berlin";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("comma") << "Berlin, DE"
                               << "\"Berlin, DE\"";
        QTest::newRow("quote") << "the \"best\""
                               << "\"the \"\"best\"\"\"";
        QTest::newRow("line break") << "a\r\nb"
                                    << "\"a\r\nb\"";
        QTest::newRow("bare CR") << "a\rb"
                                 << "\"a\rb\"";
        QTest::newRow("backslash, tab, NUL")
            << QString::fromUtf8("a\\b\tc\0d", 7) << QString::fromUtf8("a\\b\tc\0d", 7);
        QTest::newRow("not ASCII") << "Zürich 東京 \u2028"
                                   << "Zürich 東京 \u2028";
    }
    void cellText()
    {
        QFETCH(QString, text);
        QFETCH(QString, csvField);
        const RowExport::Row row = rowOf(text);

        const QByteArray csv = RowExport::csvLine(row, Extras::With);
        QStringList expected(15, csvField);
        expected[ProxyRow::Proxy] = QStringLiteral("1.2.3.4:80");
        expected[14] = QStringLiteral("http://judge/");
        QCOMPARE(QString::fromUtf8(csv), expected.join(u',') + u'\n');

        const QByteArray line = RowExport::jsonLine(row, Extras::With);
        QCOMPARE(line.count('\n'), 1);
        QVERIFY(line.endsWith('\n'));
        QJsonParseError error;
        const QJsonObject object = QJsonDocument::fromJson(line, &error).object();
        QCOMPARE(error.error, QJsonParseError::NoError);
        const QStringList& keys = RowExport::jsonKeys(Extras::With);
        QCOMPARE(object.keys().size(), keys.size());
        QCOMPARE(object.value("location").toString(), text);
        QCOMPARE(object.value("exit").toString(), text);
        QCOMPARE(object.value("proxy").toString(), QStringLiteral("1.2.3.4:80"));
        QCOMPARE(object.value("judge").toString(), QStringLiteral("http://judge/"));
    }

    void forms()
    {
        RowExport::Row a = rowOf(QStringLiteral("x"));
        RowExport::Row b = rowOf(QStringLiteral("y"));
        b.cells[ProxyRow::Proxy] = QStringLiteral("[::1]:8080");
        QCOMPARE(RowExport::plainLine(b), "[::1]:8080\n");

        const QByteArray array = RowExport::jsonArray({a, b}, Extras::Without);
        const QJsonArray parsed = QJsonDocument::fromJson(array).array();
        QCOMPARE(parsed.size(), 2);
        QCOMPARE(parsed[1].toObject().value("proxy").toString(), QStringLiteral("[::1]:8080"));
        QCOMPARE(parsed[0].toObject().keys().size(), ProxyRow::ColumnCount);
        QVERIFY(!parsed[0].toObject().contains("exit"));
        QCOMPARE(QJsonDocument::fromJson(RowExport::jsonArray({}, Extras::With)).array().size(), 0);
        QCOMPARE(RowExport::csvLine(a, Extras::Without).count(','), ProxyRow::ColumnCount - 1);
    }
};

QTEST_APPLESS_MAIN(tst_RowExport)
#include "tst_RowExport.moc"
