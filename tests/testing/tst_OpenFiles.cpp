#include "testing/OpenFiles.h"

#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <vector>

namespace {

rlimit currentLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        qFatal("getrlimit failed");
    return limit;
}

bool setSoftLimit(rlim_t soft)
{
    rlimit limit = currentLimit();
    limit.rlim_cur = soft;
    return setrlimit(RLIMIT_NOFILE, &limit) == 0;
}

// Sets the soft limit so that exactly headroom more descriptors may be opened now.
bool leaveHeadroom(int headroom)
{
    const rlim_t open = currentLimit().rlim_cur - rlim_t(OpenFiles::socketsAvailable(0));
    return setSoftLimit(open + rlim_t(headroom));
}

// Descriptors to files in dir, closed when it goes.
struct OpenedFiles
{
    ~OpenedFiles()
    {
        for (const int fd : fds)
            ::close(fd);
    }
    // Opens one more; false (errno set) when the process may not.
    bool openOne(const QTemporaryDir& dir)
    {
        const QByteArray name = dir.filePath(QString::number(fds.size())).toLocal8Bit();
        const int fd = ::open(name.constData(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
        if (fd < 0)
            return false;
        fds.push_back(fd);
        return true;
    }
    std::vector<int> fds;
};

} // namespace

class tst_OpenFiles : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { m_original = currentLimit(); }
    void cleanup() { setrlimit(RLIMIT_NOFILE, &m_original); }
    void availableLessReserve_data();
    void availableLessReserve();
    void followsOpenedFiles();
    void allAvailableCanBeOpened();
    void raisedToTheHardLimit();

private:
    rlimit m_original{};
};

void tst_OpenFiles::availableLessReserve_data()
{
    QTest::addColumn<int>("headroom");
    QTest::addColumn<int>("reserve"); // -1: the default
    QTest::addColumn<int>("available");
    QTest::newRow("no reserve") << 100 << 0 << 100;
    QTest::newRow("some reserved") << 100 << 30 << 70;
    QTest::newRow("default reserve") << 100 << -1 << 36;
    QTest::newRow("all reserved") << 64 << 64 << 0;
    QTest::newRow("more reserved than left") << 10 << 64 << 0;
    QTest::newRow("none left") << 0 << 0 << 0;
}

void tst_OpenFiles::availableLessReserve()
{
    QFETCH(int, headroom);
    QFETCH(int, reserve);
    QFETCH(int, available);
    QVERIFY(leaveHeadroom(headroom));
    QCOMPARE(reserve < 0 ? OpenFiles::socketsAvailable() : OpenFiles::socketsAvailable(reserve),
             available);
}

void tst_OpenFiles::followsOpenedFiles()
{
    QTemporaryDir dir;
    const int before = OpenFiles::socketsAvailable();
    {
        OpenedFiles files;
        for (int i = 0; i < 50; ++i)
            QVERIFY(files.openOne(dir));
        QCOMPARE(OpenFiles::socketsAvailable(), before - 50);
    }
    QCOMPARE(OpenFiles::socketsAvailable(), before);
}

// What is said to be available with no reserve can be opened. (One more may open too: the limit
// bounds descriptor numbers, and one inherited with a number above it takes no place below.)
void tst_OpenFiles::allAvailableCanBeOpened()
{
    QTemporaryDir dir;
    QVERIFY(leaveHeadroom(40));
    const int available = OpenFiles::socketsAvailable(0);
    QCOMPARE(available, 40);
    OpenedFiles files;
    for (int i = 0; i < available; ++i)
        QVERIFY2(files.openOne(dir), qPrintable(QString::number(i)));
    QCOMPARE(OpenFiles::socketsAvailable(0), 0);
}

void tst_OpenFiles::raisedToTheHardLimit()
{
    if (m_original.rlim_max == RLIM_INFINITY)
        QSKIP("the hard limit on open files is unlimited here");
    QVERIFY(leaveHeadroom(100));
    const rlim_t lowered = currentLimit().rlim_cur;
    QVERIFY(lowered < m_original.rlim_max);
    const int availableBefore = OpenFiles::socketsAvailable();
    OpenFiles::raiseSoftLimit();
    QCOMPARE(currentLimit().rlim_cur, m_original.rlim_max);
    QCOMPARE(OpenFiles::socketsAvailable(), availableBefore + int(m_original.rlim_max - lowered));
    // A second call, at the hard limit already, leaves it there.
    OpenFiles::raiseSoftLimit();
    QCOMPARE(currentLimit().rlim_cur, m_original.rlim_max);
}

QTEST_GUILESS_MAIN(tst_OpenFiles)
#include "tst_OpenFiles.moc"
