#include "model/ImportedListStore.h"
#include "support/WorkFolder.h"

#include <QDir>
#include <QLockFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

QString row(const QString& proxy)
{
    return QStringLiteral("?|") + proxy + QStringLiteral("|0|||||||||||");
}

QString proxyNumber(int i)
{
    return QStringLiteral("10.%1.%2.1:8080").arg(i / 256).arg(i % 256);
}

} // namespace

class tst_ImportedListStore : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArray>("saved");

        const QByteArray ab("a|\nb|\n");
        QTest::newRow("LF") << ab << ab;
        QTest::newRow("CR LF") << QByteArray("a|\r\nb|\r\n") << ab;
        QTest::newRow("mixed, no final line break") << QByteArray("a|\r\nb|\nc|") << ab + "c|\n";
        QTest::newRow("empty file") << QByteArray() << QByteArray();
        QTest::newRow("empty lines") << QByteArray("\n\r\n\nb\n\n") << QByteArray("\n\n\nb\n\n");
        QTest::newRow("lone CRs stay in the line")
            << QByteArray("a\rb\r\r\n") << QByteArray("a\rb\r\r\n");
        const QByteArray text("\xef\xbb\xbfY|Z\xc3\xbcrich|\0\x1b|\n", 17);
        QTest::newRow("BOM, UTF-8, NUL") << text << text;
        // Not UTF-8: Latin-1, 0xFF 0xFE, overlong, encoded surrogates, beyond U+10FFFF, a good
        // four-byte character beside a stray byte, and a sequence cut by the line end.
        const QByteArray bad(
            "?|1.2.3.4:80|Z\xfcrich|\xff\xfe \xc0\x80 \xe0\x80\x80 \xed\xa0\x80 "
            "\xed\xb2\x80 \xf4\x90\x80\x80 \xf0\x9f\x98\x80\x80 \xe2\x82\xac\xe2\x82\n");
        QTest::newRow("ill-formed UTF-8") << bad << bad;

        QByteArray megabyte(1024 * 1024, Qt::Uninitialized);
        QRandomGenerator random(17);
        for (char& byte : megabyte)
            byte = char(random.bounded(256));
        megabyte.replace('\n', ' ').append("x\n"); // a CR last would count as part of the line end
        QTest::newRow("1 MB of random bytes") << megabyte << megabyte;
    }

    void roundTrip()
    {
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, saved);

        WorkFolder work;
        const QString path = work.write(QStringLiteral("proxy.lst"), file);
        ImportedListStore store;
        store.add(QStringLiteral("left over|"));
        QVERIFY(store.loadFromFile(path).ok());
        QVERIFY(store.saveToFile(path).ok());
        QCOMPARE(work.read(QStringLiteral("proxy.lst")), saved);

        ImportedListStore reloaded;
        QVERIFY(reloaded.loadFromFile(path).ok());
        QCOMPARE(reloaded.lines(), store.lines());
    }

    void loneSurrogateSaved()
    {
        // Text pasted in memory can hold half a surrogate pair: it is saved as U+FFFD.
        WorkFolder work;
        ImportedListStore store;
        store.add(QStringLiteral("?|1.2.3.4:80|") + QChar(0xD800) + QStringLiteral("x|"));
        QVERIFY(store.saveToFile(work.filePath(QStringLiteral("proxy.lst"))).ok());
        QCOMPARE(work.read(QStringLiteral("proxy.lst")),
                 QByteArray("?|1.2.3.4:80|\xef\xbf\xbdx|\n"));
    }

    void find_data()
    {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("proxy");
        QTest::addColumn<int>("index");

        const QString shortProxy = QStringLiteral("1.2.3.4:80");
        const QString longProxy = QStringLiteral("11.2.3.4:80");
        const QStringList shortFirst{row(shortProxy), row(longProxy)};
        const QStringList longFirst{row(longProxy), row(shortProxy)};
        QTest::newRow("short stored first, long") << shortFirst << longProxy << 1;
        QTest::newRow("long stored first, short") << longFirst << shortProxy << 1;
        QTest::newRow("part of an address") << shortFirst << QStringLiteral("1.2.3.4:8") << -1;
        QTest::newRow("empty proxy") << QStringList{"?||0|", row(shortProxy)} << QString() << -1;
        QTest::newRow("not the Proxy field")
            << QStringList{"1.2.3.4:80|x|", "?|x|1.2.3.4:80|", "?|1.2.3.4:80"} << shortProxy << -1;
        QTest::newRow("UTF-8") << QStringList{QStringLiteral("Y|\u00e4.example:80|Z\u00fcrich|")}
                               << QStringLiteral("\u00e4.example:80") << 0;
    }

    void find()
    {
        QFETCH(QStringList, lines);
        QFETCH(QString, proxy);
        QFETCH(int, index);

        // Read from a file, so that the decoding counts too.
        WorkFolder work;
        ImportedListStore loaded;
        QVERIFY(loaded.loadFromFile(work.write("proxy.lst", lines.join(u'\n').toUtf8())).ok());
        QCOMPARE(loaded.find(proxy), index);
    }

    void removeMany_data()
    {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QList<int>>("indices");
        QTest::addColumn<QStringList>("kept");

        const QString a = row(proxyNumber(1));
        const QString b = row(proxyNumber(2));
        const QString c = row(proxyNumber(3));
        QTest::newRow("unsorted, repeats, out of range")
            << QStringList{a, b, c, "x|", a} << QList<int>{4, -1, 1, 5, 4, 1}
            << QStringList{a, c, "x|"};
        QTest::newRow("first of two copies")
            << QStringList{a, b, a, c} << QList<int>{0} << QStringList{b, a, c};
        QTest::newRow("later of two copies")
            << QStringList{a, b, a, c} << QList<int>{2} << QStringList{a, b, c};
        QTest::newRow("both copies and a line between")
            << QStringList{c, a, b, a} << QList<int>{3, 1, 2} << QStringList{c};
        QTest::newRow("lines without a proxy") << QStringList{"x", "?||0|", b, "", a}
                                               << QList<int>{3, 0} << QStringList{"?||0|", b, a};
        QTest::newRow("every line") << QStringList{a, b} << QList<int>{1, 0} << QStringList{};
        QTest::newRow("nothing in range")
            << QStringList{a, b} << QList<int>{2, -1} << QStringList{a, b};
    }

    void removeMany()
    {
        QFETCH(QStringList, lines);
        QFETCH(QList<int>, indices);
        QFETCH(QStringList, kept);

        // Once with the proxy index in use while removing, once with it built afterwards.
        for (const bool indexed : {true, false}) {
            ImportedListStore store;
            store.addMany(lines);
            if (indexed)
                QCOMPARE(store.find(proxyNumber(1)), int(lines.indexOf(row(proxyNumber(1)))));
            store.removeMany(std::vector<int>(indices.begin(), indices.end()));
            QCOMPARE(store.lines(), kept);
            for (int i = 1; i <= 4; ++i)
                QCOMPARE(store.find(proxyNumber(i)), int(kept.indexOf(row(proxyNumber(i)))));
        }
    }

    void indexFollowsRandomEdits()
    {
        // Adds, replacements, removals and clears over few proxies, so that copies come and go;
        // after every step find() must agree with a scan.
        ImportedListStore store;
        QRandomGenerator random(4711);
        for (int step = 0; step < 3000; ++step) {
            const QString proxy = proxyNumber(random.bounded(6));
            const int action = random.bounded(12);
            if (action < 4 || store.count() == 0) {
                store.add(row(proxy));
            } else if (action < 6) {
                store.setItem(random.bounded(store.count()), row(proxy));
            } else if (action < 8) {
                store.remove(random.bounded(store.count()));
            } else if (action < 9) {
                store.addMany({row(proxy), row(proxyNumber(random.bounded(6)))});
            } else if (action < 11) {
                std::vector<int> indices(size_t(random.bounded(1, 5)));
                for (int& index : indices) // some out of range
                    index = random.bounded(-1, store.count() + 1);
                store.removeMany(indices);
            } else if (step % 7 == 0) {
                store.clear();
            }
            const QString probe = proxyNumber(random.bounded(6));
            const int expected = int(store.lines().indexOf(row(probe)));
            QVERIFY2(store.find(probe) == expected,
                     qPrintable(QStringLiteral("step %1").arg(step)));
        }
    }

    // A save that serves the window writes the list as it stood when asked, whatever serve()
    // does to it; saves reach the disk in the order they were asked for, also one asked for from
    // inside another's serve().
    void servedSaves()
    {
        WorkFolder work;
        const QString path = work.filePath(QStringLiteral("proxy.lst"));
        QStringList many;
        for (int i = 0; i < 200000; ++i)
            many << row(proxyNumber(i));
        ImportedListStore big;
        big.addMany(many);
        const QByteArray whole = (many.join(u'\n') + u'\n').toUtf8();

        int serves = 0;
        const auto editMeanwhile = [&] {
            if (serves++ == 0) {
                big.clear();
                big.add(row(QStringLiteral("1.2.3.4:80")));
            }
        };
        QVERIFY(big.saveToFile(path, editMeanwhile).ok());
        QVERIFY(serves > 0);
        QCOMPARE(work.read(QStringLiteral("proxy.lst")), whole);

        big.addMany(many);
        bool nested = false;
        const auto saveMeanwhile = [&] {
            if (!std::exchange(nested, true)) {
                big.clear();
                big.add(row(QStringLiteral("5.6.7.8:80")));
                QVERIFY(big.saveToFile(path, [] {}).ok());
            }
        };
        QVERIFY(big.saveToFile(path, saveMeanwhile).ok());
        QVERIFY(nested);
        QCOMPARE(work.read(QStringLiteral("proxy.lst")),
                 (row(QStringLiteral("5.6.7.8:80")) + u'\n').toUtf8());
    }

    // Two writers of one file: what each changed since it last read or saved the file survives
    // the other's save.
    void merge_data()
    {
        QTest::addColumn<QStringList>("base");
        QTest::addColumn<QStringList>("ours");
        QTest::addColumn<QStringList>("theirs");
        QTest::addColumn<QStringList>("merged");

        QTest::newRow("their results, our paste")
            << QStringList{"?|a|", "?|b|"} << QStringList{"?|a|", "?|b|", "?|p|"}
            << QStringList{"Y|a|", "?|b|"} << QStringList{"Y|a|", "?|b|", "?|p|"};
        QTest::newRow("our change beats theirs") << QStringList{"?|a|"} << QStringList{"N|a|"}
                                                 << QStringList{"Y|a|"} << QStringList{"N|a|"};
        QTest::newRow("their removal") << QStringList{"?|a|", "?|b|"} << QStringList{"?|a|", "?|b|"}
                                       << QStringList{"?|b|"} << QStringList{"?|b|"};
        QTest::newRow("our removal, their addition")
            << QStringList{"?|a|", "?|b|"} << QStringList{"?|b|"}
            << QStringList{"?|a|", "?|b|", "?|c|"} << QStringList{"?|b|", "?|c|"};
        QTest::newRow("a file never read")
            << QStringList{} << QStringList{"N|a|", "?|a|"} << QStringList{"Y|a|", "?|c|"}
            << QStringList{"N|a|", "?|a|", "?|c|"};
        QTest::newRow("lines without a proxy")
            << QStringList{"x", "y"} << QStringList{"x"} << QStringList{"x", "y", "z", ""}
            << QStringList{"x", "z", ""};
    }
    void merge()
    {
        QFETCH(QStringList, base);
        QFETCH(QStringList, ours);
        QFETCH(QStringList, theirs);
        QFETCH(QStringList, merged);
        QCOMPARE(ImportedListStore::merge(base, ours, theirs), merged);
    }

    // A save waits a bounded time for another writer's lock, then says who holds it and leaves
    // the file alone.
    void lockedByAnother()
    {
        WorkFolder work;
        const QString path = work.write(QStringLiteral("proxy.lst"), "?|a|\n");
        QLockFile other(path + QStringLiteral(".lock"));
        QVERIFY(other.tryLock(0));
        ImportedListStore store;
        store.add(row(QStringLiteral("1.2.3.4:80")));
        ImportedListStore::setLockWaitForTesting(100);
        const Result refused = store.saveToFile(path);
        QCOMPARE(refused.message(),
                 QStringLiteral("Could not save proxy.lst: %1 (process %2 on %3) is writing it.")
                     .arg(QCoreApplication::applicationName())
                     .arg(QCoreApplication::applicationPid())
                     .arg(QSysInfo::machineHostName()));
        QCOMPARE(work.read(QStringLiteral("proxy.lst")), "?|a|\n");
        other.unlock();
        QVERIFY(store.saveToFile(path).ok());
        QCOMPARE(work.read(QStringLiteral("proxy.lst")), row("1.2.3.4:80").toUtf8() + "\n?|a|\n");
        ImportedListStore::setLockWaitForTesting(10000);
    }

    // What ending the program from inside a long routine goes by: only a list that differs from
    // what was last read or saved whole is written, so an unreadable proxy.lst is never replaced.
    void unsavedChanges()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("proxy.lst"));
        ImportedListStore store;
        QVERIFY(!store.hasUnsavedChanges());
        store.add(row(proxyNumber(1)));
        QVERIFY(store.hasUnsavedChanges());
        QVERIFY(!store.saveToFile(dir.filePath(QStringLiteral("none/proxy.lst"))).ok());
        QVERIFY(store.hasUnsavedChanges());
        QVERIFY(store.saveToFile(path).ok());
        QVERIFY(!store.hasUnsavedChanges());
        store.setItem(0, row(proxyNumber(2)));
        QVERIFY(store.hasUnsavedChanges());
        QVERIFY(store.loadFromFile(path).ok());
        QVERIFY(!store.hasUnsavedChanges());

        // A change made while a long save was on its way is not in that save.
        QStringList many;
        for (int i = 0; i < 100000; ++i)
            many << row(proxyNumber(i));
        store.addMany(many);
        bool changed = false;
        QVERIFY(store
                    .saveToFile(path,
                                [&] {
                                    if (!std::exchange(changed, true))
                                        store.remove(0);
                                })
                    .ok());
        QVERIFY(changed && store.hasUnsavedChanges());
    }

    // A failed load (here proxy.lst is a folder) leaves the list in memory as it was, unsaved
    // changes included (failed saves: tst_SaveFaults).
    void failedLoadKeepsStore()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("proxy.lst"));
        QVERIFY(QDir().mkdir(path));
        const QStringList lines{row(proxyNumber(1)), row(proxyNumber(2))};
        ImportedListStore store;
        store.addMany(lines);

        const Result result = store.loadFromFile(path);
        QVERIFY(!result.ok());
        // One line for the status text, with the reason.
        QVERIFY2(QRegularExpression("^Could not read proxy.lst: [^\n]+\\z")
                     .match(result.message())
                     .hasMatch(),
                 qPrintable(result.message()));
        QCOMPARE(store.lines(), lines);
        QCOMPARE(store.find(proxyNumber(2)), 1);
        QVERIFY(store.hasUnsavedChanges());
    }
};

QTEST_GUILESS_MAIN(tst_ImportedListStore)
#include "tst_ImportedListStore.moc"
