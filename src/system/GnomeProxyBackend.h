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
    Result capture(Saved& saved) override;
    Result apply(const QString& host, quint16 port, bool socks) override;
    Result restore(const Saved& saved) override;

private:
    Result set(const QString& savedName, const QString& value);

    Tool m_gsettings;
};
