#pragma once

#include "model/ProxyTableModel.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class ImportedListStore;

// One step back for the imported list: its grid rows and stored lines as they were before the
// last delete, paste or import. Once the list changes in any other way (a test writes its results,
// the lists are loaded anew) the step is no longer offered: putting it back would lose that change.
class ImportedListUndo final
{
public:
    // The list as it stands; a copy of 100 000 rows shares every text with the list.
    struct Before
    {
        ProxyTableModel::Snapshot rows;
        QStringList lines;
    };

    // rows is the imported page's main grid.
    ImportedListUndo(ProxyTableModel& rows, ImportedListStore& store);
    ImportedListUndo(const ImportedListUndo&) = delete;
    ImportedListUndo& operator=(const ImportedListUndo&) = delete;

    // "the delete of 1 proxy", "the import of 1 234 proxies"
    static QString change(const QString& action, int proxies);

    Before before() const;
    // The change just made, named by what, can be undone by putting before back; it takes the
    // place of any older step.
    void keep(Before before, const QString& what);
    void forget();
    // A step is kept and the list has not changed since.
    bool canUndo() const;
    // Puts the rows and lines back and returns what was undone ("" when nothing could be). Saving
    // proxy.lst is the caller's.
    QString undo();

    // Told whenever a step is kept or let go.
    void setOnChange(std::function<void()> onChange) { m_onChange = std::move(onChange); }

private:
    void changed();

    ProxyTableModel& m_rows;
    ImportedListStore& m_store;
    std::optional<Before> m_before;
    QString m_what;
    qint64 m_changes = 0; // the store's change count right after the change
    std::function<void()> m_onChange;
};
