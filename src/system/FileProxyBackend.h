#pragma once

#include "system/DesktopProxyBackend.h"

// No desktop to change: the contract file alone carries the proxy.
class FileProxyBackend final : public DesktopProxyBackend
{
public:
    FileProxyBackend() = default;

    QString name() const override { return QStringLiteral("file"); }
    bool capture(Saved& saved, QString&) override
    {
        saved.clear();
        return true;
    }
    bool apply(const QString&, quint16, bool, QString&) override { return true; }
    bool restore(const Saved&, QString&) override { return true; }
};
