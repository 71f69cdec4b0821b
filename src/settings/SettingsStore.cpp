#include "settings/SettingsStore.h"

#include <QSettings>
#include <QStandardPaths>
#include <QStringList>

namespace {

const QString group = QStringLiteral("Settings");

QString fullName(const QString& storedName)
{
    return group + u'/' + storedName;
}

} // namespace

QString SettingsStore::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Corvatel/Corvatel.conf");
}

SettingsStore::SettingsStore(const QString& filePath)
    : m_settings(std::make_unique<QSettings>(filePath, QSettings::IniFormat))
{}

SettingsStore::~SettingsStore() = default;

QString SettingsStore::read(const QString& key) const
{
    const Setting::Name* known = Setting::find(key);
    return read(key, known ? Setting::defaultText(*known) : QString());
}

QString SettingsStore::read(const QString& key, const QString& defaultValue) const
{
    const QString name = storedName(key);
    if (name.isEmpty())
        return defaultValue;
    const QVariant value = m_settings->value(fullName(name));
    // An unquoted hand-written value with commas reads as a list; it was one text.
    if (value.metaType().id() == QMetaType::QStringList)
        return value.toStringList().join(QStringLiteral(", "));
    return value.toString();
}

void SettingsStore::write(const QString& key, const QString& value)
{
    if (key.isEmpty())
        return;
    const Setting::Name* known = Setting::find(key);
    const QString name = known ? QString::fromLatin1(known->name) : key.toLower();
    m_settings->setValue(fullName(name), value);
    // Shutdown ends the process at once, so nothing may wait for a later flush.
    m_settings->sync();
}

std::optional<QString> SettingsStore::stored(const Setting::Name& key) const
{
    if (storedName(QLatin1String(key.name)).isEmpty())
        return std::nullopt;
    return read(key);
}

void SettingsStore::remove(const Setting::Name& key)
{
    const QString name = storedName(QLatin1String(key.name));
    if (name.isEmpty())
        return;
    m_settings->remove(fullName(name));
    m_settings->sync();
}

void SettingsStore::sync()
{
    m_settings->sync();
}

QString SettingsStore::filePath() const
{
    return m_settings->fileName();
}

// The spelling under which the file holds key: the one this program writes, else any other
// spelling someone put in by hand; empty when the key is absent.
QString SettingsStore::storedName(const QString& key) const
{
    const Setting::Name* known = Setting::find(key);
    const QString written = known ? QString::fromLatin1(known->name) : key.toLower();
    if (m_settings->contains(fullName(written)))
        return written;
    m_settings->beginGroup(group);
    const QStringList present = m_settings->childKeys();
    m_settings->endGroup();
    for (const QString& name : present) {
        if (name.compare(key, Qt::CaseInsensitive) == 0)
            return name;
    }
    return QString();
}
