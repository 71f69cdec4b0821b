#pragma once

#include "system/DesktopProxyBackend.h"

// KDE Plasma: group [Proxy Settings] of kioslaverc, through kwriteconfig/kreadconfig (6, else 5).
// Running KIO workers are told to re-read it over the session bus when there is one.
class KdeProxyBackend final : public DesktopProxyBackend
{
public:
    // The tools from PATH
    KdeProxyBackend();
    KdeProxyBackend(const QString& writeConfigPath, const QString& readConfigPath);

    static bool isAvailable();

    QString name() const override { return QStringLiteral("kde"); }
    // Keys absent from kioslaverc are left out of saved; restore() deletes them again.
    Result capture(Saved& saved) override;
    Result apply(const QString& host, quint16 port, bool socks) override;
    Result restore(const Saved& saved) override;

private:
    Result write(const QString& key, const QString& value);
    Result remove(const QString& key);

    Tool m_writeConfig;
    Tool m_readConfig;
};
