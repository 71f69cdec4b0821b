#pragma once

#include "views/FilterPass.h"
#include "views/HeaderSort.h"
#include "views/ImportedListEditor.h"

#include <QObject>

#include <vector>

class ImportedListStore;
class Prompts;
class ProxyGrid;
class ServiceListLoader;
class WindowHost;
class QAction;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QMenu;
class QRadioButton;

// The two list pages of the main window: the service list (MSH, its result grid MSH2) and the
// imported list (MSHi, MSHi2). Handles the filter frame, the grids' mouse and keyboard input,
// the editing keys of MSHi and the undo of its last change. activeGrid and lastSortOrder are the
// window's; every grid's focus sets activeGrid (1 = MSH, 2 = MSH2, 3 = MSHi, 4 = MSHi2).
class ListPages final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ListPages)

public:
    struct Controls
    {
        ProxyGrid* MSH = nullptr;
        ProxyGrid* MSH2 = nullptr;
        ProxyGrid* MSHi = nullptr;
        ProxyGrid* MSHi2 = nullptr;
        QGroupBox* frame = nullptr;
        QComboBox* cboLOC = nullptr;
        QComboBox* cboTYPE = nullptr;
        QComboBox* cboCLASS = nullptr;
        QLineEdit* txtMinSpeed = nullptr;
        QLineEdit* txtMaxSpeed = nullptr;
        QMenu* menuTools = nullptr;
        QAction* menuTestProxy = nullptr;
        QAction* menuUndo = nullptr; // enabled on the imported page while there is a step to undo
        QRadioButton* Option1 = nullptr;
        QRadioButton* Option2 = nullptr;
    };

    ListPages(const Controls& controls, ImportedListStore& store, int& activeGrid,
              int& lastSortOrder, WindowHost& host, Prompts& prompts, QObject* parent = nullptr);

    // The text a filter combo box shows: its choice, or its neutral text when none is chosen.
    static QString comboText(const QComboBox& combo);
    FilterCriteria filterCriteria() const;

    // The page buttons: the service list page, the imported list page. The page's grid gets the
    // keyboard focus. Ctrl+1, Ctrl+2 and Ctrl+Tab (the other page) do the same.
    void Option1_Click();
    void Option2_Click();
    // The filter boxes offer every location, type and class of the grid's rows (all rows when
    // toRow is 0), sorted.
    void buildFilterChoices(ProxyGrid& grid, int fromRow = 0, int toRow = 0);

    // Loads the lists the settings ask for through the loader, the window's commands held
    // meanwhile; then both pages show their rows banded, the service list by its last test, with
    // fresh filter choices and counts. Returns the service's body ("" when not asked for).
    QString loadLists(ServiceListLoader& loader, bool service, bool imported);

    // Filter and Reset on the page activeGrid names.
    void filterPage();
    void resetPage();
    void applyFilter(ProxyGrid& source, ProxyGrid& result);

    void sortByHeader(ProxyGrid& grid);
    void showGridMenu(ProxyGrid& grid, Qt::MouseButton button);

    // The editing keys of MSHi.
    void selectImportedList();
    void deleteImportedRows();
    void pasteProxies();
    // Undo on the imported page: the list as it was before its last change, shown in MSHi.
    void undoImportedChange();
    // The step that undo takes back; the imports keep theirs there too.
    ImportedListUndo& importedUndo() { return m_editor.undo(); }

    // Set once the grid menu has been shown; a click on MSH clears it instead of sorting.
    bool skipNextSort = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class HeldControls;

    // A long operation holds the window's commands (its Tools menu is off meanwhile): the grids'
    // own commands (a test run, a header sort, the editing keys) wait for it as well, since they
    // would change the rows it works through.
    bool busy() const;
    void connectGrid(ProxyGrid* grid, int number);
    void gridClick(ProxyGrid& grid);
    void importedKeyDown(int key, Qt::KeyboardModifiers modifiers);
    void paintPageBands();
    void focusPage(int activeGrid, ProxyGrid& grid);
    void showUndoState();

    Controls m_c;
    int& m_activeGrid;
    WindowHost& m_host;
    FilterPass m_filter;
    HeaderSort m_sort;
    ImportedListEditor m_editor;
    std::vector<QAction*> m_pageKeys; // Ctrl+1, Ctrl+2, Ctrl+Tab
    quint64 m_choicePass = 0; // the latest filter choices pass; an older one gives way to it
};
