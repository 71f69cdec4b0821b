#pragma once

#include <QString>

// What the importers need from the main window: the status text, the status bar's panels, the
// Stop flag and the menus that must not run beside an import.
class ImportHost
{
public:
    virtual ~ImportHost() = default;

    virtual void setStatusText(const QString& text) = 0;
    virtual void setPanelText(int panel, const QString& text) = 0; // 1..3
    virtual bool isStopRequested() const = 0;
    virtual void clearStopRequested() = 0;
    // false: the menus that change or reload the lists are disabled and Stop is enabled.
    virtual void enableControls(bool enabled) = 0;
};
