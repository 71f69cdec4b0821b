#pragma once

#include "settings/SettingKeys.h"

#include <QString>

#include <memory>
#include <optional>

class QSettings;

// The per-user settings: text values under [Settings] in $XDG_CONFIG_HOME/Corvatel/Corvatel.conf.
// Key names are matched without regard to case; every key of Setting::all is stored under its
// one spelling, any other key in lower case.
class SettingsStore final
{
public:
    static QString defaultPath();

    explicit SettingsStore(const QString& filePath = defaultPath());
    ~SettingsStore();
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    // The stored text, or defaultValue when the key is absent.
    QString read(const QString& key, const QString& defaultValue) const;
    // The stored text, or the key's default.
    QString read(const QString& key) const;
    QString read(const Setting::Name& key) const { return read(key, Setting::defaultText(key)); }
    QString read(const Setting::Name& key, const QString& defaultValue) const
    {
        return read(QLatin1String(key.name), defaultValue);
    }
    // The value the stored text holds; a text that holds none gives what the key's WhenBad says.
    template <typename T> T value(const Setting::Key<T>& key, T current = T()) const
    {
        return key.valueOf(read(key), current);
    }

    void write(const QString& key, const QString& value);
    void write(const Setting::Name& key, const QString& value)
    {
        write(QLatin1String(key.name), value);
    }
    // The stored text as it is, without a default: nothing when the key is absent. remove() makes
    // it absent again.
    std::optional<QString> stored(const Setting::Name& key) const;
    void remove(const Setting::Name& key);
    void sync();

    QString filePath() const;

private:
    QString storedName(const QString& key) const;

    std::unique_ptr<QSettings> m_settings;
};
