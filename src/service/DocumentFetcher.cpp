#include "service/DocumentFetcher.h"

#include "base/StopFlag.h"
#include "service/HttpFetcher.h"

#include <QEventLoop>
#include <QPointer>
#include <QScopeGuard>

#include <algorithm>
#include <climits>

namespace {

constexpr int CounterLimit = 100000;
// The job's own limit only matters when the clock stops ticking.
constexpr int BackstopExtraSeconds = 45;

int nextCount(int seconds)
{
    return seconds >= CounterLimit ? 0 : seconds + 1;
}

} // namespace

struct DocumentFetcher::Wait
{
    int status = -1;
    int error = 0;
    int seconds = 0;
    bool finished = false;
    bool complete = false; // the whole body arrived
    QString body;
    QEventLoop* loop = nullptr;
};

DocumentFetcher::DocumentFetcher(HttpFetcher& http, const StopFlag& stop, QObject* parent)
    : QObject(parent), m_http(http), m_stop(stop)
{
    connect(&stop, &StopFlag::requested, this, &DocumentFetcher::wake);
}

QString DocumentFetcher::getDOC_WINHTTP(bool async, int timeoutSeconds, const QString& sAddress,
                                        const QString& proxy)
{
    Wait w;
    m_waits.push_back(&w);
    const auto publish = qScopeGuard([this, &w] {
        m_waits.erase(std::find(m_waits.begin(), m_waits.end(), &w));
        httpStatus = w.status;
        httpError = w.error;
        httpSeconds = w.seconds;
        httpFinished = w.finished;
    });
    httpStatus = -1;
    httpError = 0;
    httpSeconds = 0;
    httpFinished = false;

    FetchRequest request;
    request.url = QUrl(sAddress);
    request.proxy = proxy;
    request.timeoutSeconds =
        int(qBound(qint64(1), qint64(timeoutSeconds) + BackstopExtraSeconds, qint64(INT_MAX)));
    const QPointer<FetchJob> job = m_http.start(request);

    // Connections die with this object, so nothing reaches w after the return.
    QObject events;
    connect(job, &FetchJob::responseStarted, &events, [&w](int status) {
        w.status = status;
        if (w.loop)
            w.loop->quit();
    });
    connect(job, &FetchJob::finished, &events, [&w](const FetchResult& result) {
        w.finished = true;
        if (result.status != -1)
            w.status = result.status;
        if (w.error == 0)
            w.error = result.error;
        w.complete = result.error == 0;
        w.body = result.body;
        if (w.loop)
            w.loop->quit();
    });
    if (!async)
        return QString();

    QEventLoop loop;
    w.loop = &loop;
    const auto detach = qScopeGuard([&] {
        w.loop = nullptr;
        QObject::disconnect(job, nullptr, &events, nullptr);
        // Nobody reads a fetch that was left behind (stop, time-out).
        if (job && !job->isFinished())
            job->abort();
    });

    while (w.seconds <= timeoutSeconds && w.error == 0 && !m_stop.isRequested() && !w.finished)
        loop.exec();
    if (w.seconds >= timeoutSeconds)
        w.error = -1;

    if (w.error != 0) {
        w.error = -1;
        return QString();
    }
    return w.status == 200 && w.complete ? w.body : QString();
}

void DocumentFetcher::tick()
{
    httpSeconds = nextCount(httpSeconds);
    for (Wait* w : m_waits) {
        w->seconds = nextCount(w->seconds);
        if (w->loop)
            w->loop->quit();
    }
}

void DocumentFetcher::wake()
{
    for (Wait* w : m_waits) {
        if (w->loop)
            w->loop->quit();
    }
}
