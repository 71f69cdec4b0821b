#pragma once

#include "base/ImportHost.h"
#include "base/StopFlag.h"

#include <QList>
#include <QMap>

// Records what the importers tell the window. stopAfterChecks lets Stop arrive after that many
// looks at the flag, as if pressed in the middle of an import.
class FakeImportHost final : public ImportHost
{
public:
    void setStatusText(const QString& text) override { status = text; }
    void setPanelText(int panel, const QString& text) override { panels[panel] = text; }
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
    void enableControls(bool enabled) override { controls << enabled; }

    QString status;
    QMap<int, QString> panels;
    QList<bool> controls;
    mutable StopFlag stop;
    mutable int stopAfterChecks = -1;
    mutable int checks = 0;
};
