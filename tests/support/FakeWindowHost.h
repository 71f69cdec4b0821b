#pragma once

#include "base/StopFlag.h"
#include "base/WindowHost.h"

#include <QList>
#include <QMap>
#include <QStringList>

#include <functional>

// The window as the subsystems see it, recording what they asked of it. stopAfterChecks lets
// Stop arrive after that many looks at the flag, as if pressed in the middle of the work.
class FakeWindowHost final : public WindowHost
{
public:
    void setStatusText(const QString& text) override
    {
        status = text;
        statuses << text;
    }
    QString statusText() const override { return status; }
    void setPanelText(int panel, const QString& text) override { panels[panel] = text; }
    void setProgressMaximum(int maximum) override { progressMax = maximum; }
    void setProgressValue(int value) override { progress << value; }
    void setProgressText(const QString& text) override { progressText = text; }
    void setBusyCursor(bool b) override { busy = b; }

    const StopFlag& stopFlag() const override { return stop; }
    bool isStopRequested() const override
    {
        if (stopAfterChecks >= 0 && checks++ >= stopAfterChecks)
            stop.request();
        return stop.isRequested();
    }
    void clearStopRequested() override
    {
        stop.clear();
        stopAfterChecks = -1;
    }
    void requestStop() override { stop.request(); }

    void enableControls(bool enabled) override { controls << enabled; }
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

    void testSelectedProxies(int grid) override { runs << grid; }
    void showImportedPage() override { ++importedPageShown; }
    void reloadLists() override { ++reloads; }
    void Form_Resize() override {}

    bool windowMinimized() const override { return minimized; }
    void restoreWindow() override
    {
        minimized = false;
        ++restores;
    }

    QString status;
    QStringList statuses;
    QMap<int, QString> panels;
    int progressMax = -1;
    QList<int> progress;
    QString progressText;
    bool busy = false;
    mutable StopFlag stop;
    mutable int stopAfterChecks = -1;
    mutable int checks = 0;
    QList<bool> controls;
    bool locked = false;
    QList<int> tested;
    int unlocks = 0;
    std::function<void(int)> onRowWritten;
    QList<int> runs;
    int importedPageShown = 0;
    int reloads = 0;
    bool minimized = false;
    int restores = 0;
};
