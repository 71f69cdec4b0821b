#pragma once

#include <QString>

class DocumentFetcher;
class Prompts;

// What the auto-test needs from the window.
class WindowHost;

// The once-a-minute check, while the window sits minimised, that the switched-on proxy still
// reaches a well-known page; the user is alerted when it does not.
class AutoTest final
{
public:
    // A text the probe page holds when it arrived intact.
    static const QString ProbeMarker;

    AutoTest(WindowHost& host, DocumentFetcher& fetcher, Prompts& prompts, const QString& probeUrl);
    AutoTest(const AutoTest&) = delete;
    AutoTest& operator=(const AutoTest&) = delete;

    // One tick. proxyServer is the switched-on proxy as the system knows it ("host:port" or
    // "socks=host:port"); the probe goes through it and fails after timeoutSeconds.
    void timerPTest_Timer(const QString& enabledProxyLabel, const QString& proxyServer,
                          int timeoutSeconds);

    static QString alertText(const QString& enabledProxyLabel);
    // The body of the last probe.
    const QString& httpResult() const { return m_httpResult; }

private:
    WindowHost& m_host;
    DocumentFetcher& m_fetcher;
    Prompts& m_prompts;
    QString m_probeUrl;
    QString m_httpResult;
    bool m_busy = false; // a probe or its alert is still open
};
