#pragma once

#include "model/ProxyRow.h"

#include <QAbstractTableModel>
#include <QSharedData>

#include <functional>
#include <vector>

// The rows of one list grid. Indices in the grid-style methods (Rows, TextMatrix, AddItem, ...)
// count the header as row 0, as the list code expects; the Qt model rows are the data rows only
// (model row = grid row - 1).
//
// Bulk changes (appendRows, appendCopies, setRows, removeRowRange, removeGridRows, sort) notify the
// views once. While Redraw is off the model changes silently and the views are reset once when it
// is switched back on.
//
// Every grid may hold 100 000 rows, so a row is kept compact: its thirteen texts in one string and
// one text and one background colour, with per-cell colours only for the rare row that has them.
// Row is the whole row spelled out, for handing rows in and out.
class ProxyTableModel final : public QAbstractTableModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ProxyTableModel)

public:
    using Colours = std::array<ProxyRow::Colour, ProxyRow::ColumnCount>;
    struct Row
    {
        ProxyRow::Cells cells;
        Colours fore{};
        Colours back{};
    };

    // The cell colours, as ProxyRow::Colour; no value where none is set. The view makes brushes of
    // them.
    enum ColourRole : int {
        ForeColourRole = Qt::UserRole,
        BackColourRole,
    };

    // Sort codes of Sort().
    enum SortCode : int {
        NumericAscending = 3,
        NumericDescending = 4,
        TextAscending = 7,
        TextDescending = 8,
        // Addresses as numbers, IPv4 before IPv6, then the port; other texts after them, as text.
        AddressAscending = 9,
        AddressDescending = 10,
    };

    explicit ProxyTableModel(QObject* parent = nullptr);

    // QAbstractTableModel
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // Grid-style access; row 0 is the header row.
    int Rows() const { return int(m_rows.size()) + 1; }
    void setRows(int rows); // at least 1; adds empty rows at the end or drops rows from the end
    int Cols() const { return ProxyRow::ColumnCount; }
    QString TextMatrix(int row, int col) const;                     // "" outside the grid
    void setTextMatrix(int row, int col, const QString& text);      // ignored outside the grid
    void AddItem(const QString& tabSeparatedCells, int index = -1); // -1: at the end
    void RemoveItem(int row);
    // Sorts grid rows first..last (inclusive) by column col; colours move with their rows.
    // Numeric codes compare the leading number of each text (a text without one counts as 0).
    // With serve, a long sort goes by steps and calls it between them; should serve() add or
    // remove rows, the sort stops and leaves the rows as they are.
    void Sort(int firstRow, int lastRow, int col, int code,
              const std::function<void()>& serve = {});
    // Rows per step of such a sort (tests make it small, so that short lists sort by steps too).
    static void setSortBlockForTesting(int rows);

    // Colour of a rectangle of cells (grid rows and columns, inclusive, any corner order).
    void setCellForeColor(int row1, int col1, int row2, int col2, ProxyRow::Colour colour);
    void setCellBackColor(int row1, int col1, int row2, int col2, ProxyRow::Colour colour);
    ProxyRow::Colour cellForeColor(int row, int col) const;
    ProxyRow::Colour cellBackColor(int row, int col) const;

    // Odd data rows white, even data rows in the band colour, across every column.
    void paintRowBands(ProxyRow::Colour band);

    bool Redraw() const { return m_redraw; }
    void setRedraw(bool redraw);

    // The text of one cell without a copy; valid until that row changes or moves. Empty outside
    // the data rows.
    QStringView cell(int gridRow, int col) const;

    // Whole rows (grid index).
    Row row(int gridRow) const; // an empty row outside the data rows
    void setRow(int gridRow, const Row& row);
    // Writes a stored line of the imported list into the last row, which must be empty, and
    // adds a new empty row after it. Loopback and "this network" addresses are never shown; a
    // row's test mark gives its text colour.
    void addImportedRow(const QString& storedText);
    void appendRows(std::vector<Row> rows);
    // Appends copies of the given grid rows of source (in the order given; rows outside source's
    // data rows are skipped). The copies share their texts with the originals.
    void appendCopies(const ProxyTableModel& source, const std::vector<int>& gridRows);
    void removeRowRange(int firstGridRow, int count);
    // Removes the given grid rows in one pass, in any order; repeats and rows outside the data
    // rows are ignored. The views hear one removal per run of adjacent rows, or one reset when
    // the runs are many.
    void removeGridRows(std::vector<int> gridRows);
    // Number of data rows whose Proxy cell is not empty (the figure the status bar shows).
    int proxyCount() const;

    // Every data row as it stands: cheap to keep, as the rows share their texts with the grid.
    class Snapshot;
    Snapshot snapshot() const;
    // Puts a snapshot's rows in place of all rows; the views are reset once.
    void restore(const Snapshot& snapshot);

    void setHeaderText(int col, const QString& text);

private:
    struct CellColours : QSharedData
    {
        Colours fore{};
        Colours back{};
    };
    struct StoredRow
    {
        QString texts; // see cellText() in the source
        ProxyRow::Colour fore = ProxyRow::NoColour;
        ProxyRow::Colour back = ProxyRow::NoColour;
        QSharedDataPointer<CellColours> cellColours; // set only while the cells differ

        ProxyRow::Colour foreAt(int col) const
        {
            const CellColours* cells = cellColours.constData();
            return cells ? cells->fore[size_t(col)] : fore;
        }
        ProxyRow::Colour backAt(int col) const
        {
            const CellColours* cells = cellColours.constData();
            return cells ? cells->back[size_t(col)] : back;
        }
        void setColours(bool foreground, int col1, int col2, ProxyRow::Colour colour);
    };

    void changed(int firstGridRow, int lastGridRow);
    void fillColour(bool foreground, int row1, int col1, int row2, int col2,
                    ProxyRow::Colour colour, int role);
    static StoredRow stored(const Row& row);

    std::vector<StoredRow> m_rows;
    std::array<QString, ProxyRow::ColumnCount> m_headers;
    bool m_redraw = true;
};

class ProxyTableModel::Snapshot final
{
private:
    friend class ProxyTableModel;
    std::vector<StoredRow> m_rows;
};
