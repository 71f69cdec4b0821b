#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A real HTTP proxy for tests: tinyproxy in the foreground on a free port of 127.0.0.1 with a
// generated configuration, killed when the object goes.
class TinyProxy final
{
public:
    ~TinyProxy();
    // The tinyproxy program; empty when it is not installed.
    static QString executable();
    // Starts the proxy and waits until its port takes connections; returns what went wrong, or "".
    // extraConfig lines are added to its configuration ("DisableViaHeader Yes", say).
    QString start(const QStringList& extraConfig = {});
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }
    quint16 port() const { return m_port; }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
};
