#pragma once

#include "model/ImportedListUndo.h"

#include <QList>
#include <QString>
#include <QStringView>

class ImportedListStore;
class Prompts;
class WindowHost;
class ProxyTableModel;

// Editing the imported list in its grid: pasting proxies from clipboard text, deleting a block
// of rows and undoing the last such change or import. The store (proxy.lst in memory) follows
// every change and is saved at once.
class ImportedListEditor final
{
public:
    // rows is the imported page's main grid.
    ImportedListEditor(ProxyTableModel& rows, ImportedListStore& store, WindowHost& host,
                       Prompts& prompts);
    ImportedListEditor(const ImportedListEditor&) = delete;
    ImportedListEditor& operator=(const ImportedListEditor&) = delete;

    // Four dot-separated parts of digits, each 0..255 (an empty inner part counts as 0).
    static bool IsIP(QStringView TestAddress);
    // Lines end at LF, CR LF or CR; the last one needs no line break; empty lines are dropped.
    static QList<QStringView> clipboardLines(QStringView text);
    // The line without any "http://" or "https://" (as written, in lower case).
    static QString proxyText(QStringView line);

    // An address that passes IsIP, a colon and a port of 1 to 65535, with no "|".
    static bool isAddressAndPort(const QString& proxy);

    // Adds every line that is an address and port the list does not hold yet, and says how many
    // were added, already listed, and not address:port. Returns the number added.
    int pasteProxies(const QString& text);
    // Removes grid rows first..last (either order) and their stored lines. Rows that hold every
    // proxy of the list go only once the user has said yes; false when the answer was no.
    bool deleteImportedRows(int first, int last);
    // Puts the list back as it was before the last paste, delete or import and saves it; false
    // when there is nothing to undo.
    bool undoLastChange();

    // The step undoLastChange() takes back; imports keep theirs here too.
    ImportedListUndo& undo() { return m_undo; }

private:
    void saveList();
    void showCount();

    ProxyTableModel& m_rows;
    ImportedListStore& m_store;
    WindowHost& m_host;
    Prompts& m_prompts;
    ImportedListUndo m_undo;
};
