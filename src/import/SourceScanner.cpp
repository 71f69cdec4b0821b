#include "import/SourceScanner.h"

#include "base/WindowHost.h"
#include "base/YieldClock.h"
#include "model/ImportedListStore.h"
#include "model/ProxyRow.h"
#include "service/DocumentFetcher.h"

#include <QRegularExpression>
#include <QStringList>

#include <algorithm>

const QRegularExpression& SourceScanner::proxyPattern()
{
    // Without Unicode properties \d and \b know only ASCII digits and word characters.
    static const QRegularExpression pattern = [] {
        QRegularExpression re(QStringLiteral(R"(\b(http://)?\d+(\.\d+){3}:\d+?\b)"),
                              QRegularExpression::CaseInsensitiveOption);
        re.optimize();
        return re;
    }();
    return pattern;
}

std::vector<QStringView> SourceScanner::candidates(const QString& page)
{
    std::vector<QStringView> found;
    QRegularExpressionMatchIterator it = proxyPattern().globalMatch(page);
    while (it.hasNext())
        found.push_back(candidate(it.next()));
    return found;
}

QStringView SourceScanner::candidate(const QRegularExpressionMatch& match)
{
    static const QStringView prefix = u"http://";
    QStringView value = match.capturedView(0);
    // The prefix can only stand at the start of a match.
    if (value.startsWith(prefix))
        value = value.sliced(prefix.size());
    return value;
}

SourceScanner::SourceScanner(ImportedListStore& store, DocumentFetcher& fetcher, WindowHost& host,
                             View& view)
    : m_store(store), m_fetcher(fetcher), m_host(host), m_view(view)
{}

SourceScanner::Outcome SourceScanner::cmdScan_Click()
{
    Outcome outcome;
    newProxyCount = 0;
    const int count = m_view.sourceCount();
    bool anySelected = false;
    for (int i = 0; i < count && !anySelected; ++i)
        anySelected = m_view.isSourceSelected(i);
    if (!anySelected)
        m_view.selectAllSources();
    m_view.setProgressMaximum(std::max(count - 1, 1));
    m_view.setSourcesEnabled(false);

    YieldClock clock;
    for (int i = 0; i < count; ++i) {
        if (m_host.isStopRequested())
            break;
        m_view.setProgressValue(i);
        if (!m_view.isSourceSelected(i))
            continue;
        ++outcome.scanned;
        const QString url = m_view.source(i);
        m_view.setTitle(QStringLiteral("Import - reading ") + url);
        m_host.setStatusText(QStringLiteral("Scanning for more proxies.."));
        const QString page =
            m_fetcher.getDOC_WINHTTP(true, DocumentFetcher::DefaultTimeoutSeconds, url);
        if (page.isEmpty())
            continue;
        ++outcome.read;
        clock.yieldNow();
        // Matches are found as the loop asks for them, so a long page is searched between
        // services of the event queue rather than in one go.
        QRegularExpressionMatchIterator it = proxyPattern().globalMatch(page);
        int found = 0;
        while (it.hasNext()) {
            const QString proxy = candidate(it.next()).toString();
            ++found;
            if (m_store.find(proxy) < 0) {
                ++newProxyCount;
                m_store.add(ProxyRow::newImportedRowText(proxy));
            }
            if (clock.maybeYield()) {
                m_view.setTitle(QStringLiteral("Import (%1) found so far..").arg(found));
                if (m_host.isStopRequested())
                    break;
            }
        }
        if (found == 0)
            continue;
        m_view.setTitle(QStringLiteral("Import (%1) found so far..").arg(found));
        if (newProxyCount > 0)
            showCount();
    }
    outcome.stopped = m_host.isStopRequested();
    m_view.setProgressValue(0);

    QString status =
        QStringLiteral("%1: %2 new %3; %4 of %5 pages read.")
            .arg(outcome.stopped ? QStringLiteral("Scan stopped") : QStringLiteral("Scan done"))
            .arg(newProxyCount)
            .arg(newProxyCount == 1 ? QStringLiteral("proxy") : QStringLiteral("proxies"))
            .arg(outcome.read)
            .arg(outcome.scanned);
    if (newProxyCount > 0) {
        clock.yieldNow();
        const Result saved = m_store.saveToFile(ImportedListStore::defaultPath(), clock.server());
        if (!saved.ok())
            status += u' ' + saved.message();
        showCount();
    }
    m_view.setSourcesEnabled(true);
    m_host.setStatusText(status);
    m_host.clearStopRequested();
    return outcome;
}

void SourceScanner::showCount()
{
    m_host.setPanelText(2, QString::number(m_store.count()) + QStringLiteral(" Imported"));
}
