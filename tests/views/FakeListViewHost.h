#pragma once

#include "base/ListViewHost.h"
#include "model/ProxyTableModel.h"

#include <QMap>
#include <QStringList>

// Records what the list views tell the window.
class FakeListViewHost final : public ListViewHost
{
public:
    void setStatusText(const QString& text) override { statusLog << text; }
    QString statusText() const override { return statusLog.value(statusLog.size() - 1); }
    void setPanelText(int panel, const QString& text) override { panels[panel] = text; }
    void setProgressMaximum(int maximum) override { progressMaximum = maximum; }
    void setProgressValue(int value) override { progressValue = value; }
    bool isStopRequested() const override { return stop; }
    void clearStopRequested() override { stop = false; }

    QStringList statusLog;
    QMap<int, QString> panels;
    int progressMaximum = -1;
    int progressValue = -1;
    bool stop = false;
};
