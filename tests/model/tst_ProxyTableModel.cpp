#include "model/ProxyTableModel.h"

#include <QAbstractItemModelTester>
#include <QColor>
#include <QSignalSpy>
#include <QTest>

#include <functional>

using Edit = std::function<void(ProxyTableModel&)>;
Q_DECLARE_METATYPE(Edit)

class tst_ProxyTableModel : public QObject
{
    Q_OBJECT

    static QRgb colourOf(int position) { return 0xFF000000u + QRgb(position + 1); }

    // One row per value, in column col; the row's first position in the Class column and a text
    // colour unique to it (corners given in reverse) show where each row went.
    static void fill(ProxyTableModel& m, const QStringList& values, int col = ProxyRow::Proxy)
    {
        m.setRows(1);
        for (int i = 0; i < values.size(); ++i) {
            m.AddItem(QString());
            m.setTextMatrix(i + 1, col, values[i]);
            m.setTextMatrix(i + 1, ProxyRow::Class, QString::number(i));
            m.setCellForeColor(i + 1, ProxyRow::ColumnCount - 1, i + 1, 0, colourOf(i));
        }
    }

private slots:
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
        const QStringList texts{"b", "B", "a", "", "10", "9", "b"};
        QTest::newRow("text ascending, case-sensitive")
            << int(ProxyTableModel::TextAscending) << texts << QList<int>{3, 4, 5, 1, 2, 0, 6};
        QTest::newRow("text descending")
            << int(ProxyTableModel::TextDescending) << texts << QList<int>{0, 6, 2, 1, 5, 4, 3};
        // Texts alike for longer than the part compared side by side, and prefixes of each other.
        const QString stem = QStringLiteral("2013-05-01 12:34:56.000000");
        const QStringList longTexts{stem + "b",    stem + "a",    stem,
                                    stem.left(20), stem.left(19), stem + "a"};
        QTest::newRow("long texts ascending")
            << int(ProxyTableModel::TextAscending) << longTexts << QList<int>{4, 3, 2, 1, 5, 0};
        QTest::newRow("long texts descending")
            << int(ProxyTableModel::TextDescending) << longTexts << QList<int>{0, 1, 5, 2, 3, 4};
        QList<int> firstOrder; // enough ties that an unstable sort would show
        for (int i = 0; i < 60; ++i)
            firstOrder.append(i);
        QTest::newRow("ties keep their order")
            << int(ProxyTableModel::NumericDescending) << QStringList(60, QStringLiteral("7"))
            << firstOrder;
    }

    void sort()
    {
        QFETCH(int, code);
        QFETCH(QStringList, values);
        QFETCH(QList<int>, order);

        ProxyTableModel m;
        fill(m, values, ProxyRow::Speed);
        QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::QtTest);
        const QPersistentModelIndex firstRow = m.index(0, ProxyRow::Speed);

        m.Sort(m.Rows() - 1, 1, ProxyRow::Speed, code); // corner order does not matter
        for (int r = 1; r < m.Rows(); ++r) {
            QCOMPARE(m.TextMatrix(r, ProxyRow::Class), QString::number(order[r - 1]));
            QCOMPARE(m.cellForeColor(r, ProxyRow::Location), colourOf(order[r - 1]));
        }
        QCOMPARE(firstRow.row(), int(order.indexOf(0)));
    }

    // Each edit of rows c, b, a under the model tester.
    void edits_data()
    {
        QTest::addColumn<Edit>("edit");
        QTest::addColumn<QStringList>("proxies"); // the Proxy column after the edit
        QTest::addColumn<int>("notifications");   // signals to the views

        const auto row = [](const char* name, const QStringList& proxies, int notifications,
                            const Edit& edit) {
            QTest::newRow(name) << edit << proxies << notifications;
        };
        const QStringList cba{"c", "b", "a"};
        row("setRows grows", {"c", "b", "a", "", ""}, 1, [](auto& m) { m.setRows(6); });
        row("setRows shrinks", {"c"}, 1, [](auto& m) { m.setRows(2); });
        row("setRows(0) ignored", cba, 0, [](auto& m) { m.setRows(0); });
        row("header text as row 0", cba, 1, [](auto& m) { m.setTextMatrix(0, 1, "Address"); });
        row("AddItem of 14 cells at row 1", {"new", "c", "b", "a"}, 1,
            [](auto& m) { m.AddItem("?\tnew\t0" + QString(9, u'\t') + "LAN\tx\ty", 1); });
        row("AddItem on the header row", cba, 0, [](auto& m) { m.AddItem("x", 0); });
        row("AddItem past the end", cba, 0, [](auto& m) { m.AddItem("x", 5); });
        row("RemoveItem", {"c", "a"}, 1, [](auto& m) { m.RemoveItem(2); });
        row("RemoveItem on the header row", cba, 0, [](auto& m) { m.RemoveItem(0); });
        row("removeRowRange to past the end", {"c"}, 1, [](auto& m) { m.removeRowRange(2, 5); });
        row("appendRows", {"c", "b", "a", "", ""}, 1,
            [](auto& m) { m.appendRows(std::vector<ProxyTableModel::Row>(2)); });
        row("Sort of some rows", {"c", "a", "b", "0"}, 2, [](auto& m) {
            m.AddItem("?\t0");
            m.Sort(3, 2, ProxyRow::Proxy, ProxyTableModel::TextAscending);
        });
        row("Sort by a column past the end", cba, 0, [](auto& m) { m.Sort(1, 3, 13, 7); });
        row("Sort with an unknown code", cba, 0, [](auto& m) { m.Sort(1, 3, ProxyRow::Proxy, 5); });
        row("writes outside the grid", cba, 0, [](auto& m) {
            for (const auto& [r, c] : {std::pair{-1, 0}, {m.Rows(), 0}, {1, -1}, {1, 13}}) {
                m.setTextMatrix(r, c, "x");
                m.setCellBackColor(r, c, r, c, ProxyRow::White);
            }
            m.setRow(0, m.row(m.Rows()));
        });
        row("paintRowBands with no rows", {}, 1, [](auto& m) {
            m.setRows(1);
            m.paintRowBands(ProxyRow::White);
        });
        // While Redraw is off the views hear nothing, then get a single reset.
        row("Redraw off, edits, Redraw on", {"a", "b", "d", "z"}, 1, [](auto& m) {
            m.setRedraw(false);
            m.setRedraw(false);
            m.AddItem("Y\td");
            m.setTextMatrix(1, ProxyRow::Proxy, "z");
            m.Sort(1, 4, ProxyRow::Proxy, ProxyTableModel::TextAscending);
            m.paintRowBands(0xFF123456);
            m.setRedraw(true);
            m.setRedraw(true);
        });
    }

    void edits()
    {
        QFETCH(Edit, edit);
        QFETCH(QStringList, proxies);
        QFETCH(int, notifications);

        ProxyTableModel m;
        fill(m, {"c", "b", "a"});
        QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy spies[] = {
            {&m, &QAbstractItemModel::rowsInserted}, {&m, &QAbstractItemModel::rowsRemoved},
            {&m, &QAbstractItemModel::dataChanged},  {&m, &QAbstractItemModel::layoutChanged},
            {&m, &QAbstractItemModel::modelReset},   {&m, &QAbstractItemModel::headerDataChanged}};

        edit(m);
        int heard = 0;
        for (const QSignalSpy& spy : spies)
            heard += int(spy.size());
        QCOMPARE(heard, notifications);
        QStringList got;
        for (int r = 1; r < m.Rows(); ++r) { // colours go with their rows; new rows have none
            got.append(m.TextMatrix(r, ProxyRow::Proxy));
            bool kept = false;
            const int from = m.TextMatrix(r, ProxyRow::Class).toInt(&kept);
            QCOMPARE(m.cellForeColor(r, 0), kept ? colourOf(from) : ProxyRow::NoColour);
        }
        QCOMPARE(got, proxies);
        QCOMPARE(m.proxyCount(), int(proxies.size() - proxies.count(QString())));
        if (const int at = proxies.indexOf("new") + 1) { // empty cells keep their place
            QCOMPARE(m.TextMatrix(at, ProxyRow::Location), "LAN");
            QCOMPARE(m.TextMatrix(at, ProxyRow::Class), "x"); // the 14th cell is dropped
        }
        for (const auto& [r, c] : {std::pair{-1, 0}, {m.Rows(), 0}, {1, -1}, {1, 13}})
            QVERIFY(m.TextMatrix(r, c).isEmpty() && m.cellForeColor(r, c) == ProxyRow::NoColour);
    }

    void paintRowBands()
    {
        ProxyTableModel m;
        fill(m, {"a", "b", "c", "d", "e"});
        QSignalSpy changed(&m, &QAbstractItemModel::dataChanged);
        const QRgb band = 0xFFD8EFF0;

        m.paintRowBands(band);
        QCOMPARE(changed.size(), 1);
        QCOMPARE(changed[0][1].value<QModelIndex>(), m.index(4, ProxyRow::ColumnCount - 1));
        for (int r = 0; r < m.rowCount(); ++r) // grid row 1 (model row 0) is white
            for (int c = 0; c < m.Cols(); ++c)
                QCOMPARE(m.data(m.index(r, c), Qt::BackgroundRole).value<QColor>(),
                         QColor(r % 2 ? band : ProxyRow::White));
        QCOMPARE(m.data(m.index(1, 3), Qt::ForegroundRole).value<QColor>(), QColor(colourOf(1)));
    }
};

QTEST_GUILESS_MAIN(tst_ProxyTableModel)
#include "tst_ProxyTableModel.moc"
