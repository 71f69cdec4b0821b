#include "support/DarkPalette.h"
#include "views/FilterPass.h"
#include "views/ProxyGrid.h"

#include <QApplication>
#include <QHeaderView>
#include <QImage>
#include <QScopeGuard>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleFactory>
#include <QTest>

#include <algorithm>
#include <cmath>

class tst_ProxyGrid : public QObject
{
    Q_OBJECT

    // WCAG 2 contrast ratio of two sRGB colours.
    static double contrast(const QColor& a, const QColor& b)
    {
        const auto luminance = [](const QColor& c) {
            const auto linear = [](double v) {
                return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
            };
            return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) +
                   0.0722 * linear(c.blueF());
        };
        const auto [dark, light] = std::minmax({luminance(a), luminance(b)});
        return (light + 0.05) / (dark + 0.05);
    }

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

    // The model's colours reach the screen, fitted to the palette: under Fusion with the light
    // palette the backgrounds are white and the band as given; with a dark one, white rows are
    // the base and the band a tint of it. Either way the green, red and plain text, and the
    // highlighted text of selected rows, read at 4.5:1 or better (WCAG 2) on what is under them.
    void coloursReadable_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::addColumn<QRgb>("band");
        QTest::addColumn<bool>("selected");
        for (const bool dark : {false, true})
            for (const QRgb band : {FilterPass::ServiceBand, FilterPass::ImportedResultBand})
                for (const bool selected : {false, true})
                    QTest::addRow("%s, %06x%s", dark ? "dark" : "light", band & 0xFFFFFF,
                                  selected ? ", selected" : "")
                        << dark << band << selected;
    }
    void coloursReadable()
    {
        QFETCH(bool, dark);
        QFETCH(QRgb, band);
        QFETCH(bool, selected);
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        const QPalette palette = dark ? darkPalette() : QApplication::style()->standardPalette();
        QApplication::setPalette(palette);
        const auto restore =
            qScopeGuard([] { QApplication::setPalette(QApplication::style()->standardPalette()); });

        ProxyGrid grid(QStringLiteral("MSH"));
        grid.setGridFont({}, 20, true); // whole pixels of ink, not only edges
        grid.setColWidth(ProxyRow::Proxy, 3000);
        fill(grid, 7);            // the last row white: its neighbour is the one above
        grid.paintRowBands(band); // odd rows white, even ones banded
        const int last = ProxyRow::ColumnCount - 1;
        const QList<ProxyRow::Colour> inks = {ProxyRow::PassedColour, ProxyRow::FailedColour,
                                              ProxyRow::NoColour};
        for (int r = 1; r <= 7; ++r) {
            grid.setTextMatrix(r, ProxyRow::Proxy, QStringLiteral("MWM"));
            grid.rows().setCellForeColor(r, 0, r, last, inks[(r - 1) % 3]);
        }
        grid.setRow(selected ? 1 : 0);
        grid.setCol(0);
        grid.setRowSel(selected ? 7 : 0);
        grid.setColSel(last);
        QCOMPARE(grid.selectionModel()->selectedIndexes().size(), selected ? 7 * (last + 1) : 0);
        const QImage shot = grid.viewport()->grab().toImage();

        const auto backOf = [&](int r) {
            const QRect empty = grid.visualRect(grid.model()->index(r - 1, ProxyRow::Type));
            return QColor(shot.pixel(empty.center()));
        };
        if (!selected) {
            QCOMPARE(backOf(1), palette.color(QPalette::Base));
            if (dark)
                QVERIFY(backOf(2).lightness() > backOf(1).lightness() &&
                        backOf(2).lightness() < 96); // lighter than the base, still dark
            else
                QCOMPARE(backOf(2), QColor(band));
        }
        QList<QColor> seen;
        for (int r = 1; r <= 7; ++r) {
            const QColor back = backOf(r);
            // The ink is the pixel that stands out most; the smoothed edges lie between it and
            // the background.
            const QRect text = grid.visualRect(grid.model()->index(r - 1, ProxyRow::Proxy));
            QColor ink = back;
            for (int y = text.top(); y < text.bottom(); ++y)
                for (int x = text.left(); x < text.right(); ++x)
                    if (QColor c(shot.pixel(x, y)); contrast(c, back) > contrast(ink, back))
                        ink = c;
            const QString what = QStringLiteral("row %1: %2 on %3, %4:1")
                                     .arg(r)
                                     .arg(ink.name(), back.name())
                                     .arg(contrast(ink, back), 0, 'f', 2);
            QVERIFY2(contrast(ink, back) >= 4.5, qPrintable(what));
            // Selected rows show the highlighted text; the others keep their green and red.
            const int red = ink.red(), green = ink.green(), blue = ink.blue();
            const ProxyRow::Colour hue =
                green > red + 64 && green > blue + 64 ? ProxyRow::PassedColour
                : red > green + 64 && red > blue + 64 ? ProxyRow::FailedColour
                                                      : ProxyRow::NoColour;
            QVERIFY2(hue == (selected ? ProxyRow::NoColour : inks[(r - 1) % 3]), qPrintable(what));
            // A white row and a band show the same ink.
            if (r > 3)
                QVERIFY2(ink == seen[r - 4],
                         qPrintable(what + QStringLiteral(" after ") + seen[r - 4].name()));
            seen << ink;
        }
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
