#include "model/ImportedListUndo.h"

#include "model/ImportedListStore.h"
#include "model/NumberText.h"

#include <utility>

ImportedListUndo::ImportedListUndo(ProxyTableModel& rows, ImportedListStore& store)
    : m_rows(rows), m_store(store)
{}

QString ImportedListUndo::change(const QString& action, int proxies)
{
    return QStringLiteral("the %1 of %2 %3")
        .arg(action, NumberText::grouped(proxies),
             proxies == 1 ? QStringLiteral("proxy") : QStringLiteral("proxies"));
}

ImportedListUndo::Before ImportedListUndo::before() const
{
    return {m_rows.snapshot(), m_store.lines()};
}

void ImportedListUndo::keep(Before before, const QString& what)
{
    m_before = std::move(before);
    m_what = what;
    m_changes = m_store.changeCount();
    changed();
}

void ImportedListUndo::forget()
{
    if (!m_before)
        return;
    m_before.reset();
    changed();
}

bool ImportedListUndo::canUndo() const
{
    return m_before && m_store.changeCount() == m_changes;
}

QString ImportedListUndo::undo()
{
    if (!canUndo())
        return QString();
    const Before before = *std::exchange(m_before, std::nullopt);
    m_rows.restore(before.rows);
    m_store.replaceLines(before.lines);
    changed();
    return m_what;
}

void ImportedListUndo::changed()
{
    if (m_onChange)
        m_onChange();
}
