#pragma once

#include "testing/TestRunHost.h"

#include <QList>
#include <QStringList>

#include <functional>

// The window as a test run sees it, recording what the run asked of it.
class FakeTestRunHost final : public TestRunHost
{
public:
    void setStatusText(const QString& text) override
    {
        status = text;
        statuses << text;
    }
    QString statusText() const override { return status; }
    void setProgressMaximum(int maximum) override { progressMax = maximum; }
    void setProgressValue(int value) override { progress << value; }
    void setBusyCursor(bool b) override { busy = b; }
    bool isStopRequested() const override { return stop; }
    void clearStopRequested() override { stop = false; }
    void lockForRun(int) override { locked = true; }
    void showTestedRow(int, int row) override
    {
        tested << row;
        if (onRowWritten)
            onRowWritten(row);
    }
    void unlockAfterRun(int) override
    {
        locked = false;
        ++unlocks;
    }

    QString status;
    QStringList statuses;
    int progressMax = 0;
    QList<int> progress;
    QList<int> tested;
    bool busy = false;
    bool stop = false;
    bool locked = false;
    int unlocks = 0;
    std::function<void(int)> onRowWritten;
};
