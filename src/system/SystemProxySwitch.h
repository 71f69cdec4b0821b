#pragma once

#include "base/Result.h"
#include "system/DesktopProxyBackend.h"

#include <QString>

#include <memory>

// Makes a proxy the per-user system proxy and takes it away again. The three values other
// programs of ours read ("ProxyEnable", "ProxyOverride", "ProxyServer") are kept in the contract
// file, group [Internet Settings]; the desktop backend then applies them to the running desktop.
//
// The backend only ever touches what we did: the first switch-on keeps the desktop's previous
// configuration in the contract file, switch-off puts it back, and a switch-off with nothing kept
// leaves the desktop alone.
class SystemProxySwitch final
{
public:
    // $XDG_CONFIG_HOME/Corvatel/InternetSettings.conf
    static QString defaultContractPath();
    // "ProxyServer" for a proxy of the given "Type" cell: "socks=" + proxy for a type that names
    // SOCKS, the bare proxy text for anything else (empty, "HTTP", "HTTPS", ...).
    static QString proxyServerValue(const QString& proxy, const QString& type);
    // The backend that CORVATEL_SYSTEM_PROXY's value names: "file", "gnome", "kde", or "auto"
    // (and anything unknown) for what the running desktop has, falling back to the file alone.
    static std::unique_ptr<DesktopProxyBackend> backendFor(const QString& choice);

    SystemProxySwitch(const QString& contractPath, std::unique_ptr<DesktopProxyBackend> backend);
    ~SystemProxySwitch();

    // Writes ProxyEnable "1", ProxyOverride "<local>", ProxyServer, then applies them.
    Result switchOn(const QString& proxy, const QString& type);
    // Writes ProxyEnable "0", removes ProxyOverride and ProxyServer, then restores the desktop.
    Result switchOff();

    // What the contract file says now ("" when the key is absent).
    QString value(const QString& name) const;
    const DesktopProxyBackend& backend() const { return *m_backend; }

private:
    QString m_contractPath;
    std::unique_ptr<DesktopProxyBackend> m_backend;
};
