#pragma once

#include <QString>

// What the list views need from the window around them: the status line, the status bar's
// panels, the progress bar, the Stop flag, and the routine that shows a stored row text as a
// new row of the imported grid.
class ListViewHost
{
public:
    virtual ~ListViewHost() = default;

    virtual void setStatusText(const QString& text) = 0;
    virtual QString statusText() const = 0;
    virtual void setPanelText(int panel, const QString& text) = 0; // 1..3
    virtual void setProgressMaximum(int maximum) = 0;
    virtual void setProgressValue(int value) = 0;
    virtual bool isStopRequested() const = 0;
    virtual void clearStopRequested() = 0;
    // Writes the text into the imported grid's last row, which must be empty, and adds a new
    // empty row after it.
    virtual void addImportedRow(const QString& text) = 0;
};
