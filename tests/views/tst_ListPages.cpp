// The list pages through the main window, driven by real key and mouse events.
#include "support/MainWindowFixture.h"
#include "support/TestServers.h"
#include "views/ListPages.h"
#include "views/ProxyGrid.h"

#include <QtTest>
#include <QtWidgets>

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
    f.writeList(imported);
    f.store->write(QStringLiteral("chkCOR"), QStringLiteral("0"));
    f.store->write(QStringLiteral("LastTab"), QString::number(page));
    frmMain& w = f.create();
    w.Form_Load();
    w.MSH->setRows(1);
    for (const QString& row : service)
        w.MSH->rows().AddItem(row.chopped(1).replace(u'|', u'\t'));
    w.MSH->selectWholeRow(1);
    w.buildFilterChoices(page == 1 ? *w.MSH : *w.MSHi);
    w.activateWindow();
    [&] { QVERIFY(QTest::qWaitForWindowActive(&w)); }();
    return w;
}

// Right-clicks and closes the menu that opens; true when it was the Tools menu with "Test
// Selected Proxies" as its default entry.
bool gridMenu(frmMain& w, const std::function<void()>& rightClick)
{
    bool tools = false;
    QTimer::singleShot(0, &w, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        tools = menu == w.menuTools && menu->defaultAction() == w.menuTestProxy;
        if (menu)
            menu->close();
    });
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
        // The combo boxes take no typing, the speed boxes digits and Backspace only.
        QTest::keyClicks(w.cboLOC, QStringLiteral("O \b"));
        QCOMPARE(frmMain::comboText(*w.cboLOC), QStringLiteral("All Locations"));
        w.cboLOC->setCurrentIndex(w.cboLOC->findText(QStringLiteral("Oslo")));
        QTest::keyClick(w.txtMaxSpeed, Qt::Key_End);
        QTest::keyClicks(w.txtMaxSpeed, QStringLiteral("\bx7-."));
        QCOMPARE(w.txtMaxSpeed->text(), QStringLiteral("7"));
        QTest::keyClick(w.txtMinSpeed, Qt::Key_End);
        QTest::keyClicks(w.txtMinSpeed, QStringLiteral("\b5x-"));
        QCOMPARE(w.txtMinSpeed->text(), QStringLiteral("5"));
        w.txtMinSpeed->setText(QStringLiteral("0"));
        // While the pass runs, Stop is at hand and the Tools menu is not, and the grids take no
        // clicks while the result is filled in.
        QList<bool> stopEnabled;
        connect(w.menuStop, &QAction::changed, &w,
                [&] { stopEnabled << w.menuStop->isEnabled() << w.menuTools->isEnabled(); });
        QList<bool> gridsEnabled;
        connect(&w.MSH2->rows(), &QAbstractItemModel::modelReset, &w, [&] {
            gridsEnabled << w.MSH->isEnabled() << w.MSH2->isEnabled() << w.frame->isEnabled();
        });
        QTest::mouseClick(w.cmdFilter, Qt::LeftButton);
        QCOMPARE(stopEnabled, (QList<bool>{true, false, false, true}));
        QVERIFY(!gridsEnabled.isEmpty() && !gridsEnabled.contains(true));

        QVERIFY(!w.MSH->isVisible() && w.MSH2->isVisible() && w.MSH2->isEnabled());
        QCOMPARE(column(*w.MSH2, ProxyRow::Proxy), QStringLiteral("a c"));
        QCOMPARE(selection(*w.MSH2), firstRowSelected);
        QCOMPARE(w.MSH2->rows().cellBackColor(2, ProxyRow::Class), FilterPass::ServiceBand);
        QCOMPARE(w.activeGrid, 1);
        QVERIFY(w.frame->isEnabled() && w.menuTools->isEnabled() && !w.menuStop->isEnabled());
        // The hidden list still follows its edits, such as a test result written to both grids.
        QSignalSpy sourceChanged(&w.MSH->rows(), &QAbstractItemModel::dataChanged);
        w.MSH->rows().setTextMatrix(1, ProxyRow::Speed, QStringLiteral("5"));
        QCOMPARE(sourceChanged.size(), 1);

        // With every control neutral Filter changes nothing, not even the view.
        w.cboLOC->setCurrentIndex(-1);
        w.txtMaxSpeed->setText(QStringLiteral("0"));
        QTest::mouseClick(w.cmdFilter, Qt::LeftButton);
        QVERIFY(w.MSH2->isVisible());

        w.cboTYPE->setCurrentIndex(0);
        w.cboCLASS->setCurrentIndex(0);
        w.txtMinSpeed->setText(QStringLiteral("3"));
        w.MSH->setRow(3);
        QTest::mouseClick(w.cmdReset, Qt::LeftButton);
        QVERIFY(w.MSH->isVisible() && w.MSH->isEnabled());
        QVERIFY(!w.MSH2->isVisible() && !w.MSH2->isEnabled());
        QCOMPARE(selection(*w.MSH), firstRowSelected);
        QCOMPARE(w.MSH->TopRow(), 1);
        QCOMPARE(frmMain::comboText(*w.cboTYPE) + frmMain::comboText(*w.cboCLASS) +
                     w.txtMinSpeed->text() + w.txtMaxSpeed->text(),
                 QStringLiteral("All Proxy TypesAll Proxy Classes00"));

        // A page switch shows the page's whole list and offers its own choices only.
        w.txtMaxSpeed->setText(QStringLiteral("8"));
        QTest::mouseClick(w.cmdFilter, Qt::LeftButton);
        QTest::mouseClick(w.Option2, Qt::LeftButton);
        QCOMPARE(w.activeGrid, 3);
        QVERIFY(w.MSHi->isVisible() && !w.MSH->isVisible() && !w.MSH2->isVisible());
        QCOMPARE(w.cboLOC->count(), 1);
        QCOMPARE(w.cboLOC->itemText(0), QStringLiteral("Rome"));
        w.cboLOC->setCurrentIndex(0);
        w.txtMaxSpeed->setText(QStringLiteral("0"));
        QTest::mouseClick(w.cmdFilter, Qt::LeftButton);
        QVERIFY(w.MSHi2->isVisible() && !w.MSHi->isVisible());
        QTest::mouseClick(w.Option2, Qt::LeftButton); // again: the whole imported list
        QVERIFY(w.MSHi->isVisible() && !w.MSHi2->isVisible());
        w.cboLOC->setCurrentIndex(0);
        w.txtMaxSpeed->setText(QStringLiteral("8"));
        QTest::mouseClick(w.Option1, Qt::LeftButton);
        QCOMPARE(w.activeGrid, 1);
        QVERIFY(w.MSH->isVisible() && !w.MSH2->isVisible() && !w.MSHi->isVisible() &&
                !w.MSHi2->isVisible());
        QCOMPARE(frmMain::comboText(*w.cboLOC), QStringLiteral("All Locations"));
        QCOMPARE(w.cboLOC->count(), 2);
        QCOMPARE(w.txtMaxSpeed->text(), QStringLiteral("8"));
    }

    void pasteLeavesTheFocusWhereItWas()
    {
        MainWindowFixture f;
        frmMain& w = start(f, serviceRows, {"?|10.1.1.1:80|1|||||||||Rome||"}, 2);
        w.txtMinSpeed->setFocus();
        QGuiApplication::clipboard()->setText(QStringLiteral("10.9.9.9:80"));
        w.pages().pasteProxies();
        QCOMPARE(w.importedStore().count(), 2);
        QVERIFY(w.txtMinSpeed->hasFocus());
    }

    // The pass disables the filter row; the box the user was in has the focus again afterwards,
    // and a window where nothing had the focus gets none.
    void filterGivesTheFocusBack()
    {
        MainWindowFixture f;
        frmMain& w = start(f, serviceRows, {}, 1);
        w.txtMaxSpeed->setText(QStringLiteral("8"));
        w.txtMinSpeed->setFocus();
        w.pages().filterPage();
        QVERIFY(w.MSH2->isVisible() && w.txtMinSpeed->hasFocus());

        w.pages().resetPage();
        w.txtMaxSpeed->setText(QStringLiteral("8"));
        w.txtMinSpeed->clearFocus();
        QCOMPARE(QApplication::focusWidget(), nullptr);
        w.pages().filterPage();
        QVERIFY(w.MSH2->isVisible());
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
                QTest::mouseClick(w.Option2, Qt::LeftButton);
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
        // The sorted grid shows the next change at once.
        QSignalSpy changed(&grid->rows(), &QAbstractItemModel::dataChanged);
        grid->rows().setTextMatrix(1, ProxyRow::Speed, QStringLiteral("1"));
        QCOMPARE(changed.size(), 1);
    }

    // A reload while the imported page's result grid has the focus offers the imported list's
    // choices as they are now.
    void reloadOnImportedResultsRebuildsChoices()
    {
        MainWindowFixture f;
        frmMain& w = start(f, serviceRows, serviceRows, 2);
        emit w.MSHi2->gotFocus();
        QCOMPARE(w.activeGrid, 4);
        w.importedStore().add(
            QStringLiteral("Y|d.example:1|5||2024-02-02 10:00|HTTP||||||Quito|Anonymous|"));
        w.loadProxyRemote();
        QVERIFY(w.cboLOC->findText(QStringLiteral("Quito")) >= 0);
    }

    void gridMenuSkipsNextSortOnMSH()
    {
        MainWindowFixture f;
        frmMain& w = start(f, serviceRows, serviceRows, 2);
        w.MSHi->setRow(2);
        QVERIFY(gridMenu(w, [&] { click(*w.MSHi, 1, Qt::RightButton); }));
        QCOMPARE(w.activeGrid, 3);
        QCOMPARE(w.MSHi->Row(), 2); // the menu acts on the selection as it was
        QTest::mouseClick(w.Option1, Qt::LeftButton);
        clickHeader(*w.MSH, ProxyRow::Proxy);
        QCOMPARE(column(*w.MSH, ProxyRow::Proxy), QStringLiteral("b a c"));
        clickHeader(*w.MSH, ProxyRow::Proxy);
        QCOMPARE(column(*w.MSH, ProxyRow::Proxy), QStringLiteral("c b a"));

        // On MSH's header the right button opens the menu and sorts nothing, nor does the next
        // click; without a current row there is no menu.
        QVERIFY(gridMenu(w, [&] { clickHeader(*w.MSH, ProxyRow::Speed, Qt::RightButton); }));
        clickHeader(*w.MSH, ProxyRow::Speed);
        QCOMPARE(w.lastSortOrder, 8);
        w.MSH->setRow(0);
        QVERIFY(!gridMenu(w, [&] { clickHeader(*w.MSH, ProxyRow::Speed, Qt::RightButton); }));
    }

    void testRunsFromTheGrids()
    {
        MainWindowFixture f;
        frmMain& w = start(f, deadRows(), {}, 1);
        w.txtMinSpeed->setText(QStringLiteral("1"));
        QTest::mouseClick(w.cmdFilter, Qt::LeftButton);
        click(*w.MSH2, 1);
        QCOMPARE(w.activeGrid, 2);
        QTest::keyClick(w.MSH2, Qt::Key_Down, Qt::ShiftModifier);
        QTest::keyClick(w.MSH2, Qt::Key_Return);
        QCOMPARE(column(*w.MSH2, ProxyRow::Active), QStringLiteral("N N ?"));
        QVERIFY(w.MSH2->hasFocus()); // disabled during the run, the grid has the focus back
        QCOMPARE(column(*w.MSH, ProxyRow::Active), QStringLiteral("Y Y ?"));

        QTest::mouseClick(w.cmdReset, Qt::LeftButton);
        QTest::mouseDClick(w.MSH->viewport(), Qt::LeftButton, {}, cell(*w.MSH, 2));
        QTest::mouseRelease(w.MSH->viewport(), Qt::LeftButton, {}, cell(*w.MSH, 2));
        QCOMPARE(column(*w.MSH, ProxyRow::Active), QStringLiteral("Y N ?"));
    }

    void importedPage()
    {
        MainWindowFixture f;
        const QStringList stored = deadRows();
        frmMain& w = start(f, {}, stored, 2);
        ProxyGrid& grid = *w.MSHi;

        // A test in MSHi2 reaches the proxy's row in MSHi too, so it outlasts Reset; MSHi2 has
        // no editing keys.
        w.txtMaxSpeed->setText(QStringLiteral("5"));
        QTest::mouseClick(w.cmdFilter, Qt::LeftButton);
        click(*w.MSHi2, 2);
        QCOMPARE(w.activeGrid, 4);
        QTest::keyClick(w.MSHi2, Qt::Key_Enter, Qt::KeypadModifier);
        QApplication::clipboard()->setText(QStringLiteral("10.9.0.1:80\r\n10.9.0.2:80\r\n"));
        for (const auto& [key, modifiers] :
             {std::pair{Qt::Key_Delete, Qt::NoModifier}, std::pair{Qt::Key_V, Qt::ControlModifier},
              std::pair{Qt::Key_A, Qt::ControlModifier}})
            QTest::keyClick(w.MSHi2, key, modifiers);
        QCOMPARE(column(*w.MSHi2, ProxyRow::Active), QStringLiteral("Y N"));
        QCOMPARE(w.MSHi2->ColSel(), 0);
        QTest::mouseClick(w.cmdReset, Qt::LeftButton);
        QCOMPARE(column(grid, ProxyRow::Active), QStringLiteral("N Y ?"));
        QVERIFY(w.importedStore().item(0).startsWith(QStringLiteral("N|localhost:")));

        click(grid, 1);
        QTest::keyClick(&grid, Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(w.importedStore().count(), 3);
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
};

QTEST_MAIN(tst_ListPages)
#include "tst_ListPages.moc"
