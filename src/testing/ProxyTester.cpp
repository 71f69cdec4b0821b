#include "testing/ProxyTester.h"

#include "base/WindowHost.h"
#include "base/YieldClock.h"
#include "model/ImportedListStore.h"
#include "model/NumberText.h"
#include "model/ProxyEndpoint.h"
#include "model/ProxyTableModel.h"
#include "service/HttpFetcher.h"
#include "settings/SettingsStore.h"
#include "testing/CurlEngine.h"
#include "testing/JudgeEcho.h"
#include "testing/JudgeList.h"
#include "testing/MmdbLocation.h"
#include "testing/OpenFiles.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QHash>
#include <QSet>
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
constexpr int StartBatch = 32;
// Failures in a row that got past the proxy before a judge is fetched directly to see whether it
// still answers.
constexpr int JudgeSuspectFailures = 3;

QString testingText(const QString& proxy)
{
    return QStringLiteral("Testing proxy : ") + proxy;
}

} // namespace

// One test run. Up to `width` rows are in flight at once, each a judge fetch through its proxy
// (for an untyped proxy with type detection on, one per protocol tried, within the row's one
// time-out) and, for a working proxy without a location, a location look-up after it.
//
// Judges: without judges.lst the service's gate page is the one judge. Otherwise every judge is
// first fetched directly, which shows the user's own address as that judge sees it, and leaves out
// judges that do not answer. During the run a failure whose request got past the proxy (the proxy
// answered in its protocol, the judge's answer was wrong or missing) may be the judge's fault: such
// failures are held, not written. A pass through the same judge shows the judge works, and the held
// failures are written. After JudgeSuspectFailures held failures the judge is fetched directly; if
// that fails too, the judge is left out and its held proxies are tested again on another one.
// Proxies that cannot be reached never reach a judge, so a list of dead proxies never holds
// anything against one.
class ProxyTester::Run final : public QObject
{
public:
    Run(ProxyTester& tester, const std::vector<int>& rows, const Target& target, int width,
        int timeoutSeconds)
        : m_tester(tester), m_engine(*tester.m_engine), m_pending(rows.begin(), rows.end()),
          m_target(target), m_width(width), m_timeoutMs(qint64(std::max(1, timeoutSeconds)) * 1000),
          m_detect(tester.onImportedPage(target) && tester.m_options.detectType),
          m_total(int(rows.size())), m_countsShown(width > 1)
    {
        m_saveTimer.setSingleShot(true);
        connect(&m_saveTimer, &QTimer::timeout, this, [this] { saveNow(); });
    }

    ~Run() override { cancelAll(); }

    void run()
    {
        if (!prepareJudges())
            return;
        openLocations();
        limitWidth();
        fill();
        if (busy())
            m_loop.exec();
        cancelAll();
        if (m_dirty)
            saveNow();
    }

    ProxyTester::Progress progress() const
    {
        return {m_total, m_finished, m_working, m_failed, m_inFlight};
    }

    // Stop: what is in flight ends now and is written nowhere; results that came in before are
    // still written.
    void wake()
    {
        if (!stopped())
            return;
        cancelAll();
        settle();
    }

private:
    struct Test;

    struct Judge
    {
        QString url;
        bool serviceGate = false;
        bool https = false;
        bool live = true;
        QString userAddress; // the user's own address as this judge sees it
        int suspectFailures = 0;
        quint64 check = 0; // the direct fetch in flight, 0 when none
        QString checkToken;
        bool answerFaultSaid = false;
        std::vector<Test*> held;
    };

    struct Test
    {
        int row = 0;
        QString proxy;
        QString location; // the row's Location cell when it started
        std::vector<ProxyType> tries;
        std::size_t attempt = 0;
        QElapsedTimer clock;
        int judge = -1;
        QString token;
        quint64 transfer = 0; // the judge's fetch through the proxy, then the region look-up
        bool inFlight = false;
        ProxyCheck::Outcome outcome;
    };

    bool stopped() const { return m_tester.m_host.isStopRequested(); }
    bool busy() const
    {
        return m_inFlight > 0 || m_checks > 0 || m_writeQueued || m_startQueued || !m_done.empty();
    }

    void say(const QString& line)
    {
        const QString now = m_tester.m_host.statusText();
        m_tester.m_host.setStatusText(now.isEmpty() ? line : now + LineBreak + line);
        m_notes << line; // kept below the counts
        emit m_tester.note(line);
    }

    // ---- judges -----------------------------------------------------------------------------

    bool prepareJudges()
    {
        const QString& path = m_tester.m_options.judgesFile;
        const JudgeList::Loaded listed = JudgeList::load(path);
        if (!listed.read.ok())
            say(listed.read.message());
        for (const JudgeList::Refused& refused : listed.refused)
            say(JudgeList::refusedText(path, refused));
        if (listed.urls.isEmpty()) {
            Judge gate;
            gate.url = ProxyCheck::gateUrl(m_tester.m_serviceUrl);
            gate.serviceGate = true;
            gate.userAddress = m_tester.m_settings.read(Setting::MYIP).trimmed();
            m_judges.push_back(std::move(gate));
            return true;
        }
        for (const QString& url : listed.urls) {
            Judge judge;
            judge.url = url;
            judge.https =
                QUrl(url).scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
            m_judges.push_back(std::move(judge));
        }
        for (std::size_t j = 0; j < m_judges.size(); ++j)
            checkJudge(int(j));
        if (busy())
            m_loop.exec();
        if (stopped())
            return false;
        if (!anyLiveJudge()) {
            say(QStringLiteral("No judge in judges.lst answered: nothing was tested."));
            return false;
        }
        return true;
    }

    bool anyLiveJudge() const
    {
        return std::any_of(m_judges.begin(), m_judges.end(),
                           [](const Judge& judge) { return judge.live; });
    }

    static bool fits(const Judge& judge, ProxyType type)
    {
        if (!judge.live)
            return false;
        if (type == ProxyType::HttpsTunnel)
            return judge.https;
        if (type == ProxyType::Http)
            return !judge.https;
        return true;
    }

    // The next live judge that can test the type, in turn.
    int pickJudge(ProxyType type)
    {
        const int n = int(m_judges.size());
        for (int k = 0; k < n; ++k) {
            const int j = (m_nextJudge + k) % n;
            if (fits(m_judges[j], type)) {
                m_nextJudge = j + 1;
                return j;
            }
        }
        return -1;
    }

    // Fetches the judge directly. At the start of the run this learns the user's address; later
    // it tells a dead judge from a run of bad proxies.
    void checkJudge(int j)
    {
        Judge& judge = m_judges[j];
        judge.checkToken = JudgeEcho::newToken();
        ProbeRequest request;
        request.url = QUrl(JudgeEcho::withToken(judge.url, judge.checkToken));
        request.timeoutMs = int(m_timeoutMs);
        request.userAgent = m_tester.m_options.userAgent;
        ++m_checks;
        judge.check =
            m_engine.start(request, [this, j](const ProbeResult& result) { checkDone(j, result); });
    }

    void checkDone(int j, const ProbeResult& result)
    {
        Judge& judge = m_judges[j];
        judge.check = 0;
        --m_checks;
        if (stopped())
            return settle();
        const JudgeEcho::DirectCheck check =
            JudgeEcho::checkDirect(result.ok ? QString() : result.errorText, result.status,
                                   result.body, judge.checkToken, judge.serviceGate);
        if (!m_started) {
            // The check at the start of the run.
            if (check.works)
                judge.userAddress = check.userAddress;
            else
                leaveOut(judge, QStringLiteral("left out: ") + check.failure);
            return settle();
        }
        if (check.works) {
            releaseHeld(judge);
        } else {
            leaveOut(judge, QStringLiteral("stopped answering (") + check.failure +
                                QStringLiteral("), left out for the rest of this run"));
            // Its proxies never had a fair test: they go to another judge.
            for (auto it = judge.held.rbegin(); it != judge.held.rend(); ++it)
                m_pending.push_front((*it)->row);
            judge.held.clear();
            if (!anyLiveJudge()) {
                say(QStringLiteral(
                    "No judge is left: the proxies not tested yet keep what they had."));
                m_pending.clear();
            }
        }
        fill();
    }

    void leaveOut(Judge& judge, const QString& why)
    {
        judge.live = false;
        say(QStringLiteral("Judge ") + judge.url + u' ' + why);
    }

    // Failures held against a judge that turned out to work were the proxies' own.
    void releaseHeld(Judge& judge)
    {
        judge.suspectFailures = 0;
        for (Test* t : judge.held)
            queueWrite(t);
        judge.held.clear();
    }

    // ---- rows -------------------------------------------------------------------------------

    void limitWidth()
    {
        const int sockets = std::max(1, OpenFiles::socketsAvailable());
        if (sockets < m_width) {
            say(QStringLiteral("Testing %1 at once: the open-files limit allows no more.")
                    .arg(sockets));
            m_width = sockets;
        }
    }

    void openLocations()
    {
        const QString& file = m_tester.m_options.mmdbFile;
        if (file.isEmpty())
            return;
        const Result opened = m_locations.open(file);
        if (!opened.ok())
            say(opened.message() + QStringLiteral(": locations come from the service instead."));
    }

    // New tests start a batch per turn of the event loop: a thousand connections opened in one
    // go would keep the window waiting, and would all reach their time-out together again.
    void fill()
    {
        m_started = true;
        if (!m_startQueued && m_inFlight < m_width && !m_pending.empty() && !stopped()) {
            m_startQueued = true;
            QMetaObject::invokeMethod(this, &Run::startSome, Qt::QueuedConnection);
        }
        settle();
    }

    void startSome()
    {
        m_startQueued = false;
        for (int k = 0; k < StartBatch && m_inFlight < m_width && !m_pending.empty() && !stopped();
             ++k) {
            const int row = m_pending.front();
            m_pending.pop_front();
            startRow(row);
        }
        sayCounts();
        fill();
    }

    // "Testing 2 000 proxies: 1 210 done, 402 working, 808 failed, 256 running", and the bar's
    // "1 210 of 2 000".
    void sayCounts()
    {
        if (!m_countsShown)
            return;
        const auto n = [](int count) { return NumberText::grouped(count); };
        const QString counts =
            QStringLiteral("Testing %1 %2: %3 done, %4 working, %5 failed, %6 running")
                .arg(n(m_total), m_total == 1 ? QStringLiteral("proxy") : QStringLiteral("proxies"),
                     n(m_finished), n(m_working), n(m_failed), n(m_inFlight));
        m_tester.m_host.setStatusText(
            m_notes.isEmpty() ? counts : counts + LineBreak + m_notes.join(LineBreak));
        m_tester.m_host.setProgressText(QStringLiteral("%1 of %2").arg(n(m_finished), n(m_total)));
    }

    void settle()
    {
        if (m_started && m_inFlight == 0 && m_pending.empty() && !stopped())
            checkHeldJudges();
        if (!busy())
            m_loop.quit();
    }

    // Nothing else will tell whether failures held against a judge were its fault.
    void checkHeldJudges()
    {
        for (std::size_t j = 0; j < m_judges.size(); ++j) {
            const Judge& judge = m_judges[j];
            if (judge.live && !judge.held.empty() && judge.check == 0)
                checkJudge(int(j));
        }
    }

    void startRow(int row)
    {
        const QString typeText = m_target.rows->TextMatrix(row, ProxyRow::Type);
        ProxyType type = ProxyType::Http;
        if (!ProxyCheck::typeOf(typeText, &type)) {
            if (m_countsShown)
                sayOnce(QStringLiteral("Unable to Test Socks4/5"));
            else
                m_tester.m_host.setStatusText(QStringLiteral("Unable to Test Socks4/5"));
            return rowDone();
        }
        auto test = std::make_unique<Test>();
        Test* t = test.get();
        t->row = row;
        t->proxy = m_target.rows->TextMatrix(row, ProxyRow::Proxy);
        t->location = m_target.rows->TextMatrix(row, ProxyRow::Location);
        if (typeText.isEmpty() && m_detect)
            t->tries.assign(std::begin(ProxyCheck::DetectionOrder),
                            std::end(ProxyCheck::DetectionOrder));
        else
            t->tries.push_back(type);
        if (!hasJudgeFor(t->tries.front())) {
            sayOnce(
                type == ProxyType::HttpsTunnel
                    ? QStringLiteral("HTTPS proxies need an https judge in judges.lst: they are "
                                     "not tested.")
                    : QStringLiteral("HTTP proxies need an http judge in judges.lst: they are "
                                     "not tested."));
            return rowDone();
        }
        m_tests.push_back(std::move(test));
        t->inFlight = true;
        ++m_inFlight;
        t->clock.start();
        if (m_width == 1)
            m_tester.m_host.setStatusText(testingText(t->proxy));
        // An empty row or one that is no host:port has no proxy to go through.
        if (!ProxyEndpoint::parse(t->proxy)) {
            ++m_tester.m_gateFetches;
            m_tester.m_lastGateBody.clear();
            return testEnded(t);
        }
        attempt(t);
    }

    bool hasJudgeFor(ProxyType type) const
    {
        return std::any_of(m_judges.begin(), m_judges.end(),
                           [type](const Judge& judge) { return fits(judge, type); });
    }

    void sayOnce(const QString& line)
    {
        if (!m_said.contains(line)) {
            m_said.insert(line);
            say(line);
        }
    }

    void attempt(Test* t)
    {
        const ProxyType type = t->tries[t->attempt];
        t->judge = pickJudge(type);
        const qint64 left = m_timeoutMs - t->clock.elapsed();
        if (t->judge < 0 || left <= 0)
            return testEnded(t);
        t->token = JudgeEcho::newToken();
        t->outcome.judge = m_judges[t->judge].url;
        ProbeRequest request;
        request.url = QUrl(JudgeEcho::withToken(m_judges[t->judge].url, t->token));
        request.type = type;
        request.proxy = t->proxy;
        request.timeoutMs = int(left);
        request.userAgent = m_tester.m_options.userAgent;
        t->transfer =
            m_engine.start(request, [this, t](const ProbeResult& result) { probeDone(t, result); });
    }

    void probeDone(Test* t, const ProbeResult& result)
    {
        t->transfer = 0;
        if (stopped())
            return dropTest(t);
        if (result.noSocket) {
            // Not tested at all: the row waits for a socket that another test gives back, with
            // fewer tests at once. With none in flight no socket will come back.
            t->inFlight = false;
            --m_inFlight;
            if (m_inFlight == 0) {
                say(QStringLiteral("No socket could be opened: the proxies not tested yet keep "
                                   "what they had."));
                m_pending.clear();
                return settle();
            }
            m_width = m_inFlight;
            sayOnce(QStringLiteral("Testing fewer at once: no more sockets could be opened."));
            m_pending.push_front(t->row);
            return fill();
        }
        Judge& judge = m_judges[t->judge];
        const JudgeEcho::Report report = JudgeEcho::parse(result.body);
        const bool passed =
            result.ok && JudgeEcho::passed(report, result.status, t->token, judge.serviceGate);
        ++m_tester.m_gateFetches;
        m_tester.m_lastGateBody =
            result.ok && result.status == 200 ? QString::fromUtf8(result.body) : QString();
        if (passed) {
            releaseHeld(judge);
            return testPassed(t, judge, report, result);
        }
        if (result.ok && result.status == 200 && report.kind == JudgeEcho::Kind::Unknown &&
            !judge.answerFaultSaid) {
            judge.answerFaultSaid = true;
            say(QStringLiteral("Judge ") + judge.url + QStringLiteral(": ") + report.error);
        }
        const bool beyond = result.reach == ProbeResult::Reach::Beyond;
        // Another protocol is worth a try only when something answered, wrongly, in time.
        if (!beyond && result.reach != ProbeResult::Reach::None && !result.timedOut &&
            t->attempt + 1 < t->tries.size()) {
            ++t->attempt;
            return attempt(t);
        }
        if (beyond) {
            holdAgainst(t);
            return;
        }
        testEnded(t);
    }

    void holdAgainst(Test* t)
    {
        Judge& judge = m_judges[t->judge];
        judge.held.push_back(t);
        t->inFlight = false;
        --m_inFlight;
        if (++judge.suspectFailures >= JudgeSuspectFailures && judge.check == 0)
            checkJudge(t->judge);
        fill();
    }

    void testPassed(Test* t, const Judge& judge, const JudgeEcho::Report& report,
                    const ProbeResult& result)
    {
        ProxyCheck::Outcome& outcome = t->outcome;
        outcome.passed = true;
        outcome.seconds = result.seconds;
        outcome.exitAddress = report.remoteAddr;
        if (m_tester.onImportedPage(m_target))
            outcome.klass = JudgeEcho::anonymityClass(report, judge.userAddress, judge.serviceGate);
        if (t->tries.size() > 1)
            outcome.type = ProxyCheck::typeText(t->tries[t->attempt]);
        if (!t->location.isEmpty())
            return testEnded(t);
        if (m_locations.isOpen()) {
            outcome.location =
                ProxyCheck::locationFromAnswer(m_locations.locate(report.remoteAddr));
            return testEnded(t);
        }
        ProbeRequest request;
        request.url = QUrl(ProxyCheck::regionUrl(m_tester.m_serviceUrl, t->proxy));
        request.timeoutMs = RegionTimeoutSeconds * 1000;
        request.userAgent = m_tester.m_options.userAgent;
        t->transfer = m_engine.start(request, [this, t](const ProbeResult& region) {
            t->transfer = 0;
            if (stopped())
                return dropTest(t);
            if (region.ok && region.status == 200)
                t->outcome.location =
                    ProxyCheck::locationFromAnswer(QString::fromUtf8(region.body));
            testEnded(t);
        });
    }

    // Results are written a few at a time, a batch per turn of the event loop: many proxies
    // answering at once would otherwise keep the window waiting until all of them are written.
    void testEnded(Test* t)
    {
        if (t->inFlight) {
            t->inFlight = false;
            --m_inFlight;
        }
        queueWrite(t);
    }

    void queueWrite(Test* t)
    {
        m_done.push_back(t);
        if (!m_writeQueued) {
            m_writeQueued = true;
            QMetaObject::invokeMethod(this, &Run::writeResults, Qt::QueuedConnection);
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
        sayCounts();
        if (!m_done.empty() && !m_writeQueued) {
            m_writeQueued = true;
            QMetaObject::invokeMethod(this, &Run::writeResults, Qt::QueuedConnection);
        }
        fill();
    }

    void writeResult(Test* t)
    {
        t->outcome.tested = ProxyCheck::testTimeText(QDateTime::currentDateTime());
        m_tester.writeResult(m_target, t->row, t->proxy, t->outcome);
        ++(t->outcome.passed ? m_working : m_failed);
        // Side by side, the last result is no current proxy: the counts say how the run goes.
        if (!m_countsShown)
            m_tester.m_host.setStatusText(testingText(t->proxy) + LineBreak +
                                          (t->outcome.passed ? ProxyOk : InvalidProxy));
        if (m_tester.onImportedPage(m_target))
            listChanged();
        rowDone();
    }

    // A test that Stop cut short: its row and stored line keep what they had.
    void dropTest(Test* t)
    {
        if (t->inFlight) {
            t->inFlight = false;
            --m_inFlight;
        }
        rowDone();
        settle();
    }

    void cancelAll()
    {
        for (const auto& t : m_tests) {
            if (t->transfer != 0) {
                m_engine.cancel(t->transfer);
                t->transfer = 0;
            }
            if (t->inFlight) {
                t->inFlight = false;
                --m_inFlight;
            }
        }
        for (Judge& judge : m_judges) {
            if (judge.check != 0) {
                m_engine.cancel(judge.check);
                judge.check = 0;
                --m_checks;
            }
            judge.held.clear();
        }
        m_pending.clear();
    }

    void rowDone()
    {
        ++m_finished;
        m_tester.m_host.setProgressValue(m_finished);
    }

    void listChanged()
    {
        m_dirty = true;
        if (m_width == 1 || !m_sinceSave.isValid() || m_sinceSave.elapsed() >= SaveIntervalMs)
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
    CurlEngine& m_engine;
    std::deque<int> m_pending; // rows not started yet
    const Target& m_target;
    int m_width;
    const qint64 m_timeoutMs;
    const bool m_detect;
    std::vector<Judge> m_judges;
    int m_nextJudge = 0;
    MmdbLocation m_locations;
    bool m_started = false; // past the judges' first check
    int m_inFlight = 0;
    int m_checks = 0;
    int m_finished = 0;
    const int m_total;
    const bool m_countsShown; // side by side: counts, not the proxy last tested
    QStringList m_notes;      // what the run said, shown below the counts
    int m_working = 0;
    int m_failed = 0;
    std::vector<std::unique_ptr<Test>> m_tests; // kept until the run ends: callbacks name them
    std::deque<Test*> m_done;                   // ended, not written yet
    QSet<QString> m_said;
    bool m_writeQueued = false;
    bool m_startQueued = false;
    QEventLoop m_loop;
    QTimer m_saveTimer;
    QElapsedTimer m_sinceSave;
    bool m_dirty = false;
};

ProxyTester::ProxyTester(WindowHost& host, ImportedListStore& store, ProxyTableModel& importedRows,
                         const SettingsStore& settings, const QString& serviceUrl, QObject* parent)
    : QObject(parent), m_host(host), m_store(store), m_importedRows(importedRows),
      m_settings(settings), m_serviceUrl(serviceUrl), m_engine(std::make_unique<CurlEngine>())
{}

ProxyTester::~ProxyTester() = default;

void ProxyTester::testSelectedProxies(const Target& target, int timeoutSeconds)
{
    if (m_running || !target.rows)
        return;
    m_host.setBusyCursor(true);
    std::vector<int> rows;
    if (target.currentRow >= 1) {
        const int last =
            std::min(std::max(target.currentRow, target.selectionEnd), target.rows->Rows() - 1);
        for (int r = std::min(target.currentRow, target.selectionEnd); r <= last; ++r)
            rows.push_back(r);
    }
    if (!rows.empty()) {
        const int n = int(rows.size());
        m_host.setProgressMaximum(n);
        m_host.lockForRun(target.grid);
        m_host.setStatusText(QStringLiteral("Testing %1 Proxies..").arg(n));
        testProxies(rows, target, timeoutSeconds);
    }
    m_host.setBusyCursor(false);
}

void ProxyTester::testProxies(const std::vector<int>& rows, const Target& target,
                              int timeoutSeconds)
{
    if (m_running || !target.rows)
        return;
    m_running = true;
    m_options = m_fixedOptions ? *m_fixedOptions : optionsFrom(m_settings);
    m_host.lockForRun(target.grid);
    const int n = int(rows.size());
    if (n > 2)
        m_host.setProgressMaximum(n);

    {
        Run run(*this, rows, target, m_options.parallel, timeoutSeconds);
        m_run = &run;
        run.run();
        m_run = nullptr;
    }

    m_importedIndex.reset();
    // Results written after the Stop may have replaced what the Stop said.
    if (m_host.isStopRequested() && !m_host.statusText().endsWith(FinishedText))
        m_host.setStatusText(m_host.statusText() + LineBreak + FinishedText);
    m_host.setProgressValue(0);
    m_host.setProgressText(QString());
    m_host.unlockAfterRun(target.grid);
    m_host.clearStopRequested();
    m_running = false;
}

ProxyTester::Options ProxyTester::optionsFrom(const SettingsStore& settings)
{
    Options options;
    options.parallel = settings.value(Setting::ParallelTests);
    options.detectType = settings.value(Setting::DetectType);
    options.mmdbFile = settings.read(Setting::MmdbFile).trimmed();
    options.judgesFile = JudgeList::defaultPath();
    options.userAgent = HttpFetcher::UserAgent;
    options.listPath = ImportedListStore::defaultPath();
    return options;
}

ProxyTester::Progress ProxyTester::progress() const
{
    return m_run ? m_run->progress() : Progress();
}

void ProxyTester::wake()
{
    if (m_run)
        m_run->wake();
}

void ProxyTester::writeResult(const Target& target, int row, const QString& proxy,
                              const ProxyCheck::Outcome& outcome)
{
    ProxyTableModel& rows = *target.rows;
    if (row < 1 || row >= rows.Rows() || rows.TextMatrix(row, ProxyRow::Proxy) != proxy)
        return;
    const ProxyRow::Colour colour = ProxyCheck::outcomeColour(outcome);
    auto update = [&](ProxyTableModel& model, int r) {
        ProxyTableModel::Row copy = model.row(r);
        ProxyCheck::applyOutcome(copy.cells, outcome);
        copy.fore.fill(colour);
        model.setRow(r, copy);
        return copy.cells;
    };
    const ProxyRow::Cells cells = update(rows, row);
    m_host.showTestedRow(target.grid, row);
    emit tested(row, outcome);
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
    if (m_options.listPath.isEmpty())
        return;
    ++m_saves;
    YieldClock clock;
    clock.yieldNow(); // what came before may have used up the allowance
    const Result saved = m_store.saveToFile(m_options.listPath, clock.server());
    if (!saved.ok()) {
        m_host.setStatusText(m_host.statusText() + LineBreak + saved.message());
        emit note(saved.message());
    }
}
