#include "import/frmImport.h"
#include "support/MainWindowFixture.h"
#include "support/TestServers.h"
#include "support/WindowControls.h"
#include "views/ProxyGrid.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

// The main window in a folder of its own; the source dialog runs whileOpen instead of waiting
// for the user.
struct ImportWindow
{
    ImportWindow() : w(f.create())
    {
        w.GetSettings();
        f.runDialog = [this](QDialog& dialog) {
            this->dialog = qobject_cast<frmImport*>(&dialog);
            if (whileOpen && this->dialog)
                whileOpen(*this->dialog);
            return 0;
        };
    }

    void open(std::function<void(frmImport&)> steps = {})
    {
        whileOpen = std::move(steps);
        ui::menuImpProxSource(w)->trigger();
    }
    QStringList shown() const
    {
        QStringList list;
        for (int i = 0; i < dialog->SBList1->count(); ++i)
            list << dialog->SBList1->item(i)->text();
        return list;
    }

    MainWindowFixture f;
    frmMain& w;
    frmImport* dialog = nullptr;
    std::function<void(frmImport&)> whileOpen;
};

class tst_frmImport : public QObject
{
    Q_OBJECT

private slots:
    void addTwice()
    {
        ImportWindow t;
        t.f.prompts.answers << "http://a.example/list"
                            << "http://a.example/list";
        t.open([&t](frmImport& d) {
            d.cmdADD->click();
            d.cmdADD->click();
            QCOMPARE(t.f.work.read("proxysources.lst"), QByteArray("http://a.example/list\n"));
            QVERIFY(QFile::remove(t.f.work.filePath("proxysources.lst")));
            d.cmdADD->click(); // cancelled: saved all the same
        });
        QCOMPARE(t.shown(), QStringList{"http://a.example/list"});
        QCOMPARE(t.f.work.read("proxysources.lst"), QByteArray("http://a.example/list\n"));
    }

    // A folder in the list's place: it can be neither read nor replaced, and both are said.
    void unreadableSourcesAreReported()
    {
        ImportWindow t;
        QVERIFY(QDir().mkdir(t.f.work.filePath("proxysources.lst")));
        t.f.prompts.answers << "http://a.example/list";
        QStringList said;
        t.open([&](frmImport& d) {
            said << t.w.statusText();
            d.cmdADD->click();
            said << t.w.statusText();
        });
        QVERIFY2(said[0].contains("Could not read proxysources.lst"), qPrintable(said[0]));
        QVERIFY2(said[1].contains("Could not save proxysources.lst"), qPrintable(said[1]));
        QCOMPARE(t.shown(), QStringList{"http://a.example/list"});
    }

    // The dialog opens in the middle of the screen, Enter anywhere in it means OK, and it keeps
    // a size its controls fit in, its buttons in a row.
    void placeAndDefaultButton()
    {
        ImportWindow t;
        t.open([](frmImport& d) {
            const QPoint middle = d.screen()->geometry().center();
            QVERIFY2((d.geometry().center() - middle).manhattanLength() <= 2,
                     qPrintable(QStringLiteral("%1,%2").arg(d.x()).arg(d.y())));
            // It cannot be made so small that its buttons or progress bar are cut off.
            d.resize(60, 60);
            QVERIFY(d.rect().contains(d.Frame1->geometry()));
            QVERIFY(d.rect().contains(ui::ProgressBar1(d)->geometry()));
            d.show();
            QVERIFY(QTest::qWaitForWindowExposed(&d));
            // The list has the same margin on both sides.
            const QRect list = d.SBList1->geometry();
            QVERIFY2(qAbs(list.left() - (d.width() - 1 - list.right())) <= 1,
                     qPrintable(QStringLiteral("%1 %2").arg(list.left()).arg(d.width())));
            // The buttons stand side by side in their frame.
            const QList<QPushButton*> row = {d.cmdADD, d.cmdFile, d.cmdDelete, d.cmdScan,
                                             d.commandOK};
            for (int i = 1; i < row.size(); ++i)
                QVERIFY2(row[i - 1]->geometry().right() < row[i]->x(), qPrintable(row[i]->text()));
            QVERIFY(d.Frame1->rect().contains(row.last()->geometry()));
            QSignalSpy ok(d.commandOK, &QPushButton::clicked);
            QTest::keyClick(d.SBList1, Qt::Key_Return);
            QTRY_COMPARE(ok.size(), 1);
        });
    }

    void fileAddSkipsListedLine()
    {
        ImportWindow t;
        t.f.work.write("proxysources.lst", "http://b/\n");
        t.f.prompts.answers << t.f.work.write("sources.txt", "http://a/\r\nhttp://b/\rhttp://c/");
        t.open([](frmImport& d) { d.cmdFile->click(); });
        QCOMPARE(t.shown(), (QStringList{"http://b/", "http://a/", "http://c/"}));
        QCOMPARE(t.f.work.read("proxysources.lst"),
                 QByteArray("http://b/\nhttp://a/\nhttp://c/\n"));
    }

    // Stop ends a file's reading; the next command starts with no Stop left over.
    void stoppedFileAddForgetsTheStop()
    {
        ImportWindow t;
        t.f.prompts.answers << t.f.work.write("sources.txt", "http://a/\nhttp://b/\n");
        t.open([&t](frmImport& d) {
            t.w.requestStop();
            d.cmdFile->click();
        });
        QVERIFY(t.shown().isEmpty() && !t.w.stopRequested.isRequested());
    }

    // A file that fails part way through (here a read error from the kernel) is said, not taken
    // for a short file.
    void fileAddReadErrorIsSaid()
    {
        ImportWindow t;
        t.f.prompts.answers << QStringLiteral("/proc/self/mem");
        t.open([](frmImport& d) { d.cmdFile->click(); });
        QVERIFY2(t.w.statusText().startsWith(QStringLiteral("Could not read mem to the end: ")),
                 qPrintable(t.w.statusText()));
    }

    void deleteSelected_data()
    {
        QTest::addColumn<bool>("keys");
        QTest::addColumn<QStringList>("kept");
        QTest::newRow("button, three apart") << false << QStringList{"s1", "s3", "s4"};
        QTest::newRow("Ctrl+A, Delete key") << true << QStringList{};
    }
    void deleteSelected()
    {
        QFETCH(bool, keys);
        QFETCH(QStringList, kept);
        ImportWindow t;
        t.f.work.write("proxysources.lst", "s0\ns1\ns2\ns3\ns4\ns5\n");
        t.f.prompts.answers << "s0";
        t.open([keys](frmImport& d) {
            if (keys) {
                d.SBList1->setCurrentRow(3, QItemSelectionModel::NoUpdate);
                QTest::keyClick(d.SBList1, Qt::Key_A, Qt::ControlModifier);
                QCOMPARE(d.SBList1->selectedItems().size(), 6);
                QTest::keyClick(d.SBList1, Qt::Key_Delete);
            } else {
                for (int i : {0, 2, 5})
                    d.SBList1->item(i)->setSelected(true);
                d.cmdDelete->click();
            }
            d.cmdADD->click(); // a deleted page can be added again at once
        });
        kept << "s0";
        QCOMPARE(t.shown(), kept);
        QCOMPARE(t.dialog->sources().entries(), kept);
        t.open(); // the deletion was saved: it does not come back
        QCOMPARE(t.shown(), kept);
    }

    void scanReadsTheSelectedPagesOnly()
    {
        FixedServer first(200, "10.0.0.1:808");
        FixedServer second(200, "10.0.0.2:8080");
        ImportWindow t;
        t.f.work.write("proxysources.lst", (first.url() + "\n" + second.url() + "\n").toUtf8());
        t.open([](frmImport& d) {
            d.SBList1->item(1)->setSelected(true);
            d.cmdScan->click();
        });
        QVERIFY(first.requests().isEmpty());
        QCOMPARE(second.requests().size(), 1);
        QCOMPARE(t.w.importedStore().count(), 1);
    }

    void okReloadsOnlyAfterScan()
    {
        FixedServer page(200, "10.0.0.1:808 and 10.0.0.2:8080");
        ImportWindow t; // no proxysources.lst yet: a scan reads nothing and is no scan
        QCOMPARE(t.w.activeGrid, 1);
        t.open([](frmImport& d) {
            d.cmdScan->click();
            d.commandOK->click();
        });
        QCOMPARE(t.w.activeGrid, 3); // opening shows the imported list page
        QVERIFY(!t.dialog->sourcesScanned);
        QCOMPARE(t.w.panelText(1), QString()); // no reload

        t.f.work.write("proxysources.lst", page.url().toUtf8() + "\n");
        t.open([&t](frmImport& d) {
            d.cmdScan->click();
            QCOMPARE(ui::MSHi(t.w)->rows().proxyCount(), 0); // in the store, not yet in the grid
            QCOMPARE(t.w.importedStore().count(), 2);
            d.commandOK->click();
        });
        QVERIFY(t.dialog->sourcesScanned);
        QVERIFY(t.f.prompts.asked.contains(QStringLiteral("Corvatel: Done.")));
        QCOMPARE(ui::MSHi(t.w)->TextMatrix(2, ProxyRow::Proxy), QStringLiteral("10.0.0.2:8080"));
        QCOMPARE(t.w.panelText(2), QStringLiteral("2 Imported"));
        QCOMPARE(t.f.dialogs, (QStringList{"frmImport", "frmImport"}));
        QCOMPARE(t.w.findChildren<frmImport*>().size(), 1);
    }

    void leavingStopsScan_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("closed") << "closed";
        QTest::newRow("OK") << "OK";
        QTest::newRow("Esc stops, the dialog stays") << "Esc";
    }
    void leavingStopsScan()
    {
        QFETCH(QString, how);
        HangingServer hanging;
        ImportWindow t;
        t.f.work.write("proxysources.lst", hanging.url().toUtf8() + "\n");
        bool stayed = false;
        t.open([how, &stayed](frmImport& d) {
            d.show();
            QTimer::singleShot(100, &d, [&d, how] {
                QVERIFY(!d.cmdDelete->isEnabled() && !d.SBList1->isEnabled());
                if (how == "Esc")
                    QTest::keyClick(d.focusWidget() ? d.focusWidget() : &d, Qt::Key_Escape);
                else
                    how == "OK" ? d.commandOK->click() : void(d.close());
            });
            d.cmdScan->click();
            stayed = d.isVisible();
        });
        QCOMPARE(stayed, how == "Esc");
        QCOMPARE(t.dialog->isVisible(), how == "Esc");
        QVERIFY(!t.dialog->isBusy() && !t.w.stopRequested.isRequested());
        QVERIFY(t.dialog->cmdDelete->isEnabled() && t.dialog->SBList1->isEnabled());
        // Only a scan that ends in the dialog says so.
        QCOMPARE(t.f.prompts.asked.contains(QStringLiteral("Corvatel: Done.")), how == "Esc");
        // OK after the (stopped) scan reloads the lists, closing does not.
        QCOMPARE(t.w.panelText(1).isEmpty(), how != "OK");
    }
};

QTEST_MAIN(tst_frmImport)
#include "tst_frmImport.moc"
