#include "testing/CheckRun.h"

#include "base/StopFlag.h"
#include "base/WindowHost.h"
#include "model/ImportedListStore.h"
#include "model/NumberText.h"
#include "model/ProxyTableModel.h"
#include "model/RowExport.h"
#include "settings/SettingsStore.h"
#include "testing/CheckInput.h"
#include "testing/ProxyTester.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace {

constexpr int ProgressIntervalMs = 250;
constexpr int ImportedGrid = 3; // tested as on the imported page: classes and types found

QString clock(qint64 seconds)
{
    return seconds >= 3600 ? QStringLiteral("%1:%2:%3")
                                 .arg(seconds / 3600)
                                 .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
                                 .arg(seconds % 60, 2, 10, QLatin1Char('0'))
                           : QStringLiteral("%1:%2")
                                 .arg(seconds / 60)
                                 .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

// Writes all of bytes; false when the reader is gone (EPIPE) or writing failed otherwise.
bool writeAll(int fd, const QByteArray& bytes)
{
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        left -= n;
    }
    return true;
}

} // namespace

// The window as the engine sees it, without one: the Stop flag and the status text, nothing
// else.
class CheckRun::Host final : public WindowHost
{
public:
    void setStatusText(const QString& text) override { m_status = text; }
    QString statusText() const override { return m_status; }
    void setPanelText(int, const QString&) override {}
    void setProgressMaximum(int) override {}
    void setProgressValue(int) override {}
    void setProgressText(const QString&) override {}
    void setBusyCursor(bool) override {}
    const StopFlag& stopFlag() const override { return m_stop; }
    bool isStopRequested() const override { return m_stop.isRequested() || m_stopped; }
    void clearStopRequested() override { m_stop.clear(); }
    void requestStop() override
    {
        m_stopped = true;
        m_stop.request();
    }
    void enableControls(bool) override {}
    void lockForRun(int) override {}
    void showTestedRow(int, int) override {}
    void unlockAfterRun(int) override {}
    void testSelectedProxies(int) override {}
    void showImportedPage() override {}
    void reloadLists() override {}
    void Form_Resize() override {}
    bool windowMinimized() const override { return false; }
    void restoreWindow() override {}

    bool stopped() const { return m_stopped; } // stays set once the run cleared the flag

private:
    QString m_status;
    StopFlag m_stop;
    bool m_stopped = false;
};

CheckRun::CheckRun(const CheckOptions::Config& config, const QString& serviceUrl, int out, int err,
                   bool showProgress)
    : m_config(config), m_out(out), m_err(err), m_progressShown(showProgress && !config.quiet),
      m_host(std::make_unique<Host>()), m_settings(std::make_unique<SettingsStore>()),
      m_store(std::make_unique<ImportedListStore>()), m_rows(std::make_unique<ProxyTableModel>())
{
    m_tester = std::make_unique<ProxyTester>(*m_host, *m_store, *m_rows, *m_settings, serviceUrl);
    ProxyTester::Options options;
    options.parallel = config.parallel;
    options.detectType = config.detectType;
    options.mmdbFile = config.mmdbFile;
    options.judgesFile = config.judgesFile;
    options.userAgent = config.userAgent.toUtf8();
    if (config.store)
        options.listPath = QFileInfo(config.storeFile).absoluteFilePath();
    m_tester->setOptions(options);
    connect(m_tester.get(), &ProxyTester::tested, this, &CheckRun::tested);
    connect(m_tester.get(), &ProxyTester::note, this, &CheckRun::say);
    m_progressTimer.setInterval(ProgressIntervalMs);
    connect(&m_progressTimer, &QTimer::timeout, this, &CheckRun::showProgress);
    // A pipe whose reader is gone says so only to a write; with every test still waiting on
    // its proxy there may be none for a long time, so the pipe is asked now and then.
    m_outputTimer.setInterval(ProgressIntervalMs);
    connect(&m_outputTimer, &QTimer::timeout, this, [this] {
        pollfd out{m_out, 0, 0};
        if (::poll(&out, 1, 0) == 1 && (out.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            m_outputClosed = true;
            stop();
        }
    });
}

CheckRun::~CheckRun() = default;

void CheckRun::setProxies(const QStringList& proxies)
{
    std::vector<ProxyTableModel::Row> rows(size_t(proxies.size()));
    for (qsizetype i = 0; i < proxies.size(); ++i)
        rows[size_t(i)].cells[ProxyRow::Proxy] = proxies[i];
    m_rows->setRows(1);
    m_rows->appendRows(std::move(rows));
}

Result CheckRun::loadStore()
{
    const QString path = m_config.storeFile;
    if (QFileInfo(path).isDir())
        return Result::failure(path + QStringLiteral(": is a folder, not a list of proxies"));
    const Result loaded = m_store->loadFromFile(path);
    if (!loaded.ok())
        return Result::failure(loaded.message());
    // Each proxy of the list once; its row as stored, so its type is tested as written.
    QStringList proxies;
    QHash<QString, QString> lineOf;
    int skipped = 0;
    for (const QString& line : m_store->lines()) {
        const QString proxy = ProxyRow::proxyField(line).toString();
        if (CheckInput::proxyOfLine(proxy) != proxy || proxy.isEmpty()) {
            ++skipped;
            continue;
        }
        if (!lineOf.contains(proxy)) {
            lineOf.insert(proxy, line);
            proxies.append(proxy);
        }
    }
    if (skipped > 0)
        say(QStringLiteral("%1: %2 line(s) without a host:port proxy left alone")
                .arg(path)
                .arg(skipped));
    if (proxies.isEmpty())
        return Result::failure(path + QStringLiteral(": no proxy to test"));
    proxies = CheckInput::shard(proxies, m_config.shard, m_config.shardCount);
    std::vector<ProxyTableModel::Row> rows(size_t(proxies.size()));
    for (qsizetype i = 0; i < proxies.size(); ++i)
        ProxyRow::readStoredRowText(lineOf.value(proxies[i]), rows[size_t(i)].cells);
    m_rows->setRows(1);
    m_rows->appendRows(std::move(rows));
    return Result::success();
}

int CheckRun::proxyCount() const
{
    return m_rows->Rows() - 1;
}

int CheckRun::run()
{
    if (m_config.format == CheckOptions::Format::Csv)
        write(RowExport::csvHeader(RowExport::Extras::Without));
    std::vector<int> rows;
    for (int r = 1; r < m_rows->Rows(); ++r)
        rows.push_back(r);
    m_clock.start();
    m_outputTimer.start();
    if (m_progressShown) {
        m_progressTimer.start();
        showProgress();
    }
    ProxyTester::Target target;
    target.rows = m_rows.get();
    target.grid = ImportedGrid;
    m_tester->testProxies(rows, target, m_config.timeoutSeconds);
    m_progressTimer.stop();
    m_outputTimer.stop();
    clearProgress();
    if (m_host->stopped() && !m_outputClosed)
        say(QStringLiteral("Stopped: the tests still running were dropped."));
    return m_working > 0 ? 0 : 1;
}

void CheckRun::stop()
{
    if (m_host->isStopRequested())
        return;
    m_host->requestStop();
    m_tester->wake();
}

void CheckRun::say(const QString& line)
{
    if (m_config.quiet)
        return;
    clearProgress();
    writeAll(m_err, line.toUtf8() + '\n');
    if (m_progressShown && m_progressTimer.isActive())
        showProgress();
}

void CheckRun::tested(int row, const ProxyCheck::Outcome& outcome)
{
    if (outcome.passed)
        ++m_working;
    if (m_outputClosed || !listed(row, outcome))
        return;
    RowExport::Row exported;
    exported.cells = m_rows->row(row).cells;
    exported.exitAddress = outcome.exitAddress;
    exported.judge = outcome.judge;
    switch (m_config.format) {
    case CheckOptions::Format::Text:
        if (outcome.passed)
            write(RowExport::plainLine(exported));
        break;
    case CheckOptions::Format::Csv:
        write(RowExport::csvLine(exported, RowExport::Extras::Without));
        break;
    case CheckOptions::Format::JsonLines:
        write(RowExport::jsonLine(exported, RowExport::Extras::With));
        break;
    }
}

bool CheckRun::listed(int row, const ProxyCheck::Outcome& outcome) const
{
    if (!m_config.type.isEmpty()) {
        QString type = m_rows->TextMatrix(row, ProxyRow::Type);
        if (type.isEmpty())
            type = QStringLiteral("HTTP");
        if (type.compare(m_config.type, Qt::CaseInsensitive) != 0)
            return false;
    }
    if (!m_config.klass.isEmpty() &&
        m_rows->TextMatrix(row, ProxyRow::Class)
                .compare(CheckOptions::classText(m_config.klass), Qt::CaseInsensitive) != 0)
        return false;
    if (m_config.maxSpeed && (!outcome.passed || outcome.seconds > *m_config.maxSpeed))
        return false;
    return true;
}

void CheckRun::write(const QByteArray& bytes)
{
    if (m_outputClosed)
        return;
    if (!writeAll(m_out, bytes)) {
        // Nobody reads what comes next: stop as Ctrl+C does.
        m_outputClosed = true;
        stop();
    }
}

void CheckRun::showProgress()
{
    const ProxyTester::Progress p = m_tester->progress();
    const auto n = [](int count) { return NumberText::grouped(count); };
    const double seconds = std::max<qint64>(1, m_clock.elapsed()) / 1000.0;
    const double rate = p.finished / seconds;
    const int total = p.total > 0 ? p.total : proxyCount();
    QString line = QStringLiteral("%1 of %2 done, %3 working, %4 failed, %5 running, %6/s")
                       .arg(n(p.finished), n(total), n(p.working), n(p.failed), n(p.running))
                       .arg(rate, 0, 'f', 1);
    if (p.finished > 0 && rate > 0)
        line += QStringLiteral(", %1 left").arg(clock(qint64((total - p.finished) / rate)));
    writeAll(m_err, "\r\033[K" + line.toUtf8());
    m_progressOnScreen = true;
}

void CheckRun::clearProgress()
{
    if (!m_progressOnScreen)
        return;
    writeAll(m_err, "\r\033[K");
    m_progressOnScreen = false;
}
