#include "views/ProxyGrid.h"

#include "views/ProxyGridDelegate.h"

#include <QEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScopedValueRollback>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>

#include <algorithm>
#include <cmath>
#include <utility>

ProxyGrid::ProxyGrid(const QString& name, QWidget* parent) : QTableView(parent)
{
    setObjectName(name);
    m_colWidth.fill(DefaultColWidth);
    setModel(&m_model);
    setItemDelegate(new ProxyGridDelegate(this));
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setSelectionMode(QAbstractItemView::ContiguousSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    verticalHeader()->setVisible(false);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setMinimumSectionSize(0);
    // Header clicks sort (reported through gridClicked); they must not select a column.
    horizontalHeader()->setSectionsClickable(false);
    horizontalHeader()->viewport()->installEventFilter(this);
    for (int c = 0; c < ProxyRow::ColumnCount; ++c)
        setColWidth(c, DefaultColWidth);
    // A border dragged or fitted (a double click on it) gives its column a width of the user's.
    connect(horizontalHeader(), &QHeaderView::sectionResized, this,
            [this](int col, int, int pixels) {
                if (m_applyingWidths || col < 0 || col >= ProxyRow::ColumnCount || pixels <= 0)
                    return;
                m_colWidth[size_t(col)] = int(std::lround(pixels * twipsPerPixel(this)));
                applyColumnWidths();
                emit columnResized(col, m_colWidth[size_t(col)]);
            });

    connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this] { takeSelectionFromView(); });
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { takeSelectionFromView(); });
    connect(&m_model, &QAbstractItemModel::rowsRemoved, this, [this] { clampToRows(); });
    // New rows, or rows all replaced, are in no order the arrow could promise.
    connect(&m_model, &QAbstractItemModel::rowsInserted, this,
            [this] { showSortArrow(-1, false); });
    connect(&m_model, &QAbstractItemModel::modelReset, this, [this] {
        clampToRows();
        syncSelection();
        showSortArrow(-1, false);
    });
}

double ProxyGrid::twipsPerPixel(const QWidget* widget)
{
    const QScreen* screen = widget ? widget->screen() : nullptr;
    const double dpi = screen ? screen->logicalDotsPerInchX() : 96.0;
    return dpi > 0 ? 1440.0 / dpi : 15.0;
}

void ProxyGrid::setRows(int rows)
{
    m_model.setRows(rows);
    const int last = m_model.Rows() - 1;
    m_row = std::min(m_row, last);
    m_rowSel = std::min(m_rowSel, last);
}

void ProxyGrid::setRow(int row)
{
    m_row = std::clamp(row, 0, m_model.Rows() - 1);
    m_rowSel = m_row;
    syncSelection();
}

void ProxyGrid::setCol(int col)
{
    m_col = std::clamp(col, 0, m_model.Cols() - 1);
    m_colSel = m_col;
    syncSelection();
}

void ProxyGrid::setRowSel(int row)
{
    m_rowSel = std::clamp(row, 0, m_model.Rows() - 1);
    syncSelection();
}

void ProxyGrid::setColSel(int col)
{
    m_colSel = std::clamp(col, 0, m_model.Cols() - 1);
    syncSelection();
}

void ProxyGrid::selectWholeRow(int row)
{
    m_row = std::clamp(row, 0, m_model.Rows() - 1);
    m_rowSel = m_row;
    m_col = 0;
    m_colSel = m_model.Cols() - 1;
    syncSelection();
}

bool ProxyGrid::jumpToEnds(int key)
{
    int row = 0;
    if (key == Qt::Key_End)
        row = Rows() - 1;
    else if (key == Qt::Key_Home)
        row = 1;
    else
        return false;
    selectWholeRow(row);
    setTopRow(row);
    return true;
}

void ProxyGrid::paintRowBands(ProxyRow::Colour band)
{
    m_model.paintRowBands(band);
    selectWholeRow(Rows() - 1);
}

void ProxyGrid::Sort(int code, const std::function<void()>& serve)
{
    m_model.Sort(selectionTop(), selectionBottom(), m_col, code, serve);
}

void ProxyGrid::setCellForeColor(ProxyRow::Colour colour)
{
    m_model.setCellForeColor(m_row, m_col, m_rowSel, m_colSel, colour);
}

void ProxyGrid::setCellBackColor(ProxyRow::Colour colour)
{
    m_model.setCellBackColor(m_row, m_col, m_rowSel, m_colSel, colour);
}

int ProxyGrid::TopRow() const
{
    const int first = rowAt(0);
    return first < 0 ? 1 : first + 1;
}

void ProxyGrid::setTopRow(int row)
{
    if (row < 1 || row >= m_model.Rows())
        return;
    scrollTo(m_model.index(row - 1, 0), QAbstractItemView::PositionAtTop);
}

void ProxyGrid::setRedraw(bool redraw)
{
    m_model.setRedraw(redraw);
    setUpdatesEnabled(redraw);
}

void ProxyGrid::setGridFont(const QString& face, double pointSize, bool setSize)
{
    QFont f = font();
    if (setSize && pointSize > 0)
        f.setPointSizeF(pointSize);
    if (!face.isEmpty())
        f.setFamily(face);
    setFont(f);
    verticalHeader()->setDefaultSectionSize(QFontMetrics(f).height() + 4);
}

void ProxyGrid::setFixedFontFace(const QString& face)
{
    if (face.isEmpty())
        return;
    QFont f = horizontalHeader()->font();
    f.setFamily(face);
    horizontalHeader()->setFont(f);
}

void ProxyGrid::setGeometryTwips(int left, int top, int width, int height)
{
    // A negative length is refused: the old one stays.
    if (width < 0)
        width = m_geometry[2];
    if (height < 0)
        height = m_geometry[3];
    m_geometry = {left, top, width, height};
    const double tpp = twipsPerPixel(this);
    setGeometry(int(std::lround(left / tpp)), int(std::lround(top / tpp)),
                int(std::lround(width / tpp)), int(std::lround(height / tpp)));
}

int ProxyGrid::ColWidth(int col) const
{
    return col >= 0 && col < ProxyRow::ColumnCount ? m_colWidth[col] : 0;
}

void ProxyGrid::setColWidth(int col, int twips)
{
    if (col < 0 || col >= ProxyRow::ColumnCount || twips < 0)
        return;
    m_colWidth[col] = twips;
    setColumnHidden(col, twips == 0);
    applyColumnWidths();
}

void ProxyGrid::applyColumnWidths()
{
    const QScopedValueRollback applying(m_applyingWidths, true);
    const double tpp = twipsPerPixel(this);
    int last = -1;
    for (int c = 0; c < ProxyRow::ColumnCount; ++c)
        if (m_colWidth[c] > 0)
            last = c;
    int used = 0;
    for (int c = 0; c < last; ++c) {
        if (m_colWidth[c] == 0)
            continue;
        const int px = int(std::lround(m_colWidth[c] / tpp));
        horizontalHeader()->resizeSection(c, px);
        used += px;
    }
    if (last < 0)
        return;
    // The last column takes the room the others leave, so a vertical scroll bar does not bring
    // a horizontal one with it; when there is next to none, it keeps its own width and the grid
    // scrolls. Its width in twips stays as it was set.
    int px = int(std::lround(m_colWidth[last] / tpp));
    const int room = viewport()->width() - used;
    if (room >= MinLastColumnPixels)
        px = room;
    horizontalHeader()->resizeSection(last, px);
}

int ProxyGrid::borderAt(const QPoint& pos) const
{
    const QHeaderView* h = horizontalHeader();
    const int visual = h->visualIndexAt(pos.x());
    if (visual < 0)
        return -1;
    const int col = h->logicalIndex(visual);
    const int left = h->sectionViewportPosition(col);
    const int grip = style()->pixelMetric(QStyle::PM_HeaderGripMargin, nullptr, h);
    if (pos.x() > left + h->sectionSize(col) - grip)
        return col;
    if (pos.x() >= left + grip)
        return -1;
    for (int v = visual - 1; v >= 0; --v) {
        if (!h->isSectionHidden(h->logicalIndex(v)))
            return h->logicalIndex(v);
    }
    return -1;
}

void ProxyGrid::showSortArrow(int col, bool ascending)
{
    horizontalHeader()->setSortIndicatorShown(col >= 0);
    horizontalHeader()->setSortIndicator(col, ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
}

bool ProxyGrid::viewportEvent(QEvent* event)
{
    const bool handled = QTableView::viewportEvent(event);
    if (event->type() == QEvent::Resize)
        applyColumnWidths();
    return handled;
}

bool ProxyGrid::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != horizontalHeader()->viewport())
        return QTableView::eventFilter(watched, event);
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonRelease &&
        type != QEvent::MouseButtonDblClick)
        return QTableView::eventFilter(watched, event);
    const auto* mouse = static_cast<QMouseEvent*>(event);
    switch (type) {
    case QEvent::MouseButtonPress:
        // A press on a border starts a drag of it, which is the header's own business.
        m_draggingBorder =
            mouse->button() == Qt::LeftButton && borderAt(mouse->position().toPoint()) >= 0;
        if (m_draggingBorder)
            return false;
        m_mouseRow = 0;
        m_mouseCol = horizontalHeader()->logicalIndexAt(mouse->position().toPoint());
        setFocus(Qt::MouseFocusReason);
        return true;
    case QEvent::MouseButtonRelease:
        if (std::exchange(m_draggingBorder, false))
            return false;
        m_mouseRow = 0;
        m_mouseCol = horizontalHeader()->logicalIndexAt(mouse->position().toPoint());
        emit mouseReleased(mouse->button());
        if (mouse->button() == Qt::LeftButton)
            emit gridClicked();
        return true;
    case QEvent::MouseButtonDblClick:
        // On a border the header fits the column to its contents; elsewhere a header is for
        // sorting: no test run from here.
        if (mouse->button() == Qt::LeftButton && borderAt(mouse->position().toPoint()) >= 0) {
            m_draggingBorder = true;
            return false;
        }
        return true;
    default:
        return QTableView::eventFilter(watched, event);
    }
}

void ProxyGrid::focusInEvent(QFocusEvent* event)
{
    QTableView::focusInEvent(event);
    emit gotFocus();
}

void ProxyGrid::keyPressEvent(QKeyEvent* event)
{
    const int key = event->key();
    const bool jumped = jumpToEnds(key);
    emit keyDown(key, event->modifiers());
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        emit enterPressed();
        return;
    }
    // The view's own Home/End would move the selection again, and its select-all would work in
    // every grid.
    if (jumped || event->matches(QKeySequence::SelectAll))
        return;
    QTableView::keyPressEvent(event);
}

void ProxyGrid::trackMouse(const QPoint& pos)
{
    const int row = rowAt(pos.y());
    m_mouseRow = row < 0 ? -1 : row + 1;
    m_mouseCol = columnAt(pos.x());
}

void ProxyGrid::mousePressEvent(QMouseEvent* event)
{
    trackMouse(event->position().toPoint());
    // Other buttons open menus; they leave the selection alone so a menu acts on it.
    if (event->button() == Qt::LeftButton)
        QTableView::mousePressEvent(event);
}

void ProxyGrid::mouseReleaseEvent(QMouseEvent* event)
{
    trackMouse(event->position().toPoint());
    if (event->button() == Qt::LeftButton)
        QTableView::mouseReleaseEvent(event);
    emit mouseReleased(event->button());
    if (event->button() != Qt::LeftButton)
        return;
    // The test run of a double-click starts once the view has seen the button come up: a run
    // disables the grid, which would otherwise never see the release.
    if (m_doubleClicked) {
        m_doubleClicked = false;
        emit gridDoubleClicked();
    } else {
        emit gridClicked();
    }
}

void ProxyGrid::mouseDoubleClickEvent(QMouseEvent* event)
{
    trackMouse(event->position().toPoint());
    if (event->button() != Qt::LeftButton)
        return;
    QTableView::mouseDoubleClickEvent(event);
    m_doubleClicked = true;
}

void ProxyGrid::clampToRows()
{
    const int last = m_model.Rows() - 1;
    m_row = std::min(m_row, last);
    m_rowSel = std::min(m_rowSel, last);
}

void ProxyGrid::syncSelection()
{
    if (m_syncing || !m_model.Redraw())
        return;
    m_syncing = true;
    QItemSelectionModel* sel = selectionModel();
    const int top = selectionTop();
    const int bottom = selectionBottom();
    if (top >= 1) {
        const QModelIndex current = m_model.index(m_row - 1, m_col);
        const QItemSelection range(m_model.index(top - 1, std::min(m_col, m_colSel)),
                                   m_model.index(bottom - 1, std::max(m_col, m_colSel)));
        sel->setCurrentIndex(current, QItemSelectionModel::NoUpdate);
        sel->select(range, QItemSelectionModel::ClearAndSelect);
    } else {
        sel->clearSelection();
    }
    m_syncing = false;
}

void ProxyGrid::takeSelectionFromView()
{
    if (m_syncing)
        return;
    const QModelIndex current = selectionModel()->currentIndex();
    if (!current.isValid())
        return;
    m_row = current.row() + 1;
    m_col = current.column();
    m_rowSel = m_row;
    m_colSel = m_col;
    // The far corner is the end of the selected block opposite the current cell.
    for (const QItemSelectionRange& r : selectionModel()->selection()) {
        if (!r.contains(current))
            continue;
        m_rowSel = (r.top() + 1 == m_row ? r.bottom() : r.top()) + 1;
        m_colSel = r.left() == m_col ? r.right() : r.left();
        break;
    }
}
