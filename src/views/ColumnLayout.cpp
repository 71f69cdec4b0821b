#include "views/ColumnLayout.h"

#include "settings/WindowSettings.h"
#include "views/ProxyGrid.h"

#include <QStringList>

#include <utility>

namespace {

constexpr int MaxStoredTwips = 100000;

} // namespace

ColumnLayout::ColumnLayout(ProxyGrid& list, ProxyGrid& result, QObject* parent)
    : QObject(parent), m_list(list), m_result(result)
{
    for (int c = 0; c < ProxyRow::ColumnCount; ++c)
        m_shown[size_t(c)] = !startsHidden(c);
    // A width the user gives a column in either grid is the page's.
    for (ProxyGrid* grid : {&m_list, &m_result}) {
        connect(grid, &ProxyGrid::columnResized, this, [this](int col, int twips) {
            m_widths[size_t(col)] = twips;
            apply();
        });
    }
    apply();
}

void ColumnLayout::restore(const QString& stored)
{
    const QStringList parts = stored.split(u',');
    Widths widths{};
    if (parts.size() != ProxyRow::ColumnCount)
        return;
    for (int c = 0; c < ProxyRow::ColumnCount; ++c) {
        bool ok = false;
        const int twips = parts[c].trimmed().toInt(&ok);
        if (!ok || twips < 0 || twips > MaxStoredTwips)
            return;
        widths[size_t(c)] = twips;
    }
    m_widths = widths;
    apply();
}

QString ColumnLayout::storedText() const
{
    QStringList parts;
    for (const int twips : m_widths)
        parts << QString::number(twips);
    return parts.join(u',');
}

void ColumnLayout::showOptionalColumns(const WindowSettings& settings)
{
    const std::pair<int, int> shown[] = {{ProxyRow::Cookies, settings.chkCOOKIES},
                                         {ProxyRow::Get, settings.chkGET},
                                         {ProxyRow::Refer, settings.chkREFER},
                                         {ProxyRow::Post, settings.chkPOST},
                                         {ProxyRow::SSL, settings.chkSSL}};
    for (const auto& [column, on] : shown)
        m_shown[size_t(column)] = on == 1;
    apply();
}

void ColumnLayout::apply()
{
    for (ProxyGrid* grid : {&m_list, &m_result}) {
        for (int c = 0; c < ProxyRow::ColumnCount; ++c) {
            const int twips = m_shown[size_t(c)] ? m_widths[size_t(c)] : 0;
            if (grid->ColWidth(c) != twips || grid->isColumnHidden(c) != (twips == 0))
                grid->setColWidth(c, twips);
        }
    }
}
