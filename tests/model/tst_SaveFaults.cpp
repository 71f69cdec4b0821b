#include "import/SourceList.h"
#include "model/ImportedListStore.h"

#include <QDataStream>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

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

// `count` lines of the list kept in `file` (proxy.lst or proxysources.lst), marked with tag.
QStringList listOf(const QString& file, int count, const QString& tag)
{
    QStringList lines;
    for (int i = 0; i < count; ++i)
        lines << (file == u"proxy.lst"
                      ? QStringLiteral("?|10.%1.%2.1:8080|0||%3|||||||||").arg(i / 256).arg(i % 256)
                      : QStringLiteral("http://%3.example/list/%1.txt").arg(i))
                     .arg(tag);
    return lines;
}

// Saves lines through the store that owns `file`'s kind of list.
Saved save(const QString& file, const QStringList& lines, const QString& path)
{
    if (file == u"proxy.lst") {
        ImportedListStore store;
        store.addMany(lines);
        const Result r = store.saveToFile(path);
        return {r.ok(), r.message()};
    }
    SourceList sources;
    for (const QString& line : lines)
        sources.add(line);
    const Result r = sources.saveToFile(path);
    return {r.ok(), r.message()};
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
        const QByteArray uid = QByteArray::number(getuid()), gid = QByteArray::number(getgid());
        if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
            return false;
        writeBytes(QStringLiteral("/proc/self/setgroups"), "deny");
        writeBytes(QStringLiteral("/proc/self/uid_map"), "0 " + uid + " 1");
        writeBytes(QStringLiteral("/proc/self/gid_map"), "0 " + gid + " 1");
    }
    return mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

QStringList entriesOf(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
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
        const Outcome o = work();
        QFile pipeEnd;
        pipeEnd.open(fds[1], QIODevice::WriteOnly);
        QDataStream out(&pipeEnd);
        out << o.setupFailure << o.saved.ok << o.saved.message << o.onDisk << o.entries;
        pipeEnd.close();
        _exit(0);
    }
    close(fds[1]);
    QFile pipeEnd;
    pipeEnd.open(fds[0], QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
    const QByteArray bytes = pipeEnd.readAll();
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || bytes.isEmpty())
        return failed(QStringLiteral("the child process died (status %1)").arg(status));
    Outcome o;
    QDataStream in(bytes);
    in >> o.setupFailure >> o.saved.ok >> o.saved.message >> o.onDisk >> o.entries;
    return o;
}

} // namespace

class tst_SaveFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("proxy.lst") << QStringLiteral("proxy.lst");
        QTest::newRow("proxysources.lst") << QStringLiteral("proxysources.lst");
    }

    void failedSaveKeepsOldFile_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("newLines");
        QTest::addColumn<QString>("reason"); // part of the message

        // Faults root meets as well as anyone.
        QTest::newRow("a folder in its place") << "folder" << 2 << "";
        QTest::newRow("current folder removed") << "removed" << 2 << "";
        QTest::newRow("file size limit") << "size limit" << 2000 << "File too large";
        // Small enough to sit in a write buffer until the end: the failure must still be seen.
        QTest::newRow("full disk, short list") << "full disk" << 2 << "No space left on device";
        QTest::newRow("read-only disk") << "read-only" << 2 << "not writable";
    }

    void failedSaveKeepsOldFile()
    {
        QFETCH_GLOBAL(QString, file);
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
            if ((fault == u"full disk" || fault == u"read-only") &&
                (!privateMounts() || mount("tmpfs", qPrintable(folder), "tmpfs", 0, "size=64k")))
                return failed(QStringLiteral("cannot mount a tmpfs here"));
            if (fault == u"folder") {
                QDir().mkdir(path);
            } else if (fault == u"removed") {
                QDir::setCurrent(folder);
                QDir().rmdir(folder);
                path = file == u"proxy.lst" ? ImportedListStore::defaultPath()
                                            : SourceList::defaultPath();
            } else if (!writeBytes(path, old)) {
                return failed(QStringLiteral("cannot write the old file"));
            }
            if (fault == u"full disk") {
                QFile filler(folder + QStringLiteral("/filler"));
                filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
                while (filler.write(QByteArray(4096, 'f')) == 4096)
                    continue;
                if (filler.size() < 32 * 1024)
                    return failed(QStringLiteral("the tmpfs is not limited"));
            } else if (fault == u"read-only" && mount(nullptr, qPrintable(folder), nullptr,
                                                      MS_REMOUNT | MS_RDONLY, "size=64k")) {
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

        QVERIFY2(!o.saved.ok, qPrintable(QStringLiteral("saved; %1 bytes").arg(o.onDisk.size())));
        // One line for the status text: which file, and why.
        const QRegularExpressionMatch match =
            QRegularExpression(QStringLiteral("^Could not save %1: ([^\n]+)\\z")
                                   .arg(QRegularExpression::escape(file)))
                .match(o.saved.message);
        QVERIFY2(match.hasMatch() && match.captured(1).contains(reason) &&
                     !match.captured(1).contains(QLatin1String("Unknown error")),
                 qPrintable(o.saved.message));
        // The old file stays as it was and no temporary file is left beside it.
        QCOMPARE(o.entries, fault == u"removed" ? QStringList() : QStringList{file});
        if (fault != u"removed")
            QCOMPARE(o.onDisk, fault == u"folder" ? QByteArray("<unreadable>") : old);
    }

    // SIGKILL at random moments of saves that alternate two lists: the file on disk is always one
    // of them whole.
    void killedWhileSaving()
    {
        QFETCH_GLOBAL(QString, file);
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
        QRandomGenerator random(20240601);
        // A loaded machine may slow the child down: the window widens until both lists were met.
        for (int i = 0; i < Kills || ((!found[0] || !found[1]) && i < 3 * Kills); ++i) {
            const pid_t pid = fork();
            QVERIFY(pid >= 0);
            if (pid == 0) {
                for (int k = 0;; k ^= 1)
                    save(file, lists[k], path);
            }
            // Within the next few saves; a forked child may save slower than the parent did (a
            // save takes the lock and reads the file again first; under the sanitizers that is
            // a good part of a second).
            const qint64 window = std::min<qint64>((6 * saveUs) << (i / Kills), 1000000);
            usleep(useconds_t(random.bounded(window)));
            kill(pid, SIGKILL);
            QCOMPARE(waitpid(pid, nullptr, 0), pid);

            const QByteArray onDisk = readBytes(path);
            const int which = onDisk == contents[0] ? 0 : onDisk == contents[1] ? 1 : -1;
            QVERIFY2(
                which >= 0,
                qPrintable(
                    QStringLiteral("kill %1 left %2 bytes of neither").arg(i).arg(onDisk.size())));
            ++found[which];
            // A killed save may leave its temporary file; it never replaces the list.
            for (const QString& entry : entriesOf(dir.path()))
                QVERIFY(entry == file || QFile::remove(dir.filePath(entry)));
        }
        // The kills found the saves at work, not only before the first one.
        QVERIFY2(found[0] > 0 && found[1] > 0,
                 qPrintable(QStringLiteral("old %1, new %2").arg(found[0]).arg(found[1])));
    }
};

QTEST_GUILESS_MAIN(tst_SaveFaults)
#include "tst_SaveFaults.moc"
