#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>

#include <functional>

// Lets a long loop on the UI thread serve the event queue often enough for the window to stay
// live (about every 20 ms of work) without paying for it after every unit of work.
class YieldClock final
{
public:
    static constexpr int IntervalMs = 20;

    // Tests make every maybeYield() serve the queue, so that small inputs yield at once, and can
    // be called each time a long loop serves it (to act in the middle of that loop).
    static void setIntervalForTesting(int ms) { s_intervalMs = ms; }
    static void setServeHookForTesting(std::function<void()> hook) { s_onServe = std::move(hook); }

    YieldClock() { m_clock.start(); }

    // True when it served the event queue.
    bool maybeYield()
    {
        if (m_clock.elapsed() < s_intervalMs)
            return false;
        serveNow();
        m_clock.restart();
        return true;
    }

    // For a routine that takes a callback to call often: serves the queue as maybeYield() does.
    std::function<void()> server()
    {
        return [this] { maybeYield(); };
    }

    // Before a step that cannot yield inside itself, so it starts with a full allowance.
    void yieldNow()
    {
        serveNow();
        m_clock.restart();
    }

    // Between two steps of a routine that has no clock of its own.
    static void serveNow()
    {
        if (s_onServe)
            s_onServe();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }

private:
    static inline int s_intervalMs = IntervalMs;
    static inline std::function<void()> s_onServe;
    QElapsedTimer m_clock;
};
