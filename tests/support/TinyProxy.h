#pragma once

#include "support/RealProxies.h"

// tinyproxy, the real HTTP proxy of most tests (see RealProxy); extraConfig lines to start() such
// as "DisableViaHeader Yes" are added to its configuration.
class TinyProxy final : public RealProxy
{
public:
    TinyProxy() : RealProxy(Kind::Tinyproxy) {}
    // The tinyproxy program; empty when it is not installed.
    static QString executable() { return program(QStringLiteral("tinyproxy")); }
};
