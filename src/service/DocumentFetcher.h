#pragma once

#include <QObject>
#include <QString>

#include <vector>

class HttpFetcher;
class StopFlag;

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
    // What a fetch allows unless it is a proxy test, which takes the user's test time-out.
    static constexpr int DefaultTimeoutSeconds = 60;

    // stop is the program's Stop flag; it is only read, and a request wakes every waiting fetch.
    DocumentFetcher(HttpFetcher& http, const StopFlag& stop, QObject* parent = nullptr);

    // The body when the server answered 200 and nothing failed within timeoutSeconds; ""
    // otherwise. Afterwards httpStatus, httpError (0, the transport error number turned into -1,
    // or -1 for a time-out) and httpSeconds describe this fetch. async = false sends without
    // waiting.
    QString getDOC_WINHTTP(bool async, int timeoutSeconds, const QString& sAddress,
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
    const StopFlag& m_stop;
    std::vector<Wait*> m_waits; // innermost last
};
