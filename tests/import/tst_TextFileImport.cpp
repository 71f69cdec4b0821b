#include "import/TextFileImport.h"
#include "model/ImportedListStore.h"
#include "model/ImportedListUndo.h"
#include "model/NumberText.h"
#include "model/ProxyTableModel.h"
#include "support/FakeWindowHost.h"
#include "support/ScriptedPrompts.h"
#include "support/WorkFolder.h"
#include "views/FilterPass.h"

#include <QTest>

static const QStringList Listed{"11.2.3.4:80", "1.2.3.4:800", "9.9.9.9:99"};

// An imported list as a load leaves it (one row per stored line), in a folder of its own where
// proxy.lst and the files to import live.
struct ImportedList
{
    explicit ImportedList(const QStringList& proxies = Listed)
    {
        for (const QString& proxy : proxies) {
            store.add(ProxyRow::newImportedRowText(proxy));
            rows.AddItem(QStringLiteral("?\t") + proxy);
        }
    }

    QString write(const QByteArray& content, const QString& name = QStringLiteral("in.txt"))
    {
        return work.write(name, content);
    }
    QStringList gridProxies() const
    {
        QStringList list;
        for (int r = 1; r < rows.Rows(); ++r)
            list << rows.TextMatrix(r, ProxyRow::Proxy);
        return list;
    }
    QByteArray saved() const { return work.read(QStringLiteral("proxy.lst")); }
    QByteArray storeText() const
    {
        QByteArray text;
        for (const QString& line : store.lines())
            text += line.toUtf8() + '\n';
        return text;
    }

    WorkFolder work;
    ProxyTableModel rows;
    ImportedListStore store;
    FakeWindowHost host;
    ScriptedPrompts prompts;
    ImportedListUndo undo{rows, store};
    TextFileImport import{rows, store, undo, host, prompts};
};

class tst_TextFileImport : public QObject
{
    Q_OBJECT

private slots:
    void importFile_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("added");
        QTest::addColumn<int>("skipped");
        QTest::addColumn<int>("listed"); // lines already in the list

        QTest::newRow("twice in the file; a listed proxy's substring is no match")
            << QByteArray("1.2.3.4:80\n1.2.3.4:80\n5.6.7.8:3128\n")
            << QStringList{"1.2.3.4:80", "5.6.7.8:3128"} << 0 << 1;
        QTest::newRow("listed exactly, first and last")
            << QByteArray("9.9.9.9:99\n11.2.3.4:80") << QStringList{} << 0 << 2;
        QTest::newRow("scheme kept")
            << QByteArray("http://1.2.3.4:80\r\n") << QStringList{"http://1.2.3.4:80"} << 0 << 0;
        QTest::newRow("LF, CR LF, CR, empty lines, no last break")
            << QByteArray("\r\na:1\rb:2\r\nc:3\n\n\r\n\rd:4")
            << QStringList{"a:1", "b:2", "c:3", "d:4"} << 0 << 0;
        QTest::newRow("CR first") << QByteArray("\ra:1\rb:2") << QStringList{"a:1", "b:2"} << 0
                                  << 0;
        QTest::newRow("binary, 1 MB, \"|\" and an overlong last line skipped")
            << QByteArray("\x01\x02\x00:80\n", 7) + QByteArray(1 << 20, '7') +
                   "\n1.1.1.1:1|Y|\n2.2.2.2:2\n" + QByteArray(5000, '8')
            << QStringList{"2.2.2.2:2"} << 4 << 0;
        QTest::newRow("8-bit and UTF-8 with byte order mark")
            << QByteArray("\xEF\xBB\xBF\xC3\xA9t\xC3\xA9:1\ncaf\xE9:2")
            << QStringList{QString::fromUtf8("\xC3\xA9t\xC3\xA9:1"),
                           QString::fromUtf8("caf\xC3\xA9:2")}
            << 0 << 0;
        // The reader takes the file a megabyte at a time; this line straddles the first edge.
        QTest::newRow("line across the read buffer")
            << QByteArray("7.7.7.7:7\n").repeated(104857) + "12.34.56.78:9000\r\n"
            << QStringList{"7.7.7.7:7", "12.34.56.78:9000"} << 0 << 104856;
    }
    void importFile()
    {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, added);
        QFETCH(int, skipped);
        QFETCH(int, listed);
        ImportedList list;
        list.prompts.answers << list.write(content);

        const TextFileImport::Outcome outcome = list.import.menuImpProxList_Click();
        QCOMPARE(outcome.added, added.size());
        QCOMPARE(outcome.skipped, skipped);
        QCOMPARE(outcome.listed, listed);
        QCOMPARE(list.host.status.contains(
                     QStringLiteral(", %1 already listed.").arg(NumberText::grouped(listed))),
                 listed > 0);
        QCOMPARE(list.gridProxies(), Listed + added);
        QStringList lines;
        for (const QString& proxy : Listed + added)
            lines << ProxyRow::newImportedRowText(proxy);
        QCOMPARE(list.store.lines(), lines);
        QCOMPARE(list.saved(), list.storeText());
        QCOMPARE(list.host.panels.value(2), QStringLiteral("%1 Imported").arg(lines.size()));
        for (int r = Listed.size() + 1; r < list.rows.Rows(); ++r)
            QCOMPARE(list.rows.TextMatrix(r, ProxyRow::Active) +
                         list.rows.TextMatrix(r, ProxyRow::Speed),
                     QStringLiteral("?"));
        QCOMPARE(list.host.controls, (QList<bool>{false, true}));
        QVERIFY2(list.host.status.contains(QStringLiteral("%1 new prox").arg(added.size())),
                 qPrintable(list.host.status));
        QCOMPARE(list.host.status.contains(QStringLiteral("skipped")), skipped > 0);
    }

    void emptyGridGetsRowsBanded()
    {
        ImportedList list{QStringList()};
        list.rows.setRows(2); // the spare empty row of an empty list
        list.import.importFile(list.write("1.1.1.1:1\n2.2.2.2:2\n3.3.3.3:3\n"));
        QCOMPARE(list.gridProxies(), (QStringList{"1.1.1.1:1", "2.2.2.2:2", "3.3.3.3:3"}));
        QCOMPARE(list.rows.cellBackColor(1, 0), ProxyRow::White);
        QCOMPARE(list.rows.cellBackColor(2, ProxyRow::Class), FilterPass::ImportedBand);
        QVERIFY(list.rows.Redraw());

        // A last row that holds anything, even a mark alone, is no spare row: it stays.
        list.rows.setRows(list.rows.Rows() + 1);
        list.rows.setTextMatrix(list.rows.Rows() - 1, ProxyRow::Active, QStringLiteral("?"));
        list.import.importFile(list.write("4.4.4.4:4\n"));
        QCOMPARE(list.rows.TextMatrix(4, ProxyRow::Active), QStringLiteral("?"));
        QCOMPARE(list.rows.TextMatrix(5, ProxyRow::Proxy), QStringLiteral("4.4.4.4:4"));
    }

    void cancelStillSaves()
    {
        ImportedList list;
        QCOMPARE(list.saved(), QByteArray("(none)"));
        const TextFileImport::Outcome outcome = list.import.menuImpProxList_Click();
        QVERIFY(outcome.cancelled);
        QCOMPARE(list.saved(), list.storeText());
        QCOMPARE(list.host.panels.value(2), QStringLiteral("3 Imported"));
        QCOMPARE(list.host.status, QString());
        QVERIFY(list.host.controls.isEmpty());
    }

    void stopLeavesProxyListAlone_data()
    {
        QTest::addColumn<int>("checksBeforeStop");
        QTest::addColumn<int>("kept"); // lines read before Stop stay in memory
        QTest::newRow("left over from before") << 0 << 0;
        QTest::newRow("pressed after two lines") << 2 << 2;
    }
    void stopLeavesProxyListAlone()
    {
        QFETCH(int, checksBeforeStop);
        QFETCH(int, kept);
        ImportedList list;
        list.write("as it was\n", QStringLiteral("proxy.lst"));
        list.host.stopAfterChecks = checksBeforeStop;
        const TextFileImport::Outcome outcome =
            list.import.importFile(list.write("5.5.5.5:5\n6.6.6.6:6\n7.7.7.7:7\n"));
        QVERIFY(outcome.stopped);
        QCOMPARE(outcome.added, kept);
        QCOMPARE(list.saved(), QByteArray("as it was\n"));
        QVERIFY(list.host.panels.isEmpty());
        QVERIFY(!list.host.stop.isRequested());
        QCOMPARE(list.host.controls, (QList<bool>{false, true}));
        QCOMPARE(list.rows.Rows(), Listed.size() + 1 + kept);
    }

    void failedSaveIsReported()
    {
        ImportedList list;
        QVERIFY(QDir(list.work.path()).mkdir(QStringLiteral("proxy.lst")));
        const TextFileImport::Outcome outcome = list.import.importFile(list.write("5.5.5.5:5\n"));
        QCOMPARE(outcome.added, 1); // kept in the list all the same
        QVERIFY2(list.host.status.contains(QStringLiteral("Could not save proxy.lst")),
                 qPrintable(list.host.status));
    }

    void unreadableFile_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("missing") << "missing.txt";
        QTest::newRow("a folder") << "folder.txt";
    }
    void unreadableFile()
    {
        QFETCH(QString, name);
        ImportedList list;
        QVERIFY(QDir(list.work.path()).mkdir(QStringLiteral("folder.txt")));
        const TextFileImport::Outcome outcome = list.import.importFile(list.work.filePath(name));
        QCOMPARE(outcome.added, 0);
        QVERIFY2(list.host.status.startsWith(QStringLiteral("Could not read ") + name),
                 qPrintable(list.host.status));
        QCOMPARE(list.saved(), list.storeText());
        QCOMPARE(list.host.panels.value(2), QStringLiteral("3 Imported"));
    }
};

QTEST_GUILESS_MAIN(tst_TextFileImport)
#include "tst_TextFileImport.moc"
