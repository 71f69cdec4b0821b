#pragma once

#include "base/ImportHost.h"

class StopFlag;

// What the web-source dialog needs from the main window besides an importer's needs: the
// imported page shown, the lists reloaded after a scan, and a running scan or File Add stopped.
class SourceDialogHost : public ImportHost
{
public:
    virtual void showImportedPage() = 0;
    virtual void reloadLists() = 0;
    // The flag a long read watches; requestStop() sets it, which wakes a waiting fetch.
    virtual const StopFlag& stopFlag() const = 0;
    virtual void requestStop() = 0;
};
