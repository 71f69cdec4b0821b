#pragma once

#include "model/ProxyTableModel.h"
#include "views/ListViewHost.h"

#include <QMap>
#include <QStringList>

// Records what the list views tell the window. addImportedRow does what the window's does: the
// text's pieces go into the model's last row, then an empty row follows.
class FakeListViewHost final : public ListViewHost
{
public:
    explicit FakeListViewHost(ProxyTableModel* imported = nullptr) : m_imported(imported) {}

    void setStatusText(const QString& text) override { statusLog << text; }
    QString statusText() const override { return statusLog.value(statusLog.size() - 1); }
    void setPanelText(int panel, const QString& text) override { panels[panel] = text; }
    void setProgressMaximum(int maximum) override { progressMaximum = maximum; }
    void setProgressValue(int value) override { progressValue = value; }
    bool isStopRequested() const override { return stop; }
    void clearStopRequested() override { stop = false; }
    void addImportedRow(const QString& text) override
    {
        ProxyRow::Cells cells;
        ProxyRow::readStoredRowText(text, cells);
        const int last = m_imported->Rows() - 1;
        for (int c = 0; c < ProxyRow::ColumnCount; ++c) {
            if (!cells[c].isEmpty())
                m_imported->setTextMatrix(last, c, cells[c]);
        }
        m_imported->setRows(last + 2);
    }

    QStringList statusLog;
    QMap<int, QString> panels;
    int progressMaximum = -1;
    int progressValue = -1;
    bool stop = false;

private:
    ProxyTableModel* m_imported;
};
