#include "settings/SettingsStore.h"

#include <QSettings>
#include <QStandardPaths>
#include <QStringList>

namespace {

const QString group = QStringLiteral("Settings");

constexpr SettingsStore::Key keyTable[] = {
    {"chkREFER", "0"},
    {"chkGET", "0"},
    {"chkPOST", "0"},
    {"chkSSL", "0"},
    {"chkCOOKIES", "0"},
    {"chkCOR", "1"},
    {"chkIMP", "1"},
    {"chkWINDOWS", "0"},
    {"chkTEST", "1"},
    {"txtTimeout", "60"},
    {"cboFont", "MS Sans Serif"},
    {"cboFontSize", "8"},
    {"Left", nullptr},
    {"Top", nullptr},
    {"Width", "12000"},
    {"Height", "7000"},
    {"LastTab", "1"},
    {"EMR", "0"},
    {"Email", nullptr},
    {"MYIP", ""},
    {"LAST_MYIP", nullptr},
    {"ParallelTests", "1"},
    {"MmdbFile", ""},
    {"DetectType", "0"},
    {nullptr, nullptr},
};

const SettingsStore::Key* knownKey(const QString& name)
{
    for (const SettingsStore::Key* key = keyTable; key->name; ++key) {
        if (name.compare(QLatin1String(key->name), Qt::CaseInsensitive) == 0)
            return key;
    }
    return nullptr;
}

QString fullName(const QString& storedName)
{
    return group + u'/' + storedName;
}

} // namespace

const SettingsStore::Key* SettingsStore::keys()
{
    return keyTable;
}

QString SettingsStore::defaultOf(const QString& key)
{
    const Key* known = knownKey(key);
    return known && known->defaultValue ? QString::fromLatin1(known->defaultValue) : QString();
}

QString SettingsStore::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Corvatel/Corvatel.conf");
}

SettingsStore::SettingsStore(const QString& filePath)
    : m_settings(std::make_unique<QSettings>(filePath, QSettings::IniFormat))
{}

SettingsStore::~SettingsStore() = default;

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
    const Key* known = knownKey(key);
    const QString name = known ? QString::fromLatin1(known->name) : key.toLower();
    m_settings->setValue(fullName(name), value);
    // Shutdown ends the process at once, so nothing may wait for a later flush.
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
    const Key* known = knownKey(key);
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
