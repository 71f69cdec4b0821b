#pragma once

#include "model/ImportedListStore.h"
#include "model/ProxyTableModel.h"
#include "settings/SettingsStore.h"
#include "support/FakeWindowHost.h"
#include "support/WorkFolder.h"
#include "testing/ProxyTester.h"

#include <QStringList>

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
    FakeWindowHost host;
    SettingsStore settings;
    ImportedListStore store;
    ProxyTableModel imported;
    ProxyTester tester;
    int timeout;
};
