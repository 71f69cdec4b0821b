#pragma once

class ProxyTableModel;

// Sorting by a header click. Every click, on any column of any grid, flips the shared order, so
// a click on another column or grid goes on with the alternation.
class HeaderSort final
{
public:
    explicit HeaderSort(int& lastSortOrder) : m_lastSortOrder(lastSortOrder) {}
    HeaderSort(const HeaderSort&) = delete;
    HeaderSort& operator=(const HeaderSort&) = delete;

    // Sorts the data rows by col (when there are any) and flips lastSortOrder; true when the
    // order was ascending.
    bool sortByHeader(ProxyTableModel& rows, int col);
    // Speed is numeric, fastest first when lastSortOrder is 7; Proxy sorts addresses as numbers;
    // other columns are text. All descend unless lastSortOrder is 8.
    static int sortCode(int col, int lastSortOrder);

private:
    int& m_lastSortOrder;
};
