#include "model/ImportedListStore.h"
#include "model/ProxyTableModel.h"
#include "support/FakeWindowHost.h"
#include "support/ScriptedPrompts.h"
#include "support/WorkFolder.h"
#include "views/ImportedListEditor.h"

#include <QTest>

static QString line(const QString& proxy)
{
    return ProxyRow::newImportedRowText(proxy);
}

// The imported list as a load leaves it: one grid row per stored line, no spare row; proxy.lst
// lives in a folder of its own.
struct ImportedList
{
    explicit ImportedList(const QStringList& proxies)
    {
        for (const QString& proxy : proxies) {
            store.add(proxy.contains(u'|') ? proxy : line(proxy));
            rows.AddItem(QStringLiteral("?\t") +
                         (proxy.contains(u'|') ? proxy.section(u'|', 1, 1) : proxy));
        }
    }

    QStringList grid() const // proxy=speed per row
    {
        QStringList list;
        for (int r = 1; r < rows.Rows(); ++r)
            list << rows.TextMatrix(r, ProxyRow::Proxy) + u'=' +
                        rows.TextMatrix(r, ProxyRow::Speed);
        return list;
    }
    QString saved() const { return QString::fromUtf8(work.read(QStringLiteral("proxy.lst"), {})); }
    QStringList cells() const // every row, every cell
    {
        QStringList list;
        for (int r = 1; r < rows.Rows(); ++r)
            list << ProxyRow::storedRowText(rows.row(r).cells);
        return list;
    }

    WorkFolder work;
    ProxyTableModel rows;
    ImportedListStore store;
    FakeWindowHost host;
    ScriptedPrompts prompts;
    ImportedListEditor editor{rows, store, host, prompts};
};

class tst_ImportedListEditor : public QObject
{
    Q_OBJECT

private slots:
    void IsIP_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        for (const char* text : {"255.255.255.255", "0.0.0.0", "010.0.0.001", "1..3.4",
                                 "00000000000000000000001.2.3.4"})
            QTest::newRow(text) << text << true;
        for (const char* text :
             {"256.1.1.1", "1.2.3", "1.2.3.4.5", ".1.2.3", "1.2.3.", "", "1.2.3.4 ", "1.2.3.-4",
              "1.2.3.a", "99999999999999999999999.1.1.1"})
            QTest::newRow(text) << text << false;
        QTest::newRow("other digits") << QStringLiteral("1.2.3.\u0664") << false;
    }
    void IsIP()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QCOMPARE(ImportedListEditor::IsIP(text), valid);
    }

    void paste_data()
    {
        // clang-format off
        QTest::addColumn<QString>("clipboard");
        QTest::addColumn<QStringList>("added"); // new grid rows as proxy=speed
        QTest::addColumn<QString>("said");
        QTest::newRow("scheme, alone") << "http://10.9.0.1:80" << QStringList{"10.9.0.1:80=0"} << "1 added";
        QTest::newRow("https, one line with break") << "https://10.9.0.1:80\r\n"
                                                    << QStringList{"10.9.0.1:80=0"} << "1 added";
        QTest::newRow("scheme in capitals") << "HTTP://10.9.0.1:80" << QStringList{}
                                            << "0 added, 1 not address:port";
        QTest::newRow("CR LF, LF, CR, no last break, empty lines")
            << "10.9.0.1:80\r\n\r\n10.9.0.2:80\n10.9.0.3:80\r10.9.0.4:80"
            << QStringList{"10.9.0.1:80=", "10.9.0.2:80=", "10.9.0.3:80=", "10.9.0.4:80="}
            << "4 added";
        QTest::newRow("one line among empty ones") << "\n\n10.9.0.1:80\r\n"
                                                   << QStringList{"10.9.0.1:80=0"} << "1 added";
        QTest::newRow("bad lines skipped, good kept")
            << "proxy.example.com:80\n10.0.0.256:80\n 10.9.0.1:80\n10.9.0 .1:80\n10.9.0.1\n"
               "http://10.9.0.1\n[::1]:8080\n2001:db8::1\n10.9.0.1:80|x\n1..3.4:80\n"
            << QStringList{"1..3.4:80="} << "1 added, 9 not address:port";
        QTest::newRow("ports 1 to 65535 only")
            << "10.9.0.1:\n10.9.0.2:port\n10.9.0.3:0\n10.9.0.4:65536\n10.9.0.5:+80\n10.9.0.6:65535"
            << QStringList{"10.9.0.6:65535="} << "1 added, 5 not address:port";
        // 10.0.0.1:80 is listed; 11.2.3.4:80 holds 1.2.3.4:80 as a substring only.
        QTest::newRow("listed, and twice in the text")
            << "10.0.0.1:80\n1.2.3.4:80\nhttp://1.2.3.4:80" << QStringList{"1.2.3.4:80="}
            << "1 added, 2 already listed";
        QTest::newRow("empty") << "" << QStringList{} << "";
        QTest::newRow("binary") << QString::fromLatin1("\x01\x00\xff:\xfe\x80\n\x7f", 8)
                                << QStringList{} << "0 added, 2 not address:port";
        QTest::newRow("10 MB") << QString(5'000'000, u'1') + "1.2.3.4:80\n" +
                                      QStringLiteral("no address\r\n").repeated(400'000)
                               << QStringList{} << "0 added, 400 001 not address:port";
        // clang-format on
    }
    void paste()
    {
        QFETCH(QString, clipboard);
        QFETCH(QStringList, added);
        QFETCH(QString, said);
        ImportedList list({"10.0.0.1:80", "11.2.3.4:80"});
        QCOMPARE(list.editor.pasteProxies(clipboard), added.size());
        QCOMPARE(list.host.status, said);

        // Old rows stay; every new proxy has a row of its own after them, then the spare empty
        // row; its stored line has Speed "0" and is saved at once.
        QStringList expected{"10.0.0.1:80=", "11.2.3.4:80="};
        QStringList lines{line("10.0.0.1:80"), line("11.2.3.4:80")};
        for (const QString& row : added)
            lines << line(row.section(u'=', 0, 0));
        if (!added.isEmpty())
            expected << added << "=";
        QCOMPARE(list.grid(), expected);
        QCOMPARE(list.store.lines(), lines);
        QCOMPARE(list.saved(), added.isEmpty() ? QString() : lines.join(u'\n') + u'\n');
        if (!added.isEmpty())
            QCOMPARE(list.host.panels.value(2), QStringLiteral("%1 Imported").arg(lines.size()));
    }

    void remove_data()
    {
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("last");
        QTest::addColumn<QStringList>("kept");
        QTest::addColumn<QString>("asked"); // answered yes
        const QString a = "1.2.3.4:80", b = "11.2.3.4:80", c = "5.6.7.8:80";
        const QString tested = QStringLiteral("Y|1.2.3.4:80|2||||||||||");
        QTest::newRow("exact proxy only")
            << QStringList{b, a, c} << 2 << 2 << QStringList{b, c} << "";
        QTest::newRow("block upwards") << QStringList{a, b, c} << 3 << 2 << QStringList{a} << "";
        QTest::newRow("past the last row") << QStringList{a, b} << 2 << 9 << QStringList{a} << "";
        QTest::newRow("header row is no proxy")
            << QStringList{a, b} << 0 << 1 << QStringList{b} << "";
        // A row takes the first stored line of its proxy that is still there.
        QTest::newRow("one of two lines")
            << QStringList{tested, b, a} << 3 << 3 << QStringList{b, a} << "";
        QTest::newRow("both of two lines")
            << QStringList{tested, b, a} << 1 << 3 << QStringList{}
            << "Corvatel: Delete all 3 proxies of the imported list?";
        QTest::newRow("the only one") << QStringList{a} << 1 << 1 << QStringList{}
                                      << "Corvatel: Delete the only proxy of the imported list?";
    }
    void remove()
    {
        QFETCH(QStringList, stored);
        QFETCH(int, first);
        QFETCH(int, last);
        QFETCH(QStringList, kept);
        QFETCH(QString, asked);
        ImportedList list(stored);
        list.prompts.answers << "yes";
        QVERIFY(list.editor.deleteImportedRows(first, last));
        QCOMPARE(list.prompts.asked, asked.isEmpty() ? QStringList() : QStringList{asked});
        QStringList lines;
        for (const QString& proxy : kept)
            lines << line(proxy);
        QCOMPARE(list.store.lines(), lines);
        QCOMPARE(list.saved(), lines.isEmpty() ? QString() : lines.join(u'\n') + u'\n');
        QCOMPARE(list.rows.Rows(), kept.size() + 1);
        QCOMPARE(list.host.statuses, (QStringList{"Deleting rows..", ""}));
        QCOMPARE(list.host.panels.value(2), QStringLiteral("%1 Imported").arg(kept.size()));
    }

    // Undo puts back the rows, every cell of them, the stored lines and proxy.lst as they were
    // before the last change, once; a change made since (a test's result) leaves nothing to undo.
    void undo_data()
    {
        // clang-format off
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("undone"); // "" when there is nothing to undo
        QTest::newRow("delete") << "delete 2..3" << "the delete of 2 proxies";
        QTest::newRow("delete every row") << "delete 1..3, yes" << "the delete of 3 proxies";
        QTest::newRow("delete every row, no") << "delete 1..3, no" << "";
        QTest::newRow("paste one") << "paste" << "the paste of 1 proxy";
        QTest::newRow("two pastes: the later one") << "paste twice" << "the paste of 2 proxies";
        QTest::newRow("paste, then a test result") << "paste, test" << "";
        QTest::newRow("nothing pasted") << "paste listed" << "";
        // clang-format on
    }
    void undo()
    {
        QFETCH(QString, change);
        QFETCH(QString, undone);
        ImportedList list({"1.2.3.4:80", "Y|11.2.3.4:80|2|x||||||||||", "5.6.7.8:80"});
        list.rows.setCellForeColor(2, 0, 2, 3, ProxyRow::PassedColour);
        QVERIFY(list.store.saveToFile(ImportedListStore::defaultPath()).ok());
        if (change == "paste twice")
            list.editor.pasteProxies(QStringLiteral("9.9.9.1:80"));
        const QStringList cells = list.cells();
        const QStringList lines = list.store.lines();
        const QString saved = list.saved();
        const ProxyRow::Colour colour = list.rows.cellForeColor(2, 3);

        if (change.startsWith("delete")) {
            list.prompts.answers << change.section(", ", 1);
            list.editor.deleteImportedRows(change.at(7).digitValue(), 3);
        } else if (change == "paste listed") {
            list.editor.pasteProxies(QStringLiteral("5.6.7.8:80"));
        } else {
            list.editor.pasteProxies(
                QStringLiteral("9.9.9.2:80\n9.9.9.3:80").first(change == "paste" ? 10 : 21));
        }
        if (change.endsWith("test"))
            list.store.setItem(0, QStringLiteral("N|1.2.3.4:80|0||||||||||"));
        const QStringList changedCells = list.cells();
        const QStringList changedLines = list.store.lines();

        QCOMPARE(list.editor.undoLastChange(), !undone.isEmpty());
        if (undone.isEmpty()) {
            QCOMPARE(list.cells(), changedCells);
            QCOMPARE(list.store.lines(), changedLines);
            if (change.endsWith("no"))
                QCOMPARE(changedCells, cells);
            return;
        }
        QCOMPARE(list.cells(), cells);
        QCOMPARE(list.rows.cellForeColor(2, 3), colour);
        QCOMPARE(list.store.lines(), lines);
        QCOMPARE(list.saved(), saved);
        QCOMPARE(list.host.status, "Undone: " + undone);
        QCOMPARE(list.host.panels.value(2), QStringLiteral("%1 Imported").arg(lines.size()));
        QVERIFY(!list.editor.undoLastChange());
    }

    void emptyRowAndFailedSave()
    {
        {
            // A last row that holds only its Active cell is no spare row to write into.
            ImportedList list({"1.2.3.4:80"});
            list.rows.AddItem(QStringLiteral("Y"));
            list.editor.pasteProxies(QStringLiteral("5.6.7.8:80"));
            QCOMPARE(list.rows.TextMatrix(2, ProxyRow::Active), QStringLiteral("Y"));
            QCOMPARE(list.rows.TextMatrix(3, ProxyRow::Proxy), QStringLiteral("5.6.7.8:80"));
        }
        {
            // An empty list's one spare row takes the first pasted proxy.
            ImportedList list({});
            list.rows.setRows(2);
            list.editor.pasteProxies(QStringLiteral("5.6.7.8:80"));
            QCOMPARE(list.rows.TextMatrix(1, ProxyRow::Proxy), QStringLiteral("5.6.7.8:80"));
        }
        ImportedList list({"1.2.3.4:80"});
        list.editor.pasteProxies(QStringLiteral("5.6.7.8:80"));
        list.editor.deleteImportedRows(3, 3); // the spare row: no stored line to take
        QCOMPARE(list.store.count(), 2);
        QVERIFY(QFile::remove(list.work.filePath(QStringLiteral("proxy.lst"))));
        QVERIFY(QDir(list.work.path()).mkdir(QStringLiteral("proxy.lst")));
        list.editor.deleteImportedRows(1, 1);
        QVERIFY2(list.host.statusText().startsWith(QStringLiteral("Could not save proxy.lst")),
                 qPrintable(list.host.statusText()));
    }
};

QTEST_GUILESS_MAIN(tst_ImportedListEditor)
#include "tst_ImportedListEditor.moc"
