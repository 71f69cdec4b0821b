#include "testing/AutoTest.h"

#include "base/Prompts.h"
#include "base/WindowHost.h"
#include "service/DocumentFetcher.h"

#include <QScopedValueRollback>

const QString AutoTest::ProbeMarker = QStringLiteral("google_favicon");

AutoTest::AutoTest(WindowHost& host, DocumentFetcher& fetcher, Prompts& prompts,
                   const QString& probeUrl)
    : m_host(host), m_fetcher(fetcher), m_prompts(prompts), m_probeUrl(probeUrl)
{}

QString AutoTest::alertText(const QString& enabledProxyLabel)
{
    return QStringLiteral("Error, proxy connection failed : ") + enabledProxyLabel +
           QStringLiteral(", please select another or disable.");
}

void AutoTest::timerPTest_Timer(const QString& enabledProxyLabel, const QString& proxyServer,
                                int timeoutSeconds)
{
    // A slow probe or an alert nobody has closed yet outlasts the next tick.
    if (m_busy || !m_host.windowMinimized())
        return;
    const QScopedValueRollback<bool> busy(m_busy, true);
    m_httpResult = m_fetcher.getDOC_WINHTTP(true, timeoutSeconds, m_probeUrl, proxyServer);
    if (m_fetcher.httpError == 0 && m_httpResult.contains(ProbeMarker))
        return;
    m_prompts.critical(alertText(enabledProxyLabel), QStringLiteral("Corvatel"));
    m_host.restoreWindow();
}
