#include "service/ServiceListLoader.h"

#include "base/WindowHost.h"
#include "base/YieldClock.h"
#include "model/ImportedListStore.h"
#include "model/ProxyRow.h"
#include "model/ProxyTableModel.h"
#include "service/DocumentFetcher.h"
#include "service/ServiceList.h"

#include <utility>
#include <vector>

ServiceListLoader::ServiceListLoader(DocumentFetcher& fetcher, ImportedListStore& store,
                                     WindowHost& host, const QString& serviceUrl)
    : m_fetcher(fetcher), m_store(store), m_host(host), m_serviceUrl(serviceUrl)
{}

QString ServiceListLoader::loadService(ProxyTableModel& service, YieldClock& clock)
{
    m_host.setStatusText(QStringLiteral("Loading External Proxy List.."));
    // The lines are views into this body: it is the load's own copy, so a command served
    // meanwhile that fetches something else (a test run, the auto-test) cannot free it.
    const QString body = m_fetcher.getDOC_WINHTTP(true, DocumentFetcher::DefaultTimeoutSeconds,
                                                  ServiceList::listUrl(m_serviceUrl));
    clock.yieldNow();
    const std::vector<QStringView> lines = ServiceList::linesToLoad(body);
    if (!lines.empty()) {
        m_host.setStatusText(QStringLiteral("Cleaning Proxy List.."));
        m_host.setProgressMaximum(int(lines.size()) - 1);
        // The loaded rows replace the grid's empty row. They go in by batches: packing a
        // whole long list at once would keep the window waiting.
        constexpr std::size_t Batch = 2048;
        service.setRows(1);
        std::vector<ProxyTableModel::Row> rows;
        rows.reserve(Batch);
        ProxyTableModel::Row row;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if (m_host.isStopRequested())
                break;
            row.cells = ProxyRow::Cells();
            if (ProxyRow::serviceLineToCells(lines[i], row.cells))
                rows.push_back(row);
            if (rows.size() == Batch) {
                service.appendRows(std::exchange(rows, {}));
                rows.reserve(Batch);
            }
            if (clock.maybeYield())
                m_host.setProgressValue(int(i));
        }
        service.appendRows(std::move(rows));
        clock.maybeYield();
    }
    m_host.setProgressValue(0);
    return body;
}

void ServiceListLoader::loadImported(ProxyTableModel& imported, YieldClock& clock)
{
    const int count = m_store.count();
    if (count >= 1) {
        imported.setRows(1);
        imported.setRows(2);
        m_host.setProgressMaximum(count);
        m_host.setStatusText(QStringLiteral("Importing Local Proxies.."));
        for (int i = 0; i < count && i < m_store.count(); ++i) {
            const QString line = m_store.item(i); // a copy: the loop serves the queue
            // A line without a proxy (blank, damaged) stays in the store but is not shown.
            if (!ProxyRow::proxyField(line).isEmpty())
                imported.addImportedRow(line);
            if (clock.maybeYield())
                m_host.setProgressValue(i);
        }
        imported.RemoveItem(imported.Rows() - 1);
    }
    m_host.setProgressValue(0);
}
