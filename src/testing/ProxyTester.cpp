#include "testing/ProxyTester.h"

#include "model/ImportedListStore.h"
#include "model/ProxyTableModel.h"
#include "model/SettingsStore.h"
#include "service/DocumentFetcher.h"
#include "service/HttpFetcher.h"
#include "shell/YieldClock.h"
#include "testing/TestRunHost.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QHash>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <deque>

namespace {

const QString ProxyOk = QStringLiteral("Proxy OK");
const QString InvalidProxy = QStringLiteral("Invalid Proxy");
const QString LineBreak = QStringLiteral("\r\n");
const QString FinishedText = QStringLiteral("Finished checking proxies..");

constexpr int RegionTimeoutSeconds = 60;
constexpr int SaveIntervalMs = 1000;
constexpr int WriteBatchMs = 10;

QString testingText(const QString& proxy)
{
    return QStringLiteral("Testing proxy : ") + proxy;
}

} // namespace

// Up to `width` rows in flight at once, each a gate fetch and, for a working proxy without a
// location, a region look-up after it. The run's local event loop ends when nothing is in flight
// and nothing is left to start.
class ProxyTester::ParallelRun final : public QObject
{
public:
    ParallelRun(ProxyTester& tester, const std::vector<int>& rows, const Target& target,
                int width)
        : m_tester(tester), m_rows(rows), m_target(target), m_width(width)
    {
        m_saveTimer.setSingleShot(true);
        connect(&m_saveTimer, &QTimer::timeout, this, [this] { saveNow(); });
    }

    void run()
    {
        fill();
        if (m_inFlight > 0)
            m_loop.exec();
        if (m_dirty)
            saveNow();
    }

    // Stop: what is in flight ends now and is written nowhere.
    void wake()
    {
        if (!m_tester.m_host.isStopRequested())
            return;
        const auto jobs = findJobs();
        for (FetchJob* job : jobs)
            job->abort();
    }

private:
    struct Test
    {
        int row = 0;
        QString proxy;
        QString location; // the row's Location cell when it started
        ProxyCheck::Outcome outcome;
        QPointer<FetchJob> job;
    };

    bool stopped() const { return m_tester.m_host.isStopRequested(); }

    std::vector<FetchJob*> findJobs() const
    {
        std::vector<FetchJob*> jobs;
        for (const auto& test : m_tests) {
            if (test->job)
                jobs.push_back(test->job);
        }
        return jobs;
    }

    void fill()
    {
        while (m_inFlight < m_width && m_next < m_rows.size() && !stopped()) {
            const int row = m_rows[m_next++];
            const QString proxy = m_tester.testableProxy(m_target, row);
            if (proxy.isEmpty()) {
                rowDone();
                continue;
            }
            auto test = std::make_unique<Test>();
            test->row = row;
            test->proxy = proxy;
            test->location = m_target.rows->TextMatrix(row, ProxyRow::Location);
            Test* t = test.get();
            m_tests.push_back(std::move(test));
            ++m_inFlight;
            FetchRequest request;
            request.url = QUrl(ProxyCheck::gateUrl(m_tester.m_serviceUrl));
            request.proxy = proxy;
            request.timeoutSeconds = m_tester.m_fetcher.testTimeout();
            start(t, request, [this, t](const FetchResult& result) { gateDone(t, result); });
        }
        if (m_inFlight == 0)
            m_loop.quit();
    }

    template<typename Done>
    void start(Test* t, const FetchRequest& request, Done done)
    {
        FetchJob* job = m_tester.m_http.start(request);
        t->job = job;
        connect(job, &FetchJob::finished, this, done);
    }

    static QString bodyOf(const FetchResult& result)
    {
        return result.error == 0 && result.status == 200 ? result.body : QString();
    }

    void gateDone(Test* t, const FetchResult& result)
    {
        t->job = nullptr;
        if (stopped()) {
            dropTest();
            return;
        }
        const QString body = bodyOf(result);
        m_tester.m_lastGateBody = body;
        ++m_tester.m_gateFetches;
        ProxyCheck::Outcome& outcome = t->outcome;
        outcome.seconds = result.elapsedSeconds;
        outcome.passed = ProxyCheck::gatePassed(body, result.error);
        if (outcome.passed && m_tester.onImportedPage(m_target))
            outcome.klass = ProxyCheck::anonymityClass(body);
        if (outcome.passed && t->location.isEmpty() && !stopped()) {
            FetchRequest request;
            request.url = QUrl(ProxyCheck::regionUrl(m_tester.m_serviceUrl, t->proxy));
            request.timeoutSeconds = RegionTimeoutSeconds;
            start(t, request, [this, t](const FetchResult& region) {
                t->job = nullptr;
                if (stopped()) {
                    dropTest();
                    return;
                }
                t->outcome.location = ProxyCheck::locationFromAnswer(bodyOf(region));
                testDone(t);
            });
            return;
        }
        testDone(t);
    }

    // Results are written a few at a time, a batch per turn of the event loop: many proxies
    // answering at once would otherwise keep the window waiting until all of them are written.
    void testDone(Test* t)
    {
        m_done.push_back(t);
        if (!m_writeQueued) {
            m_writeQueued = true;
            QMetaObject::invokeMethod(this, &ParallelRun::writeResults, Qt::QueuedConnection);
        }
    }

    void writeResults()
    {
        m_writeQueued = false;
        QElapsedTimer batch;
        batch.start();
        while (!m_done.empty() && batch.elapsed() < WriteBatchMs) {
            Test* t = m_done.front();
            m_done.pop_front();
            writeResult(t);
        }
        if (!m_done.empty() && !m_writeQueued) {
            m_writeQueued = true;
            QMetaObject::invokeMethod(this, &ParallelRun::writeResults, Qt::QueuedConnection);
        }
    }

    void writeResult(Test* t)
    {
        t->outcome.tested = ProxyCheck::testTimeText(QDateTime::currentDateTime());
        m_tester.writeResult(m_target, t->row, t->proxy, t->outcome);
        m_tester.m_host.setStatusText(testingText(t->proxy) + LineBreak +
                                      (t->outcome.passed ? ProxyOk : InvalidProxy));
        if (m_tester.onImportedPage(m_target))
            listChanged();
        --m_inFlight;
        rowDone();
        fill();
    }

    // A test that Stop cut short: its row and stored line keep what they had.
    void dropTest()
    {
        --m_inFlight;
        rowDone();
        if (m_inFlight == 0 && !m_writeQueued)
            m_loop.quit();
    }

    void rowDone()
    {
        ++m_finished;
        m_tester.m_host.setProgressValue(m_finished);
    }

    void listChanged()
    {
        m_dirty = true;
        if (!m_sinceSave.isValid() || m_sinceSave.elapsed() >= SaveIntervalMs)
            saveNow();
        else if (!m_saveTimer.isActive())
            m_saveTimer.start(int(SaveIntervalMs - m_sinceSave.elapsed()));
    }

    void saveNow()
    {
        m_saveTimer.stop();
        m_dirty = false;
        m_sinceSave.start();
        m_tester.saveList();
    }

    ProxyTester& m_tester;
    const std::vector<int>& m_rows;
    const Target& m_target;
    const int m_width;
    std::size_t m_next = 0;
    int m_inFlight = 0;
    int m_finished = 0;
    std::vector<std::unique_ptr<Test>> m_tests; // kept until the run ends: signals still name them
    std::deque<Test*> m_done;                   // ended, not written yet
    bool m_writeQueued = false;
    QEventLoop m_loop;
    QTimer m_saveTimer;
    QElapsedTimer m_sinceSave;
    bool m_dirty = false;
};

ProxyTester::ProxyTester(TestRunHost& host, DocumentFetcher& fetcher, HttpFetcher& http,
                         ImportedListStore& store, ProxyTableModel& importedRows,
                         const SettingsStore& settings, const QString& serviceUrl,
                         QObject* parent)
    : QObject(parent), m_host(host), m_fetcher(fetcher), m_http(http), m_store(store),
      m_importedRows(importedRows), m_settings(settings), m_serviceUrl(serviceUrl)
{}

ProxyTester::~ProxyTester() = default;

void ProxyTester::testSelectedProxies(const Target& target)
{
    if (m_running || !target.rows)
        return;
    m_host.setBusyCursor(true);
    std::vector<int> rows;
    if (target.currentRow >= 1) {
        const int last = std::min(std::max(target.currentRow, target.selectionEnd),
                                  target.rows->Rows() - 1);
        for (int r = std::min(target.currentRow, target.selectionEnd); r <= last; ++r)
            rows.push_back(r);
    }
    if (!rows.empty()) {
        const int n = int(rows.size());
        m_host.setProgressMaximum(n);
        m_host.lockForRun(target.grid);
        m_host.setStatusText(QStringLiteral("Testing %1 Proxies..").arg(n));
        testProxies(rows, target);
    }
    m_host.setBusyCursor(false);
}

void ProxyTester::testProxies(const std::vector<int>& rows, const Target& target)
{
    if (m_running || !target.rows)
        return;
    m_running = true;
    m_host.lockForRun(target.grid);
    const int n = int(rows.size());
    if (n > 2)
        m_host.setProgressMaximum(n);

    const int width = ProxyCheck::parallelTests(m_settings);
    if (width <= 1) {
        runSerial(rows, target);
    } else {
        ParallelRun run(*this, rows, target, width);
        m_parallel = &run;
        run.run();
        m_parallel = nullptr;
    }

    m_importedIndex.reset();
    // Results written after the Stop may have replaced what the Stop said.
    if (m_host.isStopRequested() && !m_host.statusText().endsWith(FinishedText))
        m_host.setStatusText(m_host.statusText() + LineBreak + FinishedText);
    m_host.setProgressValue(0);
    m_host.unlockAfterRun(target.grid);
    m_host.clearStopRequested();
    m_running = false;
}

void ProxyTester::wake()
{
    if (m_parallel)
        m_parallel->wake();
}

void ProxyTester::runSerial(const std::vector<int>& rows, const Target& target)
{
    const QString gate = ProxyCheck::gateUrl(m_serviceUrl);
    for (std::size_t k = 0; k < rows.size(); ++k) {
        m_host.setProgressValue(int(k) + 1);
        if (m_host.isStopRequested())
            break;
        const int row = rows[k];
        const QString proxy = testableProxy(target, row);
        if (!proxy.isEmpty()) {
            m_host.setStatusText(testingText(proxy));
            ProxyCheck::Outcome outcome;
            const QString body = m_fetcher.getDOC_WINHTTP(true, true, gate, proxy);
            if (m_host.isStopRequested())
                break;
            m_lastGateBody = body;
            ++m_gateFetches;
            outcome.seconds = m_fetcher.httpSeconds;
            outcome.passed = ProxyCheck::gatePassed(body, m_fetcher.httpError);
            if (outcome.passed) {
                if (target.rows->TextMatrix(row, ProxyRow::Location).isEmpty()) {
                    outcome.location = ProxyCheck::locationFromAnswer(m_fetcher.getDOC_WINHTTP(
                        true, false, ProxyCheck::regionUrl(m_serviceUrl, proxy)));
                    if (m_host.isStopRequested())
                        break;
                }
                if (onImportedPage(target))
                    outcome.klass = ProxyCheck::anonymityClass(body);
            }
            m_host.setStatusText(m_host.statusText() + LineBreak +
                                 (outcome.passed ? ProxyOk : InvalidProxy));
            outcome.tested = ProxyCheck::testTimeText(QDateTime::currentDateTime());
            writeResult(target, row, proxy, outcome);
            if (onImportedPage(target))
                saveList();
        }
        if (m_host.isStopRequested())
            break;
    }
}

QString ProxyTester::testableProxy(const Target& target, int row)
{
    if (!ProxyCheck::isTestableType(target.rows->TextMatrix(row, ProxyRow::Type))) {
        m_host.setStatusText(QStringLiteral("Unable to Test Socks4/5"));
        return QString();
    }
    // An empty row has no proxy: fetched without one, the gate page would pass it.
    return target.rows->TextMatrix(row, ProxyRow::Proxy);
}

void ProxyTester::writeResult(const Target& target, int row, const QString& proxy,
                              const ProxyCheck::Outcome& outcome)
{
    ProxyTableModel& rows = *target.rows;
    if (row < 1 || row >= rows.Rows() || rows.TextMatrix(row, ProxyRow::Proxy) != proxy)
        return;
    const QRgb colour = ProxyCheck::outcomeColour(outcome);
    auto update = [&](ProxyTableModel& model, int r) {
        ProxyTableModel::Row copy = model.row(r);
        ProxyCheck::applyOutcome(copy.cells, outcome);
        copy.fore.fill(colour);
        model.setRow(r, copy);
        return copy.cells;
    };
    const ProxyRow::Cells cells = update(rows, row);
    m_host.showTestedRow(target.grid, row);
    if (!onImportedPage(target))
        return;
    if (target.grid == 4 && &rows != &m_importedRows) {
        const int mainRow = importedMainRow(proxy);
        if (mainRow >= 1)
            update(m_importedRows, mainRow);
    }
    const int line = m_store.find(proxy);
    if (line >= 0)
        m_store.setItem(line, ProxyRow::storedRowText(cells));
}

int ProxyTester::importedMainRow(const QString& proxy)
{
    if (!m_importedIndex) {
        m_importedIndex = std::make_unique<QHash<QString, int>>();
        m_importedIndex->reserve(m_importedRows.Rows());
        for (int r = m_importedRows.Rows() - 1; r >= 1; --r)
            m_importedIndex->insert(m_importedRows.TextMatrix(r, ProxyRow::Proxy), r);
    }
    const int row = m_importedIndex->value(proxy, -1);
    return row >= 1 && m_importedRows.TextMatrix(row, ProxyRow::Proxy) == proxy ? row : -1;
}

void ProxyTester::saveList()
{
    ++m_saves;
    YieldClock clock;
    clock.yieldNow(); // what came before may have used up the allowance
    const ImportedListStore::Result saved =
        m_store.saveToFile(ImportedListStore::defaultPath(), clock.server());
    if (!saved.ok)
        m_host.setStatusText(m_host.statusText() + LineBreak + saved.message);
}
