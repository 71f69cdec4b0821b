#pragma once

#include "base/Result.h"
#include "testing/CheckOptions.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <memory>

class ImportedListStore;
class ProxyTableModel;
class ProxyTester;
class SettingsStore;

namespace ProxyCheck {
struct Outcome;
}

// One run of corvatel-check: the window's test engine (ProxyTester, as on the imported page:
// classes, types found, judges, locations) on a list of proxies, each result written to the
// output as soon as it is known, a progress line on the terminal, and with --store the results
// written into the list file as the window writes them.
class CheckRun final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CheckRun)

public:
    // out and err are file descriptors; showProgress: err is a terminal.
    CheckRun(const CheckOptions::Config& config, const QString& serviceUrl, int out, int err,
             bool showProgress);
    ~CheckRun() override;

    // The proxies to test: given, or (with --store) read from the list file and sharded. An
    // error names the file.
    void setProxies(const QStringList& proxies);
    Result loadStore();
    int proxyCount() const;

    // Tests them all; the exit status: 0 when one works, 1 when none does.
    int run();
    // Ctrl+C, or the output closed: tests in flight are dropped, what ended is kept.
    void stop();

    // Writes a line on err above the progress line (unless quiet).
    void say(const QString& line);

private:
    class Host;

    void tested(int row, const ProxyCheck::Outcome& outcome);
    bool listed(int row, const ProxyCheck::Outcome& outcome) const;
    void write(const QByteArray& bytes);
    void showProgress();
    void clearProgress();

    CheckOptions::Config m_config;
    int m_out;
    int m_err;
    bool m_progressShown;
    std::unique_ptr<Host> m_host;
    std::unique_ptr<SettingsStore> m_settings;
    std::unique_ptr<ImportedListStore> m_store;
    std::unique_ptr<ProxyTableModel> m_rows;
    std::unique_ptr<ProxyTester> m_tester;
    QTimer m_progressTimer;
    QTimer m_outputTimer;
    QElapsedTimer m_clock;
    bool m_progressOnScreen = false;
    bool m_outputClosed = false;
    int m_working = 0;
};
