// Benchmarks on generated data, release build. Prints one line per figure with its bar.
//   corvatel-bench [--lines N] [--wait SECONDS]
#include "model/SettingsStore.h"
#include "service/DocumentFetcher.h"
#include "service/HttpFetcher.h"
#include "service/ReferenceService.h"
#include "shell/Deployment.h"
#include "shell/Prompts.h"
#include "shell/frmMain.h"
#include "views/ProxyGrid.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>

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

void report(const char* what, double value, const char* unit, double bar)
{
    std::printf("%-52s %10.3f %-3s (bar %g %s)%s\n", what, value, unit, bar, unit,
                value <= bar ? "" : "  OVER");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char* argv[])
{
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
    parser.process(app);
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
    if (window.MSH->rows().proxyCount() != lines) {
        std::fprintf(stderr, "loaded %d of %d lines\n", window.MSH->rows().proxyCount(), lines);
        return 1;
    }
    char what[96];
    std::snprintf(what, sizeof what, "service list: %d lines fetched, parsed, shown", lines);
    report(what, loadSeconds, "s", 2.0);
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
    store.write(QStringLiteral("chkCOR"), QStringLiteral("0"));
    window.GetSettings();
    clock.restart();
    window.importedStore().loadFromFile(ImportedListStore::defaultPath());
    window.loadProxyRemote();
    const double rebuildSeconds = clock.nsecsElapsed() / 1e9;
    if (window.MSHi->rows().proxyCount() != lines) {
        std::fprintf(stderr, "rebuilt %d of %d rows\n", window.MSHi->rows().proxyCount(), lines);
        return 1;
    }
    std::snprintf(what, sizeof what, "proxy.lst: %d stored rows read and shown", lines);
    report(what, rebuildSeconds, "s", 1.5);

    // A fetch that waits for a server that never answers, counted by the window's clock.
    QTcpServer silent;
    silent.listen(QHostAddress::LocalHost);
    QList<QTcpSocket*> held;
    QObject::connect(&silent, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* s = silent.nextPendingConnection())
            held << s;
    });
    window.fetcher().setTestTimeout(waitSeconds);
    const double cpuBefore = cpuSeconds();
    clock.restart();
    window.fetcher().getDOC_WINHTTP(
        true, true, QStringLiteral("http://127.0.0.1:%1/").arg(silent.serverPort()));
    const double waited = clock.nsecsElapsed() / 1e9;
    const double cpu = cpuSeconds() - cpuBefore;
    std::snprintf(what, sizeof what, "CPU of a fetch that waited %.1f s (time-out %d s)", waited,
                  waitSeconds);
    report(what, cpu, "s", 0.2);
    return 0;
}
