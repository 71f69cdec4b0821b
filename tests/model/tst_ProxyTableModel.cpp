#include "model/ProxyTableModel.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

#include <functional>

using Edit = std::function<void(ProxyTableModel&)>;
Q_DECLARE_METATYPE(Edit)

struct Paint
{
    bool fore;
    int row1, col1, row2, col2;
    ProxyRow::Colour colour;
};
using Paints = QList<Paint>;
Q_DECLARE_METATYPE(Paints)

class tst_ProxyTableModel : public QObject
{
    Q_OBJECT

    static ProxyRow::Colour colourOf(int position)
    {
        return 0xFF000000u + ProxyRow::Colour(position + 1);
    }

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

        // "1.5.9" counts as 1.5: the number ends at its second decimal point.
        const QStringList numbers{"10", "9", "", "abc", "2.5", " 3 s", "-1", "+4", "2.25", "1.5.9"};
        QTest::newRow("numeric ascending") << int(ProxyTableModel::NumericAscending) << numbers
                                           << QList<int>{6, 2, 3, 9, 8, 4, 5, 7, 1, 0};
        QTest::newRow("numeric descending") << int(ProxyTableModel::NumericDescending) << numbers
                                            << QList<int>{0, 1, 7, 5, 4, 8, 9, 2, 3, 6};
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
        // Addresses by their numbers (IPv4 below IPv6), then the port; anything else after them.
        const QStringList proxies{"10.0.0.2:80",     "9.0.0.1:8080",  "[::1]:80",
                                  "localhost:8643",  "10.0.0.2:3128", "",
                                  "[2001:db8::1]:1", "10.0.0.10:1",   "1.2.3.4:0"};
        QTest::newRow("addresses ascending") << int(ProxyTableModel::AddressAscending) << proxies
                                             << QList<int>{1, 0, 4, 7, 2, 6, 5, 8, 3};
        QTest::newRow("addresses descending") << int(ProxyTableModel::AddressDescending) << proxies
                                              << QList<int>{6, 2, 7, 4, 0, 1, 3, 8, 5};
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

    // A long sort that serves the window goes by steps and gives what a sort in one go gives,
    // ties in their old order included; rows added or removed meanwhile stop it.
    void servedSort()
    {
        const auto build = [](ProxyTableModel& m) {
            m.setRows(1);
            std::vector<ProxyTableModel::Row> rows(20000);
            for (int i = 0; i < int(rows.size()); ++i) {
                auto& cells = rows[size_t(i)].cells;
                // Few distinct values, some longer than the sort's fixed-width head.
                cells[ProxyRow::Tested] = QStringLiteral("2013-10-%1 10:00:00 and some more %2")
                                              .arg(i * 7919 % 13)
                                              .arg(i % 3);
                cells[ProxyRow::Speed] = QString::number(i * 104729 % 17) + QStringLiteral(".5");
                cells[ProxyRow::Class] = QString::number(i);
            }
            m.appendRows(std::move(rows));
        };
        const auto classes = [](const ProxyTableModel& m) {
            QStringList out;
            for (int r = 1; r < m.Rows(); ++r)
                out << m.TextMatrix(r, ProxyRow::Class);
            return out;
        };
        for (const int col : {int(ProxyRow::Tested), int(ProxyRow::Speed)}) {
            for (const int code :
                 {ProxyTableModel::NumericAscending, ProxyTableModel::NumericDescending,
                  ProxyTableModel::TextAscending, ProxyTableModel::TextDescending}) {
                ProxyTableModel inOneGo, bySteps;
                build(inOneGo);
                build(bySteps);
                inOneGo.Sort(1, inOneGo.Rows() - 1, col, code);
                int serves = 0;
                bySteps.Sort(1, bySteps.Rows() - 1, col, code, [&] { ++serves; });
                QVERIFY(serves > 2);
                QCOMPARE(classes(bySteps), classes(inOneGo));
            }
        }

        ProxyTableModel m;
        build(m);
        const QStringList before = classes(m);
        m.Sort(1, m.Rows() - 1, ProxyRow::Tested, ProxyTableModel::TextAscending,
               [&] { m.RemoveItem(m.Rows() - 1); });
        QCOMPARE(classes(m), before.mid(0, m.Rows() - 1));
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
        row("appendCopies of its own rows, in the order given", {"c", "b", "a", "a", "c"}, 1,
            [](auto& m) {
                m.appendCopies(m, {3, 0, 1, 4});
            });
        row("appendCopies of no data row", cba, 0, [](auto& m) { m.appendCopies(m, {0, 4}); });
        row("removeGridRows with repeats and rows outside", {"b"}, 2, [](auto& m) {
            m.removeGridRows({3, -1, 1, 0, 3, 4});
        });
        row("removeGridRows of nothing in the grid", cba, 0, [](auto& m) {
            m.removeGridRows({0, 4, -2});
        });
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
            for (const int c : {-1, 13})
                m.setHeaderText(c, "x");
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
            m.AddItem("Y\te");
            m.removeGridRows({5});
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
            QVERIFY(m.TextMatrix(r, c).isEmpty() && m.cellForeColor(r, c) == ProxyRow::NoColour &&
                    m.cellBackColor(r, c) == ProxyRow::NoColour);
    }

    // Texts of any length and content come back exactly, whichever way they went in, and
    // rewriting one cell leaves the others alone.
    void texts_data()
    {
        QTest::addColumn<QStringList>("cells");

        const auto cells = [](std::initializer_list<std::pair<int, QString>> set) {
            QStringList list(ProxyRow::ColumnCount);
            for (const auto& [col, text] : set)
                list[col] = text;
            return list;
        };
        QTest::newRow("all empty") << cells({});
        QTest::newRow("65 535 characters in all") << cells({{0, "a"}, {12, QString(65534, u'b')}});
        QTest::newRow("65 536 characters in all") << cells({{0, "a"}, {12, QString(65535, u'b')}});
        QTest::newRow("70 000 characters in a middle cell")
            << cells({{5, "L"}, {6, QString(70000, u'm')}, {7, "R"}, {11, "Oslo"}});
        QTest::newRow("NUL and lone surrogates")
            << cells({{1, QString(QChar(0))}, {2, QString(QChar(0xD800))}, {3, u"\xDCFFx"_qs}});
    }

    void texts()
    {
        QFETCH(QStringList, cells);

        ProxyTableModel::Row given;
        std::copy(cells.begin(), cells.end(), given.cells.begin());
        ProxyTableModel m;
        m.setRows(3);
        m.setRow(1, given);
        for (int c = 0; c < m.Cols(); ++c)
            m.setTextMatrix(2, c, cells[c]);
        m.appendRows({given});
        m.AddItem(cells.join(u'\t'));
        QCOMPARE(m.Rows(), 5);

        const auto check = [&m](int r, const QStringList& want) {
            for (int c = 0; c < m.Cols(); ++c)
                QVERIFY2(m.TextMatrix(r, c) == want[c] && m.cell(r, c) == want[c] &&
                             m.data(m.index(r - 1, c)).toString() == want[c] &&
                             m.row(r).cells[size_t(c)] == want[c],
                         qPrintable(QStringLiteral("row %1, column %2").arg(r).arg(c)));
        };
        for (int r = 1; r < m.Rows(); ++r)
            check(r, cells);
        for (const int col : {0, 6, 12}) {
            for (const QString& text : {QString(70000, u'z'), QString(), cells[col]}) {
                QStringList want = cells;
                want[col] = text;
                m.setTextMatrix(1, col, text);
                check(1, want);
            }
        }
    }

    // Colours of single cells and of whole rows, through edits, exchanges, a sort, bands and
    // copies, against a plain table of what each cell should have.
    void cellColours_data()
    {
        QTest::addColumn<Paints>("paints");

        const ProxyRow::Colour red = ProxyRow::FailedColour;
        const ProxyRow::Colour green = ProxyRow::PassedColour;
        const ProxyRow::Colour blue = 0xFF0000FF;
        const int last = ProxyRow::ColumnCount - 1;
        QTest::newRow("whole rows")
            << Paints{{true, 1, 0, 2, last, red}, {false, 2, 0, 3, last, blue}};
        QTest::newRow("one cell") << Paints{{true, 2, 4, 2, 4, red}};
        QTest::newRow("a column band, corners reversed") << Paints{{false, 4, 7, 1, 5, green}};
        QTest::newRow("one cell, then the rest of its row alike")
            << Paints{{true, 2, 4, 2, 4, red}, {true, 2, 0, 2, 3, red}, {true, 2, 5, 2, last, red}};
        QTest::newRow("text and background apart") << Paints{
            {true, 1, 0, 1, 5, red}, {false, 1, 3, 1, last, blue}, {true, 1, 6, 1, last, blue}};
        QTest::newRow("no colour on part of a row")
            << Paints{{true, 3, 0, 3, 8, ProxyRow::NoColour}};
        QTest::newRow("clipped to the grid")
            << Paints{{true, -3, -2, 9, 20, red}, {false, 0, 12, 2, 12, blue}};
    }

    void cellColours()
    {
        QFETCH(Paints, paints);

        constexpr int Count = 4;
        ProxyTableModel m;
        fill(m, {"a", "b", "c", "d"});
        ProxyRow::Colour want[2][Count + 1][ProxyRow::ColumnCount] =
            {}; // [text?][grid row][column]
        for (int r = 1; r <= Count; ++r)
            std::fill(std::begin(want[1][r]), std::end(want[1][r]), colourOf(r - 1));
        for (const Paint& p : paints) {
            for (int r = std::max(std::min(p.row1, p.row2), 1);
                 r <= std::min(std::max(p.row1, p.row2), Count); ++r)
                for (int c = std::max(std::min(p.col1, p.col2), 0);
                     c <= std::min(std::max(p.col1, p.col2), ProxyRow::ColumnCount - 1); ++c)
                    want[p.fore][r][c] = p.colour;
            if (p.fore)
                m.setCellForeColor(p.row1, p.col1, p.row2, p.col2, p.colour);
            else
                m.setCellBackColor(p.row1, p.col1, p.row2, p.col2, p.colour);
        }
        const auto check = [&](const ProxyTableModel& model, const char* step) {
            for (int r = 1; r <= Count; ++r) {
                for (int c = 0; c < ProxyRow::ColumnCount; ++c) {
                    const ProxyRow::Colour back = want[0][r][c];
                    QVERIFY2(
                        model.cellForeColor(r, c) == want[1][r][c] &&
                            model.cellBackColor(r, c) == back &&
                            model.data(model.index(r - 1, c), ProxyTableModel::BackColourRole) ==
                                (back ? QVariant(back) : QVariant()),
                        qPrintable(QStringLiteral("%1: %2, %3").arg(step).arg(r).arg(c)));
                }
            }
        };
        check(m, "painted");

        for (int r = 1; r <= Count; ++r)
            m.setRow(r, m.row(r));
        check(m, "rows written back");

        m.Sort(1, Count, ProxyRow::Proxy, ProxyTableModel::TextDescending);
        for (auto& colours : want)
            std::reverse(std::begin(colours) + 1, std::end(colours));
        check(m, "sorted");

        ProxyTableModel copy;
        copy.setRows(1);
        copy.appendCopies(m, {1, 2, 3, 4});
        copy.setCellForeColor(1, 3, 4, 3, 0xFF654321);
        copy.paintRowBands(0xFF123456);
        check(m, "copies changed");

        m.paintRowBands(0xFFD8EFF0);
        for (int r = 1; r <= Count; ++r)
            std::fill(std::begin(want[0][r]), std::end(want[0][r]),
                      r % 2 ? ProxyRow::White : 0xFFD8EFF0);
        check(m, "banded");
    }

    // Rows removed in many places: one removal per run of adjacent rows, or one reset when the
    // runs are many; either way the right rows go and the others keep their colours.
    void removeGridRows_data()
    {
        QTest::addColumn<QList<int>>("doomed");
        QTest::addColumn<int>("removals");
        QTest::addColumn<int>("resets");

        QTest::newRow("three runs") << QList<int>{98, 10, 11, 12, 50, 99, 100} << 3 << 0;
        QList<int> runs; // every other row
        for (int r = 2; r <= 64; r += 2)
            runs.append(r);
        QTest::newRow("32 runs") << runs << 32 << 0;
        runs.append(1);
        runs.append(66);
        QTest::newRow("33 runs, from the first row") << runs << 0 << 1;
        QList<int> all;
        for (int r = 100; r >= 1; --r)
            all.append(r);
        QTest::newRow("all rows, backwards") << all << 1 << 0;
    }

    void removeGridRows()
    {
        QFETCH(QList<int>, doomed);
        QFETCH(int, removals);
        QFETCH(int, resets);

        QStringList values;
        for (int i = 0; i < 100; ++i)
            values.append(QStringLiteral("p%1").arg(i));
        ProxyTableModel m;
        fill(m, values);
        QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QStringList kept;
        for (int i = 0; i < values.size(); ++i)
            if (!doomed.contains(i + 1))
                kept.append(values[i]);
        const QPersistentModelIndex lastKept =
            kept.isEmpty() ? QModelIndex() : m.index(int(values.indexOf(kept.last())), 0);
        QSignalSpy removed(&m, &QAbstractItemModel::rowsRemoved);
        QSignalSpy reset(&m, &QAbstractItemModel::modelReset);

        m.removeGridRows(std::vector<int>(doomed.begin(), doomed.end()));
        QCOMPARE(removed.size(), removals);
        QCOMPARE(reset.size(), resets);
        QStringList got;
        for (int r = 1; r < m.Rows(); ++r) {
            got.append(m.TextMatrix(r, ProxyRow::Proxy));
            QCOMPARE(m.cellForeColor(r, 0), colourOf(m.TextMatrix(r, ProxyRow::Class).toInt()));
        }
        QCOMPARE(got, kept);
        if (removals > 0)
            QCOMPARE(lastKept.row(), int(kept.size()) - 1);
    }

    // Bands: one notification for the whole table; a row written anew: its cells; one cell: it.
    void dataChangedRanges()
    {
        ProxyTableModel m;
        fill(m, {"a", "b", "c", "d", "e"});
        QSignalSpy changed(&m, &QAbstractItemModel::dataChanged);
        m.paintRowBands(0xFFD8EFF0);
        m.setRow(3, m.row(3));
        m.setTextMatrix(3, 4, QStringLiteral("x"));
        const int last = ProxyRow::ColumnCount - 1;
        const QList<QModelIndex> want{m.index(0, 0),    m.index(4, last), m.index(2, 0),
                                      m.index(2, last), m.index(2, 4),    m.index(2, 4)};
        QList<QModelIndex> got;
        for (const QList<QVariant>& signal : changed)
            got << signal[0].value<QModelIndex>() << signal[1].value<QModelIndex>();
        QCOMPARE(got, want);
        QCOMPARE(m.data(m.index(1, 3), ProxyTableModel::ForeColourRole), QVariant(colourOf(1)));
    }
};

QTEST_GUILESS_MAIN(tst_ProxyTableModel)
#include "tst_ProxyTableModel.moc"
