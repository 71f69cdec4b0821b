#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// Start at log-in: an XDG autostart entry, <entry folder>/<base name>.desktop (the entry folder is
// $XDG_CONFIG_HOME/autostart), that starts this executable in a chosen working folder, so the
// program finds the same proxy.lst it was set up from.
class Autostart final
{
public:
    static QString defaultEntryFolder();

    // The running executable, entries under $XDG_CONFIG_HOME/autostart.
    Autostart();
    Autostart(const QString& entryFolder, const QString& executable);

    // Writes the entry named baseName (enable) or removes it. Returns false when that failed or
    // when baseName cannot name a file; callers may ignore it.
    bool SetStartWithWindows(const QString& baseName, const QString& folder, bool enable) const;

    QString entryPath(const QString& baseName) const;
    // The entry file's bytes as they are now (nothing: no entry), and putting them back as they
    // were, whoever wrote them.
    std::optional<QByteArray> savedEntry(const QString& baseName) const;
    void restoreEntry(const QString& baseName, const std::optional<QByteArray>& saved) const;
    // The executable's file name without its extension: the name the entry is keyed by.
    QString executableBaseName() const;
    const QString& executable() const { return m_executable; }
    const QString& entryFolder() const { return m_entryFolder; }

    // The entry's text; no Path line for a blank folder. Empty when a value cannot be written
    // into an entry (control characters).
    static QString desktopEntry(const QString& name, const QString& executable,
                                const QString& folder);
    // The Exec line's value for a program started without arguments.
    static QString execValue(const QString& program);

private:
    QString m_entryFolder;
    QString m_executable;
};
