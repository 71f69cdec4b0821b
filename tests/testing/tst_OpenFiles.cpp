#include "testing/OpenFiles.h"

#include <QTemporaryFile>
#include <QTest>

#include <sys/resource.h>

#include <memory>
#include <vector>

namespace {

rlimit currentLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        qFatal("getrlimit failed");
    return limit;
}

// Sets the soft limit so that exactly headroom more descriptors may be opened now.
bool leaveHeadroom(int headroom)
{
    rlimit limit = currentLimit();
    limit.rlim_cur = limit.rlim_cur - rlim_t(OpenFiles::socketsAvailable(0)) + rlim_t(headroom);
    return setrlimit(RLIMIT_NOFILE, &limit) == 0;
}

} // namespace

class tst_OpenFiles : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { m_original = currentLimit(); }
    void cleanup() { setrlimit(RLIMIT_NOFILE, &m_original); }

    // What is left below the soft limit, less the reserve, follows the files opened.
    void available()
    {
        QVERIFY(leaveHeadroom(100));
        QCOMPARE(OpenFiles::socketsAvailable(30), 70);
        QCOMPARE(OpenFiles::socketsAvailable(), 36);
        QCOMPARE(OpenFiles::socketsAvailable(99), 1);
        QCOMPARE(OpenFiles::socketsAvailable(101), 0);
        std::vector<std::unique_ptr<QTemporaryFile>> files;
        for (int i = 0; i < 50; ++i) {
            files.push_back(std::make_unique<QTemporaryFile>());
            QVERIFY(files.back()->open());
        }
        QCOMPARE(OpenFiles::socketsAvailable(0), 50);
        files.clear();
        QCOMPARE(OpenFiles::socketsAvailable(0), 100);
    }

    void raisedToTheHardLimit()
    {
        if (m_original.rlim_max == RLIM_INFINITY)
            QSKIP("the hard limit on open files is unlimited here");
        QVERIFY(leaveHeadroom(100));
        QVERIFY(currentLimit().rlim_cur < m_original.rlim_max);
        OpenFiles::raiseSoftLimit();
        QCOMPARE(currentLimit().rlim_cur, m_original.rlim_max);
    }

private:
    rlimit m_original{};
};

QTEST_GUILESS_MAIN(tst_OpenFiles)
#include "tst_OpenFiles.moc"
