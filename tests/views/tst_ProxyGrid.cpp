#include "views/ProxyGrid.h"

#include <QHeaderView>
#include <QImage>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

class tst_ProxyGrid : public QObject
{
    Q_OBJECT

    // A shown grid of `rows` data rows.
    static void fill(ProxyGrid& grid, int rows)
    {
        grid.setRows(rows + 1);
        grid.resize(700, 300);
        grid.show();
        QVERIFY(QTest::qWaitForWindowExposed(&grid));
    }
    static QPoint cell(const ProxyGrid& grid, int row, int col = 1)
    {
        return grid.visualRect(grid.model()->index(row - 1, col)).center();
    }
    static QList<int> selection(const ProxyGrid& grid)
    {
        return {grid.Row(), grid.RowSel(), grid.Col(), grid.ColSel()};
    }

private slots:
    void selectionCorners_data()
    {
        QTest::addColumn<QPoint>("from"); // row, column
        QTest::addColumn<QPoint>("to");
        QTest::newRow("up and right") << QPoint(7, 2) << QPoint(4, 5);
        QTest::newRow("down and left") << QPoint(4, 5) << QPoint(7, 2);
        QTest::newRow("down and right") << QPoint(4, 2) << QPoint(7, 5);
        QTest::newRow("up and left") << QPoint(7, 5) << QPoint(4, 2);
    }
    void selectionCorners()
    {
        QFETCH(QPoint, from);
        QFETCH(QPoint, to);
        ProxyGrid grid(QStringLiteral("MSH"));
        fill(grid, 10);
        QTest::mousePress(grid.viewport(), Qt::LeftButton, {}, cell(grid, from.x(), from.y()));
        QTest::mouseMove(grid.viewport(), cell(grid, to.x(), to.y()));
        QTest::mouseRelease(grid.viewport(), Qt::LeftButton, {}, cell(grid, to.x(), to.y()));
        // The current cell is where the pointer stopped, the selection's end where it began.
        QCOMPARE(selection(grid), QList<int>({to.x(), from.x(), to.y(), from.y()}));
        QCOMPARE(QList<int>({grid.selectionTop(), grid.selectionBottom()}), QList<int>({4, 7}));

        // Set in code, the corners make the same block in the view.
        grid.setRow(to.x());
        grid.setCol(to.y());
        grid.setRowSel(from.x());
        grid.setColSel(from.y());
        QCOMPARE(grid.selectionModel()->selectedIndexes().size(), 4 * 4);
        QCOMPARE(grid.currentIndex(), grid.model()->index(to.x() - 1, to.y()));
        QVERIFY(grid.selectionModel()->isSelected(grid.model()->index(from.x() - 1, from.y())));
    }

    void currentRowFollowsShrinkingRows_data()
    {
        QTest::addColumn<bool>("redraw");
        QTest::newRow("drawing") << true;
        QTest::newRow("drawing suspended") << false;
    }
    void currentRowFollowsShrinkingRows()
    {
        QFETCH(bool, redraw);
        ProxyGrid grid(QStringLiteral("MSHi"));
        fill(grid, 10);
        grid.setRow(9);
        grid.setRowSel(8);
        grid.setRedraw(redraw);
        grid.rows().removeRowRange(4, 20);
        QCOMPARE(QList<int>({grid.Row(), grid.RowSel()}), QList<int>({3, 3}));
        grid.setRedraw(true);
        QCOMPARE(grid.currentIndex().row(), 2);
        grid.rows().setRows(1);
        QCOMPARE(QList<int>({grid.Row(), grid.selectionBottom()}), QList<int>({0, 0}));
    }

    void topRowAndJumps()
    {
        QCOMPARE(ProxyGrid(QStringLiteral("empty")).TopRow(), 1);
        ProxyGrid grid(QStringLiteral("MSH"));
        fill(grid, 100);
        grid.setTopRow(40);
        grid.setTopRow(0);
        grid.setTopRow(101);
        QCOMPARE(grid.TopRow(), 40);
        grid.setRow(104);
        grid.setRowSel(105);
        QCOMPARE(grid.RowSel(), 100);
        grid.setRows(103); // current row and selection stay on the row they reached
        QCOMPARE(QList<int>({grid.Row(), grid.RowSel()}), QList<int>({100, 100}));
        grid.setRows(101);

        QTest::keyClick(&grid, Qt::Key_End);
        QCOMPARE(selection(grid), QList<int>({100, 100, 0, ProxyRow::ColumnCount - 1}));
        QVERIFY(grid.TopRow() > 40);
        QCOMPARE(grid.verticalScrollBar()->value(), grid.verticalScrollBar()->maximum());
        QVERIFY(grid.viewport()->rect().contains(cell(grid, 100)));
        grid.setCol(3);
        QTest::keyClick(&grid, Qt::Key_Home, Qt::ShiftModifier);
        QCOMPARE(grid.TopRow(), 1);
        QCOMPARE(selection(grid), QList<int>({1, 1, 0, ProxyRow::ColumnCount - 1}));
    }

    void columnWidth_data()
    {
        QTest::addColumn<int>("twips");
        QTest::addColumn<int>("expected");
        QTest::newRow("zero hides") << 0 << 0;
        QTest::newRow("negative refused") << -15 << 900;
        QTest::newRow("width") << 1500 << 1500;
    }
    // The last column takes the room the others leave, more or less than its own width. A border
    // dragged, or double-clicked to fit the column's text, gives its column the user's width,
    // and neither sorts.
    void columnsByTheUser()
    {
        ProxyGrid grid(QStringLiteral("MSH"));
        fill(grid, 3);
        QHeaderView* h = grid.horizontalHeader();
        const auto room = [&] {
            int used = 0;
            for (int c = 0; c < ProxyRow::Class; ++c)
                used += h->isSectionHidden(c) ? 0 : h->sectionSize(c);
            return grid.viewport()->width() - used;
        };
        for (const int classWidth : {30000, 300}) {
            for (int c = 0; c < ProxyRow::ColumnCount; ++c)
                grid.setColWidth(c, c == ProxyRow::Class ? classWidth : 600);
            QCOMPARE(h->sectionSize(ProxyRow::Class), room());
        }
        QSignalSpy resized(&grid, &ProxyGrid::columnResized);
        QSignalSpy clicked(&grid, &ProxyGrid::gridClicked);
        const int y = h->height() / 2;
        const auto border = [h](int col) {
            return h->sectionViewportPosition(col) + h->sectionSize(col) - 1;
        };
        const int proxyBefore = h->sectionSize(ProxyRow::Proxy);
        const int from = border(ProxyRow::Proxy);
        QTest::mousePress(h->viewport(), Qt::LeftButton, {}, {from, y});
        QTest::mouseMove(h->viewport(), {from + 30, y});
        QTest::mouseRelease(h->viewport(), Qt::LeftButton, {}, {from + 30, y});
        QCOMPARE(h->sectionSize(ProxyRow::Proxy), proxyBefore + 30);
        QVERIFY(std::abs(grid.ColWidth(ProxyRow::Proxy) -
                         (proxyBefore + 30) * ProxyGrid::twipsPerPixel(&grid)) < 1);
        QCOMPARE(resized.last(),
                 (QList<QVariant>{int(ProxyRow::Proxy), grid.ColWidth(ProxyRow::Proxy)}));
        QCOMPARE(h->sectionSize(ProxyRow::Class), room());
        // Just right of a border is the border too: the first column's, here.
        const int activeBefore = h->sectionSize(ProxyRow::Active);
        const int edge = h->sectionViewportPosition(ProxyRow::Proxy) + 1;
        QTest::mousePress(h->viewport(), Qt::LeftButton, {}, {edge, y});
        QTest::mouseMove(h->viewport(), {edge + 20, y});
        QTest::mouseRelease(h->viewport(), Qt::LeftButton, {}, {edge + 20, y});
        QCOMPARE(h->sectionSize(ProxyRow::Active), activeBefore + 20);

        const QString text = QStringLiteral("a speed far longer than its column");
        grid.setTextMatrix(2, ProxyRow::Speed, text);
        QTest::mouseDClick(h->viewport(), Qt::LeftButton, {}, {border(ProxyRow::Speed), y});
        QVERIFY(h->sectionSize(ProxyRow::Speed) > grid.fontMetrics().horizontalAdvance(text));
        QCOMPARE(resized.last().first(), QVariant(int(ProxyRow::Speed)));
        QVERIFY(clicked.isEmpty());
        // Away from a border the header is for sorting.
        QTest::mouseClick(h->viewport(), Qt::LeftButton, {},
                          {h->sectionViewportPosition(ProxyRow::Speed) + 10, y});
        QCOMPARE(clicked.size(), 1);
    }

    void columnWidth()
    {
        QFETCH(int, twips);
        QFETCH(int, expected);
        ProxyGrid grid(QStringLiteral("MSH"));
        grid.setColWidth(3, 900);
        grid.setColWidth(3, twips);
        QCOMPARE(grid.ColWidth(3), expected);
        QCOMPARE(grid.isColumnHidden(3), expected == 0);
    }

    // The model's colours reach the screen: the white and banded backgrounds, the green and red
    // text of tested rows, and the style's own text where no colour is set.
    void coloursOnScreen_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<QRgb>("back");
        QTest::addColumn<QString>("ink"); // which channel of the text stands out, if any
        QTest::newRow("passed, white") << 1 << QRgb(0xFFFFFFFF) << "green";
        QTest::newRow("failed, banded") << 2 << QRgb(0xFFE6F0F0) << "red";
        QTest::newRow("untested, white") << 3 << QRgb(0xFFFFFFFF) << "";
    }
    void coloursOnScreen()
    {
        QFETCH(int, row);
        QFETCH(QRgb, back);
        QFETCH(QString, ink);
        ProxyGrid grid(QStringLiteral("MSH"));
        fill(grid, 4);
        for (int r = 1; r <= 4; ++r)
            grid.setTextMatrix(r, ProxyRow::Proxy, QStringLiteral("MMMMMMMM"));
        grid.paintRowBands(0xFFE6F0F0); // selects row 4, which stays out of the way
        const int last = ProxyRow::ColumnCount - 1;
        grid.rows().setCellForeColor(1, 0, 1, last, ProxyRow::PassedColour);
        grid.rows().setCellForeColor(2, 0, 2, last, ProxyRow::FailedColour);
        const QImage shot = grid.viewport()->grab().toImage();

        const QRect empty = grid.visualRect(grid.model()->index(row - 1, ProxyRow::Type));
        QCOMPARE(QColor(shot.pixel(empty.center())), QColor(back));

        // The darkest pixel of the text.
        const QRect text = grid.visualRect(grid.model()->index(row - 1, ProxyRow::Proxy));
        QColor darkest(Qt::white);
        for (int y = text.top(); y < text.bottom(); ++y)
            for (int x = text.left(); x < text.right(); ++x)
                if (QColor c(shot.pixel(x, y)); c.lightness() < darkest.lightness())
                    darkest = c;
        const int r = darkest.red(), g = darkest.green(), b = darkest.blue();
        const QString got = g > r + 64 && g > b + 64   ? QStringLiteral("green")
                            : r > g + 64 && r > b + 64 ? QStringLiteral("red")
                                                       : QString();
        QVERIFY2(got == ink, qPrintable(darkest.name()));
    }

    void mouseInGridTerms()
    {
        ProxyGrid grid(QStringLiteral("MSH"));
        fill(grid, 10);
        QSignalSpy clicks(&grid, &ProxyGrid::gridClicked);
        QSignalSpy releases(&grid, &ProxyGrid::mouseReleased);
        QSignalSpy doubles(&grid, &ProxyGrid::gridDoubleClicked);
        // The first click is a single click.
        QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, cell(grid, 4));
        QCOMPARE(QList<int>({int(clicks.size()), int(doubles.size())}), QList<int>({1, 0}));
        grid.setRow(2);
        grid.setRowSel(3);

        // A header click is a click on row 0 and selects no column.
        const QHeaderView* h = grid.horizontalHeader();
        QTest::mouseClick(h->viewport(), Qt::LeftButton, {},
                          {h->sectionViewportPosition(2) + 5, h->height() / 2});
        QCOMPARE(QList<int>({int(clicks.size()), grid.MouseRow(), grid.MouseCol()}),
                 QList<int>({2, 0, 2}));
        // The right button is no click and leaves the selection to the menu it opens.
        QTest::mouseClick(grid.viewport(), Qt::RightButton, {}, cell(grid, 8, 4));
        QCOMPARE(QList<int>({int(clicks.size()), grid.MouseRow(), grid.MouseCol()}),
                 QList<int>({2, 8, 4}));
        QCOMPARE(releases.last().at(0).value<Qt::MouseButton>(), Qt::RightButton);
        QCOMPARE(QList<int>({grid.selectionTop(), grid.selectionBottom()}), QList<int>({2, 3}));

        QTest::mouseDClick(grid.viewport(), Qt::LeftButton, {}, cell(grid, 6));
        QTest::mouseRelease(grid.viewport(), Qt::LeftButton, {}, cell(grid, 6));
        QCOMPARE(QList<int>({int(doubles.size()), grid.Row()}), QList<int>({1, 6}));
        // The next click is a click again.
        QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, cell(grid, 5));
        QCOMPARE(doubles.size(), 1);
    }
};

QTEST_MAIN(tst_ProxyGrid)
#include "tst_ProxyGrid.moc"
