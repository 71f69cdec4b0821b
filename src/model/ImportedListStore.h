#pragma once

#include "base/Result.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <vector>

// The imported list as the ordered stored row texts of proxy.lst. Lines are kept exactly as read:
// a line that is not valid UTF-8 (or that the grid cannot show) is saved back byte for byte.
// find() looks a proxy up by its Proxy field through an index, never by substring.
class ImportedListStore final
{
public:
    // proxy.lst in the process's current directory at the moment of the call.
    static QString defaultPath();

    // Replaces the content by the file's lines (LF or CR LF; no trailing empty line for the final
    // line break). On failure the store keeps what it had.
    Result loadFromFile(const QString& path);
    // Writes every line, LF-terminated, through a temporary file that replaces the old one only
    // once it is complete. On failure the old file stays as it was.
    Result saveToFile(const QString& path) const { return saveToFile(path, {}); }
    // The same; a long list is encoded and written on a worker thread while serve() is called
    // every few milliseconds, so that a window can be served during the save. What is saved is
    // the list as it stood at the call, whatever serve() changes in it.
    Result saveToFile(const QString& path, const std::function<void()>& serve) const;

    // True when the list has changed since it was last read or saved whole.
    bool hasUnsavedChanges() const { return m_savedChanges != m_changes; }
    // From this many lines on, saves with serve() go to the worker thread (tests make it small).
    static void setLongListForTesting(int lines) { s_longList = lines; }

    int count() const { return int(m_lines.size()); }
    QString item(int index) const; // "" out of range
    void setItem(int index, const QString& text);
    void add(const QString& text);
    void addMany(const QStringList& texts); // appended in their order
    // Index of the first line whose Proxy field equals proxy exactly; -1 when none or proxy is
    // empty.
    int find(const QString& proxy) const;
    void remove(int index);
    // Removes the lines at the given indices in one pass, in any order; repeats and indices out of
    // range are ignored.
    void removeMany(std::vector<int> indices);
    void clear();
    // Puts lines in place of the whole list.
    void replaceLines(const QStringList& lines);
    const QStringList& lines() const { return m_lines; }
    // Grows with every change of the list, whatever made it.
    qint64 changeCount() const { return m_changes; }

private:
    void indexLine(int index) const;
    void unindexLine(int index);
    void ensureIndex() const;
    void clearIndex() const;

    // The index is split by the key's hash into parts that each grow on their own: a growing
    // list then rehashes one small part at a time, never the whole index at once.
    static constexpr int IndexParts = 16;
    QHash<QString, int>& indexPart(QStringView key) const;

    QStringList m_lines;
    mutable std::array<QHash<QString, int>, IndexParts> m_index; // Proxy field -> first line
    mutable int m_duplicates = 0; // lines whose Proxy field an earlier line already has
    mutable bool m_indexValid = true;
    qint64 m_changes = 0;
    mutable qint64 m_savedChanges = 0;
    static inline int s_longList = 20000;
};
