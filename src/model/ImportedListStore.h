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
//
// Another program (corvatel-check --store, a second window) may write the same file. A save
// therefore takes the file's lock (NAME.lock beside it), reads the file again when someone else
// wrote it since this store last read or saved it, and merges by proxy: a line this store changed,
// added or removed since then goes in as it is here, any other line as the file has it now, and
// lines only the file gained are kept at the end. The store's own content stays as it is.
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

    // How long a save waits for another writer's lock before it gives up (tests make it short).
    static void setLockWaitForTesting(int ms) { s_lockWaitMs = ms; }
    // The merge a save makes: base is what this store last read or saved, ours what it holds,
    // theirs what the file holds now.
    static QStringList merge(const QStringList& base, const QStringList& ours,
                             const QStringList& theirs);

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
    static inline int s_lockWaitMs = 10000;

    // The file as this store last read or wrote it: what it held then, what was written (the
    // merge), and the file's identity after it, to tell whether someone wrote it since.
    struct DiskState
    {
        QString path;
        QStringList base;
        QStringList written;
        QByteArray stamp;       // empty while the save is under way
        quint64 generation = 0; // the save that made it; 0 for a load
    };
    mutable DiskState m_disk;
    static inline quint64 s_generation = 0;
};
