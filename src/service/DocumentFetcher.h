#pragma once

#include <QObject>
#include <QString>

#include <vector>

class HttpFetcher;

// The blocking document fetch the window's routines use: starts a GET and waits for it in a local
// event loop (the window stays live, nothing spins) until it finishes, fails, times out or Stop
// is requested. Time is counted in ticks of the window's one-second clock (tick()), so a time-out
// of T seconds ends the wait between T and T + 1 seconds after the start.
//
// Every fetch keeps its own state: a fetch started while another waits (from a timer, say) does
// not change the outcome of the one it interrupted.
class DocumentFetcher final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DocumentFetcher)

public:
    // stopRequested is the program's Stop flag; it is only read.
    DocumentFetcher(HttpFetcher& http, const bool& stopRequested, QObject* parent = nullptr);

    // Seconds a proxy test may take (proxyTest = true); other fetches allow 60.
    void setTestTimeout(int seconds) { m_testTimeout = seconds; }
    int testTimeout() const { return m_testTimeout; }

    // The body when the server answered 200 and nothing failed; "" otherwise. Afterwards
    // httpStatus, httpError (0, the transport error number turned into -1, or -1 for a time-out)
    // and httpSeconds describe this fetch. async = false sends without waiting.
    QString getDOC_WINHTTP(bool async, bool proxyTest, const QString& sAddress,
                           const QString& proxy = QString());

    // One tick of the one-second clock: raises httpSeconds and the counter of every waiting
    // fetch; past 100000 the counter starts again at 0.
    void tick();
    // Makes every waiting fetch look at the Stop flag now.
    void wake();

    int httpStatus = -1;
    int httpError = 0;
    int httpSeconds = 0;
    bool httpFinished = false;

private:
    struct Wait;

    HttpFetcher& m_http;
    const bool& m_stopRequested;
    int m_testTimeout = 60;
    std::vector<Wait*> m_waits; // innermost last
};
