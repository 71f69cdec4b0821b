#include "model/ProxyTableModel.h"

#include <QAbstractItemModelTester>
#include <QColor>
#include <QSignalSpy>
#include <QTest>

namespace {

// One row per value, value in column col, the row's original position in column 12 and a text
// colour unique to that position, so tests can see where each row went.
void fill(ProxyTableModel& m, const QStringList& values, int col = ProxyRow::Proxy)
{
    m.setRows(1);
    for (int i = 0; i < values.size(); ++i) {
        m.AddItem(QString());
        m.setTextMatrix(i + 1, col, values[i]);
        m.setTextMatrix(i + 1, ProxyRow::Class, QString::number(i));
        m.setCellForeColor(i + 1, 0, i + 1, ProxyRow::ColumnCount - 1, 0xFF000000u + QRgb(i + 1));
    }
}

QStringList column(const ProxyTableModel& m, int col)
{
    QStringList out;
    for (int r = 1; r < m.Rows(); ++r)
        out.append(m.TextMatrix(r, col));
    return out;
}

} // namespace

class tst_ProxyTableModel : public QObject
{
    Q_OBJECT

private slots:
    void modelTesterOverOperations()
    {
        ProxyTableModel m;
        QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::QtTest);

        m.setRows(6);
        m.setTextMatrix(1, ProxyRow::Proxy, "1.2.3.4:80");
        m.AddItem("Y\t5.6.7.8:3128\t2", 2);
        m.AddItem("N\t9.9.9.9:1\t10");
        m.RemoveItem(4);
        m.setCellForeColor(1, 0, 3, 12, ProxyRow::PassedColour);
        m.Sort(1, m.Rows() - 1, ProxyRow::Speed, ProxyTableModel::NumericDescending);
        m.paintRowBands(0xFFF0F0E6);
        m.appendRows(std::vector<ProxyTableModel::Row>(3));
        m.removeRowRange(2, 3);
        m.setRedraw(false);
        m.setRows(50);
        m.Sort(1, 49, ProxyRow::Active, ProxyTableModel::TextAscending);
        m.setRedraw(true);
        m.setRows(1);
        QCOMPARE(m.rowCount(), 0);
    }

    void sort_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QStringList>("values");
        QTest::addColumn<QList<int>>("order"); // original positions after the sort

        const QStringList numbers{"10", "9", "", "abc", "2.5", " 3 s", "-1", "+4", "2.25"};
        QTest::newRow("numeric ascending") << int(ProxyTableModel::NumericAscending) << numbers
                                           << QList<int>{6, 2, 3, 8, 4, 5, 7, 1, 0};
        QTest::newRow("numeric descending") << int(ProxyTableModel::NumericDescending) << numbers
                                            << QList<int>{0, 1, 7, 5, 4, 8, 2, 3, 6};
        // Enough rows that an unstable sort would show.
        QStringList ties;
        QList<int> tieOrder;
        for (int i = 0; i < 60; ++i)
            ties.append(QString::number(i % 3));
        for (int value : {2, 1, 0})
            for (int i = value; i < 60; i += 3)
                tieOrder.append(i);
        QTest::newRow("many ties keep their order")
            << int(ProxyTableModel::NumericDescending) << ties << tieOrder;
        const QStringList texts{"b", "B", "a", "", "10", "9", "b"};
        QTest::newRow("text ascending, case-sensitive")
            << int(ProxyTableModel::TextAscending) << texts << QList<int>{3, 4, 5, 1, 2, 0, 6};
        QTest::newRow("text descending")
            << int(ProxyTableModel::TextDescending) << texts << QList<int>{0, 6, 2, 1, 5, 4, 3};
    }

    void sort()
    {
        QFETCH(int, code);
        QFETCH(QStringList, values);
        QFETCH(QList<int>, order);

        ProxyTableModel m;
        fill(m, values, ProxyRow::Speed);
        const QPersistentModelIndex firstRow = m.index(0, ProxyRow::Speed);
        QSignalSpy layout(&m, &QAbstractItemModel::layoutChanged);

        m.Sort(m.Rows() - 1, 1, ProxyRow::Speed, code); // corner order does not matter
        QCOMPARE(layout.size(), 1);
        for (int r = 1; r < m.Rows(); ++r) {
            const int from = order[r - 1];
            QCOMPARE(m.TextMatrix(r, ProxyRow::Class), QString::number(from));
            QCOMPARE(m.TextMatrix(r, ProxyRow::Speed), values[from]);
            QCOMPARE(m.cellForeColor(r, ProxyRow::Location), 0xFF000000u + QRgb(from + 1));
        }
        QCOMPARE(firstRow.row(), int(order.indexOf(0)));

        // Only the given range moves.
        fill(m, {"c", "b", "a", "0"});
        m.Sort(2, 3, ProxyRow::Proxy, code);
        QCOMPARE(m.TextMatrix(1, ProxyRow::Proxy), "c");
        QCOMPARE(m.TextMatrix(4, ProxyRow::Proxy), "0");
    }

    void setRows_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<int>("expected");

        QTest::newRow("grow") << 3 << 7 << 7;
        QTest::newRow("shrink") << 7 << 3 << 3;
        QTest::newRow("header only") << 5 << 1 << 1;
        QTest::newRow("zero ignored") << 4 << 0 << 4;
        QTest::newRow("negative ignored") << 4 << -2 << 4;
    }

    void setRows()
    {
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(int, expected);

        ProxyTableModel m;
        QStringList values;
        for (int i = 1; i < from; ++i)
            values.append(QString::number(i));
        fill(m, values);
        QSignalSpy inserted(&m, &QAbstractItemModel::rowsInserted);
        QSignalSpy removed(&m, &QAbstractItemModel::rowsRemoved);

        m.setRows(to);
        QCOMPARE(m.Rows(), expected);
        QCOMPARE(inserted.size() + removed.size(), expected == from ? 0 : 1);
        for (int r = 1; r < m.Rows(); ++r) {
            QCOMPARE(m.TextMatrix(r, ProxyRow::Proxy), r < from ? QString::number(r) : QString());
            QCOMPARE(m.cellForeColor(r, 0), r < from ? 0xFF000000u + QRgb(r) : ProxyRow::NoColour);
        }
        QCOMPARE(m.proxyCount(), std::min(from, expected) - 1);
    }

    void addAndRemoveItem_data()
    {
        QTest::addColumn<int>("addAt");
        QTest::addColumn<int>("removeAt");
        QTest::addColumn<QStringList>("proxies");

        QTest::newRow("append") << -1 << 0 << QStringList{"a", "b", "new"};
        QTest::newRow("at Rows()") << 3 << 0 << QStringList{"a", "b", "new"};
        QTest::newRow("first data row") << 1 << 0 << QStringList{"new", "a", "b"};
        QTest::newRow("header row refused") << 0 << 0 << QStringList{"a", "b"};
        QTest::newRow("past end refused") << 4 << 0 << QStringList{"a", "b"};
        QTest::newRow("insert then remove") << 2 << 1 << QStringList{"new", "b"};
        QTest::newRow("remove past end") << -1 << 4 << QStringList{"a", "b", "new"};
    }

    void addAndRemoveItem()
    {
        QFETCH(int, addAt);
        QFETCH(int, removeAt);
        QFETCH(QStringList, proxies);

        ProxyTableModel m;
        fill(m, {"a", "b"});
        m.AddItem("?\tnew\t0" + QString(9, u'\t') + "LAN\tx\ty", addAt);
        m.RemoveItem(removeAt);
        QCOMPARE(column(m, ProxyRow::Proxy), proxies);

        const int at = proxies.indexOf("new") + 1;
        if (at > 0) {
            QCOMPARE(m.TextMatrix(at, ProxyRow::Speed), "0");
            QCOMPARE(m.TextMatrix(at, ProxyRow::Reliable), "");
            QCOMPARE(m.TextMatrix(at, ProxyRow::Location), "LAN");
            QCOMPARE(m.TextMatrix(at, ProxyRow::Class), "x"); // the 14th cell is dropped
            QCOMPARE(m.cellForeColor(at, 0), ProxyRow::NoColour);
        }
    }

    void redrawOffGivesOneReset()
    {
        ProxyTableModel m;
        fill(m, {"a", "b", "c"});
        QSignalSpy aboutToReset(&m, &QAbstractItemModel::modelAboutToBeReset);
        QSignalSpy reset(&m, &QAbstractItemModel::modelReset);
        QSignalSpy inserted(&m, &QAbstractItemModel::rowsInserted);
        QSignalSpy changed(&m, &QAbstractItemModel::dataChanged);
        QSignalSpy layout(&m, &QAbstractItemModel::layoutChanged);

        m.setRedraw(false);
        m.setRedraw(false);
        QCOMPARE(aboutToReset.size(), 1);
        m.AddItem("Y\td");
        m.setTextMatrix(1, ProxyRow::Proxy, "z");
        m.Sort(1, 4, ProxyRow::Proxy, ProxyTableModel::TextAscending);
        m.paintRowBands(0xFF123456);
        QCOMPARE(reset.size(), 0);
        m.setRedraw(true);
        m.setRedraw(true);

        QCOMPARE(aboutToReset.size(), 1);
        QCOMPARE(reset.size(), 1);
        QCOMPARE(inserted.size() + changed.size() + layout.size(), 0);
        QCOMPARE(m.rowCount(), 4);
        QCOMPARE(column(m, ProxyRow::Proxy), (QStringList{"b", "c", "d", "z"}));
    }

    void paintRowBands()
    {
        ProxyTableModel m;
        fill(m, {"a", "b", "c", "d", "e"});
        QSignalSpy changed(&m, &QAbstractItemModel::dataChanged);
        const QRgb band = 0xFFD8EFF0;

        m.paintRowBands(band);
        QCOMPARE(changed.size(), 1);
        QCOMPARE(changed[0][0].value<QModelIndex>(), m.index(0, 0));
        QCOMPARE(changed[0][1].value<QModelIndex>(), m.index(4, ProxyRow::ColumnCount - 1));
        for (int r = 1; r < m.Rows(); ++r)
            for (int c = 0; c < m.Cols(); ++c)
                QCOMPARE(m.cellBackColor(r, c), r % 2 ? ProxyRow::White : band);
        QCOMPARE(m.data(m.index(1, 3), Qt::BackgroundRole).value<QColor>(), QColor(band));
        QCOMPARE(m.cellForeColor(2, 0), 0xFF000000u + 2); // text colours stay

        ProxyTableModel empty;
        QSignalSpy none(&empty, &QAbstractItemModel::dataChanged);
        empty.paintRowBands(band);
        QCOMPARE(none.size(), 0);
    }

    void rolesAndHeaders()
    {
        ProxyTableModel m;
        fill(m, {"1.2.3.4:80", ""});
        // Corners in any order; the header row takes no colour.
        m.setCellForeColor(2, 5, 0, 0, ProxyRow::PassedColour);

        QCOMPARE(m.data(m.index(0, 1)).toString(), "1.2.3.4:80");
        QCOMPARE(m.data(m.index(1, 5), Qt::ForegroundRole).value<QColor>(), QColor(0, 192, 0));
        QCOMPARE(m.cellForeColor(1, 6), 0xFF000000u + 1);
        QVERIFY(!m.data(m.index(0, 0), Qt::BackgroundRole).isValid());
        QCOMPARE(m.proxyCount(), 1);

        QCOMPARE(m.headerData(3, Qt::Horizontal).toString(), "Reliable");
        QVERIFY(!m.headerData(0, Qt::Vertical).isValid());
        m.setTextMatrix(0, ProxyRow::Proxy, "Address");
        QCOMPARE(m.headerData(ProxyRow::Proxy, Qt::Horizontal).toString(), "Address");
        QCOMPARE(m.TextMatrix(0, ProxyRow::Proxy), "Address");
        QCOMPARE(m.Rows(), 3); // the header row is not a data row
    }

    void outOfRangeIsIgnored()
    {
        ProxyTableModel m;
        fill(m, {"a", "b"});
        QSignalSpy changed(&m, &QAbstractItemModel::dataChanged);
        QSignalSpy removed(&m, &QAbstractItemModel::rowsRemoved);
        QSignalSpy layout(&m, &QAbstractItemModel::layoutChanged);

        for (const auto& [r, c] : {std::pair{-1, 0}, {3, 0}, {1, -1}, {1, 13}}) {
            QCOMPARE(m.TextMatrix(r, c), "");
            QCOMPARE(m.cellForeColor(r, c), ProxyRow::NoColour);
            m.setTextMatrix(r, c, "x");
            m.setCellBackColor(r, c, r, c, ProxyRow::White);
        }
        QVERIFY(m.row(3).cells[ProxyRow::Proxy].isEmpty());
        m.setRow(0, m.row(1));
        m.removeRowRange(3, 5);
        m.RemoveItem(0);
        m.Sort(1, 2, 13, ProxyTableModel::TextAscending);
        m.Sort(1, 2, ProxyRow::Proxy, 5);
        QVERIFY(!m.data(m.index(5, 0)).isValid());

        QCOMPARE(changed.size() + removed.size() + layout.size(), 0);
        QCOMPARE(column(m, ProxyRow::Proxy), (QStringList{"a", "b"}));
        QCOMPARE(m.headerData(0, Qt::Horizontal).toString(), "Active");
    }
};

QTEST_GUILESS_MAIN(tst_ProxyTableModel)
#include "tst_ProxyTableModel.moc"
