#include "model/ProxyTableModel.h"

#include "model/NumberText.h"

#include <QColor>

#include <algorithm>
#include <numeric>

namespace {

// The value of the number a text starts with: blanks skipped, then an optional sign, digits and
// at most one decimal point. "12 s" is 12, "-3.5x" is -3.5, a text without a number is 0.
double leadingNumber(QStringView text)
{
    qsizetype i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t'))
        ++i;
    const qsizetype length = NumberText::numberPrefix(text.sliced(i));
    if (length == 0)
        return 0.0;
    bool ok = false;
    const double value = text.sliced(i, length).toDouble(&ok);
    return ok ? value : 0.0;
}

const ProxyTableModel::Row& emptyRow()
{
    static const ProxyTableModel::Row row;
    return row;
}

} // namespace

ProxyTableModel::ProxyTableModel(QObject* parent) : QAbstractTableModel(parent)
{
    const QStringList& headers = ProxyRow::columnHeaders();
    for (int col = 0; col < ProxyRow::ColumnCount; ++col)
        m_headers[col] = headers.value(col);
}

int ProxyTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int ProxyTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ProxyRow::ColumnCount;
}

QVariant ProxyTableModel::data(const QModelIndex& index, int role) const
{
    // Bounds are checked against the rows themselves: with Redraw off a view may still ask about
    // rows that are already gone.
    if (!index.isValid() || index.row() < 0 || size_t(index.row()) >= m_rows.size() ||
        index.column() < 0 || index.column() >= ProxyRow::ColumnCount)
        return {};
    const Row& r = m_rows[size_t(index.row())];
    const int col = index.column();
    switch (role) {
    case Qt::DisplayRole:
        return r.cells[col];
    case Qt::ForegroundRole:
        return r.fore[col] != ProxyRow::NoColour ? QVariant(QColor(r.fore[col])) : QVariant();
    case Qt::BackgroundRole:
        return r.back[col] != ProxyRow::NoColour ? QVariant(QColor(r.back[col])) : QVariant();
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    default:
        return {};
    }
}

QVariant ProxyTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < ProxyRow::ColumnCount)
        return m_headers[section];
    return {};
}

void ProxyTableModel::setRows(int rows)
{
    if (rows < 1)
        return;
    const int oldCount = int(m_rows.size());
    const int newCount = rows - 1;
    if (newCount > oldCount) {
        if (m_redraw)
            beginInsertRows({}, oldCount, newCount - 1);
        m_rows.resize(size_t(newCount));
        if (m_redraw)
            endInsertRows();
    } else if (newCount < oldCount) {
        if (m_redraw)
            beginRemoveRows({}, newCount, oldCount - 1);
        m_rows.resize(size_t(newCount));
        if (m_redraw)
            endRemoveRows();
    }
}

QString ProxyTableModel::TextMatrix(int row, int col) const
{
    if (col < 0 || col >= ProxyRow::ColumnCount || row < 0 || row >= Rows())
        return {};
    if (row == 0)
        return m_headers[col];
    return m_rows[size_t(row - 1)].cells[col];
}

void ProxyTableModel::setTextMatrix(int row, int col, const QString& text)
{
    if (col < 0 || col >= ProxyRow::ColumnCount || row < 0 || row >= Rows())
        return;
    if (row == 0) {
        setHeaderText(col, text);
        return;
    }
    m_rows[size_t(row - 1)].cells[col] = text;
    if (m_redraw) {
        const QModelIndex at = index(row - 1, col);
        emit dataChanged(at, at, {Qt::DisplayRole});
    }
}

void ProxyTableModel::AddItem(const QString& tabSeparatedCells, int index)
{
    if (index == -1)
        index = Rows();
    if (index < 1 || index > Rows())
        return;

    Row r;
    int col = 0;
    for (QStringView cell : QStringView(tabSeparatedCells).tokenize(u'\t')) {
        if (col >= ProxyRow::ColumnCount)
            break;
        r.cells[col++] = cell.toString();
    }

    const int at = index - 1;
    if (m_redraw)
        beginInsertRows({}, at, at);
    m_rows.insert(m_rows.begin() + at, std::move(r));
    if (m_redraw)
        endInsertRows();
}

void ProxyTableModel::RemoveItem(int row)
{
    removeRowRange(row, 1);
}

void ProxyTableModel::Sort(int firstRow, int lastRow, int col, int code)
{
    if (col < 0 || col >= ProxyRow::ColumnCount)
        return;
    if (code != NumericAscending && code != NumericDescending && code != TextAscending &&
        code != TextDescending)
        return;
    if (firstRow > lastRow)
        std::swap(firstRow, lastRow);
    const int first = std::max(firstRow, 1) - 1;
    const int last = std::min(lastRow, Rows() - 1) - 1;
    if (last - first < 1)
        return;

    const size_t count = size_t(last - first + 1);
    std::vector<size_t> order(count);
    std::iota(order.begin(), order.end(), size_t(first));

    if (code == NumericAscending || code == NumericDescending) {
        // Parse each text once rather than in every comparison.
        std::vector<double> key(count);
        for (size_t k = 0; k < count; ++k)
            key[k] = leadingNumber(m_rows[size_t(first) + k].cells[col]);
        const auto value = [&key, first](size_t i) { return key[i - size_t(first)]; };
        if (code == NumericAscending)
            std::stable_sort(order.begin(), order.end(),
                             [&value](size_t a, size_t b) { return value(a) < value(b); });
        else
            std::stable_sort(order.begin(), order.end(),
                             [&value](size_t a, size_t b) { return value(b) < value(a); });
    } else {
        // The first characters of every text side by side: most comparisons end inside them
        // without chasing each row's string through memory.
        struct Key
        {
            std::array<char16_t, 20> head{};
            qsizetype length = 0;
            size_t row = 0;
        };
        std::vector<Key> keys(count);
        for (size_t k = 0; k < count; ++k) {
            const QString& text = m_rows[size_t(first) + k].cells[col];
            Key& key = keys[k];
            key.row = size_t(first) + k;
            key.length = text.size();
            const qsizetype n = std::min<qsizetype>(key.length, qsizetype(key.head.size()));
            for (qsizetype i = 0; i < n; ++i)
                key.head[size_t(i)] = text.at(i).unicode();
        }
        const auto less = [this, col](const Key& a, const Key& b) {
            const qsizetype n = std::min({a.length, b.length, qsizetype(a.head.size())});
            for (qsizetype i = 0; i < n; ++i) {
                if (a.head[size_t(i)] != b.head[size_t(i)])
                    return a.head[size_t(i)] < b.head[size_t(i)];
            }
            if (n < qsizetype(a.head.size()))
                return a.length < b.length;
            return QString::compare(m_rows[a.row].cells[col], m_rows[b.row].cells[col],
                                    Qt::CaseSensitive) < 0;
        };
        if (code == TextAscending)
            std::stable_sort(keys.begin(), keys.end(), less);
        else
            std::stable_sort(keys.begin(), keys.end(),
                             [&less](const Key& a, const Key& b) { return less(b, a); });
        for (size_t k = 0; k < count; ++k)
            order[k] = keys[k].row;
    }

    if (m_redraw)
        emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);

    // Rows are large: put them in place by following the permutation's cycles, each row moved
    // once, rather than through a second copy of the whole range.
    std::vector<bool> placed(count, false);
    for (size_t start = 0; start < count; ++start) {
        if (placed[start] || order[start] - size_t(first) == start)
            continue;
        Row held = std::move(m_rows[size_t(first) + start]);
        size_t pos = start;
        for (;;) {
            placed[pos] = true;
            const size_t from = order[pos] - size_t(first);
            if (from == start) {
                m_rows[size_t(first) + pos] = std::move(held);
                break;
            }
            m_rows[size_t(first) + pos] = std::move(m_rows[size_t(first) + from]);
            pos = from;
        }
    }

    if (m_redraw) {
        // Selections and current cells follow their rows to the new places.
        std::vector<int> newRowOf(count);
        for (size_t pos = 0; pos < count; ++pos)
            newRowOf[order[pos] - size_t(first)] = first + int(pos);
        const QModelIndexList before = persistentIndexList();
        QModelIndexList after;
        after.reserve(before.size());
        for (const QModelIndex& idx : before) {
            const int r = idx.row();
            after.append(r >= first && r <= last ? index(newRowOf[size_t(r - first)], idx.column())
                                                 : idx);
        }
        changePersistentIndexList(before, after);
        emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    }
}

void ProxyTableModel::setCellForeColor(int row1, int col1, int row2, int col2, QRgb colour)
{
    fillColour(&Row::fore, row1, col1, row2, col2, colour, Qt::ForegroundRole);
}

void ProxyTableModel::setCellBackColor(int row1, int col1, int row2, int col2, QRgb colour)
{
    fillColour(&Row::back, row1, col1, row2, col2, colour, Qt::BackgroundRole);
}

void ProxyTableModel::fillColour(Colours Row::*which, int row1, int col1, int row2, int col2,
                                 QRgb colour, int role)
{
    if (row1 > row2)
        std::swap(row1, row2);
    if (col1 > col2)
        std::swap(col1, col2);
    row1 = std::max(row1, 1);
    row2 = std::min(row2, Rows() - 1);
    col1 = std::max(col1, 0);
    col2 = std::min(col2, ProxyRow::ColumnCount - 1);
    if (row1 > row2 || col1 > col2)
        return;
    for (int r = row1; r <= row2; ++r) {
        Colours& colours = m_rows[size_t(r - 1)].*which;
        std::fill(colours.begin() + col1, colours.begin() + col2 + 1, colour);
    }
    if (m_redraw)
        emit dataChanged(index(row1 - 1, col1), index(row2 - 1, col2), {role});
}

QRgb ProxyTableModel::cellForeColor(int row, int col) const
{
    if (row < 1 || row >= Rows() || col < 0 || col >= ProxyRow::ColumnCount)
        return ProxyRow::NoColour;
    return m_rows[size_t(row - 1)].fore[col];
}

QRgb ProxyTableModel::cellBackColor(int row, int col) const
{
    if (row < 1 || row >= Rows() || col < 0 || col >= ProxyRow::ColumnCount)
        return ProxyRow::NoColour;
    return m_rows[size_t(row - 1)].back[col];
}

void ProxyTableModel::paintRowBands(QRgb band)
{
    if (m_rows.empty())
        return;
    // Model row 0 is grid row 1, which is odd and therefore white.
    for (size_t i = 0; i < m_rows.size(); ++i)
        m_rows[i].back.fill(i % 2 == 0 ? ProxyRow::White : band);
    if (m_redraw)
        emit dataChanged(index(0, 0), index(int(m_rows.size()) - 1, ProxyRow::ColumnCount - 1),
                         {Qt::BackgroundRole});
}

void ProxyTableModel::setRedraw(bool redraw)
{
    if (redraw == m_redraw)
        return;
    m_redraw = redraw;
    if (redraw)
        endResetModel();
    else
        beginResetModel();
}

const ProxyTableModel::Row& ProxyTableModel::row(int gridRow) const
{
    if (gridRow < 1 || gridRow >= Rows())
        return emptyRow();
    return m_rows[size_t(gridRow - 1)];
}

void ProxyTableModel::setRow(int gridRow, const Row& row)
{
    if (gridRow < 1 || gridRow >= Rows())
        return;
    m_rows[size_t(gridRow - 1)] = row;
    changed(gridRow, gridRow);
}

void ProxyTableModel::appendRows(std::vector<Row> rows)
{
    if (rows.empty())
        return;
    const int first = int(m_rows.size());
    if (m_redraw)
        beginInsertRows({}, first, first + int(rows.size()) - 1);
    if (m_rows.empty())
        m_rows = std::move(rows);
    else
        m_rows.insert(m_rows.end(), std::make_move_iterator(rows.begin()),
                      std::make_move_iterator(rows.end()));
    if (m_redraw)
        endInsertRows();
}

void ProxyTableModel::removeRowRange(int firstGridRow, int count)
{
    if (count < 1)
        return;
    const int first = std::max(firstGridRow, 1);
    // 64-bit end so that a huge count cannot overflow.
    const int last = int(std::min<qint64>(qint64(firstGridRow) + count - 1, Rows() - 1));
    if (first > last)
        return;
    if (m_redraw)
        beginRemoveRows({}, first - 1, last - 1);
    m_rows.erase(m_rows.begin() + (first - 1), m_rows.begin() + last);
    if (m_redraw)
        endRemoveRows();
}

int ProxyTableModel::proxyCount() const
{
    return int(std::count_if(m_rows.begin(), m_rows.end(),
                             [](const Row& r) { return !r.cells[ProxyRow::Proxy].isEmpty(); }));
}

void ProxyTableModel::setHeaderText(int col, const QString& text)
{
    if (col < 0 || col >= ProxyRow::ColumnCount)
        return;
    m_headers[col] = text;
    if (m_redraw)
        emit headerDataChanged(Qt::Horizontal, col, col);
}

void ProxyTableModel::changed(int firstGridRow, int lastGridRow)
{
    if (!m_redraw || firstGridRow > lastGridRow)
        return;
    emit dataChanged(index(firstGridRow - 1, 0), index(lastGridRow - 1, ProxyRow::ColumnCount - 1));
}
