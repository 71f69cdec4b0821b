#pragma once

#include "model/ProxyTableModel.h"

#include <QTableView>

#include <array>

// One list grid: a QTableView over its own ProxyTableModel, with the grid-style operations the
// list code uses. Rows and columns count as in the model (row 0 is the header row). Lengths are
// twips (1/1440 inch), converted at the screen's logical DPI.
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

    // Current cell and the far corner of the selection.
    int Row() const { return m_row; }
    int Col() const { return m_col; }
    int RowSel() const { return m_rowSel; }
    int ColSel() const { return m_colSel; }
    void setRow(int row); // also collapses the selection onto the new current cell
    void setCol(int col);
    void setRowSel(int row); // extends the selection from the current cell
    void setColSel(int col);
    // Selected rows, smaller to larger end.
    int selectionTop() const { return std::min(m_row, m_rowSel); }
    int selectionBottom() const { return std::max(m_row, m_rowSel); }

    QString TextMatrix(int row, int col) const { return m_model.TextMatrix(row, col); }
    void setTextMatrix(int row, int col, const QString& text)
    {
        m_model.setTextMatrix(row, col, text);
    }
    // Sorts the selected rows by the current column.
    void Sort(int code);

    // Colours the selected cells.
    void setCellForeColor(QRgb colour);
    void setCellBackColor(QRgb colour);

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
    // Column width in twips; a negative width is refused and the old one stays.
    int ColWidth(int col) const;
    void setColWidth(int col, int twips);

    static double twipsPerPixel(const QWidget* widget);

protected:
    bool viewportEvent(QEvent* event) override;

private:
    static constexpr int MinLastColumnPixels = 40;

    void applyColumnWidths();
    void syncSelection();
    void takeSelectionFromView();

    ProxyTableModel m_model;
    int m_row = 0;
    int m_col = 0;
    int m_rowSel = 0;
    int m_colSel = 0;
    bool m_syncing = false;
    std::array<int, ProxyRow::ColumnCount> m_colWidth;
    std::array<int, 4> m_geometry{};
};
