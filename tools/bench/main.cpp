// Benchmarks on generated data, release build. Prints one line per figure with its bar.
//   corvatel-bench [--lines N] [--wait SECONDS] [--no-tests]
//                  [--proxies N --parallel C --timeout T] [--scale-only | --mixed-only | --engines]
#include "base/Deployment.h"
#include "base/Prompts.h"
#include "import/SourceScanner.h"
#include "import/TextFileImport.h"
#include "model/ImportedListStore.h"
#include "service/DocumentFetcher.h"
#include "service/HttpFetcher.h"
#include "service/ReferenceService.h"
#include "settings/SettingsStore.h"
#include "shell/frmMain.h"
#include "support/TlsJudge.h"
#include "support/WindowControls.h"
#include "testing/CheckInput.h"
#include "testing/CurlEngine.h"
#include "testing/OpenFiles.h"
#include "testing/ProxyTester.h"
#include "views/ListPages.h"
#include "views/ProxyGrid.h"

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

namespace {

class SilentPrompts final : public Prompts
{
public:
    void message(const QString&, const QString&) override {}
    void critical(const QString&, const QString&) override {}
    bool question(const QString&, const QString&) override { return false; }
    QString input(const QString&, const QString&, const QString&, bool* ok) override
    {
        *ok = false;
        return {};
    }
    QString openFile(const QString&, const QString&) override { return {}; }
    QString saveFile(const QString&, const QString&, QString*) override { return {}; }
};

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long residentKb()
{
    long kb = 0;
    if (FILE* f = std::fopen("/proc/self/status", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, f))
            if (std::sscanf(line, "VmRSS: %ld", &kb) == 1)
                break;
        std::fclose(f);
    }
    return kb;
}

QByteArray serviceBody(int lines)
{
    static const char* const types[] = {"HTTP", "HTTPS", "SOCKS4", "SOCKS5", ""};
    static const char* const classes[] = {"Anonymous proxy", "High anonymous / Elite proxy",
                                          "Transparent proxy"};
    QByteArray body;
    body.reserve(qsizetype(lines) * 110);
    for (int i = 0; i < lines; ++i) {
        body += "10." + QByteArray::number(i >> 16) + '.' + QByteArray::number((i >> 8) & 255) +
                '.' + QByteArray::number(i & 255) + ':' + QByteArray::number(1000 + i % 9000);
        body += '|' + QByteArray::number(i % 30) + '|' + QByteArray::number(i % 101) + '|';
        body += "2013-" + QByteArray::number(10 + i % 3) + '-' + QByteArray::number(10 + i % 19) +
                ' ' + QByteArray::number(10 + i % 14) + ':' + QByteArray::number(10 + i % 50) +
                ':' + QByteArray::number(10 + i % 50) + '|';
        body += QByteArray(types[i % 5]) + "|1|1|0|1|0|Country " + QByteArray::number(i % 150) +
                '|' + classes[i % 3] + "|<BR>";
    }
    return body;
}

// The longest stretch without serving the event queue while it runs.
class GapProbe final
{
public:
    GapProbe()
    {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout,
                         [this] { m_longest = std::max(m_longest, m_since.restart()); });
    }
    void start()
    {
        m_longest = 0;
        m_since.start();
        m_timer.start();
    }
    qint64 stop()
    {
        m_timer.stop();
        return m_longest = std::max(m_longest, m_since.elapsed());
    }

private:
    QTimer m_timer;
    QElapsedTimer m_since;
    qint64 m_longest = 0;
};

// A port that takes connections (the kernel completes them) and never answers: nobody ever
// accepts them. It listens on every address, so that 127.x.y.z:port names as many different
// proxies as there are loopback addresses.
int silentPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(fd, 64) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return -1;
    return ntohs(address.sin_port); // the descriptor stays open until the process ends
}

int freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

// Waits up to about 15 s for a program just started to take connections on the port.
bool waitForPort(int port)
{
    for (int i = 0; i < 100; ++i) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, quint16(port));
        if (probe.waitForConnected(100))
            return true;
        QThread::msleep(50);
    }
    return false;
}

int threadCount()
{
    return int(QDir(QStringLiteral("/proc/self/task"))
                   .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
                   .size());
}

void fillRows(ProxyTableModel& model, const QStringList& proxies)
{
    model.setRows(1);
    std::vector<ProxyTableModel::Row> rows(size_t(proxies.size()));
    for (int i = 0; i < proxies.size(); ++i)
        rows[size_t(i)].cells[ProxyRow::Proxy] = proxies[i];
    model.appendRows(std::move(rows));
}

void report(const char* what, double value, const char* unit, double bar)
{
    std::printf("%-52s %10.3f %-3s (bar %g %s)%s\n", what, value, unit, bar, unit,
                value <= bar ? "" : "  OVER");
    std::fflush(stdout);
}

} // namespace

// A left click on a grid's column header, as the mouse gives it.
void clickHeader(ProxyGrid& grid, int col)
{
    QHeaderView* header = grid.horizontalHeader();
    const QPoint at(header->sectionViewportPosition(col) + 3, header->height() / 2);
    const QPoint global = header->viewport()->mapToGlobal(at);
    QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(header->viewport(), &press);
    QApplication::sendEvent(header->viewport(), &release);
}

// The list views on full grids: filter passes that let every row through on both pages (so all
// four grids hold `lines` rows), a header sort, deleting and pasting ten thousand rows.
bool benchViews(frmMain& window, SettingsStore& store, int lines)
{
    store.write(Setting::chkCOR, QStringLiteral("1"));
    store.write(Setting::chkIMP, QStringLiteral("1"));
    window.GetSettings();
    window.loadProxyRemote();
    GapProbe gaps;
    QElapsedTimer timer;
    char what[112];
    auto measure = [&](const char* label, double bar, const std::function<void()>& step) {
        gaps.start();
        timer.start();
        step();
        const double seconds = timer.nsecsElapsed() / 1e9;
        const qint64 gap = gaps.stop();
        std::snprintf(what, sizeof what, "%s", label);
        report(what, seconds, "s", bar);
        report("  longest wait of the event queue", double(gap), "ms", 50);
    };

    window.Option1_Click();
    ui::txtMinSpeed(window)->setText(
        QStringLiteral("1")); // a lower bound alone lets every row pass
    std::snprintf(what, sizeof what, "filter pass over %d service rows", lines);
    const std::string filterLabel = what;
    measure(filterLabel.c_str(), 0.5, [&] { window.cmdFilter_Click(); });
    window.Option2_Click();
    window.cmdFilter_Click();
    const int counts[4] = {
        ui::MSH(window)->rows().proxyCount(), ui::MSH2(window)->rows().proxyCount(),
        ui::MSHi(window)->rows().proxyCount(), ui::MSHi2(window)->rows().proxyCount()};
    std::printf("  rows in MSH, MSH2, MSHi, MSHi2: %d %d %d %d\n", counts[0], counts[1], counts[2],
                counts[3]);
    report("resident memory, all four grids full", residentKb() / 1024.0, "MB", 300);

    window.cmdReset_Click();
    measure("header sort of the imported list by Speed", 0.1,
            [&] { clickHeader(*ui::MSHi(window), ProxyRow::Speed); });

    constexpr int Chunk = 10000;
    const int before = window.importedStore().count();
    ui::MSHi(window)->setRow(1);
    ui::MSHi(window)->setRowSel(Chunk);
    measure("deleting 10000 selected imported rows", 1.0,
            [&] { window.pages().deleteImportedRows(); });
    const int afterDelete = window.importedStore().count();

    QString pasted;
    for (int i = 0; i < Chunk; ++i)
        pasted += QStringLiteral("172.16.%1.%2:3128\n").arg(i / 250).arg(i % 250 + 1);
    QGuiApplication::clipboard()->setText(pasted);
    measure("pasting 10000 proxies into the imported list", 1.0,
            [&] { window.pages().pasteProxies(); });
    const int afterPaste = window.importedStore().count();
    std::printf("  imported lines: %d, after the delete %d, after the paste %d\n", before,
                afterDelete, afterPaste);
    return afterDelete == before - Chunk && afterPaste == afterDelete + Chunk &&
           counts[1] == counts[0] && counts[3] == counts[2];
}

// The scanner's dialog, reduced to one selected source.
class OneSource final : public SourceScanner::View
{
public:
    explicit OneSource(const QString& url) : m_url(url) {}
    int sourceCount() const override { return 1; }
    QString source(int) const override { return m_url; }
    bool isSourceSelected(int) const override { return true; }
    void selectAllSources() override {}
    void setSourcesEnabled(bool) override {}
    void setProgressMaximum(int) override {}
    void setProgressValue(int) override {}
    void setTitle(const QString&) override {}

private:
    QString m_url;
};

// A text file of `lines` new proxies imported into the imported list, and a 5 MB page scanned.
bool benchImports(frmMain& window, int lines)
{
    GapProbe gaps;
    QElapsedTimer timer;
    char what[112];
    SilentPrompts prompts;

    const QString path = QDir::current().filePath(QStringLiteral("import.txt"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return false;
        QByteArray text;
        for (int i = 0; i < lines; ++i)
            text += "172.20." + QByteArray::number((i >> 8) & 255) + '.' +
                    QByteArray::number(i & 255) + ':' + QByteArray::number(1000 + (i >> 16)) +
                    (i % 2 ? "\r\n" : "\n");
        file.write(text);
    }
    const int before = window.importedStore().count();
    TextFileImport import(ui::MSHi(window)->rows(), window.importedStore(),
                          window.pages().importedUndo(), window, prompts);
    gaps.start();
    timer.start();
    const TextFileImport::Outcome imported = import.importFile(path);
    const double importSeconds = timer.nsecsElapsed() / 1e9;
    const qint64 importGap = gaps.stop();
    std::snprintf(what, sizeof what, "text file of %d lines into a %d-line list", lines, before);
    report(what, importSeconds, "s", 1.0);
    report("  longest wait of the event queue", double(importGap), "ms", 50);

    // A page of about 5 MB: proxies in running text, every tenth one new.
    QByteArray page = "<html><body><pre>\n";
    for (int i = 0; page.size() < 5 * 1024 * 1024; ++i) {
        page += "proxy ";
        if (i % 10 == 0)
            page += "http://172.21." + QByteArray::number((i >> 8) & 255) + '.' +
                    QByteArray::number(i & 255) + ':' + QByteArray::number(2000 + (i >> 16));
        else
            page += "10.9." + QByteArray::number((i >> 8) & 255) + '.' +
                    QByteArray::number(i & 255) + ":8080";
        page += " seen 2024-01-02, anonymous, 1.5 s\n";
    }
    QTcpServer web;
    web.listen(QHostAddress::LocalHost);
    QObject::connect(&web, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* socket = web.nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, &page] {
                socket->readAll();
                socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                              QByteArray::number(page.size()) + "\r\nConnection: close\r\n\r\n" +
                              page);
                socket->disconnectFromHost();
            });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
    OneSource source(QStringLiteral("http://127.0.0.1:%1/list.html").arg(web.serverPort()));
    SourceScanner scanner(window.importedStore(), window.fetcher(), window, source);
    gaps.start();
    timer.restart();
    const SourceScanner::Outcome scanned = scanner.cmdScan_Click();
    const double scanSeconds = timer.nsecsElapsed() / 1e9;
    const qint64 scanGap = gaps.stop();
    std::snprintf(what, sizeof what, "a %.1f MB page fetched and scanned", page.size() / 1048576.0);
    report(what, scanSeconds, "s", 1.0);
    report("  longest wait of the event queue", double(scanGap), "ms", 50);
    std::printf("  %d proxies imported from the file, %d from the page\n", imported.added,
                scanner.newProxyCount);
    return imported.added == lines && scanned.read == 1 && scanner.newProxyCount > 0;
}

// Starts corvatel-service from the bench's folder on a free port; its base URL, or "" on failure.
QString startService(QProcess& service)
{
    const QString serviceExe =
        QCoreApplication::applicationDirPath() + QStringLiteral("/corvatel-service");
    const int servicePort = freePort();
    service.start(serviceExe, {QStringLiteral("--port"), QString::number(servicePort)});
    if (!waitForPort(servicePort)) {
        std::fprintf(stderr, "corvatel-service did not start on %d\n", servicePort);
        return QString();
    }
    return QStringLiteral("http://127.0.0.1:%1").arg(servicePort);
}

struct ScaleSize
{
    int proxies = 10000;
    int parallel = 1024;
    int timeout = 6;
};

// N proxies that take the connection and never answer, C at once, time-out T: against the limit
// T * ceil(N / C) and four curl processes each testing a quarter of the list.
bool benchScale(frmMain& window, SettingsStore& store, const ScaleSize& size)
{
    QProcess service;
    const QString serviceUrl = startService(service);
    if (serviceUrl.isEmpty())
        return false;
    // A listening socket whose connections nobody accepts stands for many proxies: the kernel
    // completes each connection, and nothing is ever read or answered.
    constexpr int ProxiesPerPort = 500;
    QStringList silent;
    int port = 0;
    for (int i = 0; i < size.proxies; ++i) {
        if (i % ProxiesPerPort == 0)
            port = silentPort();
        // Every proxy a different one: corvatel-check tests each proxy once.
        silent << QStringLiteral("127.%1.%2.%3:%4")
                      .arg(1 + i / 62500)
                      .arg(i / 250 % 250)
                      .arg(i % 250 + 1)
                      .arg(port);
    }
    store.write(Setting::ParallelTests, QString::number(size.parallel));
    ProxyTester tester(window, window.importedStore(), ui::MSHi(window)->rows(), store, serviceUrl);
    ProxyTableModel& results = ui::MSH2(window)->rows();
    fillRows(results, silent);

    int threads = 0;
    QTimer threadProbe;
    threadProbe.setInterval(100);
    QObject::connect(&threadProbe, &QTimer::timeout,
                     [&] { threads = std::max(threads, threadCount()); });
    GapProbe gaps;
    const long residentBefore = residentKb();
    const double cpuBefore = cpuSeconds();
    QElapsedTimer timer;
    threadProbe.start();
    gaps.start();
    timer.start();
    tester.testSelectedProxies({&results, 2, 1, size.proxies}, size.timeout);
    const double ours = timer.nsecsElapsed() / 1e9;
    const qint64 gap = gaps.stop();
    threadProbe.stop();
    const double cpu = cpuSeconds() - cpuBefore;
    const long resident = residentKb();
    int failed = 0;
    for (int r = 1; r <= size.proxies; ++r)
        failed += results.TextMatrix(r, ProxyRow::Active) == QLatin1String("N");

    // curl 7.88 takes at most 300 transfers at once in one process: four processes of 256.
    double curl = 0;
    const int width = std::min(256, std::max(1, size.parallel / 4));
    if (!QStandardPaths::findExecutable(QStringLiteral("curl")).isEmpty()) {
        QTemporaryDir parts;
        std::vector<std::unique_ptr<QProcess>> curls;
        for (int k = 0; k < 4; ++k) {
            QFile part(parts.filePath(QStringLiteral("part%1").arg(k)));
            if (!part.open(QIODevice::WriteOnly))
                return false;
            for (int i = k; i < size.proxies; i += 4)
                part.write(QStringLiteral("url = \"%1/gate.php\"\nproxy = \"%2\"\nmax-time = %3\n"
                                          "output = \"/dev/null\"\nnext\n")
                               .arg(serviceUrl, silent[i])
                               .arg(size.timeout)
                               .toUtf8());
        }
        timer.restart();
        for (int k = 0; k < 4; ++k) {
            curls.push_back(std::make_unique<QProcess>());
            curls.back()->start(QStringLiteral("curl"),
                                {QStringLiteral("-s"), QStringLiteral("-Z"),
                                 QStringLiteral("--parallel-max"), QString::number(width),
                                 QStringLiteral("-K"),
                                 parts.filePath(QStringLiteral("part%1").arg(k))});
        }
        for (auto& c : curls)
            c->waitForFinished(-1);
        curl = timer.nsecsElapsed() / 1e9;
    }
    // The same proxies through corvatel-check: the same engine without a window, started with no
    // settings and no judges of its own.
    double check = 0;
    int checkStatus = -1;
    const QString checkExe =
        QCoreApplication::applicationDirPath() + QStringLiteral("/corvatel-check");
    if (QFile::exists(checkExe)) {
        QTemporaryDir dir;
        QFile list(dir.filePath(QStringLiteral("silent.txt")));
        if (!list.open(QIODevice::WriteOnly))
            return false;
        list.write((silent.join(u'\n') + u'\n').toUtf8());
        list.close();
        QProcess run;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("CORVATEL_SERVICE_URL"), serviceUrl);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path());
        run.setProcessEnvironment(env);
        run.setWorkingDirectory(dir.path());
        run.setStandardOutputFile(QProcess::nullDevice());
        timer.restart();
        run.start(checkExe,
                  {QStringLiteral("-q"), QStringLiteral("-t"), QString::number(size.timeout),
                   QStringLiteral("-p"), QString::number(size.parallel), list.fileName()});
        run.waitForFinished(-1);
        check = timer.nsecsElapsed() / 1e9;
        checkStatus = run.exitCode();
    }
    service.kill();
    service.waitForFinished();

    const double limit = size.timeout * std::ceil(double(size.proxies) / size.parallel);
    char what[112];
    std::snprintf(what, sizeof what, "%d silent proxies, T=%d, %d at once: ours", size.proxies,
                  size.timeout, size.parallel);
    report(what, ours, "s", 1.1 * limit);
    std::printf("  the limit T * ceil(N/C): %.1f s; ours / limit %.3f\n", limit, ours / limit);
    if (curl > 0) {
        std::snprintf(what, sizeof what, "  the same with 4 curl -Z --parallel-max %d", width);
        report(what, curl, "s", 1.1 * limit);
        report("  ours / curl", ours / curl, "x", 1.2);
    }
    if (check > 0) {
        report("  the same through corvatel-check", check, "s", 1.1 * limit);
        report("  corvatel-check / the window", check / ours, "x", 1.05);
        std::printf("  corvatel-check's exit status %d (1: none works)\n", checkStatus);
    }
    report("  threads at most", threads, "", 16);
    report("  resident memory at the end", resident / 1024.0, "MB", 250);
    std::printf("  (of which %.0f MB grew during the run)\n", (resident - residentBefore) / 1024.0);
    report("  CPU time of the run", cpu, "s", 30);
    report("  longest wait of the event queue", double(gap), "ms", 50);
    std::printf("  %d of %d written as failed\n", failed, size.proxies);
    results.setRows(1);
    return failed == size.proxies && (check == 0 || checkStatus == 1);
}

// corvatel-check's input: lines lines read, checked and deduplicated, in a process of its own
// (--check-input), so its memory is the reading's alone.
bool benchCheckInput(int lines)
{
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("input.txt")));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray chunk;
    for (int i = 0; i < lines; ++i) {
        // Every tenth line a proxy seen before, every hundredth no proxy at all.
        const int n = i % 10 == 9 ? i - 9 : i;
        if (i % 100 == 99)
            chunk += "not a proxy\n";
        else
            chunk += (i % 3 ? "http://10." : "10.") + QByteArray::number((n >> 16) & 255) + '.' +
                     QByteArray::number((n >> 8) & 255) + '.' + QByteArray::number(n & 255) + ':' +
                     QByteArray::number(1024 + (n >> 24)) + '\n';
        if (chunk.size() > (1 << 20)) {
            file.write(chunk);
            chunk.clear();
        }
    }
    file.write(chunk);
    file.close();
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--check-input"), file.fileName()});
    if (!child.waitForFinished(-1) || child.exitCode() != 0)
        return false;
    double seconds = 0, megabytes = 0;
    long proxies = 0;
    if (std::sscanf(child.readAllStandardOutput().constData(), "%lf %lf %ld", &seconds, &megabytes,
                    &proxies) != 3)
        return false;
    char what[112];
    std::snprintf(what, sizeof what, "corvatel-check's input: %d lines read, checked, deduplicated",
                  lines);
    report(what, seconds, "s", 2);
    report("  resident memory at most", megabytes, "MB", 300);
    std::printf("  %ld proxies to test\n", proxies);
    return proxies == lines - lines / 10;
}

// The child's side: reads the file as corvatel-check does and prints the time, the highest
// resident memory and the proxies found.
int checkInputChild(const QString& path)
{
    QElapsedTimer timer;
    timer.start();
    QBuffer none;
    const CheckInput::Read read = CheckInput::read({path}, none);
    const double seconds = timer.nsecsElapsed() / 1e9;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%.3f %.1f %lld\n", seconds, usage.ru_maxrss / 1024.0,
                static_cast<long long>(read.proxies.size()));
    return read.error.isEmpty() ? 0 : 1;
}

// corvatel-check --store over a list of lines proxies: its results go in while the window saved
// a paste meanwhile, so the save reads the file again and merges.
bool benchStoreSave(int lines)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("proxy.lst"));
    QStringList stored;
    stored.reserve(lines);
    for (int i = 0; i < lines; ++i)
        stored << QStringLiteral("?|10.%1.%2.%3:8080|0|||||||||||")
                      .arg((i >> 16) & 255)
                      .arg((i >> 8) & 255)
                      .arg(i & 255);
    ImportedListStore window, check;
    window.replaceLines(stored);
    if (!window.saveToFile(path).ok() || !check.loadFromFile(path).ok())
        return false;
    for (int i = 0; i < lines; i += 10)
        check.setItem(i, QStringLiteral("Y|10.%1.%2.%3:8080|0.25||2026-12-08 10:00|HTTP||||||"
                                        "Oslo|Anonymous proxy|")
                             .arg((i >> 16) & 255)
                             .arg((i >> 8) & 255)
                             .arg(i & 255));
    window.add(QStringLiteral("?|192.0.2.1:3128|0|||||||||||"));
    if (!window.saveToFile(path).ok())
        return false;
    QElapsedTimer timer;
    timer.start();
    const Result saved = check.saveToFile(path);
    const double seconds = timer.nsecsElapsed() / 1e9;
    ImportedListStore after;
    if (!saved.ok() || !after.loadFromFile(path).ok())
        return false;
    char what[112];
    std::snprintf(what, sizeof what,
                  "corvatel-check --store: %d results into %d stored lines, merged", lines / 10,
                  lines);
    report(what, seconds, "s", 0.5);
    return after.count() == lines + 1 && after.find(QStringLiteral("192.0.2.1:3128")) == lines &&
           after.item(0).startsWith(QLatin1String("Y|"));
}

bool startServer(QProcess& process, const QString& program, const QStringList& arguments, int port);

// tinyproxy on a free port of every loopback address, taking up to 600 clients; its port, or 0.
int startTinyproxy(QProcess& tiny, const QTemporaryDir& dir)
{
    const int port = freePort();
    QFile conf(dir.filePath(QStringLiteral("tinyproxy.conf")));
    if (!conf.open(QIODevice::WriteOnly))
        return 0;
    conf.write(QStringLiteral("Port %1\nAllow 127.0.0.0/8\nMaxClients 600\nLogLevel Critical\n")
                   .arg(port)
                   .toUtf8());
    conf.close();
    return startServer(tiny, QStringLiteral("tinyproxy"),
                       {QStringLiteral("-d"), QStringLiteral("-c"), conf.fileName()}, port)
               ? port
               : 0;
}

// The two engines side by side on the same proxies: the program's own HTTP client, which needs a
// network manager (and so a thread) per proxy, and libcurl's multi interface on one thread.
// count transfers, width at once, each through its own proxy, time-out timeoutS.
void benchEngines(const QString& gate, const QStringList& proxies, int width, int timeoutS,
                  const char* what)
{
    for (const bool curl : {false, true}) {
        HttpFetcher http;
        CurlEngine engine;
        int next = 0;
        int running = 0;
        int ok = 0;
        int threads = 0;
        QEventLoop loop;
        std::function<void()> fill;
        const auto ended = [&](bool passed) {
            ok += passed;
            --running;
            threads = std::max(threads, threadCount());
            fill();
        };
        fill = [&] {
            while (running < width && next < proxies.size()) {
                const QString proxy = proxies[next++];
                ++running;
                if (curl) {
                    ProbeRequest request;
                    request.url = QUrl(gate);
                    request.type = ProxyType::Http;
                    request.proxy = proxy;
                    request.timeoutMs = timeoutS * 1000;
                    engine.start(request,
                                 [&](const ProbeResult& r) { ended(r.ok && r.status == 200); });
                } else {
                    FetchJob* job = http.start({QUrl(gate), proxy, timeoutS});
                    QObject::connect(job, &FetchJob::finished, [&](const FetchResult& r) {
                        ended(r.error == 0 && r.status == 200);
                    });
                }
            }
            if (running == 0)
                QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        };
        GapProbe gaps;
        const double cpuBefore = cpuSeconds();
        const long residentBefore = residentKb();
        QElapsedTimer timer;
        gaps.start();
        timer.start();
        fill();
        loop.exec();
        const double seconds = timer.nsecsElapsed() / 1e9;
        std::printf("  %-24s %-30s %7.2f s, %5.2f s CPU, %4d threads, +%4.0f MB, %4lld ms wait, "
                    "%d passed\n",
                    curl ? "libcurl multi" : "a network manager each", what, seconds,
                    cpuSeconds() - cpuBefore, threads, (residentKb() - residentBefore) / 1024.0,
                    gaps.stop(), ok);
        std::fflush(stdout);
    }
}

bool benchEngineChoice()
{
    QProcess service;
    const QString serviceUrl = startService(service);
    if (serviceUrl.isEmpty())
        return false;
    QTemporaryDir dir;
    QProcess tiny;
    const int tinyPort = startTinyproxy(tiny, dir);
    if (tinyPort == 0)
        return false;
    QStringList silent;
    QStringList live;
    int port = 0;
    for (int i = 0; i < 1024; ++i) {
        if (i % 500 == 0)
            port = silentPort();
        // Every proxy a different one: corvatel-check tests each proxy once.
        silent << QStringLiteral("127.%1.%2.%3:%4")
                      .arg(1 + i / 62500)
                      .arg(i / 250 % 250)
                      .arg(i % 250 + 1)
                      .arg(port);
        live << QStringLiteral("127.3.%1.%2:%3").arg(i / 250).arg(i % 250 + 1).arg(tinyPort);
    }
    std::printf("the two engines at 256 at once:\n");
    benchEngines(serviceUrl + QStringLiteral("/gate.php"), silent, 256, 2,
                 "1024 silent proxies, T=2");
    benchEngines(serviceUrl + QStringLiteral("/gate.php"), live, 256, 10, "1024 live proxies");
    tiny.kill();
    service.kill();
    tiny.waitForFinished();
    service.waitForFinished();
    return true;
}

// Starts a program in the background and waits until it takes connections on the port.
bool startServer(QProcess& process, const QString& program, const QStringList& arguments, int port)
{
    process.start(QStandardPaths::findExecutable(program, {"/usr/bin", "/usr/sbin"}), arguments);
    if (waitForPort(port))
        return true;
    std::fprintf(stderr, "%s did not start on %d\n", qPrintable(program), port);
    return false;
}

// A thousand live proxies of three types through real local proxies: HTTP and HTTPS (CONNECT)
// through tinyproxy, SOCKS5 through microsocks, judged by the gate page and an https judge that
// answers from a thread of its own.
bool benchMixedTypes(frmMain& window, SettingsStore& store)
{
    QProcess service;
    const QString serviceUrl = startService(service);
    if (serviceUrl.isEmpty())
        return false;
    QTemporaryDir dir;
    QProcess tiny;
    QProcess socks;
    const int tinyPort = startTinyproxy(tiny, dir);
    const int socksPort = freePort();
    if (tinyPort == 0 ||
        !startServer(socks, QStringLiteral("microsocks"),
                     {QStringLiteral("-p"), QString::number(socksPort)}, socksPort))
        return false;

    // The judge lives on a thread of its own: serving it is not the tester's work.
    QThread judgeThread;
    QObject home;
    home.moveToThread(&judgeThread);
    judgeThread.start();
    TlsJudge* judge = nullptr;
    QString judgeProblem;
    QMetaObject::invokeMethod(
        &home,
        [&] {
            judge = new TlsJudge;
            judgeProblem = judge->start();
        },
        Qt::BlockingQueuedConnection);
    const auto endJudge = qScopeGuard([&] {
        QMetaObject::invokeMethod(
            &home, [&] { delete judge; }, Qt::BlockingQueuedConnection);
        judgeThread.quit();
        judgeThread.wait();
    });
    if (!judgeProblem.isEmpty()) {
        std::fprintf(stderr, "https judge: %s\n", qPrintable(judgeProblem));
        return false;
    }
    qputenv("CORVATEL_CA_FILE", judge->caFile().toLocal8Bit());
    QFile judges(QStringLiteral("judges.lst"));
    if (!judges.open(QIODevice::WriteOnly))
        return false;
    judges.write((serviceUrl + QStringLiteral("/gate.php\n") + judge->url() + u'\n').toUtf8());
    judges.close();

    constexpr int Live = 1000;
    constexpr int Width = 256;
    static const char* const types[] = {"HTTP", "HTTPS", "SOCKS5"};
    ProxyTableModel& results = ui::MSH2(window)->rows();
    results.setRows(1);
    std::vector<ProxyTableModel::Row> rows(Live);
    for (int i = 0; i < Live; ++i) {
        const int kind = i % 3;
        rows[size_t(i)].cells[ProxyRow::Proxy] = QStringLiteral("127.2.%1.%2:%3")
                                                     .arg(i / 250)
                                                     .arg(i % 250 + 1)
                                                     .arg(kind == 2 ? socksPort : tinyPort);
        rows[size_t(i)].cells[ProxyRow::Type] = QString::fromLatin1(types[kind]);
    }
    results.appendRows(std::move(rows));
    store.write(Setting::ParallelTests, QString::number(Width));
    ProxyTester tester(window, window.importedStore(), ui::MSHi(window)->rows(), store, serviceUrl);
    GapProbe gaps;
    QElapsedTimer timer;
    gaps.start();
    timer.start();
    tester.testSelectedProxies({&results, 2, 1, Live}, 10);
    const double seconds = timer.nsecsElapsed() / 1e9;
    const qint64 gap = gaps.stop();
    int passed[3] = {0, 0, 0};
    for (int r = 1; r <= Live; ++r)
        passed[(r - 1) % 3] += results.TextMatrix(r, ProxyRow::Active) == QLatin1String("Y");
    QFile::remove(QStringLiteral("judges.lst"));
    qunsetenv("CORVATEL_CA_FILE");
    tiny.kill();
    socks.kill();
    service.kill();
    tiny.waitForFinished();
    socks.waitForFinished();
    service.waitForFinished();

    char what[112];
    std::snprintf(what, sizeof what, "%d live proxies of three types, %d at once", Live, Width);
    report(what, seconds, "s", 5);
    std::printf("  passed: %d HTTP, %d HTTPS, %d SOCKS5\n", passed[0], passed[1], passed[2]);
    report("  longest wait of the event queue", double(gap), "ms", 50);
    results.setRows(1);
    return passed[0] + passed[1] + passed[2] == Live;
}

// Test runs: never-answering proxies side by side with curl, then a thousand working proxies
// inside a large imported list.
bool benchTestRuns(frmMain& window, SettingsStore& store, int lines)
{
    // The gate page comes from a service of its own, so that serving it does not count as our
    // event-queue time.
    QProcess service;
    const QString serviceUrl = startService(service);
    if (serviceUrl.isEmpty())
        return false;
    ProxyTester tester(window, window.importedStore(), ui::MSHi(window)->rows(), store, serviceUrl);
    GapProbe gaps;
    QElapsedTimer timer;
    char what[112];

    // 200 proxies that take the connection and never answer, T = 2 s.
    constexpr int Silent = 200;
    constexpr int Width = 50;
    QStringList silent;
    for (int i = 0; i < Silent; ++i)
        silent << QStringLiteral("127.0.0.1:%1").arg(silentPort());
    store.write(Setting::ParallelTests, QString::number(Width));
    ProxyTableModel& results = ui::MSH2(window)->rows();
    fillRows(results, silent);
    gaps.start();
    timer.start();
    tester.testSelectedProxies({&results, 2, 1, Silent}, 2);
    const double ours = timer.nsecsElapsed() / 1e9;
    qint64 longestGap = gaps.stop();

    double curl = 0;
    if (!QStandardPaths::findExecutable(QStringLiteral("curl")).isEmpty()) {
        QProcess xargs;
        xargs.start(QStringLiteral("xargs"),
                    {QStringLiteral("-P"), QString::number(Width), QStringLiteral("-I{}"),
                     QStringLiteral("curl"), QStringLiteral("-s"), QStringLiteral("-o"),
                     QStringLiteral("/dev/null"), QStringLiteral("--max-time"), QStringLiteral("2"),
                     QStringLiteral("-x"), QStringLiteral("{}"), serviceUrl + "/gate.php"});
        timer.restart();
        xargs.write((silent.join(u'\n') + u'\n').toUtf8());
        xargs.closeWriteChannel();
        xargs.waitForFinished(120000);
        curl = timer.nsecsElapsed() / 1e9;
    }
    std::snprintf(what, sizeof what, "%d silent proxies, T=2, %d at once: ours", Silent, Width);
    report(what, ours, "s", 9.84);
    if (curl > 0) {
        report("  the same with xargs -P 50 curl --max-time 2", curl, "s", 9.84);
        report("  ours / curl", ours / curl, "x", 1.2);
    }

    fillRows(results, silent.mid(0, 10));
    store.write(Setting::ParallelTests, QStringLiteral("1"));
    timer.restart();
    tester.testSelectedProxies({&results, 2, 1, 10}, 2);
    const double serial = timer.nsecsElapsed() / 1e9;
    std::snprintf(what, sizeof what, "  one at a time: 10 rows, extrapolated to %d", Silent);
    report(what, serial * Silent / 10, "s", Silent * 3.0);

    // A thousand proxies through a live proxy, inside an imported list of `lines` rows. Every
    // 127.x.y.z address reaches the one proxy listening on all of them.
    QTemporaryDir tinyDir;
    QProcess tiny;
    const int tinyPort = freePort();
    {
        QFile conf(tinyDir.filePath(QStringLiteral("tinyproxy.conf")));
        if (!conf.open(QIODevice::WriteOnly))
            return false;
        conf.write(QStringLiteral("Port %1\nAllow 127.0.0.0/8\nMaxClients 200\nLogLevel Critical\n")
                       .arg(tinyPort)
                       .toUtf8());
        conf.close();
        tiny.start(
            QStandardPaths::findExecutable(QStringLiteral("tinyproxy"), {"/usr/bin", "/usr/sbin"}),
            {QStringLiteral("-d"), QStringLiteral("-c"), conf.fileName()});
    }
    if (!waitForPort(tinyPort)) {
        std::fprintf(stderr, "tinyproxy did not start on %d\n", tinyPort);
        return true; // the figures so far stand
    }

    constexpr int Live = 1000;
    const int first = lines / 2;
    ImportedListStore& list = window.importedStore();
    list.clear();
    std::vector<ProxyTableModel::Row> rows(static_cast<size_t>(lines));
    for (int i = 0; i < lines; ++i) {
        const bool live = i >= first && i < first + Live;
        const int k = i - first;
        const QString proxy =
            live ? QStringLiteral("127.1.%1.%2:%3").arg(k / 250).arg(k % 250 + 1).arg(tinyPort)
                 : QStringLiteral("10.%1.%2.%3:8080").arg(i >> 16).arg((i >> 8) & 255).arg(i & 255);
        const QString text = ProxyRow::newImportedRowText(proxy);
        list.add(text);
        ProxyRow::readStoredRowText(text, rows[size_t(i)].cells);
    }
    ProxyTableModel& imported = ui::MSHi(window)->rows();
    imported.setRows(1);
    imported.appendRows(std::move(rows));
    store.write(Setting::ParallelTests, QString::number(Width));
    const int savesBefore = tester.saveCount();
    gaps.start();
    timer.restart();
    tester.testSelectedProxies({&imported, 3, first + 1, first + Live}, 10);
    const double liveSeconds = timer.nsecsElapsed() / 1e9;
    longestGap = std::max(longestGap, gaps.stop());
    int passed = 0;
    for (int r = first + 1; r <= first + Live; ++r)
        passed += imported.TextMatrix(r, ProxyRow::Active) == QLatin1String("Y");
    std::snprintf(what, sizeof what, "%d live proxies in a %d-row list, %d at once", Live, lines,
                  Width);
    report(what, liveSeconds, "s", 5);
    std::printf("  %d passed, proxy.lst saved %d times\n", passed,
                tester.saveCount() - savesBefore);

    timer.restart();
    list.saveToFile(ImportedListStore::defaultPath());
    std::snprintf(what, sizeof what, "  one save of proxy.lst, %d lines", lines);
    report(what, timer.nsecsElapsed() / 1e6, "ms", 50);
    ImportedListStore onDisk;
    const bool whole = onDisk.loadFromFile(ImportedListStore::defaultPath()).ok() &&
                       onDisk.lines() == list.lines();
    std::printf("  proxy.lst afterwards: %s\n", whole ? "whole, as in memory" : "DIFFERS");
    report("longest wait of the event queue during the test runs", double(longestGap), "ms", 50);
    tiny.kill();
    service.kill();
    tiny.waitForFinished();
    service.waitForFinished();
    return passed == Live && whole;
}

int main(int argc, char* argv[])
{
    if (argc == 3 && std::strcmp(argv[1], "--check-input") == 0) {
        QCoreApplication app(argc, argv);
        return checkInputChild(QString::fromLocal8Bit(argv[2]));
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir work;
    qputenv("XDG_CONFIG_HOME", work.filePath(QStringLiteral("config")).toLocal8Bit());
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({QStringLiteral("lines"), QStringLiteral("Service list lines."),
                      QStringLiteral("n"), QStringLiteral("100000")});
    parser.addOption({QStringLiteral("wait"), QStringLiteral("Seconds of the idle fetch wait."),
                      QStringLiteral("s"), QStringLiteral("10")});
    parser.addOption({QStringLiteral("no-tests"), QStringLiteral("Skip the proxy test runs.")});
    parser.addOption({QStringLiteral("proxies"),
                      QStringLiteral("Never-answering proxies of the scale figure."),
                      QStringLiteral("n"), QStringLiteral("10000")});
    parser.addOption({QStringLiteral("parallel"),
                      QStringLiteral("Tests at once in the scale figure."), QStringLiteral("c"),
                      QStringLiteral("1024")});
    parser.addOption({QStringLiteral("timeout"),
                      QStringLiteral("Time-out of the scale figure, in seconds."),
                      QStringLiteral("t"), QStringLiteral("6")});
    parser.addOption({QStringLiteral("scale-only"), QStringLiteral("Only the scale figure.")});
    parser.addOption(
        {QStringLiteral("mixed-only"), QStringLiteral("Only the live proxies of three types.")});
    parser.addOption({QStringLiteral("check-only"),
                      QStringLiteral("Only corvatel-check's input and --store figures.")});
    parser.addOption({QStringLiteral("engines"),
                      QStringLiteral("Only the two engines side by side, 256 at once.")});
    parser.process(app);
    OpenFiles::raiseSoftLimit();
    ScaleSize scale;
    scale.proxies = std::max(1, parser.value(QStringLiteral("proxies")).toInt());
    scale.parallel = std::clamp(parser.value(QStringLiteral("parallel")).toInt(), 1, 1024);
    scale.timeout = std::max(1, parser.value(QStringLiteral("timeout")).toInt());
    const int lines = parser.value(QStringLiteral("lines")).toInt();
    const int waitSeconds = parser.value(QStringLiteral("wait")).toInt();
    QDir::setCurrent(work.path());

    ReferenceService service;
    if (!service.start({})) {
        std::fprintf(stderr, "service: %s\n", qPrintable(service.errorString()));
        return 1;
    }
    service.setListBody(serviceBody(lines));

    Deployment deployment = Deployment::defaults();
    deployment.serviceUrl = service.baseUrl();
    deployment.ipInfoUrl = service.baseUrl() + QStringLiteral("/");
    SettingsStore store(work.filePath(QStringLiteral("config/Corvatel.conf")));
    SilentPrompts prompts;
    frmMain window(deployment, store, prompts);
    window.setTerminate([] {});
    window.GetSettings();
    window.show();

    const auto benchCheck = [] {
        const bool input = benchCheckInput(1000000);
        const bool store = benchStoreSave(100000);
        if (!input || !store)
            std::fprintf(stderr, "corvatel-check's input or store figure went wrong\n");
        return input && store;
    };
    if (parser.isSet(QStringLiteral("check-only")))
        return benchCheck() ? 0 : 1;
    if (parser.isSet(QStringLiteral("engines")))
        return benchEngineChoice() ? 0 : 1;
    if (parser.isSet(QStringLiteral("mixed-only")))
        return benchMixedTypes(window, store) ? 0 : 1;
    // First, while the program holds no lists: its memory then is the run's own. The live
    // proxies go first: the ten thousand connections of the scale figure take the kernel a
    // while to clear away.
    if (!parser.isSet(QStringLiteral("no-tests")) && !parser.isSet(QStringLiteral("scale-only")) &&
        !benchMixedTypes(window, store)) {
        std::fprintf(stderr, "not every live proxy of the mixed run passed\n");
        return 1;
    }
    if (!parser.isSet(QStringLiteral("no-tests")) && !benchScale(window, store, scale)) {
        std::fprintf(stderr, "the scale run did not fail every silent proxy\n");
        return 1;
    }
    if (parser.isSet(QStringLiteral("scale-only")))
        return 0;

    // The longest stretch without serving the event queue during the load.
    QElapsedTimer sinceTick;
    qint64 longestGapMs = 0;
    QTimer probe;
    probe.setInterval(5);
    QObject::connect(&probe, &QTimer::timeout,
                     [&] { longestGapMs = std::max(longestGapMs, sinceTick.restart()); });

    QElapsedTimer clock;
    clock.start();
    sinceTick.start();
    probe.start();
    window.loadProxyRemote();
    probe.stop();
    longestGapMs = std::max(longestGapMs, sinceTick.elapsed());
    const double loadSeconds = clock.nsecsElapsed() / 1e9;
    if (ui::MSH(window)->rows().proxyCount() != lines) {
        std::fprintf(stderr, "loaded %d of %d lines\n", ui::MSH(window)->rows().proxyCount(),
                     lines);
        return 1;
    }
    char what[96];
    std::snprintf(what, sizeof what, "service list: %d lines fetched, parsed, shown", lines);
    report(what, loadSeconds, "s", 0.5);
    report("longest wait of the event queue during the load", double(longestGapMs), "ms", 50);
    report("resident memory after the load", residentKb() / 1024.0, "MB", 300);

    // Start-up's rebuild of the imported grid from a proxy.lst of as many stored rows.
    {
        QFile list(ImportedListStore::defaultPath());
        if (!list.open(QIODevice::WriteOnly))
            return 1;
        for (int i = 0; i < lines; ++i)
            list.write((i % 3 == 0 ? "Y|10." : "?|11.") + QByteArray::number(i >> 16) + '.' +
                       QByteArray::number((i >> 8) & 255) + '.' + QByteArray::number(i & 255) +
                       ":8080|3||2024-01-02 10:11|HTTP||||||Oslo|Anonymous proxy|\n");
    }
    store.write(Setting::chkCOR, QStringLiteral("0"));
    window.GetSettings();
    clock.restart();
    window.importedStore().loadFromFile(ImportedListStore::defaultPath());
    window.loadProxyRemote();
    const double rebuildSeconds = clock.nsecsElapsed() / 1e9;
    if (ui::MSHi(window)->rows().proxyCount() != lines) {
        std::fprintf(stderr, "rebuilt %d of %d rows\n", ui::MSHi(window)->rows().proxyCount(),
                     lines);
        return 1;
    }
    std::snprintf(what, sizeof what, "proxy.lst: %d stored rows read and shown", lines);
    report(what, rebuildSeconds, "s", 0.4);

    // A fetch that waits for a server that never answers, counted by the window's clock.
    QTcpServer silent;
    silent.listen(QHostAddress::LocalHost);
    QList<QTcpSocket*> held;
    QObject::connect(&silent, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* s = silent.nextPendingConnection())
            held << s;
    });
    const double cpuBefore = cpuSeconds();
    clock.restart();
    window.fetcher().getDOC_WINHTTP(
        true, waitSeconds, QStringLiteral("http://127.0.0.1:%1/").arg(silent.serverPort()));
    const double waited = clock.nsecsElapsed() / 1e9;
    const double cpu = cpuSeconds() - cpuBefore;
    std::snprintf(what, sizeof what, "CPU of a fetch that waited %.1f s (time-out %d s)", waited,
                  waitSeconds);
    report(what, cpu, "s", 0.02);
    if (!benchViews(window, store, lines)) {
        std::fprintf(stderr, "the list views did not do what they should\n");
        return 1;
    }
    if (!benchImports(window, lines)) {
        std::fprintf(stderr, "the imports did not do what they should\n");
        return 1;
    }
    if (!benchCheck())
        return 1;
    if (parser.isSet(QStringLiteral("no-tests")))
        return 0;
    return benchTestRuns(window, store, lines) ? 0 : 1;
}
