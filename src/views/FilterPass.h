#pragma once

#include "model/ProxyRow.h"

#include <QString>
#include <QStringView>

class WindowHost;
class ProxyTableModel;

// What the five filter controls hold. The combo texts are their neutral texts when nothing is
// chosen; the speed texts are what the boxes show.
struct FilterCriteria
{
    static QString allLocations() { return QStringLiteral("All Locations"); }
    static QString allTypes() { return QStringLiteral("All Proxy Types"); }
    static QString allClasses() { return QStringLiteral("All Proxy Classes"); }

    QString location = allLocations();
    QString type = allTypes();
    QString klass = allClasses();
    QString minSpeed = QStringLiteral("0");
    QString maxSpeed = QStringLiteral("0");

    // False when every control is neutral: filtering would then change nothing.
    bool isActive() const;
    // The number a text starts with (blanks skipped); 0 when it starts with none.
    static double valueOf(QStringView text);
};

// The filter pass: copies the rows of a page's main grid that pass the criteria into its result
// grid, newest test first. It serves the event queue as it goes and ends early on Stop.
class FilterPass final
{
public:
    static constexpr ProxyRow::Colour ServiceBand = 0xFFE6F0F0;  // 230, 240, 240
    static constexpr ProxyRow::Colour ImportedBand = 0xFFF0EFD8; // 240, 239, 216
    static constexpr ProxyRow::Colour ImportedResultBand =
        0xFFFAF8CF; // 250, 248, 207, after a load

    struct Outcome
    {
        int passed = 0;
        bool stopped = false;
    };

    explicit FilterPass(WindowHost& host) : m_host(host) {}
    FilterPass(const FilterPass&) = delete;
    FilterPass& operator=(const FilterPass&) = delete;

    // The result is left with its header row and the passing rows, or one empty row when none
    // passed. A Stop request ends the loop; the rows found so far stay, and the flag is cleared.
    Outcome applyFilter(const ProxyTableModel& source, ProxyTableModel& result,
                        const FilterCriteria& criteria);
    bool isRunning() const { return m_running; }

private:
    WindowHost& m_host;
    bool m_running = false;
};
