#pragma once

#include "base/TestRunHost.h"
#include "model/ImportedListStore.h"
#include "model/ProxyTableModel.h"
#include "settings/SettingsStore.h"
#include "support/WorkFolder.h"
#include "testing/ProxyTester.h"

#include <QList>
#include <QStringList>

#include <functional>

// The window as a test run sees it, recording what the run asked of it.
class FakeTestRunHost final : public TestRunHost
{
public:
    void setStatusText(const QString& text) override
    {
        status = text;
        statuses << text;
    }
    QString statusText() const override { return status; }
    void setProgressMaximum(int maximum) override { progressMax = maximum; }
    void setProgressValue(int value) override { progress << value; }
    void setBusyCursor(bool b) override { busy = b; }
    bool isStopRequested() const override { return stop; }
    void clearStopRequested() override { stop = false; }
    void lockForRun(int) override { locked = true; }
    void showTestedRow(int, int row) override
    {
        tested << row;
        if (onRowWritten)
            onRowWritten(row);
    }
    void unlockAfterRun(int) override
    {
        locked = false;
        ++unlocks;
    }

    QString status;
    QStringList statuses;
    int progressMax = 0;
    QList<int> progress;
    QList<int> tested;
    bool busy = false;
    bool stop = false;
    bool locked = false;
    int unlocks = 0;
    std::function<void(int)> onRowWritten;
};

// A tester over its own settings and imported list, in a current folder of its own; its runs
// allow each proxy `timeout` seconds.
struct TesterBench
{
    explicit TesterBench(const QString& serviceUrl, int parallel = 1, int timeout = 5)
        : settings(dir.filePath(QStringLiteral("Corvatel.conf"))),
          tester(host, store, imported, settings, serviceUrl), timeout(timeout)
    {
        settings.write(QStringLiteral("ParallelTests"), QString::number(parallel));
    }

    // One untested row per "proxy" or "proxy|type|location", also stored when storeThem.
    void fill(ProxyTableModel& rows, const QStringList& proxies, bool storeThem)
    {
        rows.setRows(1);
        for (const QString& spec : proxies) {
            const QStringList parts = spec.split(u'|');
            ProxyTableModel::Row row;
            row.cells[ProxyRow::Active] = QStringLiteral("?");
            row.cells[ProxyRow::Proxy] = parts.value(0);
            row.cells[ProxyRow::Type] = parts.value(1);
            row.cells[ProxyRow::Location] = parts.value(2);
            rows.appendRows({row});
            if (storeThem)
                store.add(ProxyRow::storedRowText(row.cells));
        }
    }
    void run(ProxyTableModel& rows, int grid, int from, int to)
    {
        tester.testSelectedProxies({&rows, grid, from, to}, timeout);
    }
    QString listOnDisk() const
    {
        return QString::fromUtf8(dir.read(QStringLiteral("proxy.lst"), {}));
    }

    WorkFolder dir;
    FakeTestRunHost host;
    SettingsStore settings;
    ImportedListStore store;
    ProxyTableModel imported;
    ProxyTester tester;
    int timeout;
};
