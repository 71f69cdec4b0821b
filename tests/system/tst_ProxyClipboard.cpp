// "Copy Selected Proxies to Clipboard": which cells, in which order, with which line breaks.
#include "support/MainWindowFixture.h"
#include "support/WindowControls.h"
#include "system/ProxyClipboard.h"
#include "views/ProxyGrid.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QTest>

class tst_ProxyClipboard final : public QObject
{
    Q_OBJECT

private slots:
    // Grid rows 1..6 hold proxies A..F; row 7 is the grid's empty last row, never copied.
    void selection_data()
    {
        QTest::addColumn<int>("currentRow");
        QTest::addColumn<int>("selectionEnd");
        QTest::addColumn<QString>("clipboard");

        QTest::newRow("rows 3 to 5") << 3 << 5 << "E\r\nD\r\nC";
        QTest::newRow("rows 5 up to 3") << 5 << 3 << "E\r\nD\r\nC";
        QTest::newRow("header row left out") << 0 << 2 << "B\r\nA";
        QTest::newRow("past the last row") << 5 << 40 << "F\r\nE";
        QTest::newRow("the empty row alone") << 7 << 7 << "";
        QTest::newRow("nothing clears it") << 0 << 0 << "";
    }

    void selection()
    {
        QFETCH(int, currentRow);
        QFETCH(int, selectionEnd);
        QFETCH(QString, clipboard);

        ProxyTableModel rows;
        rows.setRows(8);
        for (int r = 1; r <= 6; ++r)
            rows.setTextMatrix(r, ProxyRow::Proxy, QString(QChar(u'A' + r - 1)));
        QGuiApplication::clipboard()->setText(QStringLiteral("left over"));
        ProxyClipboard::copySelectedProxies(rows, currentRow, selectionEnd);
        QCOMPARE(QGuiApplication::clipboard()->text(), clipboard);
    }

    // The shortcut reaches the command from inside a grid, and the grid with the focus is the one
    // copied from (here the imported page's result grid).
    void ctrlCInTheFocusedGrid()
    {
        MainWindowFixture f;
        f.store->write(QStringLiteral("EMR"), QStringLiteral("2"));
        frmMain& w = f.create();
        w.Form_Load();
        ui::MSH(w)->hide();
        ui::MSHi2(w)->show();
        ui::MSHi2(w)->setRows(4);
        for (int r = 1; r <= 3; ++r)
            ui::MSHi2(w)->setTextMatrix(r, ProxyRow::Proxy, QStringLiteral("10.0.0.%1:80").arg(r));
        ui::MSHi2(w)->setRow(1);
        ui::MSHi2(w)->setRowSel(2);
        w.activateWindow();
        ui::MSHi2(w)->setFocus();
        QTRY_COMPARE(w.activeGrid, 4);

        QTest::keyClick(ui::MSHi2(w), Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(),
                 QStringLiteral("10.0.0.2:80\r\n10.0.0.1:80"));
    }
};

QTEST_MAIN(tst_ProxyClipboard)
#include "tst_ProxyClipboard.moc"
