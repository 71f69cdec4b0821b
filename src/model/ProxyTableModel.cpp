#include "model/ProxyTableModel.h"

#include "model/NumberText.h"
#include "model/ProxyEndpoint.h"

#include <algorithm>
#include <numeric>

namespace {

std::size_t sortBlock = 8192;

// A stable sort that calls serve() between steps: blocks sorted one by one, then merged two by
// two. Returns false, with the items in no useful order, when serve() says to stop.
template <typename T, typename Less>
bool servedStableSort(std::vector<T>& items, Less less, const std::function<bool()>& serve)
{
    const size_t Block = sortBlock;
    const size_t n = items.size();
    if (!serve || n <= Block) {
        std::stable_sort(items.begin(), items.end(), less);
        return true;
    }
    const auto at = [](std::vector<T>& v, size_t i) { return v.begin() + std::ptrdiff_t(i); };
    for (size_t lo = 0; lo < n; lo += Block) {
        std::stable_sort(at(items, lo), at(items, std::min(lo + Block, n)), less);
        if (!serve())
            return false;
    }
    std::vector<T> merged(n);
    for (size_t width = Block; width < n; width *= 2) {
        for (size_t lo = 0; lo < n; lo += 2 * width) {
            const size_t mid = std::min(lo + width, n);
            const size_t hi = std::min(lo + 2 * width, n);
            std::merge(at(items, lo), at(items, mid), at(items, mid), at(items, hi), at(merged, lo),
                       less);
            if (!serve())
                return false;
        }
        items.swap(merged);
    }
    return true;
}

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

// A row's texts are kept in one string: first a table of where cells 0..11 end, then the thirteen
// texts one after another (cell 12 ends with the string). An end takes one unit while the texts
// fit in 65 535 units and two (low half first) beyond, which the string's length tells apart. A
// row whose cells are all empty has a null string.
constexpr int EndCount = ProxyRow::ColumnCount - 1;
constexpr qsizetype NarrowLimit = 0xFFFF;

QStringView cellText(const QString& texts, int col)
{
    if (texts.isEmpty())
        return {};
    const auto* units = reinterpret_cast<const char16_t*>(texts.constData());
    const bool wide = texts.size() > EndCount + NarrowLimit;
    const qsizetype table = wide ? 2 * EndCount : EndCount;
    const auto endOf = [units, wide](int c) {
        return wide ? qsizetype(units[2 * c]) | qsizetype(units[2 * c + 1]) << 16
                    : qsizetype(units[c]);
    };
    const qsizetype begin = col == 0 ? 0 : endOf(col - 1);
    const qsizetype end = col == EndCount ? texts.size() - table : endOf(col);
    return QStringView(units + table + begin, end - begin);
}

// cellAt(col) gives the text of each cell; it may look into the string being replaced.
template <typename CellAt> QString packTexts(CellAt cellAt)
{
    std::array<QStringView, ProxyRow::ColumnCount> cells;
    qsizetype total = 0;
    for (int col = 0; col < ProxyRow::ColumnCount; ++col) {
        cells[size_t(col)] = cellAt(col);
        total += cells[size_t(col)].size();
    }
    if (total == 0)
        return {};
    const bool wide = total > NarrowLimit;
    const qsizetype table = wide ? 2 * EndCount : EndCount;
    QString texts(table + total, Qt::Uninitialized);
    auto* units = reinterpret_cast<char16_t*>(texts.data());
    qsizetype at = 0;
    for (int col = 0; col < ProxyRow::ColumnCount; ++col) {
        const QStringView cell = cells[size_t(col)];
        std::copy_n(cell.utf16(), cell.size(), units + table + at);
        at += cell.size();
        if (col == EndCount)
            break;
        if (wide) {
            units[2 * col] = char16_t(at & 0xFFFF);
            units[2 * col + 1] = char16_t(at >> 16);
        } else {
            units[col] = char16_t(at);
        }
    }
    return texts;
}

QString withCell(const QString& texts, int col, QStringView text)
{
    return packTexts([&](int c) { return c == col ? text : cellText(texts, c); });
}

bool allSame(const ProxyTableModel::Colours& colours)
{
    return std::all_of(colours.begin(), colours.end(),
                       [first = colours[0]](ProxyRow::Colour c) { return c == first; });
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
    const StoredRow& r = m_rows[size_t(index.row())];
    const int col = index.column();
    switch (role) {
    case Qt::DisplayRole:
        return cellText(r.texts, col).toString();
    case ForeColourRole: {
        const ProxyRow::Colour colour = r.foreAt(col);
        return colour != ProxyRow::NoColour ? QVariant(colour) : QVariant();
    }
    case BackColourRole: {
        const ProxyRow::Colour colour = r.backAt(col);
        return colour != ProxyRow::NoColour ? QVariant(colour) : QVariant();
    }
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
    return cellText(m_rows[size_t(row - 1)].texts, col).toString();
}

void ProxyTableModel::setTextMatrix(int row, int col, const QString& text)
{
    if (col < 0 || col >= ProxyRow::ColumnCount || row < 0 || row >= Rows())
        return;
    if (row == 0) {
        setHeaderText(col, text);
        return;
    }
    QString& texts = m_rows[size_t(row - 1)].texts;
    texts = withCell(texts, col, text);
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

    std::array<QStringView, ProxyRow::ColumnCount> cells;
    int col = 0;
    for (QStringView cell : QStringView(tabSeparatedCells).tokenize(u'\t')) {
        if (col >= ProxyRow::ColumnCount)
            break;
        cells[size_t(col++)] = cell;
    }
    StoredRow r;
    r.texts = packTexts([&cells](int c) { return cells[size_t(c)]; });

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

void ProxyTableModel::Sort(int firstRow, int lastRow, int col, int code,
                           const std::function<void()>& serve)
{
    if (col < 0 || col >= ProxyRow::ColumnCount)
        return;
    const int known[] = {NumericAscending, NumericDescending, TextAscending,
                         TextDescending,   AddressAscending,  AddressDescending};
    if (std::find(std::begin(known), std::end(known), code) == std::end(known))
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
    // The keys below point into the rows: rows added or removed meanwhile end the sort.
    const size_t rowsBefore = m_rows.size();
    std::function<bool()> step;
    if (serve) {
        step = [&] {
            serve();
            return m_rows.size() == rowsBefore;
        };
    }

    if (code == AddressAscending || code == AddressDescending) {
        struct Key
        {
            bool address = false;
            ProxyEndpoint::SortKey bytes{};
        };
        std::vector<Key> key(count);
        for (size_t k = 0; k < count; ++k) {
            Key& kk = key[k];
            kk.address =
                ProxyEndpoint::sortKey(cellText(m_rows[size_t(first) + k].texts, col), kk.bytes);
        }
        const bool ascending = code == AddressAscending;
        // Texts that are no address come after the addresses either way.
        const auto less = [&](size_t a, size_t b) {
            const Key& x = key[a - size_t(first)];
            const Key& y = key[b - size_t(first)];
            if (x.address != y.address)
                return x.address;
            if (!x.address) {
                const int c = cellText(m_rows[a].texts, col)
                                  .compare(cellText(m_rows[b].texts, col), Qt::CaseSensitive);
                return ascending ? c < 0 : c > 0;
            }
            return ascending ? x.bytes < y.bytes : y.bytes < x.bytes;
        };
        if (!servedStableSort(order, less, step))
            return;
    } else if (code == NumericAscending || code == NumericDescending) {
        // Parse each text once rather than in every comparison.
        std::vector<double> key(count);
        for (size_t k = 0; k < count; ++k)
            key[k] = leadingNumber(cellText(m_rows[size_t(first) + k].texts, col));
        const auto value = [&key, first](size_t i) { return key[i - size_t(first)]; };
        const bool sorted =
            code == NumericAscending
                ? servedStableSort(
                      order, [&value](size_t a, size_t b) { return value(a) < value(b); }, step)
                : servedStableSort(
                      order, [&value](size_t a, size_t b) { return value(b) < value(a); }, step);
        if (!sorted)
            return;
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
            const QStringView text = cellText(m_rows[size_t(first) + k].texts, col);
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
            return cellText(m_rows[a.row].texts, col)
                       .compare(cellText(m_rows[b.row].texts, col), Qt::CaseSensitive) < 0;
        };
        const bool sorted =
            code == TextAscending
                ? servedStableSort(keys, less, step)
                : servedStableSort(
                      keys, [&less](const Key& a, const Key& b) { return less(b, a); }, step);
        if (!sorted)
            return;
        for (size_t k = 0; k < count; ++k)
            order[k] = keys[k].row;
    }

    if (m_redraw)
        emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);

    std::vector<StoredRow> sorted;
    sorted.reserve(count);
    for (const size_t from : order)
        sorted.push_back(std::move(m_rows[from]));
    std::move(sorted.begin(), sorted.end(), m_rows.begin() + first);

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

void ProxyTableModel::setCellForeColor(int row1, int col1, int row2, int col2,
                                       ProxyRow::Colour colour)
{
    fillColour(true, row1, col1, row2, col2, colour, ForeColourRole);
}

void ProxyTableModel::setCellBackColor(int row1, int col1, int row2, int col2,
                                       ProxyRow::Colour colour)
{
    fillColour(false, row1, col1, row2, col2, colour, BackColourRole);
}

void ProxyTableModel::fillColour(bool foreground, int row1, int col1, int row2, int col2,
                                 ProxyRow::Colour colour, int role)
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
    for (int r = row1; r <= row2; ++r)
        m_rows[size_t(r - 1)].setColours(foreground, col1, col2, colour);
    if (m_redraw)
        emit dataChanged(index(row1 - 1, col1), index(row2 - 1, col2), {role});
}

void ProxyTableModel::StoredRow::setColours(bool foreground, int col1, int col2,
                                            ProxyRow::Colour colour)
{
    if (!cellColours.constData()) {
        ProxyRow::Colour& whole = foreground ? fore : back;
        if (whole == colour)
            return;
        if (col1 == 0 && col2 == ProxyRow::ColumnCount - 1) {
            whole = colour;
            return;
        }
        cellColours = new CellColours;
        cellColours->fore.fill(fore);
        cellColours->back.fill(back);
    }
    Colours& colours = foreground ? cellColours->fore : cellColours->back;
    std::fill(colours.begin() + col1, colours.begin() + col2 + 1, colour);
    const CellColours& cells = *cellColours.constData();
    if (allSame(cells.fore) && allSame(cells.back)) {
        fore = cells.fore[0];
        back = cells.back[0];
        cellColours.reset();
    }
}

ProxyRow::Colour ProxyTableModel::cellForeColor(int row, int col) const
{
    if (row < 1 || row >= Rows() || col < 0 || col >= ProxyRow::ColumnCount)
        return ProxyRow::NoColour;
    return m_rows[size_t(row - 1)].foreAt(col);
}

ProxyRow::Colour ProxyTableModel::cellBackColor(int row, int col) const
{
    if (row < 1 || row >= Rows() || col < 0 || col >= ProxyRow::ColumnCount)
        return ProxyRow::NoColour;
    return m_rows[size_t(row - 1)].backAt(col);
}

void ProxyTableModel::paintRowBands(ProxyRow::Colour band)
{
    if (m_rows.empty())
        return;
    // Model row 0 is grid row 1, which is odd and therefore white.
    for (size_t i = 0; i < m_rows.size(); ++i)
        m_rows[i].setColours(false, 0, ProxyRow::ColumnCount - 1,
                             i % 2 == 0 ? ProxyRow::White : band);
    if (m_redraw)
        emit dataChanged(index(0, 0), index(int(m_rows.size()) - 1, ProxyRow::ColumnCount - 1),
                         {BackColourRole});
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

QStringView ProxyTableModel::cell(int gridRow, int col) const
{
    if (gridRow < 1 || gridRow >= Rows() || col < 0 || col >= ProxyRow::ColumnCount)
        return {};
    return cellText(m_rows[size_t(gridRow - 1)].texts, col);
}

ProxyTableModel::Row ProxyTableModel::row(int gridRow) const
{
    Row out;
    if (gridRow < 1 || gridRow >= Rows())
        return out;
    const StoredRow& r = m_rows[size_t(gridRow - 1)];
    for (int col = 0; col < ProxyRow::ColumnCount; ++col)
        out.cells[size_t(col)] = cellText(r.texts, col).toString();
    if (const CellColours* colours = r.cellColours.constData()) {
        out.fore = colours->fore;
        out.back = colours->back;
    } else {
        out.fore.fill(r.fore);
        out.back.fill(r.back);
    }
    return out;
}

ProxyTableModel::StoredRow ProxyTableModel::stored(const Row& row)
{
    StoredRow r;
    r.texts = packTexts([&row](int col) { return QStringView(row.cells[size_t(col)]); });
    if (allSame(row.fore) && allSame(row.back)) {
        r.fore = row.fore[0];
        r.back = row.back[0];
    } else {
        r.cellColours = new CellColours;
        r.cellColours->fore = row.fore;
        r.cellColours->back = row.back;
    }
    return r;
}

void ProxyTableModel::setRow(int gridRow, const Row& row)
{
    if (gridRow < 1 || gridRow >= Rows())
        return;
    m_rows[size_t(gridRow - 1)] = stored(row);
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
        m_rows.reserve(rows.size());
    for (Row& row : rows) {
        m_rows.push_back(stored(row));
        row.cells = {}; // the spelled-out texts go as soon as they are packed
    }
    if (m_redraw)
        endInsertRows();
}

void ProxyTableModel::appendCopies(const ProxyTableModel& source, const std::vector<int>& gridRows)
{
    std::vector<StoredRow> copies;
    copies.reserve(gridRows.size());
    for (const int gridRow : gridRows) {
        if (gridRow >= 1 && gridRow < source.Rows())
            copies.push_back(source.m_rows[size_t(gridRow - 1)]);
    }
    if (copies.empty())
        return;
    const int first = int(m_rows.size());
    if (m_redraw)
        beginInsertRows({}, first, first + int(copies.size()) - 1);
    m_rows.insert(m_rows.end(), std::make_move_iterator(copies.begin()),
                  std::make_move_iterator(copies.end()));
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

void ProxyTableModel::removeGridRows(std::vector<int> gridRows)
{
    std::sort(gridRows.begin(), gridRows.end());
    const auto begin = std::lower_bound(gridRows.begin(), gridRows.end(), 1);
    const auto end = std::lower_bound(begin, gridRows.end(), Rows());
    std::vector<int> doomed(begin, std::unique(begin, end)); // model rows from here on
    if (doomed.empty())
        return;
    for (int& r : doomed)
        --r;

    struct Run
    {
        int first;
        int last;
    };
    std::vector<Run> runs;
    for (const int r : doomed) {
        if (!runs.empty() && runs.back().last + 1 == r)
            runs.back().last = r;
        else
            runs.push_back({r, r});
    }

    // Each signalled removal moves the rows behind it, and views redo their layout for each; past
    // a handful a single reset is cheaper.
    constexpr size_t MaxSignalledRuns = 32;
    if (m_redraw && runs.size() <= MaxSignalledRuns) {
        for (auto run = runs.rbegin(); run != runs.rend(); ++run) {
            beginRemoveRows({}, run->first, run->last);
            m_rows.erase(m_rows.begin() + run->first, m_rows.begin() + run->last + 1);
            endRemoveRows();
        }
        return;
    }

    if (m_redraw)
        beginResetModel();
    size_t kept = size_t(doomed.front());
    auto next = doomed.begin();
    for (size_t r = kept; r < m_rows.size(); ++r) {
        if (next != doomed.end() && size_t(*next) == r) {
            ++next;
            continue;
        }
        m_rows[kept++] = std::move(m_rows[r]);
    }
    m_rows.erase(m_rows.begin() + qsizetype(kept), m_rows.end());
    if (m_redraw)
        endResetModel();
}

int ProxyTableModel::proxyCount() const
{
    return int(std::count_if(m_rows.begin(), m_rows.end(), [](const StoredRow& r) {
        return !cellText(r.texts, ProxyRow::Proxy).isEmpty();
    }));
}

ProxyTableModel::Snapshot ProxyTableModel::snapshot() const
{
    Snapshot snapshot;
    snapshot.m_rows = m_rows;
    return snapshot;
}

void ProxyTableModel::restore(const Snapshot& snapshot)
{
    if (m_redraw)
        beginResetModel();
    m_rows = snapshot.m_rows;
    if (m_redraw)
        endResetModel();
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

void ProxyTableModel::setSortBlockForTesting(int rows)
{
    sortBlock = std::size_t(std::max(rows, 1));
}

void ProxyTableModel::addImportedRow(const QString& storedText)
{
    if (storedText.startsWith(QLatin1String("127.")) || storedText.startsWith(QLatin1String("0.")))
        return;
    const int last = Rows() - 1;
    Row row = this->row(last);
    ProxyRow::readStoredRowText(storedText, row.cells);
    const ProxyRow::Colour colour = ProxyRow::markColour(row.cells[ProxyRow::Active]);
    if (colour != ProxyRow::NoColour)
        row.fore.fill(colour);
    setRow(last, row);
    setRows(last + 2);
}
