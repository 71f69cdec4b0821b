#include "views/HeaderSort.h"

#include "model/ProxyTableModel.h"

int HeaderSort::sortCode(int col, int lastSortOrder)
{
    if (col == ProxyRow::Speed)
        return lastSortOrder == 7 ? ProxyTableModel::NumericAscending
                                  : ProxyTableModel::NumericDescending;
    if (col == ProxyRow::Proxy)
        return lastSortOrder == 8 ? ProxyTableModel::AddressAscending
                                  : ProxyTableModel::AddressDescending;
    return lastSortOrder == 8 ? ProxyTableModel::TextAscending : ProxyTableModel::TextDescending;
}

bool HeaderSort::sortByHeader(ProxyTableModel& rows, int col)
{
    const int code = sortCode(col, m_lastSortOrder);
    if (rows.Rows() > 1)
        rows.Sort(1, rows.Rows() - 1, col, code);
    m_lastSortOrder = m_lastSortOrder == 8 ? 7 : 8;
    return code == ProxyTableModel::NumericAscending || code == ProxyTableModel::TextAscending ||
           code == ProxyTableModel::AddressAscending;
}
