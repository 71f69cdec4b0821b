#pragma once

#include <QString>

class DocumentFetcher;
class ImportedListStore;
class WindowHost;
class ProxyTableModel;
class YieldClock;

// Fills the two list grids' models: the service list from the proxy-list service, the imported
// list from the stored proxy.lst lines. Both serve the event queue as they go.
class ServiceListLoader final
{
public:
    ServiceListLoader(DocumentFetcher& fetcher, ImportedListStore& store, WindowHost& host,
                      const QString& serviceUrl);
    ServiceListLoader(const ServiceListLoader&) = delete;
    ServiceListLoader& operator=(const ServiceListLoader&) = delete;

    // Replaces the service rows with the service's list (its last test first); Stop cuts the
    // list short. Returns the body the service sent.
    QString loadService(ProxyTableModel& service, YieldClock& clock);
    // Replaces the imported rows with every stored line that names a proxy. Stop does not cut it
    // short: the grid and proxy.lst must agree.
    void loadImported(ProxyTableModel& imported, YieldClock& clock);

private:
    DocumentFetcher& m_fetcher;
    ImportedListStore& m_store;
    WindowHost& m_host;
    QString m_serviceUrl;
};
