#pragma once

#include "base/Result.h"

#include <QMap>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// One desktop's per-user proxy configuration, changed through that desktop's own tools.
// Error texts name the tool and fit on one line ("gsettings not found").
class DesktopProxyBackend
{
public:
    // Setting name -> value text, as capture() found it; restore() takes it back verbatim.
    using Saved = QMap<QString, QString>;

    virtual ~DesktopProxyBackend() = default;

    virtual QString name() const = 0; // "file", "gnome", "kde"
    // The settings apply() is about to change, as they are now.
    virtual Result capture(Saved& saved) = 0;
    // A manual proxy for everything but the local host.
    virtual Result apply(const QString& host, quint16 port, bool socks) = 0;
    virtual Result restore(const Saved& saved) = 0;

protected:
    struct Tool
    {
        QString path; // empty when not installed
        QString name; // for messages
    };

    DesktopProxyBackend() = default;
    Q_DISABLE_COPY_MOVE(DesktopProxyBackend)

    // The first of names found on PATH, else the first name with no path.
    static Tool findTool(const QStringList& names);
    static Tool toolAt(const QString& path);
    // Runs the tool and waits for it a bounded time; output gets standard output less its final
    // line end.
    static Result run(const Tool& tool, const QStringList& args, QString* output = nullptr);
};
