#include "import/SourceList.h"

#include "import/TextLineReader.h"
#include "shell/YieldClock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>

namespace {

// write() may stop short (a file size limit, a disk that fills up) without saying why; asking
// for the rest brings the reason.
bool writeAll(QFileDevice& file, const QByteArray& bytes)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const qint64 n = file.write(bytes.constData() + done, bytes.size() - done);
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

} // namespace

QString SourceList::defaultPath()
{
    // Without a current folder (it was removed) the kernel's alias makes loads miss and saves
    // fail instead of touching "/proxysources.lst".
    const QString folder = QDir::currentPath();
    return (folder.isEmpty() ? QStringLiteral("/proc/self/cwd") : folder) +
           QStringLiteral("/proxysources.lst");
}

SourceList::Result SourceList::loadFromFile(const QString& path)
{
    clear();
    QFile file(path);
    if (!file.exists())
        return {};
    if (!file.open(QIODevice::ReadOnly)) {
        return {false, QStringLiteral("Could not read %1: %2")
                           .arg(QFileInfo(path).fileName(), file.errorString())};
    }
    TextLineReader reader(file);
    QString line;
    while (reader.next(line))
        append(line);
    if (reader.failed()) {
        return {false, QStringLiteral("Could not read %1 to the end: %2")
                           .arg(QFileInfo(path).fileName(), file.errorString())};
    }
    return {};
}

SourceList::Result SourceList::saveToFile(const QString& path) const
{
    QByteArray content;
    for (const QString& entry : m_entries) {
        content += entry.toUtf8();
        content += '\n';
    }
    QSaveFile file(path);
    // Unbuffered: a buffered write that fails only when the file is closed is not always
    // reported by commit(), and a full disk would pass for a save.
    if (file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) && writeAll(file, content) &&
        file.flush() && file.commit())
        return {};
    const QString reason = file.errorString();
    file.cancelWriting();
    return {false, QStringLiteral("Could not save %1: %2").arg(QFileInfo(path).fileName(), reason)};
}

bool SourceList::add(const QString& entry)
{
    if (entry.isEmpty() || contains(entry) || entry.contains(u'\n') || entry.contains(u'\r'))
        return false;
    append(entry);
    return true;
}

SourceList::FileAdd SourceList::addFromFile(const QString& path, const bool& stopRequested)
{
    FileAdd outcome;
    const QFileInfo info(path);
    QFile file(path);
    if (info.exists() && !info.isFile()) {
        outcome.read = {false,
                        QStringLiteral("Could not read %1: not a file").arg(info.fileName())};
        return outcome;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        outcome.read = {
            false,
            QStringLiteral("Could not read %1: %2").arg(info.fileName(), file.errorString())};
        return outcome;
    }
    TextLineReader reader(file);
    YieldClock clock;
    QString line;
    for (;;) {
        if (stopRequested) {
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
        outcome.read = {false, QStringLiteral("Could not read %1 to the end: %2")
                                   .arg(info.fileName(), file.errorString())};
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
