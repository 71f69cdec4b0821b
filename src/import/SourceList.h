#pragma once

#include "base/Result.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <vector>

class StopFlag;

// The web source pages the scanner reads, in the order the user added them, as kept in
// proxysources.lst (one entry per line, UTF-8, LF). Entries are plain text; the exact lookup
// compares letter case.
class SourceList final
{
public:
    struct FileAdd
    {
        QStringList added; // the new entries, in file order
        int skipped = 0;   // lines that were no text (binary data, overlong)
        bool stopped = false;
        Result read;
    };

    // proxysources.lst in the process's current directory at the moment of the call.
    static QString defaultPath();

    // Replaces the entries by the file's lines; a missing file gives an empty list.
    Result loadFromFile(const QString& path);
    // Through a temporary file that replaces the old one only once it is complete.
    Result saveToFile(const QString& path) const;

    int count() const { return int(m_entries.size()); }
    const QStringList& entries() const { return m_entries; }
    bool contains(const QString& entry) const { return m_counts.contains(entry); }
    // Appends entry unless it is empty, already listed, or would not fit on one line of the file.
    bool add(const QString& entry);
    // Adds every line of the file that is not listed yet, serving the event queue between lines.
    // A Stop request ends the reading before the next line.
    FileAdd addFromFile(const QString& path, const StopFlag& stop);
    // Removes the entries at the given indices; repeats and indices out of range are ignored.
    void removeMany(std::vector<int> indices);
    void clear();

private:
    void append(const QString& entry);

    QStringList m_entries;
    QHash<QString, int> m_counts; // a hand-edited file may list an entry twice
};
