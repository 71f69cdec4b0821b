#include "model/SettingsStore.h"
#include "shell/YieldClock.h"
#include "support/MainWindowFixture.h"
#include "views/ProxyGrid.h"

#include <QtTest>
#include <QtWidgets>

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
        for (ProxyGrid* g : {w.MSH, w.MSH2, w.MSHi, w.MSHi2})
            QCOMPARE(g->Rows(), 2); // the header and one empty row
        w.Form_Load();

        QCOMPARE(w.windowTitle(), QStringLiteral("Corvatel - version 2.1.89"));
        // The drawn icon in every size, for the window, its dialogs and the tray alike.
        QList<int> sizes;
        for (const QSize& size : w.windowIcon().availableSizes())
            sizes << (size.width() == size.height() ? size.width() : -1);
        std::sort(sizes.begin(), sizes.end());
        QCOMPARE(sizes, (QList<int>{16, 22, 24, 32, 48, 64, 128, 256}));
        QCOMPARE(w.TrayX1->icon().cacheKey(), w.windowIcon().cacheKey());
        QCOMPARE(QList<int>({w.widthTwips(), w.heightTwips()}), QList<int>({12000, 7000}));
        const double tpp = w.twipsPerPixel();
        const QRect screen = w.screen()->geometry();
        const double left = screen.width() * tpp / 2 - frmMain::DesignWidth / 2.0;
        const double top = screen.height() * tpp / 2 - frmMain::DesignHeight / 2.0;
        QVERIFY2(std::abs(w.leftTwips() - left) <= tpp, qPrintable(QString::number(w.leftTwips())));
        QVERIFY2(std::abs(w.topTwips() - top) <= tpp, qPrintable(QString::number(w.topTwips())));

        for (ProxyGrid* g : {w.MSH, w.MSH2, w.MSHi, w.MSHi2})
            QCOMPARE(g->font().family() + u' ' + QString::number(g->font().pointSizeF()),
                     QStringLiteral("MS Sans Serif 8"));
        QCOMPARE(w.activeGrid, grid);
        QCOMPARE(QList<bool>({w.MSH->isVisible(), w.MSHi->isVisible(), w.Option2->isChecked()}),
                 QList<bool>({grid == 1, grid == 3, grid == 3}));
        QCOMPARE(w.lastSortOrder, 7);
        // Nothing answered: the service page keeps one empty row and both counts are 0.
        QCOMPARE(w.MSH->Rows(), 2);
        QCOMPARE(w.panelText(1) + u'/' + w.panelText(2), QStringLiteral("0 Main/0 Imported"));
        QVERIFY(w.menuRefresh->isEnabled() && !w.menuStop->isEnabled());
        QVERIFY(w.Timer1->isActive());
    }

    void storedPlaceAndSize_data()
    {
        QTest::addColumn<QStringList>("texts"); // Left, Top, Width, Height
        QTest::addColumn<int>("expectedLeft");  // -1: as designed
        QTest::addColumn<int>("expectedWidth");
        QTest::newRow("numbers") << QStringList{"1500", "900", "9000", "6000"} << 1500 << 9000;
        QTest::newRow("single precision text")
            << QStringList{"1500.0", "900", "9.6E3", "6000"} << 1500 << 9600;
        QTest::newRow("not numbers")
            << QStringList{"left", "900", "wide", "6000"} << -1 << frmMain::DesignWidth;
        QTest::newRow("zero width is a width")
            << QStringList{"1500", "900", "0", "6000"} << 1500 << 0;
        QTest::newRow("out of reach")
            << QStringList{"1e30", "900", "-5", "6000"} << 10000000 << frmMain::DesignWidth;
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
        const int designLeft = w.leftTwips();
        w.Form_Load();

        QCOMPARE(w.leftTwips(), expectedLeft < 0 ? designLeft : expectedLeft);
        QCOMPARE(w.topTwips(), 900);
        QVERIFY(std::abs(w.widthTwips() - expectedWidth) <= w.twipsPerPixel());
        QCOMPARE(w.heightTwips(), 6000);
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
        QCOMPARE(w.MSHi->Rows(), 4);
        QCOMPARE(w.MSHi->TextMatrix(2, 11), QStringLiteral("Oslo"));
        const ProxyTableModel& rows = w.MSHi->rows();
        QCOMPARE(rows.cellForeColor(2, 5), ProxyRow::PassedColour);
        QCOMPARE(rows.cellForeColor(3, 1), ProxyRow::FailedColour);
        QCOMPARE(rows.cellForeColor(1, 1), ProxyRow::NoColour);
        QCOMPARE(w.panelText(2), QStringLiteral("3 Imported"));
        // Bands: odd rows white, even rows in the imported page's colour.
        QCOMPARE(rows.cellBackColor(1, 0), ProxyRow::White);
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

    void layoutWidths()
    {
        MainWindowFixture f;
        frmMain& w = f.create();
        const double tpp = w.twipsPerPixel();
        w.setGeometryTwips(0, 0, 12000, 7000);
        QCOMPARE(w.widthTwips(), 12000);

        // A fresh grid still has its default widths in the hidden columns: the rest would be
        // negative, so the Class column keeps its width the first time.
        ProxyGrid fresh(QStringLiteral("fresh"), w.centralWidget());
        w.SetupGrid(fresh);
        QCOMPARE(fresh.widthTwips(), 11720);
        QCOMPARE(fresh.ColWidth(12), ProxyGrid::DefaultColWidth);
        w.SetupGrid(fresh);
        QCOMPARE(fresh.ColWidth(12), 2720);

        w.Form_Resize();
        QCOMPARE(w.MSHi2->ColWidth(12), ProxyGrid::DefaultColWidth);
        w.Form_Resize();
        const QList<int> widths = {700, 2000, 900, 800, 1600, 1000, 0, 0, 0, 0, 0, 2000, 2720};
        for (ProxyGrid* grid : {w.MSH, w.MSH2, w.MSHi, w.MSHi2}) {
            QCOMPARE(QList<int>({grid->leftTwips(), grid->topTwips(), grid->widthTwips()}),
                     QList<int>({100, 400, 11720}));
            for (int c = 0; c < 13; ++c) {
                QCOMPARE(grid->ColWidth(c), widths.at(c));
                QCOMPARE(grid->isColumnHidden(c), c >= 6 && c <= 10);
            }
            QCOMPARE(grid->TextMatrix(0, 12), QStringLiteral("Class"));
        }
        QCOMPARE(w.MSH->heightTwips(),
                 7000 + frmMain::TitleBarTwips -
                     (400 + int(std::lround(w.statusBar()->sizeHint().height() * tpp)) +
                      frmMain::FrameHeight + 1050));

        // The two pictures sit side by side in the top right corner, above the grids.
        const QRect fb = w.picFB->geometry();
        const QRect tw = w.picTWITTER->geometry();
        QVERIFY(fb.right() < tw.left() && fb.top() == tw.top() && tw.bottom() < w.MSH->y());
        QVERIFY(tw.right() < w.width() && tw.right() > w.width() - 20);
        // Each is a round badge in its own colour with a white letter in the middle.
        for (const auto& [button, colour] : {std::pair{w.picFB, QColor(0x3b, 0x59, 0x98)},
                                             {w.picTWITTER, QColor(0x1d, 0xa1, 0xf2)}}) {
            const QImage badge = button->icon().pixmap(64).toImage();
            QCOMPARE(badge.pixelColor(6, 32), colour);
            QCOMPARE(badge.pixelColor(1, 1).alpha(), 0);
            int white = 0;
            for (int x = 16; x < 48; ++x)
                white += badge.pixelColor(x, 32) == Qt::white;
            QVERIFY(white > 0);
        }

        // A width changed by hand is put back by the next layout.
        w.MSH->setColWidth(1, 500);
        w.Form_Resize();
        QCOMPARE(w.MSH->ColWidth(1), 2000);

        // A narrower window keeps the Class column.
        w.setGeometryTwips(0, 0, 9000, 7000);
        w.Form_Resize();
        QCOMPARE(w.MSH->widthTwips(), 8720);
        QCOMPARE(w.MSH->ColWidth(12), 2720);

        // Narrower still, with a font so large that the boxes have nothing left to give: the row
        // runs past the frame, each box still as wide as its text.
        QFont font = w.font();
        font.setPointSize(20);
        w.setFont(font);
        w.setGeometryTwips(0, 0, 4000, 7000);
        w.Form_Resize();
        const int text = w.cboTYPE->fontMetrics().horizontalAdvance(w.cboTYPE->placeholderText());
        QVERIFY(w.cboTYPE->width() > text);
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
        w.setGeometryTwips(0, 0, width, height);
        QCoreApplication::processEvents();
        w.Form_Resize();

        // The frame ends just above the status bar: no empty strip, no overlap.
        const int frameBottom = w.frame->mapTo(&w, QPoint(0, w.frame->height())).y();
        const int strip = w.statusBar()->y() - frameBottom;
        QVERIFY2(strip >= 0 && strip * w.twipsPerPixel() <= 240,
                 qPrintable(QString::number(strip)));
        const QRect inFrame(w.frame->mapTo(w.centralWidget(), QPoint(0, 0)), w.frame->size());
        QVERIFY(inFrame.contains(w.txtSTAT->geometry()));
        QVERIFY(inFrame.contains(w.ProgressBar1->geometry()));
        QVERIFY(w.txtSTAT->geometry().right() < w.ProgressBar1->x());

        // The filter row: in order, side by side, each wide enough for its neutral text; the boxes
        // on one line and of one height, the (taller) buttons on the same middle.
        const QList<QWidget*> row = {w.cboLOC, w.cboTYPE,     w.cboCLASS,  w.Label1,  w.txtMinSpeed,
                                     w.Label2, w.txtMaxSpeed, w.cmdFilter, w.cmdReset};
        for (int i = 1; i < row.size(); ++i)
            QVERIFY2(row[i - 1]->geometry().right() < row[i]->x(),
                     qPrintable(row[i]->objectName()));
        for (const QWidget* box : row.mid(1, 6))
            QCOMPARE(QList<int>({box->y(), box->height()}),
                     QList<int>({w.cboLOC->y(), w.cboLOC->height()}));
        for (const QWidget* button : {w.cmdFilter, w.cmdReset})
            QCOMPARE(button->geometry().center().y(), w.cboLOC->geometry().center().y());
        QVERIFY(row.last()->geometry().right() < w.frame->width());
        for (QComboBox* combo : {w.cboLOC, w.cboTYPE, w.cboCLASS}) {
            const int text = combo->fontMetrics().horizontalAdvance(combo->placeholderText());
            QVERIFY2(combo->width() >= text + 20, qPrintable(combo->placeholderText()));
        }
        for (QWidget* label : {w.Label1, w.Label2})
            QVERIFY(label->width() >= label->sizeHint().width());

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
        w.setGeometryTwips(1500, 900, 10500, 6000);
        w.setWindowState(Qt::WindowStates(state));
        QCoreApplication::processEvents();

        w.menuExit_Click();
        QCOMPARE(f.terminations, 1);
        SettingsStore reread(f.store->filePath());
        for (int i = 0; i < 4; ++i)
            QCOMPARE(reread.read(QStringList({"Left", "Top", "Width", "Height"}).at(i), "-"),
                     stored[i]);
    }

    void statusTextRefusesInput()
    {
        MainWindowFixture f;
        frmMain& w = f.create();
        w.show();
        w.setStatusText(QStringLiteral("Loading.."));
        w.txtSTAT->setFocus();
        QTest::keyClicks(w.txtSTAT, QStringLiteral("typed"));
        for (int key : {Qt::Key_Backspace, Qt::Key_Return})
            QTest::keyClick(w.txtSTAT, Qt::Key(key));
        QGuiApplication::clipboard()->setText(QStringLiteral("pasted"));
        QTest::keyClick(w.txtSTAT, Qt::Key_V, Qt::ControlModifier);
        w.txtSTAT->paste();
        QCOMPARE(w.statusText(), QStringLiteral("Loading.."));
    }

    void enableControlsAndStop()
    {
        MainWindowFixture f;
        frmMain& w = f.create();
        w.enableControls(false);
        for (QAction* a : {w.menuImpProxList, w.menuImpProxSource, w.menuRefresh, w.menuSetup,
                           w.menuTools->menuAction(), w.menuHelp->menuAction()})
            QVERIFY2(!a->isEnabled(), qPrintable(a->text()));
        QVERIFY(!w.Option1->isEnabled() && !w.Option2->isEnabled() && w.menuStop->isEnabled());

        w.setProgressMaximum(10);
        w.setProgressValue(12); // a count past the end fills the bar, no more
        QCOMPARE(w.ProgressBar1->value(), 10);
        w.setProgressValue(5);
        QCOMPARE(w.ProgressBar1->value(), 5);
        w.menuStop->trigger();
        QVERIFY(w.stopRequested.isRequested());
        QCOMPARE(w.statusText(), QStringLiteral("Finished checking proxies.."));
        QCOMPARE(w.ProgressBar1->value(), 0);
        QVERIFY(w.menuRefresh->isEnabled() && !w.menuStop->isEnabled());
    }

    // Settings land in ~/.config/Corvatel, the desktop finds the entry and the icon, and closing
    // the window leaves the program in the tray.
    void applicationSetUp()
    {
        frmMain::setUpApplication();
        QCOMPARE(QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation).section(u'/', -2),
                 QStringLiteral("Corvatel/Corvatel"));
        QCOMPARE(QGuiApplication::desktopFileName(), QStringLiteral("corvatel"));
        QCOMPARE(QApplication::windowIcon().availableSizes().size(), 8);
        QVERIFY(!QApplication::quitOnLastWindowClosed());
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
        QCOMPARE(w.TrayX1->isVisible(), tray);

        w.hide();
        w.restoreFromTray();
        QVERIFY(w.isVisible() && !w.isMinimized() && !w.TrayX1->isVisible());
        // Already visible: only the state goes back to normal.
        w.setWindowState(Qt::WindowMinimized);
        w.restoreFromTray();
        QVERIFY(w.isVisible() && !w.isMinimized());
    }
};

QTEST_MAIN(tst_frmMain)
#include "tst_frmMain.moc"
