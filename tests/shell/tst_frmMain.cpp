#include "base/YieldClock.h"
#include "settings/SettingsStore.h"
#include "support/MainWindowFixture.h"
#include "support/WindowControls.h"
#include "views/ColumnLayout.h"
#include "views/ProxyGrid.h"

#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

#include <cmath>

class tst_frmMain : public QObject
{
    Q_OBJECT

private slots:
    void firstStart_data()
    {
        QTest::addColumn<QString>("lastTab");
        QTest::addColumn<int>("grid");
        QTest::newRow("empty settings") << "" << 1;
        QTest::newRow("imported page last") << "2" << 3;
    }

    void firstStart()
    {
        QFETCH(QString, lastTab);
        QFETCH(int, grid);
        MainWindowFixture f;
        if (!lastTab.isEmpty())
            f.store->write(QStringLiteral("LastTab"), lastTab);
        frmMain& w = f.create();
        w.Form_Load();

        QCOMPARE(ui::TrayX1(w)->icon().cacheKey(), w.windowIcon().cacheKey());
        QVERIFY(ui::Timer1(w)->isActive()); // the clock that times out the window's fetches
        // Centred, whole on the screen with its frame (the screen is narrower than the window
        // is designed).
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const QRect area = w.screen()->availableGeometry();
        QVERIFY(area.contains(w.frameGeometry()));
        QVERIFY(w.frameGeometry().width() == area.width());
        // The frame the desktop adds is not known before the window is shown.
        QVERIFY(std::abs(w.frameGeometry().center().y() - area.center().y()) <= 4);

        for (ProxyGrid* g : {ui::MSH(w), ui::MSH2(w), ui::MSHi(w), ui::MSHi2(w)})
            QCOMPARE(g->font().family() + u' ' + QString::number(g->font().pointSizeF()),
                     QStringLiteral("MS Sans Serif 8"));
        QCOMPARE(w.activeGrid, grid);
        QCOMPARE(QList<bool>({ui::MSH(w)->isVisible(), ui::MSHi(w)->isVisible(),
                              ui::Option2(w)->isChecked()}),
                 QList<bool>({grid == 1, grid == 3, grid == 3}));
    }

    // The headless screen is 12 000 by 9 000 twips; the window always opens whole on it.
    void storedPlaceAndSize_data()
    {
        QTest::addColumn<QStringList>("texts"); // Left, Top, Width, Height
        QTest::addColumn<int>("expectedLeft");  // -1: as designed; -2: as far right as fits
        QTest::addColumn<int>("expectedWidth"); // -1: the screen's
        QTest::newRow("numbers") << QStringList{"1500", "907", "9007", "6000"} << 1500 << 9007;
        QTest::newRow("single precision text")
            << QStringList{"1500.0", "907", "9.6E3", "6000"} << 1500 << 9600;
        QTest::newRow("not numbers") << QStringList{"left", "907", "wide", "6000"} << -1 << -1;
        QTest::newRow("zero width is a width")
            << QStringList{"1500", "907", "0", "6000"} << 1500 << 0;
        QTest::newRow("off the screen to the right")
            << QStringList{"1e30", "907", "9000", "6000"} << -2 << 9000;
        QTest::newRow("off the screen to the left")
            << QStringList{"-4000", "907", "9000", "6000"} << 0 << 9000;
        QTest::newRow("wider than the screen")
            << QStringList{"1500", "907", "99999", "6000"} << 0 << -1;
    }

    void storedPlaceAndSize()
    {
        QFETCH(QStringList, texts);
        QFETCH(int, expectedLeft);
        QFETCH(int, expectedWidth);
        MainWindowFixture f;
        for (int i = 0; i < 4; ++i)
            f.store->write(QStringList({"Left", "Top", "Width", "Height"}).at(i), texts[i]);
        frmMain& w = f.create();
        const int designLeft = w.placement().leftTwips();
        w.Form_Load();

        // The screen less the frame the window has (none before it is first shown).
        const int room = int(
            (w.screen()->availableGeometry().width() - (w.frameGeometry().width() - w.width())) *
            w.twipsPerPixel());
        const int width = expectedWidth < 0 ? room : expectedWidth;
        QCOMPARE(w.placement().leftTwips(), expectedLeft == -1   ? designLeft
                                            : expectedLeft == -2 ? room - width
                                                                 : expectedLeft);
        // Not a whole number of pixels: the place reads back as stored, not as rounded.
        QCOMPARE(w.placement().topTwips(), 907);
        // A width as stored reads back exactly; one brought onto the screen, within a pixel.
        if (texts[2] == QString::number(width))
            QCOMPARE(w.placement().widthTwips(), width);
        QVERIFY(std::abs(w.placement().widthTwips() - width) <= w.twipsPerPixel());
        QCOMPARE(w.placement().heightTwips(), 6000);
    }

    void importedListLoadedAtStart()
    {
        MainWindowFixture f;
        f.work.write("proxy.lst",
                     "?|1.2.3.4:80|0|||||||||||\r\n"
                     "Y|5.6.7.8:3128|2||2024-01-02 10:11|HTTP||||||Oslo|Anonymous proxy|\n"
                     "\n"
                     "N|9.9.9.9:8080|5|||SOCKS5|||||||\n");
        frmMain& w = f.create();
        w.Form_Load();
        QCOMPARE(w.importedStore().count(), 4); // the blank line is kept, not shown
        QCOMPARE(ui::MSHi(w)->Rows(), 4);
        QCOMPARE(ui::MSHi(w)->TextMatrix(2, 11), QStringLiteral("Oslo"));
        const ProxyTableModel& rows = ui::MSHi(w)->rows();
        QCOMPARE(rows.cellForeColor(3, 1), ProxyRow::FailedColour);
        QCOMPARE(w.panelText(2), QStringLiteral("3 Imported"));
        // Bands: odd rows white, even rows in the imported page's colour.
        QCOMPARE(rows.cellBackColor(2, 12), QRgb(0xFFF0EFD8));
    }

    void unreadableListIsReported()
    {
        MainWindowFixture f;
        QVERIFY(QDir(f.work.path()).mkdir(QStringLiteral("proxy.lst")));
        frmMain& w = f.create();
        w.Form_Load();
        QCOMPARE(w.importedStore().count(), 0);
        QVERIFY2(w.statusText().contains(QStringLiteral("proxy.lst")), qPrintable(w.statusText()));
        QVERIFY(!w.statusText().contains(QLatin1Char('\n')));
    }

    // Columns start as designed, keep their widths through resizes (the Class column takes the
    // rest), and each page keeps the widths its user gave them across starts.
    void layoutWidths()
    {
        MainWindowFixture f;
        frmMain& w = f.create();
        w.Form_Load();
        w.placement().setGeometryTwips(0, 0, 12000, 7000);
        w.Form_Resize();
        for (ProxyGrid* grid : {ui::MSH(w), ui::MSH2(w), ui::MSHi(w), ui::MSHi2(w)}) {
            for (int c = 0; c < ProxyRow::ColumnCount; ++c) {
                const bool hidden = c >= ProxyRow::Cookies && c <= ProxyRow::SSL;
                QCOMPARE(grid->isColumnHidden(c), hidden);
                QCOMPARE(grid->ColWidth(c), hidden ? 0 : ColumnLayout::Designed[size_t(c)]);
            }
            QCOMPARE(grid->TextMatrix(0, ProxyRow::Class), QStringLiteral("Class"));
        }
        // The user widens a column of the service page: its result grid follows, the imported
        // page does not, and a resize of the window changes none.
        const double tpp = w.twipsPerPixel();
        ui::MSH(w)->horizontalHeader()->resizeSection(ProxyRow::Location, int(3000 / tpp));
        w.placement().setGeometryTwips(0, 0, 9000, 7000);
        w.Form_Resize();
        QCOMPARE(ui::MSH(w)->widthTwips(), 8720);
        QCOMPARE(ui::MSH2(w)->ColWidth(ProxyRow::Location), 3000);
        const int designed = ColumnLayout::Designed[ProxyRow::Location];
        QCOMPARE(ui::MSHi(w)->ColWidth(ProxyRow::Location), designed);
        QCOMPARE(ui::MSH(w)->ColWidth(ProxyRow::Proxy), 2000);
        w.placement().setGeometryTwips(0, 0, 12000, 7000);
        w.Form_Resize();
        // The two pictures sit side by side in the top right corner, above the grids.
        const QRect fb = ui::picFB(w)->geometry();
        const QRect tw = ui::picTWITTER(w)->geometry();
        QVERIFY(fb.right() < tw.left() && fb.top() == tw.top() && tw.bottom() < ui::MSH(w)->y());
        QVERIFY(tw.right() < w.width() && tw.right() > w.width() - 20);

        // Narrow, with a font so large that the boxes have nothing left to give: the row runs
        // past the frame, each box still as wide as its text.
        QFont font = w.font();
        font.setPointSize(20);
        w.setFont(font);
        w.placement().setGeometryTwips(0, 0, 4000, 7000);
        w.Form_Resize();
        const int text =
            ui::cboTYPE(w)->fontMetrics().horizontalAdvance(ui::cboTYPE(w)->placeholderText());
        QVERIFY(ui::cboTYPE(w)->width() > text);

        // The widths outlast the window; a damaged line leaves the designed ones.
        w.menuExit_Click();
        f.create().Form_Load();
        QCOMPARE(ui::MSH(*f.window)->ColWidth(ProxyRow::Location), 3000);
        QCOMPARE(ui::MSHi2(*f.window)->ColWidth(ProxyRow::Location), designed);
        f.store->write(QStringLiteral("ColumnWidths1"), QStringLiteral("700,2000,x"));
        f.create().Form_Load();
        QCOMPARE(ui::MSH(*f.window)->ColWidth(ProxyRow::Location), designed);
    }

    void filterFrameFitsTheWindow_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("fontSize");
        QTest::newRow("first start") << 12000 << 7000 << 0;
        QTest::newRow("large window") << 27000 << 15000 << 0;
        QTest::newRow("large font") << 12000 << 7000 << 12;
    }

    void filterFrameFitsTheWindow()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(int, fontSize);

        MainWindowFixture f;
        frmMain& w = f.create();
        if (fontSize > 0) {
            QFont font = w.font();
            font.setPointSize(fontSize);
            w.setFont(font);
        }
        w.show();
        w.placement().setGeometryTwips(0, 0, width, height);
        QCoreApplication::processEvents();
        w.Form_Resize();

        // The frame ends just above the status bar: no empty strip, no overlap.
        const int frameBottom = ui::frame(w)->mapTo(&w, QPoint(0, ui::frame(w)->height())).y();
        const int strip = w.statusBar()->y() - frameBottom;
        QVERIFY2(strip >= 0 && strip * w.twipsPerPixel() <= 240,
                 qPrintable(QString::number(strip)));
        const QRect inFrame(ui::frame(w)->mapTo(w.centralWidget(), QPoint(0, 0)),
                            ui::frame(w)->size());
        QVERIFY(inFrame.contains(ui::txtSTAT(w)->geometry()));
        QVERIFY(inFrame.contains(ui::ProgressBar1(w)->geometry()));
        QVERIFY(ui::txtSTAT(w)->geometry().right() < ui::ProgressBar1(w)->x());

        // The filter row: in order, side by side, each combo box wide enough for its neutral text;
        // the (taller) buttons on the same middle as the boxes.
        const QList<QWidget*> row = {ui::cboLOC(w),      ui::cboTYPE(w),     ui::cboCLASS(w),
                                     ui::Label1(w),      ui::txtMinSpeed(w), ui::Label2(w),
                                     ui::txtMaxSpeed(w), ui::cmdFilter(w),   ui::cmdReset(w)};
        for (int i = 1; i < row.size(); ++i)
            QVERIFY2(row[i - 1]->geometry().right() < row[i]->x(),
                     qPrintable(row[i]->objectName()));
        for (const QWidget* button : {ui::cmdFilter(w), ui::cmdReset(w)})
            QCOMPARE(button->geometry().center().y(), ui::cboLOC(w)->geometry().center().y());
        QVERIFY(row.last()->geometry().right() < ui::frame(w)->width());
        for (QComboBox* combo : {ui::cboLOC(w), ui::cboTYPE(w), ui::cboCLASS(w)}) {
            const int text = combo->fontMetrics().horizontalAdvance(combo->placeholderText());
            QVERIFY2(combo->width() >= text + 20, qPrintable(combo->placeholderText()));
        }

        // The third status panel, the external address, takes what the first two leave.
        const auto* panel1 = w.findChild<QLabel*>(QStringLiteral("panel1"));
        const auto* panel3 = w.findChild<QLabel*>(QStringLiteral("panel3"));
        QVERIFY(panel1 && panel3 && panel3->width() > panel1->width());
    }

    void geometryStoredOnlyWhenNormal_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<QStringList>("stored");
        QTest::newRow("normal") << int(Qt::WindowNoState)
                                << QStringList{"1500", "900", "10500", "6000"};
        for (Qt::WindowState state : {Qt::WindowMaximized, Qt::WindowMinimized})
            QTest::addRow("state %d", int(state)) << int(state) << QStringList{"30", "-", "-", "-"};
    }

    void geometryStoredOnlyWhenNormal()
    {
        QFETCH(int, state);
        QFETCH(QStringList, stored);
        MainWindowFixture f;
        f.store->write(QStringLiteral("Left"), QStringLiteral("30"));
        frmMain& w = f.create();
        w.Form_Load();
        w.placement().setGeometryTwips(1500, 900, 10500, 6000);
        w.setWindowState(Qt::WindowStates(state));
        QCoreApplication::processEvents();

        w.menuExit_Click();
        QCOMPARE(f.terminations, 1);
        SettingsStore reread(f.store->filePath());
        for (int i = 0; i < 4; ++i)
            QCOMPARE(reread.read(QStringList({"Left", "Top", "Width", "Height"}).at(i), "-"),
                     stored[i]);
    }

    void enableControlsAndStop()
    {
        MainWindowFixture f;
        frmMain& w = f.create();
        w.enableControls(false);
        for (QAction* a : {ui::menuImpProxList(w), ui::menuImpProxSource(w), ui::menuExport(w),
                           ui::menuRefresh(w), ui::menuSetup(w), ui::menuTools(w)->menuAction(),
                           ui::menuHelp(w)->menuAction()})
            QVERIFY2(!a->isEnabled(), qPrintable(a->text()));
        QVERIFY(!ui::Option1(w)->isEnabled() && !ui::Option2(w)->isEnabled() &&
                ui::menuStop(w)->isEnabled());

        w.setProgressMaximum(10);
        w.setProgressValue(12); // a count past the end fills the bar, no more
        QCOMPARE(ui::ProgressBar1(w)->value(), 10);
        w.setProgressValue(5);
        QCOMPARE(ui::ProgressBar1(w)->value(), 5);
        ui::menuStop(w)->trigger();
        QVERIFY(w.stopRequested.isRequested());
        QCOMPARE(w.statusText(), QStringLiteral("Finished checking proxies.."));
        QCOMPARE(ui::ProgressBar1(w)->value(), 0);
        QVERIFY(ui::menuRefresh(w)->isEnabled() && !ui::menuStop(w)->isEnabled());
    }

    // The desktop finds the entry and the icon, and closing the window leaves the program in the
    // tray.
    void applicationSetUp()
    {
        frmMain::setUpApplication();
        QCOMPARE(QGuiApplication::desktopFileName(), QStringLiteral("corvatel"));
        QVERIFY(!QApplication::windowIcon().isNull() && !QApplication::quitOnLastWindowClosed());
    }

    // A long loop serves the event queue once an interval is up, then not again until the next
    // one is. Tried a few times, so that the machine stalling between two calls cannot fail it.
    void yieldClockServesOncePerInterval()
    {
        bool heldBack = false;
        for (int attempt = 0; attempt < 5 && !heldBack; ++attempt) {
            YieldClock clock;
            bool served = false;
            QTimer::singleShot(0, this, [&] { served = true; });
            QTest::qSleep(YieldClock::IntervalMs + 5);
            QVERIFY(clock.maybeYield() && served);
            heldBack = !clock.maybeYield();
        }
        QVERIFY(heldBack);
    }

    void restoreFromTray()
    {
        MainWindowFixture f;
        frmMain& w = f.create();
        w.show();
        // Minimising goes to the notification area only where there is one; elsewhere the window
        // stays reachable from the task bar.
        w.setWindowState(Qt::WindowMinimized);
        const bool tray = QSystemTrayIcon::isSystemTrayAvailable();
        QCOMPARE(w.isVisible(), !tray);
        QCOMPARE(ui::TrayX1(w)->isVisible(), tray);

        w.hide();
        w.restoreFromTray();
        QVERIFY(w.isVisible() && !w.isMinimized() && !ui::TrayX1(w)->isVisible());
    }
};

QTEST_MAIN(tst_frmMain)
#include "tst_frmMain.moc"
