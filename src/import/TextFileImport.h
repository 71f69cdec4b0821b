#pragma once

#include <QString>
#include <QStringList>

class WindowHost;
class ImportedListStore;
class ImportedListUndo;
class Prompts;
class ProxyTableModel;

// "Import Proxy List from File": every line of a text file that the imported list does not hold
// yet becomes a new proxy, in the store (proxy.lst) and as a row of the imported grid. An import
// that added any can be undone.
class TextFileImport final
{
public:
    struct Outcome
    {
        bool cancelled = false;
        bool stopped = false;
        int added = 0;
        int listed = 0;  // lines already in the list
        int skipped = 0; // lines that are no proxy text (see TextLineReader, and any "|")
        QString status;  // what the status text was set to; "" when it was left alone
    };

    // rows is the imported page's main grid.
    TextFileImport(ProxyTableModel& rows, ImportedListStore& store, ImportedListUndo& undo,
                   WindowHost& host, Prompts& prompts);
    TextFileImport(const TextFileImport&) = delete;
    TextFileImport& operator=(const TextFileImport&) = delete;

    // Asks for the file, then importFile().
    Outcome menuImpProxList_Click();
    // path "" stands for a cancelled dialog: nothing is read, but proxy.lst is still written and
    // the count shown. A Stop ends the import before the next line and leaves proxy.lst alone.
    Outcome importFile(const QString& path);

private:
    void readLines(const QString& path, Outcome& outcome, QStringList& status);

    ProxyTableModel& m_rows;
    ImportedListStore& m_store;
    ImportedListUndo& m_undo;
    WindowHost& m_host;
    Prompts& m_prompts;
};
