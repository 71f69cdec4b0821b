#pragma once

#include <QString>

// What the list views need from the window around them: the status line, the status bar's
// panels, the progress bar and the Stop flag.
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
};
