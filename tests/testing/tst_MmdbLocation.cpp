#include "support/WorkFolder.h"
#include "testing/MmdbLocation.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

// How many of this process's memory mappings show path: a database open in MMAP mode is one.
int mappingsOf(const QString& path)
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
        qFatal("cannot read /proc/self/maps");
    const QByteArray name = QFile::encodeName(path);
    int count = 0;
    for (const QByteArray& line : maps.readAll().split('\n'))
        count += line.endsWith(' ' + name) ? 1 : 0;
    return count;
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", qPrintable(path));
    return file.readAll();
}

} // namespace

class tst_MmdbLocation : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        const QString perl = QStandardPaths::findExecutable(QStringLiteral("perl"));
        if (perl.isEmpty())
            QSKIP("perl is not installed: the test database cannot be built");
        if (QProcess::execute(
                perl, {QStringLiteral("-MMaxMind::DB::Writer::Tree"), QStringLiteral("-e1")}) != 0)
            QSKIP("the Perl module MaxMind::DB::Writer::Tree is not installed (Debian package "
                  "libmaxmind-db-writer-perl): the test database cannot be built");
        m_db = m_dir.filePath(QStringLiteral("test.mmdb"));
        QProcess make;
        make.start(perl,
                   {QStringLiteral(CORVATEL_SOURCE_DIR "/tests/testing/make_test_mmdb.pl"), m_db});
        QVERIFY(make.waitForFinished(60000));
        QVERIFY2(make.exitStatus() == QProcess::NormalExit && make.exitCode() == 0,
                 make.readAllStandardError().constData());
    }

    void locate_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("location");
        const auto row = [](const char* name, const char* address, const QString& location = {}) {
            QTest::newRow(name) << QString(address) << location;
        };
        const QString loopback = QStringLiteral("Loopback City, Loopback Land");
        row("city and country", "127.0.0.1", loopback);
        row("IPv4 written as IPv6", "::ffff:127.0.0.1", loopback);
        row("country only", "10.20.30.40", "Private Land");
        row("city only", "172.31.0.1", "Lone City");
        row("pipe and line breaks blanked", "192.168.7.7", "Pipe Town East, Line  Land");
        row("names in German only", "100.64.0.1");
        row("IPv6, UTF-8 names", "2001:db8:ffff::1", QStringLiteral("Z\u00fcrich, Schweiz"));
        row("IPv6 not in the file", "2001:db9::1");
        row("with a port", "127.0.0.1:8080");
        row("short IPv4 form", "127.1");
        row("host name", "localhost");
    }

    void locate()
    {
        QFETCH(QString, address);
        QFETCH(QString, location);
        MmdbLocation db;
        const Result opened = db.open(m_db);
        QVERIFY2(opened.ok(), qPrintable(opened.message()));
        QVERIFY(db.isOpen());
        QCOMPARE(db.locate(address), location);
    }

    void badFile_data()
    {
        QTest::addColumn<QString>("what");   // what is at the path
        QTest::addColumn<QString>("reason"); // part of the error line
        const auto row = [](const char* name, const char* what, const char* reason) {
            QTest::newRow(name) << QString(what) << QString(reason);
        };
        row("missing", "", "No such file or directory");
        row("text file", "text", "invalid metadata");
        row("first half of a database", "half", "invalid metadata");
        row("folder", "folder", "not a file");
        row("no path", "no path", "No location database");
    }

    // A file that is no database leaves nothing open, not even the database opened before, and
    // says in one line which file and why.
    void badFile()
    {
        QFETCH(QString, what);
        QFETCH(QString, reason);
        WorkFolder dir;
        const QString path =
            what == "no path" ? QString() : dir.filePath(QStringLiteral("bad.mmdb"));
        const QByteArray real = readAll(m_db);
        if (what == "text")
            dir.write(QStringLiteral("bad.mmdb"),
                      "127.0.0.0/8 Loopback City\n10.0.0.0/8 Private Land\n");
        else if (what == "half")
            dir.write(QStringLiteral("bad.mmdb"), real.left(real.size() / 2));
        else if (what == "folder")
            QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("bad.mmdb")));

        MmdbLocation db;
        QVERIFY(db.open(m_db).ok());
        const Result failed = db.open(path);
        const QString& error = failed.message();
        QVERIFY(!failed.ok());
        QVERIFY(!db.isOpen());
        QCOMPARE(db.locate(QStringLiteral("127.0.0.1")), QString());
        QCOMPARE(mappingsOf(m_db), 0);
        QVERIFY2(error.contains(reason, Qt::CaseInsensitive), qPrintable(error));
        QVERIFY2(error.contains(path), qPrintable(error));
        QVERIFY2(!error.contains(u'\n'), qPrintable(error));
    }

    // The metadata is intact, so the file opens; what the damaged search tree would have found is
    // then nothing, not a crash or garbage.
    void damagedContentFindsNothing()
    {
        QByteArray bytes = readAll(m_db);
        const qsizetype metadata = bytes.lastIndexOf("\xab\xcd\xefMaxMind.com");
        QVERIFY(metadata > 300);
        bytes.replace(0, metadata - 300, QByteArray(metadata - 300, '\xff'));
        WorkFolder dir;
        MmdbLocation db;
        const Result opened = db.open(dir.write(QStringLiteral("damaged.mmdb"), bytes));
        QVERIFY2(opened.ok(), qPrintable(opened.message()));
        for (const char* address : {"127.0.0.1", "10.0.0.1", "192.168.0.1", "2001:db8::1"})
            QCOMPARE(db.locate(QLatin1String(address)), QString());
    }

    // One database at a time is mapped: opening another lets the previous go, and so does the end.
    void reopenClosesThePrevious()
    {
        const QString copy = m_dir.filePath(QStringLiteral("copy.mmdb"));
        QFile::remove(copy);
        QVERIFY(QFile::copy(m_db, copy));
        {
            MmdbLocation db;
            QVERIFY(db.open(m_db).ok());
            QVERIFY(db.open(copy).ok());
            QCOMPARE(mappingsOf(m_db), 0);
            QCOMPARE(mappingsOf(copy), 1);
            QCOMPARE(db.locate(QStringLiteral("127.0.0.1")),
                     QStringLiteral("Loopback City, Loopback Land"));
        }
        QCOMPARE(mappingsOf(copy), 0);
    }

private:
    QTemporaryDir m_dir;
    QString m_db; // built by make_test_mmdb.pl
};

QTEST_GUILESS_MAIN(tst_MmdbLocation)
#include "tst_MmdbLocation.moc"
