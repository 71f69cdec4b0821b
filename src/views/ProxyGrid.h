#pragma once

#include "model/ProxyTableModel.h"

#include <QTableView>

#include <algorithm>
#include <array>

// One list grid: a QTableView over its own ProxyTableModel, with the grid-style operations the
// list code uses. Rows and columns count as in the model (row 0 is the header row). Lengths are
// twips (1/1440 inch), converted at the screen's logical DPI.
//
// Mouse and keyboard input is reported in grid terms (gridClicked, keyDown, ...; MouseRow and
// MouseCol say where the pointer was, 0 for the header row). Home and End jump to the first and
// last row themselves. Only the left button selects; Ctrl+A selects nothing unless a handler does.
class ProxyGrid final : public QTableView
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ProxyGrid)

public:
    static constexpr int DefaultColWidth = 960; // twips, what a fresh grid gives every column

    explicit ProxyGrid(const QString& name, QWidget* parent = nullptr);

    ProxyTableModel& rows() { return m_model; }
    const ProxyTableModel& rows() const { return m_model; }

    int Rows() const { return m_model.Rows(); }
    void setRows(int rows);
    int Cols() const { return m_model.Cols(); }

    // Current cell and the far corner of the selection. Rows never read past the last row, even
    // while the model changes with Redraw off.
    int Row() const { return std::min(m_row, Rows() - 1); }
    int Col() const { return m_col; }
    int RowSel() const { return std::min(m_rowSel, Rows() - 1); }
    int ColSel() const { return m_colSel; }
    void setRow(int row); // also collapses the selection onto the new current cell
    void setCol(int col);
    void setRowSel(int row); // extends the selection from the current cell
    void setColSel(int col);
    // Selected rows, smaller to larger end.
    int selectionTop() const { return std::min(Row(), RowSel()); }
    int selectionBottom() const { return std::max(Row(), RowSel()); }
    // Current and selection end row = row, across every column.
    void selectWholeRow(int row);
    // End selects the last row and scrolls it to the top, Home the first; false for other keys.
    bool jumpToEnds(int key);
    // Odd data rows white, even ones in band; leaves the last row selected.
    void paintRowBands(ProxyRow::Colour band);

    // Where the pointer was at the last mouse event: row 0 is the header, -1 below the rows.
    int MouseRow() const { return m_mouseRow; }
    int MouseCol() const { return m_mouseCol; }

    QString TextMatrix(int row, int col) const { return m_model.TextMatrix(row, col); }
    void setTextMatrix(int row, int col, const QString& text)
    {
        m_model.setTextMatrix(row, col, text);
    }
    // Sorts the selected rows by the current column.
    void Sort(int code, const std::function<void()>& serve = {});

    // Colours the selected cells.
    void setCellForeColor(ProxyRow::Colour colour);
    void setCellBackColor(ProxyRow::Colour colour);

    int TopRow() const;
    void setTopRow(int row);

    bool Redraw() const { return m_model.Redraw(); }
    void setRedraw(bool redraw);

    void setGridFont(const QString& face, double pointSize, bool setSize);
    void setFixedFontFace(const QString& face);

    // Geometry in twips, as last set (so layout arithmetic does not lose to pixel rounding).
    void setGeometryTwips(int left, int top, int width, int height);
    int leftTwips() const { return m_geometry[0]; }
    int topTwips() const { return m_geometry[1]; }
    int widthTwips() const { return m_geometry[2]; }
    int heightTwips() const { return m_geometry[3]; }
    // Column width in twips; a negative width is refused and the old one stays, 0 hides the
    // column. The last shown column takes whatever room the others leave.
    int ColWidth(int col) const;
    void setColWidth(int col, int twips);
    // The arrow in a column's header that says how the rows are sorted; col -1 shows none.
    void showSortArrow(int col, bool ascending);

    static double twipsPerPixel(const QWidget* widget);

signals:
    void gotFocus();
    void gridClicked(); // left button, on the header or the cells
    void gridDoubleClicked();
    void mouseReleased(Qt::MouseButton button);
    void keyDown(int key, Qt::KeyboardModifiers modifiers);
    void enterPressed();
    // The user dragged a column's border, or fitted the column to its contents.
    void columnResized(int col, int twips);

protected:
    bool viewportEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    static constexpr int MinLastColumnPixels = 40;

    void applyColumnWidths();
    // The column whose right border is under pos in the header, or -1.
    int borderAt(const QPoint& pos) const;
    void syncSelection();
    void takeSelectionFromView();
    void clampToRows();
    void trackMouse(const QPoint& pos);

    ProxyTableModel m_model;
    int m_row = 0;
    int m_col = 0;
    int m_rowSel = 0;
    int m_colSel = 0;
    int m_mouseRow = -1;
    int m_mouseCol = -1;
    bool m_syncing = false;
    bool m_doubleClicked = false;
    bool m_draggingBorder = false;
    bool m_applyingWidths = false;
    std::array<int, ProxyRow::ColumnCount> m_colWidth;
    std::array<int, 4> m_geometry{};
};
