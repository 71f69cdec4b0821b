#pragma once

#include <QString>

class StopFlag;

// What the subsystems need of the main window around them. Grids are named by their number: 1
// and 2 on the service list page, 3 and 4 on the imported list page.
class WindowHost
{
public:
    virtual ~WindowHost() = default;

    // The status line, the status bar's panels (1..3), the progress bar (and a text on it) and
    // the busy cursor.
    virtual void setStatusText(const QString& text) = 0;
    virtual QString statusText() const = 0;
    virtual void setPanelText(int panel, const QString& text) = 0;
    virtual void setProgressMaximum(int maximum) = 0;
    virtual void setProgressValue(int value) = 0;
    virtual void setProgressText(const QString& text) = 0; // "" shows none
    virtual void setBusyCursor(bool busy) = 0;

    // The Stop flag. Long work reads it as it goes and clears it when it ends; a request wakes a
    // waiting fetch.
    virtual const StopFlag& stopFlag() const = 0;
    virtual bool isStopRequested() const = 0;
    virtual void clearStopRequested() = 0;
    virtual void requestStop() = 0;

    // false: the page buttons and the menus that change or reload the lists are disabled and
    // Stop is enabled.
    virtual void enableControls(bool enabled) = 0;
    // A test run on a grid: the grid and the filter frame are disabled with the commands while it
    // lasts; the row whose result was just written becomes the grid's current row; at the end
    // everything comes back, the grid's selection shrinks to its current cell and it gets the
    // keyboard focus unless the window is minimised or Stop was pressed.
    virtual void lockForRun(int grid) = 0;
    virtual void showTestedRow(int grid, int row) = 0;
    virtual void unlockAfterRun(int grid) = 0;

    // The window's commands a subsystem starts.
    virtual void testSelectedProxies(int grid) = 0;
    virtual void showImportedPage() = 0;
    virtual void reloadLists() = 0;
    virtual void Form_Resize() = 0;

    // Minimised (or in the notification area), and back to a normal, visible window.
    virtual bool windowMinimized() const = 0;
    virtual void restoreWindow() = 0;
};
