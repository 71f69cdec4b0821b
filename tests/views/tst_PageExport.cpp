#include "support/MainWindowFixture.h"
#include "support/WindowControls.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

namespace {

const QStringList imported{"Y|1.2.3.4:80|0.35||2024-03-01 08:00|HTTP||||||Lima, Peru|Elite|",
                           "Y|5.6.7.8:3128|1.20||2024-01-02 10:00|HTTPS||||||Oslo|Anonymous|",
                           "Y|9.9.9.9:1080|||||||||||"};

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(none)");
}

} // namespace

class tst_PageExport : public QObject
{
    Q_OBJECT

private slots:
    void exportsPageOrSelection_data()
    {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<int>("selectTo"); // the selection runs from row 2; 0: none
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("written");
        QTest::addColumn<QStringList>("proxies");
        const QStringList all{"1.2.3.4:80", "5.6.7.8:3128", "9.9.9.9:1080"};
        QTest::newRow("lines, the page") << "Address:port lines (*.txt)" << 0 << "out"
                                         << "out.txt" << all;
        QTest::newRow("CSV, the selection") << "CSV (*.csv)" << 3 << "sel"
                                            << "sel.csv" << QStringList{all[1], all[2]};
        QTest::newRow("JSON, the name kept") << "JSON (*.json)" << 0 << "list.data"
                                             << "list.data" << all;
    }

    // The page's rows in their order, or the selected ones; the filter picks the form.
    void exportsPageOrSelection()
    {
        QFETCH(QString, filter);
        QFETCH(int, selectTo);
        QFETCH(QString, typed);
        QFETCH(QString, written);
        QFETCH(QStringList, proxies);
        MainWindowFixture f;
        frmMain& w = f.start(imported);
        ProxyGrid* grid = ui::MSHi(w);
        grid->setFocus();
        grid->selectWholeRow(selectTo ? 2 : 1);
        if (selectTo)
            grid->setRowSel(selectTo);
        f.prompts.answers << f.work.filePath(typed);
        f.prompts.filters << filter;
        ui::menuExport(w)->trigger();

        const QByteArray text = readAll(f.work.filePath(written));
        QStringList got;
        if (filter.startsWith(QLatin1String("JSON"))) {
            for (const QJsonValue& v : QJsonDocument::fromJson(text).array())
                got << v.toObject().value(QLatin1String("proxy")).toString();
        } else {
            QList<QByteArray> lines = text.split('\n');
            QCOMPARE(lines.takeLast(), QByteArray()); // ends with a line break
            if (filter.startsWith(QLatin1String("CSV")))
                QVERIFY(lines.takeFirst().startsWith("Active,Proxy,Speed,"));
            for (const QByteArray& line : lines)
                got << QString::fromUtf8(line.startsWith("Y,") ? line.split(',')[1] : line);
        }
        QCOMPARE(got, proxies);
        if (filter.startsWith(QLatin1String("CSV"))) // a comma in a cell is quoted
            QVERIFY(!text.contains("Lima, Peru") || text.contains("\"Lima, Peru\""));
        QCOMPARE(w.statusText(),
                 QStringLiteral("%1 proxies exported to %2").arg(proxies.size()).arg(written));
    }

    // A file that cannot be written is said, and no part of it is left.
    void unwritableIsSaid()
    {
        MainWindowFixture f;
        frmMain& w = f.start(imported);
        const QString path = f.work.filePath(QStringLiteral("missing/out.csv"));
        f.prompts.answers << path;
        ui::menuExport(w)->trigger();
        QVERIFY(!QFile::exists(path));
        QCOMPARE(f.prompts.asked.size(), 2);
        QVERIFY(f.prompts.asked.last().startsWith(QStringLiteral("Corvatel: Could not save")));
        QCOMPARE(w.statusText(), f.prompts.asked.last().mid(10));
    }
};

QTEST_MAIN(tst_PageExport)
#include "tst_PageExport.moc"
