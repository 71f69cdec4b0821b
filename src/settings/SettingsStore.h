#pragma once

#include <QString>

#include <memory>

class QSettings;

// The per-user settings: text values under [Settings] in $XDG_CONFIG_HOME/Corvatel/Corvatel.conf.
// Key names are matched without regard to case; every known key is stored under one spelling.
class SettingsStore final
{
public:
    struct Key
    {
        const char* name;         // canonical spelling
        const char* defaultValue; // nullptr: the reader supplies it (window place, dates)
    };

    static const Key* keys(); // ends with {nullptr, nullptr}
    // The table's default for a key, "" when it has none.
    static QString defaultOf(const QString& key);
    static QString defaultPath();

    explicit SettingsStore(const QString& filePath = defaultPath());
    ~SettingsStore();
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    // The stored text, or defaultValue when the key is absent.
    QString read(const QString& key, const QString& defaultValue) const;
    // The stored text, or the table's default.
    QString read(const QString& key) const { return read(key, defaultOf(key)); }
    void write(const QString& key, const QString& value);
    void sync();

    QString filePath() const;

private:
    QString storedName(const QString& key) const;

    std::unique_ptr<QSettings> m_settings;
};
