#include "import/SourceList.h"
#include "model/ImportedListStore.h"

#include <QDataStream>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <functional>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Saved
{
    bool ok = false;
    QString message;
};

// The list kept in `file` (proxy.lst or proxysources.lst), `count` lines marked with tag.
QStringList listOf(const QString& file, int count, const QString& tag)
{
    QStringList lines;
    lines.reserve(count);
    for (int i = 0; i < count; ++i) {
        lines << (file == u"proxy.lst"
                      ? QStringLiteral("?|10.%1.%2.1:8080|0||%3|||||||||")
                            .arg(i / 256)
                            .arg(i % 256)
                            .arg(tag)
                      : QStringLiteral("http://%1.example/list/%2.txt").arg(tag).arg(i));
    }
    return lines;
}

// Saves lines through the store that owns `file`'s kind of list.
Saved save(const QString& file, const QStringList& lines, const QString& path)
{
    if (file == u"proxy.lst") {
        ImportedListStore store;
        store.addMany(lines);
        const ImportedListStore::Result r = store.saveToFile(path);
        return {r.ok, r.message};
    }
    SourceList sources;
    for (const QString& line : lines)
        sources.add(line);
    const SourceList::Result r = sources.saveToFile(path);
    return {r.ok, r.message};
}

QString defaultPath(const QString& file)
{
    return file == u"proxy.lst" ? ImportedListStore::defaultPath() : SourceList::defaultPath();
}

QByteArray readBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

bool writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() && f.flush();
}

// A mount namespace of our own, so that a tmpfs mounted here is seen by nobody else and goes
// away with the process. Root gets one directly; anyone else through a user namespace.
bool privateMounts()
{
    if (unshare(CLONE_NEWNS) != 0) {
        const uid_t uid = getuid();
        const gid_t gid = getgid();
        if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
            return false;
        writeBytes(QStringLiteral("/proc/self/setgroups"), "deny");
        writeBytes(QStringLiteral("/proc/self/uid_map"), "0 " + QByteArray::number(uid) + " 1");
        writeBytes(QStringLiteral("/proc/self/gid_map"), "0 " + QByteArray::number(gid) + " 1");
    }
    return mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

// What a save in a child process found.
struct Outcome
{
    QString setupFailure; // the fault could not be arranged
    Saved saved;
    QByteArray onDisk;
    QStringList entries; // the folder's content afterwards
};

Outcome failed(const QString& setup)
{
    Outcome o;
    o.setupFailure = setup;
    return o;
}

// Runs work in a forked child: file size limits, mounts and a removed current folder stay there.
Outcome inChild(const std::function<Outcome()>& work)
{
    int fds[2];
    if (pipe(fds) != 0)
        return failed(QStringLiteral("pipe"));
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const Outcome o = work();
        QByteArray bytes;
        QDataStream out(&bytes, QIODevice::WriteOnly);
        out << o.setupFailure << o.saved.ok << o.saved.message << o.onDisk << o.entries;
        for (qsizetype done = 0; done < bytes.size();) {
            const ssize_t n = write(fds[1], bytes.constData() + done, size_t(bytes.size() - done));
            if (n <= 0)
                break;
            done += n;
        }
        _exit(0);
    }
    close(fds[1]);
    QByteArray bytes;
    char buffer[65536];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;)
        bytes.append(buffer, n);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    Outcome o;
    if (!WIFEXITED(status) || bytes.isEmpty())
        return failed(QStringLiteral("the child process died (status %1)").arg(status));
    QDataStream in(bytes);
    in >> o.setupFailure >> o.saved.ok >> o.saved.message >> o.onDisk >> o.entries;
    return o;
}

QStringList entriesOf(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

} // namespace

class tst_SaveFaults : public QObject
{
    Q_OBJECT

private slots:
    void failedSaveKeepsOldFile_data();
    void failedSaveKeepsOldFile();
    void killedWhileSaving_data();
    void killedWhileSaving();
};

void tst_SaveFaults::failedSaveKeepsOldFile_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("newLines");
    QTest::addColumn<QString>("reason"); // part of the message

    for (const QString& file : {QStringLiteral("proxy.lst"), QStringLiteral("proxysources.lst")}) {
        const auto row = [&file](const char* name) -> QTestData& {
            return QTest::addRow("%s: %s", qPrintable(file), name) << file;
        };
        // Faults root meets as well as anyone.
        row("a folder in its place") << "folder" << 2 << "";
        row("current folder removed") << "removed" << 2 << "";
        row("file size limit") << "size limit" << 2000 << "File too large";
        // Small enough to sit in a write buffer until the end: the failure must still be seen.
        row("full disk, short list") << "full disk" << 2 << "No space left on device";
        row("full disk, long list") << "full disk" << 5000 << "No space left on device";
        row("read-only disk") << "read-only" << 2 << "not writable";
    }
}

void tst_SaveFaults::failedSaveKeepsOldFile()
{
    QFETCH(QString, file);
    QFETCH(QString, fault);
    QFETCH(int, newLines);
    QFETCH(QString, reason);

    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("disk"));
    QVERIFY(QDir().mkdir(folder));
    const QStringList lines = listOf(file, newLines, QStringLiteral("new"));
    const QByteArray old = "old line\n";

    const Outcome o = inChild([&]() -> Outcome {
        QString path = folder + u'/' + file;
        if (fault == u"full disk" || fault == u"read-only") {
            if (!privateMounts() || mount("tmpfs", qPrintable(folder), "tmpfs", 0, "size=64k") != 0)
                return failed(QStringLiteral("cannot mount a tmpfs here"));
        }
        if (fault == u"folder") {
            QDir().mkdir(path);
        } else if (fault == u"removed") {
            QDir::setCurrent(folder);
            QDir().rmdir(folder);
            path = defaultPath(file);
        } else if (!writeBytes(path, old)) {
            return failed(QStringLiteral("cannot write the old file"));
        }
        if (fault == u"full disk") {
            QFile filler(folder + QStringLiteral("/filler"));
            filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
            const QByteArray block(4096, 'f');
            while (filler.write(block) == block.size())
                continue;
            filler.close();
            if (filler.size() < 32 * 1024)
                return failed(QStringLiteral("the tmpfs is not limited"));
        } else if (fault == u"read-only") {
            if (mount(nullptr, qPrintable(folder), nullptr, MS_REMOUNT | MS_RDONLY, "size=64k") !=
                0)
                return failed(QStringLiteral("cannot make the tmpfs read-only"));
        } else if (fault == u"size limit") {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{1024, 1024};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        Outcome result;
        result.saved = save(file, lines, path);
        result.onDisk = readBytes(path);
        result.entries = entriesOf(folder);
        result.entries.removeAll(QStringLiteral("filler"));
        return result;
    });
    if (o.setupFailure == u"cannot mount a tmpfs here")
        QSKIP("no tmpfs can be mounted here; the file size limit stands in for a full disk");
    QVERIFY2(o.setupFailure.isEmpty(), qPrintable(o.setupFailure));

    QVERIFY2(
        !o.saved.ok,
        qPrintable(QStringLiteral("reported as saved; %1 bytes on disk").arg(o.onDisk.size())));
    // One line for the status text: which file, and why.
    const QRegularExpression says(
        QStringLiteral("^Could not save %1: ([^\n]+)\\z").arg(QRegularExpression::escape(file)));
    const QRegularExpressionMatch match = says.match(o.saved.message);
    QVERIFY2(match.hasMatch(), qPrintable(o.saved.message));
    QVERIFY2(match.captured(1).contains(reason), qPrintable(o.saved.message));
    QVERIFY2(!match.captured(1).contains(QLatin1String("Unknown error")),
             qPrintable(o.saved.message));
    // The old file stays as it was and no temporary file is left beside it.
    if (fault == u"removed") {
        QCOMPARE(o.entries, QStringList());
    } else {
        QCOMPARE(o.entries, QStringList{file});
        QCOMPARE(o.onDisk, fault == u"folder" ? QByteArray("<unreadable>") : old);
    }
}

void tst_SaveFaults::killedWhileSaving_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("proxy.lst") << QStringLiteral("proxy.lst");
    QTest::newRow("proxysources.lst") << QStringLiteral("proxysources.lst");
}

void tst_SaveFaults::killedWhileSaving()
{
    QFETCH(QString, file);
    constexpr int Kills = 200;

    QTemporaryDir dir;
    const QString path = dir.filePath(file);
    // Two lists of different lengths, so that a cut-off or mixed file is neither.
    const QStringList lists[2] = {listOf(file, 20000, QStringLiteral("old")),
                                  listOf(file, 15000, QStringLiteral("new"))};
    QByteArray contents[2];
    QElapsedTimer clock;
    clock.start();
    for (int k = 0; k < 2; ++k) {
        QVERIFY(save(file, lists[k], path).ok);
        contents[k] = readBytes(path);
    }
    const qint64 saveUs = qMax<qint64>(clock.nsecsElapsed() / 2000, 100);

    int found[2] = {0, 0};
    int leftovers = 0;
    QRandomGenerator random(20240601);
    for (int i = 0; i < Kills; ++i) {
        const pid_t pid = fork();
        QVERIFY(pid >= 0);
        if (pid == 0) {
            for (int k = 0;; k ^= 1)
                save(file, lists[k], path);
        }
        // Anywhere within the next three saves.
        usleep(useconds_t(random.bounded(3 * saveUs)));
        kill(pid, SIGKILL);
        int status = 0;
        QCOMPARE(waitpid(pid, &status, 0), pid);

        const QByteArray onDisk = readBytes(path);
        const int which = onDisk == contents[0] ? 0 : onDisk == contents[1] ? 1 : -1;
        QVERIFY2(which >= 0,
                 qPrintable(QStringLiteral("kill %1 left %2 bytes that are neither list")
                                .arg(i)
                                .arg(onDisk.size())));
        ++found[which];
        // A temporary file a killed save could not clean up; it never replaces the list.
        for (const QString& entry : entriesOf(dir.path())) {
            if (entry != file) {
                ++leftovers;
                QVERIFY(QFile::remove(dir.filePath(entry)));
            }
        }
    }
    // The kills found the saves at work, not only before the first one.
    QVERIFY2(found[0] > 0 && found[1] > 0,
             qPrintable(QStringLiteral("old %1, new %2").arg(found[0]).arg(found[1])));
    qInfo("%d kills: old list %d times, new list %d times, %d temporary files left behind", Kills,
          found[0], found[1], leftovers);
}

QTEST_GUILESS_MAIN(tst_SaveFaults)
#include "tst_SaveFaults.moc"
