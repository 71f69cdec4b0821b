#include "views/HeaderSort.h"

#include "model/ProxyTableModel.h"

int HeaderSort::sortCode(int col, int lastSortOrder)
{
    if (col == ProxyRow::Speed)
        return lastSortOrder == 7 ? ProxyTableModel::NumericAscending
                                  : ProxyTableModel::NumericDescending;
    return lastSortOrder == 8 ? ProxyTableModel::TextAscending : ProxyTableModel::TextDescending;
}

void HeaderSort::sortByHeader(ProxyTableModel& rows, int col)
{
    if (rows.Rows() > 1)
        rows.Sort(1, rows.Rows() - 1, col, sortCode(col, m_lastSortOrder));
    m_lastSortOrder = m_lastSortOrder == 8 ? 7 : 8;
}
