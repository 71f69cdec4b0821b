#include "system/KdeProxyBackend.h"

#include <QDBusConnection>
#include <QDBusMessage>

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

bool KdeProxyBackend::capture(Saved& saved, QString& error)
{
    Saved found;
    for (const char* name : keyNames) {
        const QString key = QLatin1String(name);
        QString value;
        if (!run(m_readConfig, keyArgs(key) << QStringLiteral("--default") << absentMarker, error,
                 &value))
            return false;
        if (value != absentMarker)
            found.insert(key, value);
    }
    saved = found;
    return true;
}

bool KdeProxyBackend::apply(const QString& host, quint16 port, bool socks, QString& error)
{
    const QString http = socks ? QString() : proxyEntry("http", host, port);
    const bool ok =
        write(QStringLiteral("httpProxy"), http, error) &&
        write(QStringLiteral("httpsProxy"), http, error) &&
        write(QStringLiteral("socksProxy"), socks ? proxyEntry("socks", host, port) : QString(),
              error) &&
        write(QStringLiteral("NoProxyFor"), QStringLiteral("localhost,127.0.0.0/8,::1"), error) &&
        write(QStringLiteral("ReversedException"), QStringLiteral("false"), error) &&
        write(QStringLiteral("ProxyType"), QStringLiteral("1"), error);
    notifyKio();
    return ok;
}

bool KdeProxyBackend::restore(const Saved& saved, QString& error)
{
    bool ok = true;
    for (const char* name : keyNames) {
        const QString key = QLatin1String(name);
        const auto it = saved.constFind(key);
        ok = it != saved.constEnd() ? write(key, it.value(), error) : remove(key, error);
        if (!ok)
            break;
    }
    notifyKio();
    return ok;
}

bool KdeProxyBackend::write(const QString& key, const QString& value, QString& error)
{
    // "--" keeps a value such as "-1" from reading as an option.
    return run(m_writeConfig, keyArgs(key) << QStringLiteral("--") << value, error);
}

bool KdeProxyBackend::remove(const QString& key, QString& error)
{
    return run(m_writeConfig, keyArgs(key) << QStringLiteral("--delete"), error);
}
