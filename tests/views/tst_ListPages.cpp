// The list pages through the main window, driven by real key and mouse events.
#include "support/MainWindowFixture.h"
#include "support/TestServers.h"
#include "support/WindowControls.h"
#include "views/ListPages.h"
#include "views/ProxyGrid.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

namespace {

const QStringList serviceRows{"Y|b.example:1|12||2024-03-01 08:00|HTTP||||||Lima|Transparent|",
                              "Y|a.example:1|3||2024-01-02 10:00|HTTP||||||Oslo|Anonymous|",
                              "Y|c.example:1|7||2023-01-01 00:00|HTTPS||||||Oslo|Anonymous|"};

// Proxies that fail a test at once.
QStringList deadRows()
{
    const QString dead = QStringLiteral("localhost:%1").arg(closedLoopbackPort());
    return {"Y|" + dead + "|2||2024-01-01 00:00|HTTP||||||Oslo||",
            "Y|" + dead + "0|4||2024-02-01 00:00|HTTP||||||Oslo||",
            "?|10.9.9.9:80|9|||HTTP||||||Rome||"};
}

QPoint cell(const ProxyGrid& grid, int row)
{
    return grid.visualRect(grid.model()->index(row - 1, ProxyRow::Proxy)).center();
}

void click(ProxyGrid& grid, int row, Qt::MouseButton button = Qt::LeftButton)
{
    QTest::mouseClick(grid.viewport(), button, {}, cell(grid, row));
}

void clickHeader(ProxyGrid& grid, int col, Qt::MouseButton button = Qt::LeftButton)
{
    const QHeaderView* h = grid.horizontalHeader();
    QTest::mouseClick(h->viewport(), button, {},
                      {h->sectionViewportPosition(col) + h->sectionSize(col) / 2, h->height() / 2});
}

QString column(const ProxyGrid& grid, int col, int chars = 1)
{
    QStringList list;
    for (int r = 1; r < grid.Rows(); ++r)
        list << grid.TextMatrix(r, col).left(chars);
    return list.join(u' ');
}

QList<int> selection(const ProxyGrid& grid)
{
    return {grid.Row(), grid.RowSel(), grid.Col(), grid.ColSel()};
}

const QList<int> firstRowSelected{1, 1, 0, ProxyRow::ColumnCount - 1};

// A started window on the given page: the service grid shows `service`, proxy.lst holds
// `imported`.
frmMain& start(MainWindowFixture& f, const QStringList& service, const QStringList& imported,
               int page)
{
    frmMain& w = f.start(imported, page);
    ui::MSH(w)->setRows(1);
    for (const QString& row : service)
        ui::MSH(w)->rows().AddItem(row.chopped(1).replace(u'|', u'\t'));
    ui::MSH(w)->selectWholeRow(1);
    w.pages().buildFilterChoices(page == 1 ? *ui::MSH(w) : *ui::MSHi(w));
    w.activateWindow();
    [&] { QVERIFY(QTest::qWaitForWindowActive(&w)); }();
    return w;
}

// Right-clicks and closes the menu that opens; true when it was the Tools menu with "Test
// Selected Proxies" as its default entry.
bool gridMenu(frmMain& w, const std::function<void()>& rightClick)
{
    bool tools = false;
    // Its own timer: when no menu opens, the look is dropped with it instead of coming later.
    QTimer look;
    look.setSingleShot(true);
    QObject::connect(&look, &QTimer::timeout, &w, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        tools = menu == ui::menuTools(w) && menu->defaultAction() == ui::menuTestProxy(w);
        if (menu)
            menu->close();
    });
    look.start(0);
    rightClick();
    return tools;
}

} // namespace

class tst_ListPages : public QObject
{
    Q_OBJECT

private slots:
    void filterResetAndPages()
    {
        MainWindowFixture f;
        frmMain& w = start(f, serviceRows, {"?|10.1.1.1:80|1|||||||||Rome||"}, 1);
        // The combo boxes take no typing (a letter would pick an entry), the speed boxes digits
        // and Backspace only.
        QTest::keyClicks(ui::cboLOC(w), QStringLiteral("O"));
        QCOMPARE(ListPages::comboText(*ui::cboLOC(w)), QStringLiteral("All Locations"));
        ui::cboLOC(w)->setCurrentIndex(ui::cboLOC(w)->findText(QStringLiteral("Oslo")));
        QTest::keyClick(ui::txtMaxSpeed(w), Qt::Key_End);
        QTest::keyClicks(ui::txtMaxSpeed(w), QStringLiteral("\bx7-."));
        QCOMPARE(ui::txtMaxSpeed(w)->text(), QStringLiteral("7"));
        QTest::keyClick(ui::txtMaxSpeed(w), Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(ui::txtMaxSpeed(w)->selectedText(), QStringLiteral("7"));
        // While the pass runs, Stop is at hand and the Tools menu is not, and the grids take no
        // clicks while the result is filled in.
        QList<bool> stopEnabled;
        connect(ui::menuStop(w), &QAction::changed, &w, [&] {
            stopEnabled << ui::menuStop(w)->isEnabled() << ui::menuTools(w)->isEnabled();
        });
        QList<bool> gridsEnabled;
        connect(&ui::MSH2(w)->rows(), &QAbstractItemModel::modelReset, &w, [&] {
            gridsEnabled << ui::MSH(w)->isEnabled() << ui::MSH2(w)->isEnabled()
                         << ui::frame(w)->isEnabled();
        });
        QTest::mouseClick(ui::cmdFilter(w), Qt::LeftButton);
        QCOMPARE(stopEnabled, (QList<bool>{true, false, false, true}));
        QVERIFY(!gridsEnabled.isEmpty() && !gridsEnabled.contains(true));

        QVERIFY(!ui::MSH(w)->isVisible() && ui::MSH2(w)->isVisible() && ui::MSH2(w)->isEnabled());
        QCOMPARE(column(*ui::MSH2(w), ProxyRow::Proxy), QStringLiteral("a c"));
        QCOMPARE(selection(*ui::MSH2(w)), firstRowSelected);
        QCOMPARE(ui::MSH2(w)->rows().cellBackColor(2, ProxyRow::Class), FilterPass::ServiceBand);
        QCOMPARE(w.activeGrid, 1);
        QVERIFY(ui::frame(w)->isEnabled() && ui::menuTools(w)->isEnabled() &&
                !ui::menuStop(w)->isEnabled());
        // The hidden list still follows its edits, such as a test result written to both grids.
        QSignalSpy sourceChanged(&ui::MSH(w)->rows(), &QAbstractItemModel::dataChanged);
        ui::MSH(w)->rows().setTextMatrix(1, ProxyRow::Speed, QStringLiteral("5"));
        QCOMPARE(sourceChanged.size(), 1);

        // With every control neutral Filter changes nothing, not even the view.
        ui::cboLOC(w)->setCurrentIndex(-1);
        ui::txtMaxSpeed(w)->setText(QStringLiteral("0"));
        QTest::mouseClick(ui::cmdFilter(w), Qt::LeftButton);
        QVERIFY(ui::MSH2(w)->isVisible());

        ui::cboTYPE(w)->setCurrentIndex(0);
        ui::cboCLASS(w)->setCurrentIndex(0);
        ui::txtMinSpeed(w)->setText(QStringLiteral("3"));
        ui::MSH(w)->setRow(3);
        QTest::mouseClick(ui::cmdReset(w), Qt::LeftButton);
        QVERIFY(ui::MSH(w)->isVisible() && ui::MSH(w)->isEnabled());
        QVERIFY(!ui::MSH2(w)->isVisible() && !ui::MSH2(w)->isEnabled());
        QCOMPARE(selection(*ui::MSH(w)), firstRowSelected);
        QCOMPARE(ui::MSH(w)->TopRow(), 1);
        QCOMPARE(ListPages::comboText(*ui::cboTYPE(w)) + ListPages::comboText(*ui::cboCLASS(w)) +
                     ui::txtMinSpeed(w)->text() + ui::txtMaxSpeed(w)->text(),
                 QStringLiteral("All Proxy TypesAll Proxy Classes00"));

        // A page switch shows the page's whole list and offers its own choices only.
        ui::txtMaxSpeed(w)->setText(QStringLiteral("8"));
        QTest::mouseClick(ui::cmdFilter(w), Qt::LeftButton);
        QTest::mouseClick(ui::Option2(w), Qt::LeftButton);
        QCOMPARE(w.activeGrid, 3);
        QVERIFY(ui::MSHi(w)->isVisible() && !ui::MSH(w)->isVisible() && !ui::MSH2(w)->isVisible());
        QCOMPARE(ui::cboLOC(w)->count(), 1);
        QCOMPARE(ui::cboLOC(w)->itemText(0), QStringLiteral("Rome"));
        ui::cboLOC(w)->setCurrentIndex(0);
        ui::txtMaxSpeed(w)->setText(QStringLiteral("0"));
        QTest::mouseClick(ui::cmdFilter(w), Qt::LeftButton);
        QVERIFY(ui::MSHi2(w)->isVisible() && !ui::MSHi(w)->isVisible());
        QTest::mouseClick(ui::Option2(w), Qt::LeftButton); // again: the whole imported list
        QVERIFY(ui::MSHi(w)->isVisible() && !ui::MSHi2(w)->isVisible());
        ui::cboLOC(w)->setCurrentIndex(0);
        ui::txtMaxSpeed(w)->setText(QStringLiteral("8"));
        QTest::mouseClick(ui::Option1(w), Qt::LeftButton);
        QCOMPARE(w.activeGrid, 1);
        QVERIFY(ui::MSH(w)->isVisible() && !ui::MSH2(w)->isVisible() && !ui::MSHi(w)->isVisible() &&
                !ui::MSHi2(w)->isVisible());
        QCOMPARE(ListPages::comboText(*ui::cboLOC(w)), QStringLiteral("All Locations"));
        QCOMPARE(ui::cboLOC(w)->count(), 2);
        QCOMPARE(ui::txtMaxSpeed(w)->text(), QStringLiteral("8"));
    }

    // A paste, or a pass, disables a grid or the filter row; the box the user was in has the
    // focus again afterwards, and a window where nothing had the focus gets none.
    void focusStaysWhereItWas()
    {
        MainWindowFixture f;
        frmMain& w = start(f, serviceRows, {"?|10.1.1.1:80|1|||||||||Rome||"}, 1);
        ui::txtMinSpeed(w)->setFocus();
        QGuiApplication::clipboard()->setText(QStringLiteral("10.9.9.9:80"));
        w.pages().pasteProxies();
        QCOMPARE(w.importedStore().count(), 2);
        QVERIFY(ui::txtMinSpeed(w)->hasFocus());

        ui::txtMaxSpeed(w)->setText(QStringLiteral("8"));
        w.pages().filterPage();
        QVERIFY(ui::MSH2(w)->isVisible() && ui::txtMinSpeed(w)->hasFocus());

        w.pages().resetPage();
        ui::txtMaxSpeed(w)->setText(QStringLiteral("8"));
        ui::txtMinSpeed(w)->clearFocus();
        QCOMPARE(QApplication::focusWidget(), nullptr);
        w.pages().filterPage();
        QVERIFY(ui::MSH2(w)->isVisible());
        QCOMPARE(QApplication::focusWidget(), nullptr);
    }

    void headerSort_data()
    {
        QTest::addColumn<QStringList>("clicks"); // grid:column, "MSH:cell", or a page button
        QTest::addColumn<QString>("proxies");    // the clicked grid's after the last click
        QTest::addColumn<int>("lastSortOrder");
        const QString speed = "MSH:" + QString::number(ProxyRow::Speed);
        const QString proxy = "MSH:" + QString::number(ProxyRow::Proxy);
        QTest::newRow("Speed, fastest first") << QStringList{speed} << "a c b" << 8;
        QTest::newRow("Proxy, descending") << QStringList{proxy} << "c b a" << 8;
        QTest::newRow("Proxy, then Speed slowest first")
            << QStringList{proxy, speed} << "b c a" << 7;
        QTest::newRow("on in the imported grid")
            << QStringList{proxy, "Option2", "MSHi:1"} << "a b c" << 7;
        QTest::newRow("a data row does not sort") << QStringList{proxy, "MSH:cell"} << "c b a" << 8;
    }
    void headerSort()
    {
        QFETCH(QStringList, clicks);
        QFETCH(QString, proxies);
        QFETCH(int, lastSortOrder);
        MainWindowFixture f;
        frmMain& w = start(f, serviceRows, serviceRows, 1);
        ProxyGrid* grid = nullptr;
        for (const QString& step : clicks) {
            if (step == QLatin1String("Option2")) {
                QTest::mouseClick(ui::Option2(w), Qt::LeftButton);
                continue;
            }
            grid = w.findChild<ProxyGrid*>(step.section(u':', 0, 0));
            grid->setRow(3);
            if (step.endsWith(QLatin1String(":cell")))
                click(*grid, 2);
            else
                clickHeader(*grid, step.section(u':', 1).toInt());
        }
        QCOMPARE(column(*grid, ProxyRow::Proxy), proxies);
        QCOMPARE(w.lastSortOrder, lastSortOrder);
        if (clicks.last().endsWith(QLatin1String(":cell")))
            return;
        QCOMPARE(selection(*grid), firstRowSelected);
        // Bands follow the places, not the rows.
        QVERIFY(grid->rows().cellBackColor(1, 0) == ProxyRow::White &&
                grid->rows().cellBackColor(2, 0) != ProxyRow::White);
        // The header's arrow says which column and which way, until rows come that are in no
        // order.
        const QHeaderView* h = grid->horizontalHeader();
        QVERIFY(h->isSortIndicatorShown());
        QCOMPARE(h->sortIndicatorSection(), clicks.last().section(u':', 1).toInt());
        // Up for "a b c" and for the fastest first.
        QCOMPARE(h->sortIndicatorOrder(), proxies == "a b c" || proxies == "a c b"
                                              ? Qt::AscendingOrder
                                              : Qt::DescendingOrder);
        // The sorted grid shows the next change at once.
        QSignalSpy changed(&grid->rows(), &QAbstractItemModel::dataChanged);
        grid->rows().setTextMatrix(1, ProxyRow::Speed, QStringLiteral("1"));
        QCOMPARE(changed.size(), 1);
        grid->rows().AddItem(QStringLiteral("?\td.example:1"));
        QVERIFY(!h->isSortIndicatorShown());
    }

    void gridMenuSkipsNextSortOnMSH()
    {
        MainWindowFixture f;
        frmMain& w = start(f, serviceRows, serviceRows, 2);
        ui::MSHi(w)->setRow(2);
        QVERIFY(gridMenu(w, [&] { click(*ui::MSHi(w), 1, Qt::RightButton); }));
        QCOMPARE(w.activeGrid, 3);
        QCOMPARE(ui::MSHi(w)->Row(), 2); // the menu acts on the selection as it was
        QTest::mouseClick(ui::Option1(w), Qt::LeftButton);
        clickHeader(*ui::MSH(w), ProxyRow::Proxy);
        QCOMPARE(column(*ui::MSH(w), ProxyRow::Proxy), QStringLiteral("b a c"));
        clickHeader(*ui::MSH(w), ProxyRow::Proxy);
        QCOMPARE(column(*ui::MSH(w), ProxyRow::Proxy), QStringLiteral("c b a"));

        // On MSH's header the right button opens the menu and sorts nothing, nor does the next
        // click; without a current row there is no menu.
        QVERIFY(gridMenu(w, [&] { clickHeader(*ui::MSH(w), ProxyRow::Speed, Qt::RightButton); }));
        clickHeader(*ui::MSH(w), ProxyRow::Speed);
        QCOMPARE(w.lastSortOrder, 8);
        ui::MSH(w)->setRow(0);
        QVERIFY(!gridMenu(w, [&] { clickHeader(*ui::MSH(w), ProxyRow::Speed, Qt::RightButton); }));

        // A reload while the imported page's result grid has the focus offers the imported
        // list's choices as they are now.
        QTest::mouseClick(ui::Option2(w), Qt::LeftButton);
        emit ui::MSHi2(w)->gotFocus();
        w.importedStore().add(
            QStringLiteral("Y|d.example:1|5||2024-02-02 10:00|HTTP||||||Quito|Anonymous|"));
        w.loadProxyRemote();
        QVERIFY(ui::cboLOC(w)->findText(QStringLiteral("Quito")) >= 0);
    }

    void testRunsFromTheGrids()
    {
        MainWindowFixture f;
        frmMain& w = start(f, deadRows(), {}, 1);
        ui::txtMinSpeed(w)->setText(QStringLiteral("1"));
        QTest::mouseClick(ui::cmdFilter(w), Qt::LeftButton);
        click(*ui::MSH2(w), 1);
        QCOMPARE(w.activeGrid, 2);
        QTest::keyClick(ui::MSH2(w), Qt::Key_Down, Qt::ShiftModifier);
        QTest::keyClick(ui::MSH2(w), Qt::Key_Return);
        QCOMPARE(column(*ui::MSH2(w), ProxyRow::Active), QStringLiteral("N N ?"));
        QVERIFY(ui::MSH2(w)->hasFocus()); // disabled during the run, the grid has the focus back
        QCOMPARE(column(*ui::MSH(w), ProxyRow::Active), QStringLiteral("Y Y ?"));

        QTest::mouseClick(ui::cmdReset(w), Qt::LeftButton);
        QTest::mouseDClick(ui::MSH(w)->viewport(), Qt::LeftButton, {}, cell(*ui::MSH(w), 2));
        QTest::mouseRelease(ui::MSH(w)->viewport(), Qt::LeftButton, {}, cell(*ui::MSH(w), 2));
        QCOMPARE(column(*ui::MSH(w), ProxyRow::Active), QStringLiteral("Y N ?"));
    }

    // A page shown by its button or key has its grid in the keyboard focus, so that the grid's
    // keys work at once; the keys are held with the buttons.
    void pageKeysAndFocus()
    {
        MainWindowFixture f;
        frmMain& w = start(f, serviceRows, {"?|10.1.1.1:80|1|||||||||Rome||"}, 1);
        const auto press = [&w](int key) {
            QWidget* focus = QApplication::focusWidget();
            QTest::keyClick(focus ? focus : &w, Qt::Key(key), Qt::ControlModifier);
        };
        QTest::mouseClick(ui::Option2(w), Qt::LeftButton);
        QVERIFY(ui::MSHi(w)->hasFocus());
        QApplication::clipboard()->setText(QStringLiteral("10.9.0.1:80"));
        press(Qt::Key_V);
        QCOMPARE(w.importedStore().count(), 2);

        ui::txtMinSpeed(w)->setFocus();
        for (const auto& [key, grid] :
             {std::pair{int(Qt::Key_1), 1}, {Qt::Key_Tab, 3}, {Qt::Key_Tab, 1}, {Qt::Key_2, 3}}) {
            press(key);
            QCOMPARE(w.activeGrid, grid);
            QVERIFY((grid == 1 ? ui::MSH(w) : ui::MSHi(w))->hasFocus());
        }
        w.enableControls(false);
        press(Qt::Key_1);
        QCOMPARE(w.activeGrid, 3);
        w.enableControls(true);
        press(Qt::Key_1);
        QCOMPARE(w.activeGrid, 1);
    }

    void importedPage()
    {
        MainWindowFixture f;
        const QStringList stored = deadRows();
        frmMain& w = start(f, {}, stored, 2);
        ProxyGrid& grid = *ui::MSHi(w);

        // A test in MSHi2 reaches the proxy's row in MSHi too, so it outlasts Reset.
        ui::txtMaxSpeed(w)->setText(QStringLiteral("5"));
        QTest::mouseClick(ui::cmdFilter(w), Qt::LeftButton);
        click(*ui::MSHi2(w), 2);
        QCOMPARE(w.activeGrid, 4);
        // Filtering again from the result grid filters the imported list anew.
        ui::txtMaxSpeed(w)->setText(QStringLiteral("3"));
        QTest::mouseClick(ui::cmdFilter(w), Qt::LeftButton);
        QCOMPARE(column(*ui::MSHi2(w), ProxyRow::Speed), QStringLiteral("2"));
        ui::txtMaxSpeed(w)->setText(QStringLiteral("5"));
        QTest::mouseClick(ui::cmdFilter(w), Qt::LeftButton);
        click(*ui::MSHi2(w), 2);
        QTest::keyClick(ui::MSHi2(w), Qt::Key_Enter, Qt::KeypadModifier);
        QApplication::clipboard()->setText(QStringLiteral("10.9.0.1:80\r\n10.9.0.2:80\r\n"));
        QCOMPARE(column(*ui::MSHi2(w), ProxyRow::Active), QStringLiteral("Y N"));
        QCOMPARE(ui::MSHi2(w)->ColSel(), 0);
        QTest::mouseClick(ui::cmdReset(w), Qt::LeftButton);
        QCOMPARE(column(grid, ProxyRow::Active), QStringLiteral("N Y ?"));
        QVERIFY(w.importedStore().item(0).startsWith(QStringLiteral("N|localhost:")));

        click(grid, 1);
        QTest::keyClick(&grid, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(column(grid, ProxyRow::Proxy, 4), QStringLiteral("loca loca 10.9 10.9 10.9 "));
        QCOMPARE(w.panelText(2), QStringLiteral("5 Imported"));

        // Rows 4 to 1: a block from the current row up to the selection's end.
        grid.setRow(4);
        grid.setRowSel(1);
        QTest::keyClick(&grid, Qt::Key_Delete);
        QCOMPARE(column(grid, ProxyRow::Proxy, 20), QStringLiteral("10.9.0.2:80 "));
        QCOMPARE(f.work.read("proxy.lst"), QByteArray("?|10.9.0.2:80|0|||||||||||\n"));
        QCOMPARE(w.panelText(2), QStringLiteral("1 Imported"));
        QVERIFY(w.statusText().isEmpty() && grid.hasFocus());
        QCOMPARE(QList<int>({grid.Row(), grid.RowSel()}), QList<int>({1, 1}));
        QTest::keyClick(&grid, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(selection(grid), (QList<int>{1, 2, 0, ProxyRow::ColumnCount - 1}));
    }

    // Ctrl+Z takes back the last import, or a delete of every row (asked first), on the imported
    // page only and never in the middle of another operation: the grid and proxy.lst are as they
    // were. In a speed box it undoes the typing there. A reload leaves nothing to undo.
    void undo_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("undone");
        QTest::newRow("file import") << "file"
                                     << "Undone: the import of 2 proxies";
        QTest::newRow("web scan") << "scan"
                                  << "Undone: the import of 1 proxy";
        QTest::newRow("delete every row") << "delete"
                                          << "Undone: the delete of 2 proxies";
    }
    void undo()
    {
        QFETCH(QString, change);
        QFETCH(QString, undone);
        MainWindowFixture f;
        FixedServer page(200, "<td>10.9.0.9:80</td> 10.9.9.9:80");
        f.work.write("proxysources.lst",
                     QStringLiteral("http://127.0.0.1:%1/\n").arg(page.serverPort()).toUtf8());
        f.work.write("in.txt", "10.9.0.1:80\n10.9.9.9:80\n10.9.0.2:80\n");
        f.runDialog = [](QDialog& dialog) {
            if (dialog.objectName() == QLatin1String("frmImport")) {
                dialog.findChild<QPushButton*>(QStringLiteral("cmdScan"))->click();
                dialog.findChild<QPushButton*>(QStringLiteral("commandOK"))->click();
            }
            return 0;
        };
        frmMain& w = start(f, serviceRows, deadRows().mid(1), 2);
        ProxyGrid& grid = *ui::MSHi(w);
        auto* undo = ui::named<QAction>(w, "menuUndo");
        QVERIFY(!undo->isEnabled());
        const QString before = column(grid, ProxyRow::Proxy, 30) + column(grid, ProxyRow::Active);
        const QByteArray saved = f.work.read("proxy.lst");

        if (change == "file") {
            f.prompts.answers << f.work.filePath("in.txt");
            ui::menuImpProxList(w)->trigger();
        } else if (change == "scan") {
            ui::menuImpProxSource(w)->trigger();
        } else {
            f.prompts.answers << "no"
                              << "yes";
            QTest::keyClick(&grid, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClick(&grid, Qt::Key_Delete);
            QCOMPARE(w.importedStore().count(), 2);
            QVERIFY(!undo->isEnabled());
            QTest::keyClick(&grid, Qt::Key_Delete);
            QCOMPARE(f.prompts.asked.last(),
                     QStringLiteral("Corvatel: Delete all 2 proxies of the imported list?"));
        }
        QVERIFY(f.work.read("proxy.lst") != saved);
        QVERIFY(undo->isEnabled());
        w.enableControls(false);
        QVERIFY(!undo->isEnabled());
        w.enableControls(true);
        QTest::keyClick(&grid, Qt::Key_1, Qt::ControlModifier);
        QVERIFY(!undo->isEnabled());
        QTest::keyClick(ui::MSH(w), Qt::Key_2, Qt::ControlModifier);

        QLineEdit& speed = *ui::txtMinSpeed(w);
        const QString typed = speed.text();
        speed.setFocus();
        QTest::keyClicks(&speed, QStringLiteral("5"));
        QTest::keyClick(&speed, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(speed.text(), typed);
        QVERIFY(undo->isEnabled());

        QTest::keyClick(&grid, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(column(grid, ProxyRow::Proxy, 30) + column(grid, ProxyRow::Active), before);
        QCOMPARE(grid.verticalHeader()->count(), grid.rows().rowCount()); // the view was told
        QCOMPARE(f.work.read("proxy.lst"), saved);
        QCOMPARE(w.statusText(), undone);
        QVERIFY(!undo->isEnabled() && grid.hasFocus());

        QApplication::clipboard()->setText(QStringLiteral("10.9.0.7:80"));
        QTest::keyClick(&grid, Qt::Key_V, Qt::ControlModifier);
        QVERIFY(undo->isEnabled());
        ui::menuRefresh(w)->trigger();
        QVERIFY(!undo->isEnabled());
    }
};

QTEST_MAIN(tst_ListPages)
#include "tst_ListPages.moc"
