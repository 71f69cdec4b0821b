// Every command a user can reach while a long operation serves the event queue, fired in the
// middle of each such operation: nothing crashes, the controls come back, and the imported grid,
// the list in memory and proxy.lst agree, with no stored line lost or doubled.
#include "base/YieldClock.h"
#include "model/ImportedListStore.h"
#include "model/ProxyTableModel.h"
#include "service/ReferenceService.h"
#include "support/MainWindowFixture.h"
#include "support/TestServers.h"
#include "support/WindowControls.h"
#include "views/ProxyGrid.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QHeaderView>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <utility>

namespace {

constexpr int ListLength = 24;

QString serviceLine(int i)
{
    return QStringLiteral("198.51.100.%1:8080|1|100|2024-04-30 12:00:00|HTTP|Yes|Yes|Yes|Yes|No|"
                          "Oslo, Norway|Anonymous proxy|")
        .arg(i + 1);
}

QStringList newProxies(int from)
{
    QStringList proxies;
    for (int i = 0; i < ListLength; ++i)
        proxies << QStringLiteral("203.0.113.%1:3128").arg(from + i);
    return proxies;
}

QStringList proxiesOf(const QStringList& lines)
{
    QStringList proxies;
    for (const QString& line : lines) {
        const QString proxy = ProxyRow::proxyField(line).toString();
        if (!proxy.isEmpty() && !proxy.startsWith(QLatin1String("127.")) &&
            !proxy.startsWith(QLatin1String("0.")))
            proxies << proxy;
    }
    return proxies;
}

QStringList gridProxies(const ProxyGrid& grid)
{
    QStringList proxies;
    for (int r = 1; r < grid.Rows(); ++r) {
        const QString proxy = grid.TextMatrix(r, ProxyRow::Proxy);
        if (!proxy.isEmpty())
            proxies << proxy;
    }
    return proxies;
}

QPoint cell(const ProxyGrid& grid, int row)
{
    return grid.visualRect(grid.model()->index(row - 1, ProxyRow::Proxy)).center();
}

// Closes whatever popup menu opens next, so that a right click's menu does not wait for a user.
void closeNextPopup(QObject* context)
{
    QTimer::singleShot(0, context, [] {
        if (QWidget* popup = QApplication::activePopupWidget())
            popup->close();
    });
}

struct Command
{
    QByteArray name;
    bool inModalDialog; // reachable while a modal dialog of the window is open
    std::function<void(frmMain&)> fire;
};

// An entry of a menu, when it and its menu are enabled.
std::function<void(frmMain&)> menu(const char* action)
{
    return [action](frmMain& w) {
        QAction* a = ui::named<QAction>(w, action);
        if (a->isEnabled() && static_cast<QMenu*>(a->parent())->isEnabled())
            a->trigger();
    };
}

// A click on a button of the window, when a user could make it.
std::function<void(frmMain&)> button(const char* name)
{
    return [name](frmMain& w) {
        QAbstractButton* b = ui::named<QAbstractButton>(w, name);
        if (b->isEnabled() && b->isVisible())
            QTest::mouseClick(b, Qt::LeftButton);
    };
}

// A key pressed wherever the keyboard focus is.
std::function<void(frmMain&)> key(Qt::Key k, Qt::KeyboardModifiers modifiers = {})
{
    return [k, modifiers](frmMain& w) {
        QWidget* focus = QApplication::focusWidget();
        QTest::keyClick(focus ? focus : &w, k, modifiers);
    };
}

// Input to whichever grid the page shows: the hidden ones take none.
std::function<void(frmMain&)> onGrid(const std::function<void(ProxyGrid&)>& input)
{
    return [input](frmMain& w) {
        for (ProxyGrid* g : {ui::MSH(w), ui::MSH2(w), ui::MSHi(w), ui::MSHi2(w)}) {
            if (g->isVisible())
                return input(*g);
        }
    };
}

const QList<Command>& commands()
{
    static const QList<Command> list = {
        {"F5", false, menu("menuRefresh")},
        {"Stop", true, menu("menuStop")},
        {"Esc", true, key(Qt::Key_Escape)},
        {"Setup", false, menu("menuSetup")},
        {"Exit", false, menu("menuExit")},
        {"import file", false, menu("menuImpProxList")},
        {"web source", false, menu("menuImpProxSource")},
        {"Export", false, menu("menuExport")},
        {"Ctrl+T", false, menu("menuTestProxy")},
        {"proxy info", false, menu("menuGetINFO")},
        {"F1", false, menu("menuPROXON")},
        {"F2", false, menu("menuPROXOFF")},
        {"my IP", false, menu("menuWHATIP")},
        {"Ctrl+C", false, menu("menuCopyProx")},
        {"Support", false, menu("menuSupport")},
        {"About", false, menu("menuAbout")},
        {"Main page", false, button("Option1")},
        {"Imported page", false, button("Option2")},
        {"Ctrl+1", false, key(Qt::Key_1, Qt::ControlModifier)},
        {"Ctrl+2", false, key(Qt::Key_2, Qt::ControlModifier)},
        {"Ctrl+Tab", false, key(Qt::Key_Tab, Qt::ControlModifier)},
        // Undo has the delete of the list's last row to take back (see below).
        {"Ctrl+Z", false, key(Qt::Key_Z, Qt::ControlModifier)},
        {"Filter", false, button("cmdFilter")},
        {"Reset", false, button("cmdReset")},
        // The editing keys act in the imported grid only; elsewhere they are no command.
        {"Delete", false, onGrid([](ProxyGrid& g) { QTest::keyClick(&g, Qt::Key_Delete); })},
        {"Ctrl+V", false, onGrid([](ProxyGrid& g) {
             QGuiApplication::clipboard()->setText(newProxies(100).join(u'\n'));
             QTest::keyClick(&g, Qt::Key_V, Qt::ControlModifier);
         })},
        {"Ctrl+A", false,
         onGrid([](ProxyGrid& g) { QTest::keyClick(&g, Qt::Key_A, Qt::ControlModifier); })},
        {"Enter", false, onGrid([](ProxyGrid& g) { QTest::keyClick(&g, Qt::Key_Return); })},
        {"double-click", false, onGrid([](ProxyGrid& g) {
             QTest::mouseDClick(g.viewport(), Qt::LeftButton, {}, cell(g, 1));
         })},
        {"header click", false, onGrid([](ProxyGrid& g) {
             const QHeaderView* h = g.horizontalHeader();
             const int col = ProxyRow::Proxy;
             QTest::mouseClick(
                 h->viewport(), Qt::LeftButton, {},
                 {h->sectionViewportPosition(col) + h->sectionSize(col) / 2, h->height() / 2});
         })},
        {"right click", false, onGrid([](ProxyGrid& g) {
             closeNextPopup(&g);
             QTest::mouseClick(g.viewport(), Qt::RightButton, {}, cell(g, 1));
         })},
        {"tray", true,
         [](frmMain& w) {
             w.setWindowState(Qt::WindowMinimized);
             emit ui::TrayX1(w)->activated(QSystemTrayIcon::Context);
             emit ui::TrayX1(w)->activated(QSystemTrayIcon::Trigger);
         }},
        // The probe runs only while the window sits in the tray.
        {"auto-test tick", true,
         [](frmMain& w) {
             w.setWindowState(Qt::WindowMinimized);
             w.timerPTest_Timer();
         }},
        {"close", false, [](frmMain& w) { w.close(); }},
    };
    return list;
}

} // namespace

class tst_Reentry : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // Every step of a long loop serves the queue, and short lists save and sort by steps.
        YieldClock::setIntervalForTesting(0);
        ImportedListStore::setLongListForTesting(1);
        ProxyTableModel::setSortBlockForTesting(4);

        QStringList service;
        for (int i = 0; i < ListLength; ++i)
            service << serviceLine(i);
        m_work.write(QStringLiteral("list.txt"), service.join(u'\n').toUtf8());
        ReferenceService::Options options;
        options.listFile = m_work.filePath(QStringLiteral("list.txt"));
        QVERIFY2(m_service.start(options), qPrintable(m_service.errorString()));

        QStringList page;
        for (const QString& proxy : newProxies(1))
            page << QStringLiteral("<td>") + proxy + QStringLiteral("</td>");
        m_page = std::make_unique<FixedServer>(200, page.join(u'\n').toUtf8());
        // Every proxy of the imported list answers whatever it is asked, slowly, with a gate page
        // (so the probe page's marker is never there).
        for (int i = 0; i < ListLength; ++i)
            m_slow.push_back(
                std::make_unique<FixedServer>(200, "GATEWAY_INTERFACE=CGI/1.1\n", 150));
        QStringList file;
        for (const QString& proxy : newProxies(50))
            file << proxy;
        m_work.write(QStringLiteral("import.txt"), file.join(u'\n').toUtf8());
    }

    void commandDuringOperation_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<int>("command");
        const struct
        {
            const char* name;
            bool modal;
        } operations[] = {{"load", false},
                          {"text import", false},
                          {"web scan", true},
                          {"filter pass", false},
                          {"delete", false},
                          {"paste", false},
                          {"test run", false},
                          {"parallel test run", false},
                          {"judged test run", false},
                          {"auto-test probe", false},
                          {"page switch", false}};
        for (const auto& op : operations) {
            for (int k = 0; k < commands().size(); ++k) {
                if (op.modal && !commands()[k].inModalDialog)
                    continue;
                QTest::addRow("%s / %s", op.name, commands()[k].name.constData())
                    << QString::fromLatin1(op.name) << k;
            }
        }
    }

    void commandDuringOperation()
    {
        QFETCH(QString, operation);
        QFETCH(int, command);

        MainWindowFixture f;
        f.deployment.serviceUrl = m_service.baseUrl();
        f.deployment.probeUrl = QStringLiteral("http://probe.invalid/");
        f.store->write(QStringLiteral("txtTimeout"), QStringLiteral("6"));
        f.store->write(QStringLiteral("chkTEST"), QStringLiteral("1"));
        f.store->write(QStringLiteral("ParallelTests"),
                       operation == QLatin1String("parallel test run") ? QStringLiteral("4")
                                                                       : QStringLiteral("1"));
        f.store->write(QStringLiteral("LastTab"), QStringLiteral("2"));
        QStringList lines;
        for (const auto& proxy : m_slow)
            lines << QStringLiteral("?|localhost:%1|0|||HTTP||||||||").arg(proxy->serverPort());
        f.writeList(lines);
        // Judges are checked directly first: the command may come during that check.
        if (operation == QLatin1String("judged test run"))
            f.work.write(QStringLiteral("judges.lst"),
                         (m_service.baseUrl() + QStringLiteral("/gate.php\n")).toUtf8());
        f.work.write(QStringLiteral("proxysources.lst"),
                     QStringLiteral("http://127.0.0.1:%1/\n").arg(m_page->serverPort()).toUtf8());
        f.prompts.answers << f.work.filePath(QStringLiteral("import.txt"));
        frmMain& w = f.create();
        w.Form_Load();
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QCOMPARE(w.activeGrid, 3);
        QCOMPARE(w.importedStore().count(), ListLength);
        const Command& c = commands().at(command);
        if (c.name == QByteArrayLiteral("Ctrl+Z")) {
            ui::MSHi(w)->selectWholeRow(ListLength);
            QTest::keyClick(ui::MSHi(w), Qt::Key_Delete);
            QVERIFY(ui::named<QAction>(w, "menuUndo")->isEnabled());
        }
        const QStringList before = w.importedStore().lines();

        // A proxy on for the auto-test: the slow one, which never shows the probe's marker.
        ui::MSHi(w)->setRow(1);
        ui::menuPROXON(w)->trigger();
        QVERIFY(ui::timerPTest(w)->isActive());
        ui::timerPTest(w)->stop(); // only the test ticks it
        ui::MSHi(w)->selectWholeRow(1);
        ui::MSHi(w)->setRowSel(std::min(6, ui::MSHi(w)->Rows() - 1));

        // The command comes at the third time the operation serves the queue: through a long
        // loop's own yield, or, for a run that waits on the network, a turn of its event loop.
        bool armed = false;
        bool fired = false;
        int served = 0;
        const auto fire = [&] {
            if (!armed || fired || ++served < 3)
                return;
            fired = true;
            f.prompts.answers << f.work.filePath(QStringLiteral("import.txt"));
            c.fire(w);
        };
        const bool waits = operation.endsWith(QLatin1String("test run")) ||
                           operation == QLatin1String("auto-test probe");
        QTimer turns;
        turns.setInterval(0);
        connect(&turns, &QTimer::timeout, &w, fire);
        if (waits)
            turns.start();
        else
            YieldClock::setServeHookForTesting(fire);
        f.runDialog = [&](QDialog& dialog) {
            if (dialog.objectName() == QLatin1String("frmImport") &&
                operation == QLatin1String("web scan") && !armed) {
                armed = true;
                dialog.findChild<QPushButton*>(QStringLiteral("cmdScan"))->click();
                dialog.findChild<QPushButton*>(QStringLiteral("commandOK"))->click();
            }
            return 0;
        };

        if (operation == QLatin1String("web scan")) {
            ui::menuImpProxSource(w)->trigger();
        } else {
            armed = true;
            start(operation, w);
        }
        armed = false;
        turns.stop();
        YieldClock::setServeHookForTesting({});
        QVERIFY2(fired, "the operation ended before the command could reach it");

        // Every change of the list has been saved by the command or operation that made it.
        const QStringList stored = w.importedStore().lines();
        QCOMPARE(f.work.read(QStringLiteral("proxy.lst"), {}),
                 stored.isEmpty() ? QByteArray() : (stored.join(u'\n') + u'\n').toUtf8());

        QStringList inGrid = gridProxies(*ui::MSHi(w));
        QStringList inStore = proxiesOf(w.importedStore().lines());
        inGrid.sort();
        inStore.sort();
        QCOMPARE(inGrid, inStore);
        QCOMPARE(QSet<QString>(inStore.cbegin(), inStore.cend()).size(), inStore.size());
        const bool deletes =
            operation == QLatin1String("delete") || c.name == QByteArrayLiteral("Delete");
        if (!deletes) {
            for (const QString& proxy : proxiesOf(before))
                QVERIFY2(inStore.contains(proxy), qPrintable(proxy + " was lost"));
        }

        // The filter boxes offer what the page shown holds, whichever page the command left.
        if (operation == QLatin1String("page switch")) {
            const ProxyGrid& page = ui::Option1(w)->isChecked() ? *ui::MSH(w) : *ui::MSHi(w);
            const std::pair<int, QComboBox*> boxes[] = {{ProxyRow::Location, ui::cboLOC(w)},
                                                        {ProxyRow::Type, ui::cboTYPE(w)},
                                                        {ProxyRow::Class, ui::cboCLASS(w)}};
            for (const auto& [column, box] : boxes) {
                QSet<QString> held, offered;
                for (int r = 1; r < page.Rows(); ++r) {
                    if (!page.TextMatrix(r, column).isEmpty())
                        held << page.TextMatrix(r, column);
                }
                for (int i = 0; i < box->count(); ++i)
                    offered << box->itemText(i);
                QCOMPARE(offered, held);
            }
        }

        // Everything the operation held is given back.
        QVERIFY(ui::menuTools(w)->isEnabled() && ui::menuRefresh(w)->isEnabled());
        QVERIFY(!ui::menuStop(w)->isEnabled());
        QVERIFY(ui::Option1(w)->isEnabled() && ui::Option2(w)->isEnabled() &&
                ui::frame(w)->isEnabled());
        QVERIFY(ui::MSH(w)->isEnabled() && ui::MSHi(w)->isEnabled());
        QVERIFY(!w.stopRequested.isRequested());
    }

    void cleanup() { YieldClock::setServeHookForTesting({}); }

private:
    void start(const QString& operation, frmMain& w)
    {
        if (operation == QLatin1String("load")) {
            ui::menuRefresh(w)->trigger();
        } else if (operation == QLatin1String("text import")) {
            ui::menuImpProxList(w)->trigger();
        } else if (operation == QLatin1String("filter pass")) {
            ui::cboTYPE(w)->setCurrentIndex(ui::cboTYPE(w)->findText(QStringLiteral("HTTP")));
            QTest::mouseClick(ui::cmdFilter(w), Qt::LeftButton);
        } else if (operation == QLatin1String("delete")) {
            QTest::keyClick(ui::MSHi(w), Qt::Key_Delete);
        } else if (operation == QLatin1String("paste")) {
            QGuiApplication::clipboard()->setText(newProxies(1).join(u'\n'));
            QTest::keyClick(ui::MSHi(w), Qt::Key_V, Qt::ControlModifier);
        } else if (operation.endsWith(QLatin1String("test run"))) {
            ui::menuTestProxy(w)->trigger();
        } else if (operation == QLatin1String("page switch")) {
            QTest::mouseClick(ui::Option1(w), Qt::LeftButton);
        } else if (operation == QLatin1String("auto-test probe")) {
            w.setWindowState(Qt::WindowMinimized); // it probes only while the window is away
            w.timerPTest_Timer();
        }
    }

    WorkFolder m_work;
    ReferenceService m_service;
    std::unique_ptr<FixedServer> m_page;
    std::vector<std::unique_ptr<FixedServer>> m_slow;
};

QTEST_MAIN(tst_Reentry)
#include "tst_Reentry.moc"
