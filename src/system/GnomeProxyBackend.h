#pragma once

#include "system/DesktopProxyBackend.h"

// GNOME and the desktops that share its settings (Cinnamon, MATE, Budgie, ...): the
// org.gnome.system.proxy schemas, through gsettings.
class GnomeProxyBackend final : public DesktopProxyBackend
{
public:
    // gsettings from PATH
    GnomeProxyBackend();
    explicit GnomeProxyBackend(const QString& gsettingsPath);

    static bool isAvailable();

    QString name() const override { return QStringLiteral("gnome"); }
    bool capture(Saved& saved, QString& error) override;
    bool apply(const QString& host, quint16 port, bool socks, QString& error) override;
    bool restore(const Saved& saved, QString& error) override;

private:
    bool set(const QString& savedName, const QString& value, QString& error);

    Tool m_gsettings;
};
