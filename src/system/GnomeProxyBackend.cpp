#include "system/GnomeProxyBackend.h"

namespace {

const QLatin1String baseSchema("org.gnome.system.proxy");

// Everything apply() may change, "mode" last so that the desktop switches over only once the
// rest is in place. Saved under "<sub-schema>.<key>".
const char* const settingNames[] = {
    "http.host",  "http.port",  "https.host",   "https.port",
    "socks.host", "socks.port", "ignore-hosts", "mode",
};

// The gsettings arguments naming a setting: schema and key.
QStringList schemaAndKey(const QString& savedName)
{
    const int dot = savedName.lastIndexOf(u'.');
    if (dot < 0)
        return {baseSchema, savedName};
    return {baseSchema + u'.' + savedName.left(dot), savedName.mid(dot + 1)};
}

QString gvariantString(QString text)
{
    text.replace(u'\\', QLatin1String("\\\\")).replace(u'\'', QLatin1String("\\'"));
    return u'\'' + text + u'\'';
}

} // namespace

GnomeProxyBackend::GnomeProxyBackend() : m_gsettings(findTool({QStringLiteral("gsettings")})) {}

GnomeProxyBackend::GnomeProxyBackend(const QString& gsettingsPath)
    : m_gsettings(toolAt(gsettingsPath))
{}

bool GnomeProxyBackend::isAvailable()
{
    return !findTool({QStringLiteral("gsettings")}).path.isEmpty();
}

bool GnomeProxyBackend::capture(Saved& saved, QString& error)
{
    Saved found;
    for (const char* name : settingNames) {
        QString value;
        if (!run(m_gsettings, QStringList{QStringLiteral("get")} + schemaAndKey(name), error,
                 &value))
            return false;
        found.insert(QLatin1String(name), value);
    }
    saved = found;
    return true;
}

bool GnomeProxyBackend::apply(const QString& host, quint16 port, bool socks, QString& error)
{
    const QString hostValue = gvariantString(host);
    const QString portValue = QString::number(port);
    const QString none = gvariantString(QString());
    // The other protocols are emptied: GNOME would send everything through a SOCKS proxy that
    // is still set, and an HTTP proxy left over would win for web traffic.
    return set(QStringLiteral("http.host"), socks ? none : hostValue, error) &&
           (socks || set(QStringLiteral("http.port"), portValue, error)) &&
           set(QStringLiteral("https.host"), socks ? none : hostValue, error) &&
           (socks || set(QStringLiteral("https.port"), portValue, error)) &&
           set(QStringLiteral("socks.host"), socks ? hostValue : none, error) &&
           (!socks || set(QStringLiteral("socks.port"), portValue, error)) &&
           set(QStringLiteral("ignore-hosts"),
               QStringLiteral("['localhost', '127.0.0.0/8', '::1']"), error) &&
           set(QStringLiteral("mode"), gvariantString(QStringLiteral("manual")), error);
}

bool GnomeProxyBackend::restore(const Saved& saved, QString& error)
{
    for (const char* name : settingNames) {
        const auto it = saved.constFind(QLatin1String(name));
        if (it != saved.constEnd() && !set(it.key(), it.value(), error))
            return false;
    }
    return true;
}

bool GnomeProxyBackend::set(const QString& savedName, const QString& value, QString& error)
{
    return run(m_gsettings, QStringList{QStringLiteral("set")} + schemaAndKey(savedName) << value,
               error);
}
