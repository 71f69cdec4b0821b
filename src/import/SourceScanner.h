#pragma once

#include <QString>
#include <QStringView>

#include <vector>

class DocumentFetcher;
class WindowHost;
class ImportedListStore;
class QRegularExpression;

// The "Scan" of the web source dialog: fetches each chosen source page, finds every address and
// port in its text and adds the proxies the imported list does not hold yet to the store. The
// imported grid shows them once the lists are reloaded.
class SourceScanner final
{
public:
    // The dialog around the scan: its source list, progress bar and title.
    class View
    {
    public:
        virtual ~View() = default;
        virtual int sourceCount() const = 0;
        virtual QString source(int index) const = 0;
        virtual bool isSourceSelected(int index) const = 0;
        virtual void selectAllSources() = 0;
        virtual void setSourcesEnabled(bool enabled) = 0;
        virtual void setProgressMaximum(int maximum) = 0;
        virtual void setProgressValue(int value) = 0;
        virtual void setTitle(const QString& title) = 0;
    };

    struct Outcome
    {
        int scanned = 0; // selected pages fetched
        int read = 0;    // of those, pages that gave a text
        bool stopped = false;
    };

    // "\b(http://)?\d+(\.\d+){3}:\d+?\b", every match, letter case ignored.
    static const QRegularExpression& proxyPattern();
    // The proxies a page names, in page order, repeats included: each match without a lower-case
    // "http://" (a prefix in capitals stays). The views point into page.
    static std::vector<QStringView> candidates(const QString& page);
    // One match as a candidate proxy.
    static QStringView candidate(const QRegularExpressionMatch& match);

    SourceScanner(ImportedListStore& store, DocumentFetcher& fetcher, WindowHost& host, View& view);
    SourceScanner(const SourceScanner&) = delete;
    SourceScanner& operator=(const SourceScanner&) = delete;

    // Scans the selected sources, or all of them when none is selected. proxy.lst is written
    // only when something was added. Stop ends the scan after the current page.
    Outcome cmdScan_Click();

    int newProxyCount = 0; // proxies added by the last scan

private:
    void showCount();

    ImportedListStore& m_store;
    DocumentFetcher& m_fetcher;
    WindowHost& m_host;
    View& m_view;
};
