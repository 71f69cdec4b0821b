#pragma once

#include <QString>

class ProxyTableModel;

// "Copy Selected Proxies to Clipboard": the Proxy cells of a grid's selected rows as text, one
// per line from the bottom of the selection to its top, CR LF between lines.
class ProxyClipboard final
{
public:
    // Rows from the smaller to the larger of currentRow and selectionEnd; the header row and rows
    // past the end are left out.
    static QString selectedProxiesText(const ProxyTableModel& rows, int currentRow,
                                       int selectionEnd);
    // Clears the clipboard and puts that text on it when there is any.
    static void copySelectedProxies(const ProxyTableModel& rows, int currentRow, int selectionEnd);
};
