#pragma once

#include "model/ProxyRow.h"

#include <QObject>
#include <QString>

#include <array>

class ProxyGrid;
struct WindowSettings;

// The column widths of one page's two grids (its list and its filter result): as designed at a
// first start, then as the user drags or fits them, in twips, kept as one line of numbers. The
// last shown column takes the room the others leave.
class ColumnLayout final : public QObject
{
    Q_OBJECT

public:
    using Widths = std::array<int, ProxyRow::ColumnCount>;
    // Wide enough for the longest class and the usual addresses, dates and places.
    static constexpr Widths Designed{700, 2000, 900, 800, 1600, 1000, 800,
                                     800, 800,  800, 800, 2500, 3000};
    // Cookies to SSL start hidden; the setup dialog's "Show" boxes show them.
    static constexpr bool startsHidden(int col)
    {
        return col >= ProxyRow::Cookies && col <= ProxyRow::SSL;
    }
    // What the columns shown at a first start take side by side.
    static constexpr int designedShownTwips()
    {
        int total = 0;
        for (int c = 0; c < ProxyRow::ColumnCount; ++c) {
            if (!startsHidden(c))
                total += Designed[size_t(c)];
        }
        return total;
    }

    ColumnLayout(ProxyGrid& list, ProxyGrid& result, QObject* parent = nullptr);

    // The stored line; one that is not ColumnCount whole numbers of 0 to 100 000 leaves the
    // widths as designed.
    void restore(const QString& stored);
    QString storedText() const;

    void showOptionalColumns(const WindowSettings& settings);

private:
    void apply();

    ProxyGrid& m_list;
    ProxyGrid& m_result;
    Widths m_widths = Designed;
    std::array<bool, ProxyRow::ColumnCount> m_shown{};
};
