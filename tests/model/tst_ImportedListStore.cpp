#include "model/ImportedListStore.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

namespace {

QByteArray readBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

bool writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QString row(const QString& proxy)
{
    return QStringLiteral("?|") + proxy + QStringLiteral("|0|||||||||||");
}

ImportedListStore storeOf(const QStringList& lines)
{
    ImportedListStore store;
    for (const QString& line : lines)
        store.add(line);
    return store;
}

// Restores the current folder when a test leaves, also on a failed QVERIFY.
struct CurrentFolderGuard
{
    QString saved = QDir::currentPath();
    ~CurrentFolderGuard() { QDir::setCurrent(saved); }
};

} // namespace

class tst_ImportedListStore : public QObject
{
    Q_OBJECT

private slots:
    void lineEnds_data();
    void lineEnds();
    void bytesComeBackUnchanged_data();
    void bytesComeBackUnchanged();
    void brokenFileFromDisk();
    void megabyteLine();

    void find_data();
    void find();
    void indexFollowsEdits();
    void indexMatchesLinearSearch();
    void manyFindsAfterLoadAreFast();

    void saveToFolderFails();
    void saveIntoRemovedCurrentFolderFails();
    void saveThatRunsOutOfSpaceKeepsOldFile();
    void loadFailureKeepsStore_data();
    void loadFailureKeepsStore();
    void defaultPathFollowsCurrentFolder();
};

void tst_ImportedListStore::lineEnds_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QByteArray>("saved");

    const QStringList ab{QStringLiteral("a|"), QStringLiteral("b|")};
    QTest::newRow("LF") << QByteArray("a|\nb|\n") << ab << QByteArray("a|\nb|\n");
    QTest::newRow("CR LF") << QByteArray("a|\r\nb|\r\n") << ab << QByteArray("a|\nb|\n");
    QTest::newRow("mixed") << QByteArray("a|\r\nb|\n") << ab << QByteArray("a|\nb|\n");
    QTest::newRow("no final line break") << QByteArray("a|\r\nb|") << ab << QByteArray("a|\nb|\n");
    QTest::newRow("empty file") << QByteArray() << QStringList() << QByteArray();
    QTest::newRow("one empty line")
        << QByteArray("\n") << QStringList{QString()} << QByteArray("\n");
    QTest::newRow("empty lines inside and at the end")
        << QByteArray("a\n\r\n\nb\n\n") << QStringList{"a", "", "", "b", ""}
        << QByteArray("a\n\n\nb\n\n");
    QTest::newRow("CR inside a line")
        << QByteArray("a\rb\r\n") << QStringList{"a\rb"} << QByteArray("a\rb\n");
    QTest::newRow("only one CR is a line end")
        << QByteArray("a\r\r\nb\n") << QStringList{"a\r", "b"} << QByteArray("a\r\nb\n");
}

void tst_ImportedListStore::lineEnds()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, lines);
    QFETCH(QByteArray, saved);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("proxy.lst"));
    QVERIFY(writeBytes(path, file));
    ImportedListStore store;
    store.add(QStringLiteral("left over|"));
    QVERIFY(store.loadFromFile(path).ok);
    QCOMPARE(store.lines(), lines);
    QVERIFY(store.saveToFile(path).ok);
    QCOMPARE(readBytes(path), saved);
}

void tst_ImportedListStore::bytesComeBackUnchanged_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("text"); // what the grid shows; null when no check is wanted

    QTest::newRow("plain") << QByteArray("?|1.2.3.4:80|0|||||||||||") << row("1.2.3.4:80");
    QTest::newRow("UTF-8") << QByteArray("Y|1.2.3.4:80|||||||||Z\xc3\xbcrich||")
                           << QStringLiteral("Y|1.2.3.4:80|||||||||Z\u00fcrich||");
    QTest::newRow("NUL and control bytes") << QByteArray("?|1.2.3.4:80|\0\x01\x1b|", 17)
                                           << QString::fromLatin1("?|1.2.3.4:80|\0\x01\x1b|", 17);
    QTest::newRow("byte order mark first")
        << QByteArray("\xef\xbb\xbf?|1.2.3.4:80|") << QStringLiteral("\ufeff?|1.2.3.4:80|");
    QTest::newRow("Latin-1") << QByteArray("?|1.2.3.4:80|Z\xfcrich|") << QString();
    QTest::newRow("0xFF 0xFE") << QByteArray("\xff\xfe|") << QString();
    QTest::newRow("overlong NUL") << QByteArray("a\xc0\x80z") << QString();
    QTest::newRow("encoded surrogate") << QByteArray("a\xed\xa0\x80z") << QString();
    QTest::newRow("beyond U+10FFFF") << QByteArray("a\xf4\x90\x80\x80z") << QString();
    QTest::newRow("cut sequence at the end") << QByteArray("\xe2\x82\xac\xe2\x82") << QString();
    QTest::newRow("four-byte character beside a bad byte")
        << QByteArray("\xf0\x9f\x98\x80\x80") << QString();
    QTest::newRow("escape-like bytes") << QByteArray("\xed\xb2\x80\x80") << QString();
}

void tst_ImportedListStore::bytesComeBackUnchanged()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, text);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("proxy.lst"));
    const QByteArray file = "?|9.9.9.9:1|\n" + line + "\n?|8.8.8.8:1|\n";
    QVERIFY(writeBytes(path, file));
    ImportedListStore store;
    QVERIFY(store.loadFromFile(path).ok);
    QCOMPARE(store.count(), 3);
    if (!text.isNull())
        QCOMPARE(store.item(1), text);
    QCOMPARE(store.find(QStringLiteral("8.8.8.8:1")), 2);
    QVERIFY(store.saveToFile(path).ok);
    QCOMPARE(readBytes(path).toHex(' '), file.toHex(' '));

    // The row may be taken apart into cells and put together again (as the grid does) and
    // still be written as the bytes it came from.
    ImportedListStore copy;
    for (const QString& line : store.lines())
        copy.add(line.split(u'|').join(u'|'));
    QVERIFY(copy.saveToFile(path).ok);
    QCOMPARE(readBytes(path).toHex(' '), file.toHex(' '));
}

void tst_ImportedListStore::brokenFileFromDisk()
{
    // A file with every kind of line end and one with bytes that are no text: both come back
    // unchanged apart from CR LF becoming LF.
    for (const char* name : {"mixed-endings.lst", "binary.lst"}) {
        const QByteArray original =
            readBytes(QStringLiteral(CORVATEL_TEST_DATA "/proxylst/") + QLatin1String(name));
        QVERIFY(!original.isEmpty());
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("proxy.lst"));
        QVERIFY(writeBytes(path, original));
        ImportedListStore store;
        QVERIFY(store.loadFromFile(path).ok);
        QCOMPARE(store.count(), original.count('\n') + (original.endsWith('\n') ? 0 : 1));
        QVERIFY(store.saveToFile(path).ok);
        QByteArray expected = QByteArray(original).replace("\r\n", "\n");
        if (!expected.endsWith('\n'))
            expected += '\n';
        QCOMPARE(readBytes(path), expected);
    }
}

void tst_ImportedListStore::megabyteLine()
{
    QByteArray line(1024 * 1024, Qt::Uninitialized);
    QRandomGenerator random(17);
    for (char& byte : line) {
        do
            byte = char(random.bounded(256));
        while (byte == '\n');
    }
    line.back() = 'x'; // a CR there would count as part of the line end
    const QByteArray file = row(QStringLiteral("1.1.1.1:1")).toUtf8() + "\n" + line + "\n" +
                            row(QStringLiteral("2.2.2.2:2")).toUtf8() + "\n";

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("proxy.lst"));
    QVERIFY(writeBytes(path, file));
    ImportedListStore store;
    QVERIFY(store.loadFromFile(path).ok);
    QCOMPARE(store.count(), 3);
    QCOMPARE(store.find(QStringLiteral("2.2.2.2:2")), 2);
    QVERIFY(store.saveToFile(path).ok);
    QVERIFY(readBytes(path) == file);
}

void tst_ImportedListStore::find_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("proxy");
    QTest::addColumn<int>("index");

    const QString shortProxy = QStringLiteral("1.2.3.4:80");
    const QString longProxy = QStringLiteral("11.2.3.4:80");
    const QStringList shortFirst{row(shortProxy), row(longProxy)};
    const QStringList longFirst{row(longProxy), row(shortProxy)};
    QTest::newRow("short stored first, short") << shortFirst << shortProxy << 0;
    QTest::newRow("short stored first, long") << shortFirst << longProxy << 1;
    QTest::newRow("long stored first, short") << longFirst << shortProxy << 1;
    QTest::newRow("long stored first, long") << longFirst << longProxy << 0;
    QTest::newRow("part of an address") << shortFirst << QStringLiteral("1.2.3.4:8") << -1;
    QTest::newRow("empty proxy") << QStringList{QStringLiteral("?||0|"), row(shortProxy)}
                                 << QString() << -1;
    QTest::newRow("first of two copies")
        << QStringList{row(longProxy), QStringLiteral("Y|1.2.3.4:80|5|"), row(shortProxy)}
        << shortProxy << 1;
    QTest::newRow("address in another field")
        << QStringList{QStringLiteral("1.2.3.4:80|x|"), QStringLiteral("?|x|1.2.3.4:80|")}
        << shortProxy << -1;
    QTest::newRow("field without closing bar")
        << QStringList{QStringLiteral("?|1.2.3.4:80")} << shortProxy << -1;
    QTest::newRow("fewer than 13 fields")
        << QStringList{QStringLiteral("?|1.2.3.4:80|")} << shortProxy << 0;
}

void tst_ImportedListStore::find()
{
    QFETCH(QStringList, lines);
    QFETCH(QString, proxy);
    QFETCH(int, index);

    QCOMPARE(storeOf(lines).find(proxy), index);

    // The same lines read from a file give the same answer.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("proxy.lst"));
    QVERIFY(writeBytes(path, lines.join(u'\n').toUtf8()));
    ImportedListStore loaded;
    QVERIFY(loaded.loadFromFile(path).ok);
    QCOMPARE(loaded.find(proxy), index);
}

void tst_ImportedListStore::indexFollowsEdits()
{
    const QString a = QStringLiteral("1.1.1.1:1");
    const QString b = QStringLiteral("2.2.2.2:2");
    const QString c = QStringLiteral("3.3.3.3:3");
    ImportedListStore store = storeOf({row(a), row(b), row(a), row(c)});

    store.remove(0); // b a c: the later copy of a takes over
    QCOMPARE(store.find(a), 1);
    QCOMPARE(store.find(c), 2);

    store.setItem(1, row(c)); // b c c
    QCOMPARE(store.find(a), -1);
    QCOMPARE(store.find(c), 1);

    store.setItem(0, QStringLiteral("Y|") + c + QStringLiteral("|4|")); // c c c
    QCOMPARE(store.find(b), -1);
    QCOMPARE(store.find(c), 0);

    store.remove(0);
    store.remove(0);
    QCOMPARE(store.find(c), 0);
    store.remove(0);
    QCOMPARE(store.find(c), -1);

    store.add(row(b));
    QCOMPARE(store.find(b), 0);
    store.setItem(0, QStringLiteral("Y|") + b + QStringLiteral("|1|")); // same proxy, new result
    QCOMPARE(store.find(b), 0);
    QCOMPARE(store.item(0), QStringLiteral("Y|") + b + QStringLiteral("|1|"));

    store.clear();
    QCOMPARE(store.find(b), -1);
    QCOMPARE(store.count(), 0);
}

void tst_ImportedListStore::indexMatchesLinearSearch()
{
    // Random edits over few proxies, so that copies come and go; after every step each proxy
    // must be found where a plain scan finds it.
    QStringList proxies;
    for (int i = 0; i < 6; ++i)
        proxies << QStringLiteral("10.0.0.%1:80").arg(i);
    const auto scan = [](const ImportedListStore& store, const QString& proxy) {
        for (int i = 0; i < store.count(); ++i) {
            if (store.item(i) == row(proxy))
                return i;
        }
        return -1;
    };

    QRandomGenerator random(4711);
    ImportedListStore store;
    for (int step = 0; step < 3000; ++step) {
        const QString proxy = proxies.at(random.bounded(int(proxies.size())));
        const int action = random.bounded(10);
        if (action < 4 || store.count() == 0)
            store.add(row(proxy));
        else if (action < 7)
            store.setItem(random.bounded(store.count()), row(proxy));
        else if (action < 9)
            store.remove(random.bounded(store.count()));
        else if (step % 7 == 0)
            store.clear();
        const QString probe = proxies.at(random.bounded(int(proxies.size())));
        if (store.find(probe) != scan(store, probe)) {
            QFAIL(qPrintable(QStringLiteral("step %1: find(%2) = %3, scan = %4")
                                 .arg(step)
                                 .arg(probe)
                                 .arg(store.find(probe))
                                 .arg(scan(store, probe))));
        }
    }
}

void tst_ImportedListStore::manyFindsAfterLoadAreFast()
{
    constexpr int lineCount = 100000;
    QStringList proxies;
    QByteArray file;
    for (int i = 0; i < lineCount; ++i) {
        proxies << QStringLiteral("10.%1.%2.1:8080").arg(i / 256).arg(i % 256);
        file += row(proxies.back()).toLatin1() + '\n';
    }
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("proxy.lst"));
    QVERIFY(writeBytes(path, file));

    QElapsedTimer timer;
    timer.start();
    ImportedListStore store;
    QVERIFY(store.loadFromFile(path).ok);
    int found = 0;
    for (int i = lineCount - 1; i >= 0; --i)
        found += store.find(proxies.at(i)) == i;
    const qint64 elapsed = timer.elapsed();
    QCOMPARE(found, lineCount);
    QVERIFY2(elapsed < 1000, qPrintable(QStringLiteral("%1 ms").arg(elapsed)));
}

void tst_ImportedListStore::saveToFolderFails()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("proxy.lst"));
    QVERIFY(QDir().mkdir(path));
    ImportedListStore store = storeOf({row(QStringLiteral("1.2.3.4:80"))});

    const ImportedListStore::Result result = store.saveToFile(path);
    QVERIFY(!result.ok);
    QVERIFY2(result.message.startsWith(QStringLiteral("Could not save proxy.lst: ")),
             qPrintable(result.message));
    QVERIFY(!result.message.contains(u'\n'));
    QVERIFY(QFileInfo(path).isDir());
    QCOMPARE(store.count(), 1);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList());
}

void tst_ImportedListStore::saveIntoRemovedCurrentFolderFails()
{
    const CurrentFolderGuard guard;
    const bool rootFileExisted = QFile::exists(QStringLiteral("/proxy.lst"));
    QTemporaryDir dir;
    QVERIFY(QDir::setCurrent(dir.path()));
    QVERIFY(dir.remove());

    ImportedListStore store = storeOf({row(QStringLiteral("1.2.3.4:80"))});
    const ImportedListStore::Result result = store.saveToFile(ImportedListStore::defaultPath());
    QVERIFY(!result.ok);
    QVERIFY2(result.message.startsWith(QStringLiteral("Could not save proxy.lst: ")),
             qPrintable(result.message));
    QCOMPARE(store.count(), 1);
    // The folder's path is unknown now; the file must not end up somewhere else instead.
    const bool rootFileExists = QFile::exists(QStringLiteral("/proxy.lst"));
    if (rootFileExists && !rootFileExisted)
        QFile::remove(QStringLiteral("/proxy.lst"));
    QCOMPARE(rootFileExists, rootFileExisted);

    ImportedListStore loaded = storeOf({row(QStringLiteral("5.5.5.5:5"))});
    QVERIFY(!QFile::exists(ImportedListStore::defaultPath()));
    QVERIFY(!loaded.loadFromFile(ImportedListStore::defaultPath()).ok);
    QCOMPARE(loaded.count(), 1);
}

void tst_ImportedListStore::saveThatRunsOutOfSpaceKeepsOldFile()
{
    // A file size limit stops root too; the write fails half-way as on a full disk.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("proxy.lst"));
    const QByteArray old = row(QStringLiteral("9.9.9.9:9")).toUtf8() + '\n';
    QVERIFY(writeBytes(path, old));
    ImportedListStore store;
    for (int i = 0; i < 20000; ++i)
        store.add(row(QStringLiteral("10.0.%1.%2:80").arg(i / 256).arg(i % 256)));

    rlimit saved{};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 64 * 1024;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    const ImportedListStore::Result result = store.saveToFile(path);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    QVERIFY(!result.ok);
    QVERIFY2(result.message.startsWith(QStringLiteral("Could not save proxy.lst: ")),
             qPrintable(result.message));
    QCOMPARE(readBytes(path), old);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"proxy.lst"});
    QCOMPARE(store.count(), 20000);
}

void tst_ImportedListStore::loadFailureKeepsStore_data()
{
    QTest::addColumn<bool>("folder");
    QTest::newRow("proxy.lst is a folder") << true;
    QTest::newRow("no proxy.lst") << false;
}

void tst_ImportedListStore::loadFailureKeepsStore()
{
    QFETCH(bool, folder);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("proxy.lst"));
    if (folder)
        QVERIFY(QDir().mkdir(path));
    const QString a = row(QStringLiteral("1.2.3.4:80"));
    ImportedListStore store = storeOf({a, row(QStringLiteral("5.6.7.8:80"))});

    const ImportedListStore::Result result = store.loadFromFile(path);
    QVERIFY(!result.ok);
    QVERIFY2(result.message.startsWith(QStringLiteral("Could not read proxy.lst: ")),
             qPrintable(result.message));
    QCOMPARE(store.count(), 2);
    QCOMPARE(store.item(0), a);
    QCOMPARE(store.find(QStringLiteral("5.6.7.8:80")), 1);
}

void tst_ImportedListStore::defaultPathFollowsCurrentFolder()
{
    const CurrentFolderGuard guard;
    QTemporaryDir first;
    QTemporaryDir second;
    QVERIFY(QDir::setCurrent(first.path()));
    QCOMPARE(ImportedListStore::defaultPath(), QDir::currentPath() + QStringLiteral("/proxy.lst"));
    const ImportedListStore store = storeOf({row(QStringLiteral("1.2.3.4:80"))});
    QVERIFY(store.saveToFile(ImportedListStore::defaultPath()).ok);

    QVERIFY(QDir::setCurrent(second.path()));
    const ImportedListStore other = storeOf({row(QStringLiteral("5.6.7.8:80"))});
    QVERIFY(other.saveToFile(ImportedListStore::defaultPath()).ok);
    QCOMPARE(readBytes(first.filePath(QStringLiteral("proxy.lst"))),
             row(QStringLiteral("1.2.3.4:80")).toUtf8() + '\n');
    QCOMPARE(readBytes(second.filePath(QStringLiteral("proxy.lst"))),
             row(QStringLiteral("5.6.7.8:80")).toUtf8() + '\n');
}

QTEST_GUILESS_MAIN(tst_ImportedListStore)
#include "tst_ImportedListStore.moc"
