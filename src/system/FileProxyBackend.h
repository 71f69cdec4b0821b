#pragma once

#include "system/DesktopProxyBackend.h"

// No desktop to change: the contract file alone carries the proxy.
class FileProxyBackend final : public DesktopProxyBackend
{
public:
    FileProxyBackend() = default;

    QString name() const override { return QStringLiteral("file"); }
    Result capture(Saved& saved) override
    {
        saved.clear();
        return Result::success();
    }
    Result apply(const QString&, quint16, bool) override { return Result::success(); }
    Result restore(const Saved&) override { return Result::success(); }
};
