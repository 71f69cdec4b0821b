#include "system/KdeProxyBackend.h"

#include <QDBusConnection>
#include <QDBusMessage>

#include <utility>

namespace {

// Everything apply() may change, "ProxyType" last so that KIO switches over only once the rest
// is in place.
const char* const keyNames[] = {
    "httpProxy", "httpsProxy", "socksProxy", "NoProxyFor", "ReversedException", "ProxyType",
};

// kreadconfig prints its --default for a missing key; nobody writes this into kioslaverc.
const QLatin1String absentMarker("\x01corvatel-absent\x01");

QStringList keyArgs(const QString& key)
{
    return {QStringLiteral("--file"),  QStringLiteral("kioslaverc"),
            QStringLiteral("--group"), QStringLiteral("Proxy Settings"),
            QStringLiteral("--key"),   key};
}

// "scheme://host port", KDE's own notation; an IPv6 address keeps its brackets.
QString proxyEntry(const char* scheme, const QString& host, quint16 port)
{
    const QString shownHost = host.contains(u':') ? u'[' + host + u']' : host;
    return QLatin1String(scheme) + QStringLiteral("://") + shownHost + u' ' + QString::number(port);
}

void notifyKio()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage message = QDBusMessage::createSignal(QStringLiteral("/KIO/Scheduler"),
                                                      QStringLiteral("org.kde.KIO.Scheduler"),
                                                      QStringLiteral("reparseSlaveConfiguration"));
    message << QString();
    bus.send(message);
}

} // namespace

KdeProxyBackend::KdeProxyBackend()
    : m_writeConfig(findTool({QStringLiteral("kwriteconfig6"), QStringLiteral("kwriteconfig5")})),
      m_readConfig(findTool({QStringLiteral("kreadconfig6"), QStringLiteral("kreadconfig5")}))
{}

KdeProxyBackend::KdeProxyBackend(const QString& writeConfigPath, const QString& readConfigPath)
    : m_writeConfig(toolAt(writeConfigPath)), m_readConfig(toolAt(readConfigPath))
{}

bool KdeProxyBackend::isAvailable()
{
    return !findTool({QStringLiteral("kwriteconfig6"), QStringLiteral("kwriteconfig5")})
                .path.isEmpty();
}

Result KdeProxyBackend::capture(Saved& saved)
{
    Saved found;
    for (const char* name : keyNames) {
        const QString key = QLatin1String(name);
        QString value;
        Result got =
            run(m_readConfig, keyArgs(key) << QStringLiteral("--default") << absentMarker, &value);
        if (!got.ok())
            return got;
        if (value != absentMarker)
            found.insert(key, value);
    }
    saved = found;
    return Result::success();
}

Result KdeProxyBackend::apply(const QString& host, quint16 port, bool socks)
{
    const QString http = socks ? QString() : proxyEntry("http", host, port);
    const std::pair<QString, QString> changes[] = {
        {QStringLiteral("httpProxy"), http},
        {QStringLiteral("httpsProxy"), http},
        {QStringLiteral("socksProxy"), socks ? proxyEntry("socks", host, port) : QString()},
        {QStringLiteral("NoProxyFor"), QStringLiteral("localhost,127.0.0.0/8,::1")},
        {QStringLiteral("ReversedException"), QStringLiteral("false")},
        {QStringLiteral("ProxyType"), QStringLiteral("1")},
    };
    Result done;
    for (const auto& [key, value] : changes) {
        done = write(key, value);
        if (!done.ok())
            break;
    }
    notifyKio();
    return done;
}

Result KdeProxyBackend::restore(const Saved& saved)
{
    Result done;
    for (const char* name : keyNames) {
        const QString key = QLatin1String(name);
        const auto it = saved.constFind(key);
        done = it != saved.constEnd() ? write(key, it.value()) : remove(key);
        if (!done.ok())
            break;
    }
    notifyKio();
    return done;
}

Result KdeProxyBackend::write(const QString& key, const QString& value)
{
    // "--" keeps a value such as "-1" from reading as an option.
    return run(m_writeConfig, keyArgs(key) << QStringLiteral("--") << value);
}

Result KdeProxyBackend::remove(const QString& key)
{
    return run(m_writeConfig, keyArgs(key) << QStringLiteral("--delete"));
}
