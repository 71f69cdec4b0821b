#include "system/GnomeProxyBackend.h"

#include <QList>

#include <utility>

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

Result GnomeProxyBackend::capture(Saved& saved)
{
    Saved found;
    for (const char* name : settingNames) {
        QString value;
        Result got =
            run(m_gsettings, QStringList{QStringLiteral("get")} + schemaAndKey(name), &value);
        if (!got.ok())
            return got;
        found.insert(QLatin1String(name), value);
    }
    saved = found;
    return Result::success();
}

Result GnomeProxyBackend::apply(const QString& host, quint16 port, bool socks)
{
    const QString hostValue = gvariantString(host);
    const QString portValue = QString::number(port);
    const QString none = gvariantString(QString());
    // The other protocols are emptied: GNOME would send everything through a SOCKS proxy that
    // is still set, and an HTTP proxy left over would win for web traffic.
    QList<std::pair<QString, QString>> changes;
    changes.append({QStringLiteral("http.host"), socks ? none : hostValue});
    if (!socks)
        changes.append({QStringLiteral("http.port"), portValue});
    changes.append({QStringLiteral("https.host"), socks ? none : hostValue});
    if (!socks)
        changes.append({QStringLiteral("https.port"), portValue});
    changes.append({QStringLiteral("socks.host"), socks ? hostValue : none});
    if (socks)
        changes.append({QStringLiteral("socks.port"), portValue});
    changes.append(
        {QStringLiteral("ignore-hosts"), QStringLiteral("['localhost', '127.0.0.0/8', '::1']")});
    changes.append({QStringLiteral("mode"), gvariantString(QStringLiteral("manual"))});
    for (const auto& [name, value] : changes) {
        Result done = set(name, value);
        if (!done.ok())
            return done;
    }
    return Result::success();
}

Result GnomeProxyBackend::restore(const Saved& saved)
{
    for (const char* name : settingNames) {
        const auto it = saved.constFind(QLatin1String(name));
        if (it == saved.constEnd())
            continue;
        Result done = set(it.key(), it.value());
        if (!done.ok())
            return done;
    }
    return Result::success();
}

Result GnomeProxyBackend::set(const QString& savedName, const QString& value)
{
    return run(m_gsettings, QStringList{QStringLiteral("set")} + schemaAndKey(savedName) << value);
}
