#pragma once

#include "testing/ProxyCheck.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

class CurlEngine;
class ImportedListStore;
class ProxyTableModel;
class SettingsStore;
class WindowHost;

// Test runs: the selected rows of one grid are tested through a judge (the service's gate page,
// or the echo pages listed in judges.lst), and each row gets its outcome (state, speed, test time,
// location, on the imported page the anonymity class and a type found) and its colour. On the
// imported page the proxy's line in proxy.lst follows its row.
//
// ParallelTests tests run at once (one by default), each ending at its own deadline, all on one
// thread. With one at a time proxy.lst is saved after each row; with more, at most once a second
// and at the end.
class ProxyTester final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ProxyTester)

public:
    // The grid a run works on.
    struct Target
    {
        ProxyTableModel* rows = nullptr;
        int grid = 0;         // 1..4
        int currentRow = 0;   // the grid's current row
        int selectionEnd = 0; // the row at the other end of its selection
    };

    // What a run takes from the settings and the current folder, read when it starts. A caller
    // without a window names its own with setOptions().
    struct Options
    {
        int parallel = 1;
        bool detectType = false;
        QString mmdbFile;   // "" for none
        QString judgesFile; // judges.lst
        QByteArray userAgent;
        QString listPath; // where the imported list is saved; "" saves nothing
    };
    static Options optionsFrom(const SettingsStore& settings);
    void setOptions(const Options& options) { m_fixedOptions = options; }

    // How a run goes: rows ended, and of them those that worked and failed; tests in flight.
    struct Progress
    {
        int total = 0;
        int finished = 0;
        int working = 0;
        int failed = 0;
        int running = 0;
    };
    Progress progress() const;

    // importedRows is the imported page's whole list (grid 3): a test made in its result grid
    // (grid 4) is written there as well.
    ProxyTester(WindowHost& host, ImportedListStore& store, ProxyTableModel& importedRows,
                const SettingsStore& settings, const QString& serviceUrl,
                QObject* parent = nullptr);
    ~ProxyTester() override;

    // Tests the block of rows between the current row and the selection's end, top to bottom,
    // each within timeoutSeconds.
    void testSelectedProxies(const Target& target, int timeoutSeconds);
    // Tests the given rows in order; returns when the run has ended.
    void testProxies(const std::vector<int>& rows, const Target& target, int timeoutSeconds);

    // Makes a running parallel run look at the Stop flag now. Tests that Stop cuts short write
    // nothing: a proxy that was never given its time-out has not failed.
    void wake();

    bool isRunning() const { return m_running; }
    // The body of the last judge fetch through a proxy, and how many of them have ended so far.
    const QString& lastGateBody() const { return m_lastGateBody; }
    int gateFetchCount() const { return m_gateFetches; }
    // Saves of proxy.lst made by runs so far (for the benchmark and tests).
    int saveCount() const { return m_saves; }

signals:
    // A row's result was written into its cells; its stored line follows.
    void tested(int row, const ProxyCheck::Outcome& outcome);
    // A line the run said beside its counts (a judge left out, a failed save, ...).
    void note(const QString& line);

private:
    class Run;
    friend class Run;

    void writeResult(const Target& target, int row, const QString& proxy,
                     const ProxyCheck::Outcome& outcome);
    bool onImportedPage(const Target& target) const { return target.grid == 3 || target.grid == 4; }
    int importedMainRow(const QString& proxy);
    void saveList();

    WindowHost& m_host;
    ImportedListStore& m_store;
    ProxyTableModel& m_importedRows;
    const SettingsStore& m_settings;
    QString m_serviceUrl;
    QString m_lastGateBody;
    std::unique_ptr<CurlEngine> m_engine;
    std::optional<Options> m_fixedOptions;
    Options m_options; // those of the run
    Run* m_run = nullptr;
    std::unique_ptr<QHash<QString, int>> m_importedIndex; // proxy -> row of grid 3, during a run
    bool m_running = false;
    int m_saves = 0;
    int m_gateFetches = 0;
};
