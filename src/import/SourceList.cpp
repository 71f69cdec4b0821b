#include "import/SourceList.h"

#include "base/StopFlag.h"
#include "base/YieldClock.h"
#include "import/TextLineReader.h"
#include "model/AtomicSave.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

QString SourceList::defaultPath()
{
    // Without a current folder (it was removed) the kernel's alias makes loads miss and saves
    // fail instead of touching "/proxysources.lst".
    const QString folder = QDir::currentPath();
    return (folder.isEmpty() ? QStringLiteral("/proc/self/cwd") : folder) +
           QStringLiteral("/proxysources.lst");
}

Result SourceList::loadFromFile(const QString& path)
{
    clear();
    QFile file(path);
    if (!file.exists())
        return Result::success();
    if (!file.open(QIODevice::ReadOnly)) {
        return Result::failure(QStringLiteral("Could not read %1: %2")
                                   .arg(QFileInfo(path).fileName(), file.errorString()));
    }
    TextLineReader reader(file);
    QString line;
    while (reader.next(line))
        append(line);
    if (reader.failed()) {
        return Result::failure(QStringLiteral("Could not read %1 to the end: %2")
                                   .arg(QFileInfo(path).fileName(), file.errorString()));
    }
    return Result::success();
}

Result SourceList::saveToFile(const QString& path) const
{
    QByteArray content;
    for (const QString& entry : m_entries) {
        content += entry.toUtf8();
        content += '\n';
    }
    return AtomicSave::write(path, content);
}

bool SourceList::add(const QString& entry)
{
    if (entry.isEmpty() || contains(entry) || entry.contains(u'\n') || entry.contains(u'\r'))
        return false;
    append(entry);
    return true;
}

SourceList::FileAdd SourceList::addFromFile(const QString& path, const StopFlag& stop)
{
    FileAdd outcome;
    const QFileInfo info(path);
    QFile file(path);
    if (info.exists() && !info.isFile()) {
        outcome.read =
            Result::failure(QStringLiteral("Could not read %1: not a file").arg(info.fileName()));
        return outcome;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        outcome.read = Result::failure(
            QStringLiteral("Could not read %1: %2").arg(info.fileName(), file.errorString()));
        return outcome;
    }
    TextLineReader reader(file);
    YieldClock clock;
    QString line;
    for (;;) {
        if (stop.isRequested()) {
            outcome.stopped = true;
            break;
        }
        clock.maybeYield();
        if (!reader.next(line))
            break;
        if (add(line))
            outcome.added << line;
    }
    outcome.skipped = reader.skippedLines();
    if (reader.failed()) {
        outcome.read = Result::failure(QStringLiteral("Could not read %1 to the end: %2")
                                           .arg(info.fileName(), file.errorString()));
    }
    return outcome;
}

void SourceList::removeMany(std::vector<int> indices)
{
    std::sort(indices.begin(), indices.end());
    auto next = std::lower_bound(indices.begin(), indices.end(), 0);
    qsizetype kept = 0;
    for (qsizetype i = 0; i < m_entries.size(); ++i) {
        while (next != indices.end() && *next < i)
            ++next;
        if (next != indices.end() && *next == i) {
            const auto counted = m_counts.find(m_entries.at(i));
            if (counted != m_counts.end() && --counted.value() == 0)
                m_counts.erase(counted);
            continue;
        }
        if (kept != i)
            m_entries[kept].swap(m_entries[i]);
        ++kept;
    }
    m_entries.resize(kept);
}

void SourceList::clear()
{
    m_entries.clear();
    m_counts.clear();
}

void SourceList::append(const QString& entry)
{
    m_entries.append(entry);
    ++m_counts[entry];
}
