#pragma once

#include <QString>

// What a test run needs from the window around it. Grids are named by their number: 1 and 2 on
// the service list page, 3 and 4 on the imported list page.
class TestRunHost
{
public:
    virtual ~TestRunHost() = default;

    virtual void setStatusText(const QString& text) = 0;
    virtual QString statusText() const = 0;
    virtual void setProgressMaximum(int maximum) = 0;
    virtual void setProgressValue(int value) = 0;
    virtual void setBusyCursor(bool busy) = 0;

    // The Stop flag; a run reads it before and after every row and clears it when it ends.
    virtual bool isStopRequested() const = 0;
    virtual void clearStopRequested() = 0;

    // Page buttons, the menus that change or reload lists, the grid and the filter frame are
    // disabled while a run lasts.
    virtual void lockForRun(int grid) = 0;
    // The row whose result was just written becomes the grid's current row.
    virtual void showTestedRow(int grid, int row) = 0;
    // Everything lockForRun took away comes back; the grid's selection shrinks to its current
    // cell and it gets the keyboard focus unless the window is minimised or Stop was pressed.
    virtual void unlockAfterRun(int grid) = 0;
};
