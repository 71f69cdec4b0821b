#include "system/ProxyClipboard.h"

#include "model/ProxyTableModel.h"

#include <QClipboard>
#include <QGuiApplication>

#include <algorithm>

QString ProxyClipboard::selectedProxiesText(const ProxyTableModel& rows, int currentRow,
                                            int selectionEnd)
{
    const int top = std::max(std::min(currentRow, selectionEnd), 1);
    const int bottom = std::min(std::max(currentRow, selectionEnd), rows.Rows() - 1);
    QString text;
    for (int r = bottom; r >= top; --r) {
        // The empty last row, or a damaged line, has no proxy to copy.
        const QString proxy = rows.TextMatrix(r, ProxyRow::Proxy);
        if (proxy.isEmpty())
            continue;
        text += proxy;
        text += QLatin1String("\r\n");
    }
    text.chop(2); // nothing after the last line
    return text;
}

void ProxyClipboard::copySelectedProxies(const ProxyTableModel& rows, int currentRow,
                                         int selectionEnd)
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    const QString text = selectedProxiesText(rows, currentRow, selectionEnd);
    if (!text.isEmpty())
        clipboard->setText(text);
}
