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

    // Tests make every maybeYield() serve the queue, so that small inputs yield at once.
    static void setIntervalForTesting(int ms) { s_intervalMs = ms; }

    YieldClock() { m_clock.start(); }

    // True when it served the event queue.
    bool maybeYield()
    {
        if (m_clock.elapsed() < s_intervalMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
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
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        m_clock.restart();
    }

    // Between two steps of a routine that has no clock of its own.
    static void serveNow() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

private:
    static inline int s_intervalMs = IntervalMs;
    QElapsedTimer m_clock;
};
