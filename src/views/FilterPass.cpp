#include "views/FilterPass.h"

#include "base/WindowHost.h"
#include "base/YieldClock.h"
#include "model/NumberText.h"
#include "model/ProxyTableModel.h"

#include <vector>

namespace {

// A speed box counts as 0 only when it holds a number that is 0; an emptied box does not.
bool isZeroNumber(const QString& text)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    return ok && value == 0;
}

} // namespace

bool FilterCriteria::isActive() const
{
    return location != allLocations() || klass != allClasses() || type != allTypes() ||
           !isZeroNumber(minSpeed) || !isZeroNumber(maxSpeed);
}

double FilterCriteria::valueOf(QStringView text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i] == u' ')
        ++i;
    const QStringView rest = text.sliced(i);
    const qsizetype length = NumberText::numberPrefix(rest);
    bool ok = false;
    const double value = length > 0 ? rest.first(length).toDouble(&ok) : 0.0;
    return ok ? value : 0.0;
}

FilterPass::Outcome FilterPass::applyFilter(const ProxyTableModel& source, ProxyTableModel& result,
                                            const FilterCriteria& criteria)
{
    Outcome outcome;
    if (m_running)
        return outcome;
    m_running = true;

    const bool anyLocation = criteria.location == FilterCriteria::allLocations();
    const bool anyType = criteria.type == FilterCriteria::allTypes();
    const bool anyClass = criteria.klass == FilterCriteria::allClasses();
    const bool speedRange = !isZeroNumber(criteria.maxSpeed);
    const double minSpeed = FilterCriteria::valueOf(criteria.minSpeed);
    const double maxSpeed = FilterCriteria::valueOf(criteria.maxSpeed);
    const auto excluded = [&](int row) {
        if (!anyLocation && source.cell(row, ProxyRow::Location) != criteria.location)
            return true;
        if (!anyClass && source.cell(row, ProxyRow::Class) != criteria.klass)
            return true;
        if (!anyType && source.cell(row, ProxyRow::Type) != criteria.type)
            return true;
        if (!speedRange)
            return false;
        const QStringView speed = source.cell(row, ProxyRow::Speed);
        const double value = FilterCriteria::valueOf(speed);
        return speed.isEmpty() || value < minSpeed || value > maxSpeed;
    };

    m_host.setProgressMaximum(source.Rows() - 1);
    YieldClock clock;
    std::vector<int> passing;
    // Rows() is read on every round: the event queue is served inside the loop.
    for (int i = 1; i < source.Rows(); ++i) {
        if (!excluded(i)) {
            passing.push_back(i);
            if (m_host.isStopRequested()) {
                outcome.stopped = true;
                break;
            }
        }
        if (clock.maybeYield())
            m_host.setProgressValue(i);
        if (m_host.isStopRequested()) {
            outcome.stopped = true;
            break;
        }
    }

    // The copies share their texts with the main grid's rows; they take the text only, not the
    // colours.
    result.setRows(1);
    result.appendCopies(source, passing);
    outcome.passed = result.Rows() - 1;
    if (outcome.passed == 0)
        result.setRows(2); // the header and one empty row
    else
        result.setCellForeColor(1, 0, result.Rows() - 1, result.Cols() - 1, ProxyRow::NoColour);
    m_host.setProgressValue(0);
    clock.yieldNow();
    result.Sort(1, result.Rows() - 1, ProxyRow::Tested, ProxyTableModel::TextDescending,
                clock.server());
    m_host.clearStopRequested();
    m_running = false;
    return outcome;
}
