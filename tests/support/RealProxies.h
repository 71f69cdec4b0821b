#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <vector>

// A real proxy server from Debian for tests, started on a free port of 127.0.0.1 with a
// configuration written into a temporary folder, and killed with every process it started when
// the object goes.
//   Squid       HTTP proxy (also CONNECT to any port); adds Via and X-Forwarded-For unless told
//               "via off" and "forwarded_for delete"
//   Dante       SOCKS5 and SOCKS4 (it refuses SOCKS4A)
//   Microsocks  SOCKS5
//   SshDynamic  OpenSSH's dynamic forwarding (ssh -D) through a private sshd: SOCKS4, 4A and 5
//   Tinyproxy   HTTP proxy (see TinyProxy.h)
class RealProxy
{
public:
    enum class Kind { Squid, Dante, Microsocks, SshDynamic, Tinyproxy };

    explicit RealProxy(Kind kind) : m_kind(kind) {}
    ~RealProxy();
    RealProxy(const RealProxy&) = delete;
    RealProxy& operator=(const RealProxy&) = delete;

    // The installed program of that name, also where only root's PATH would find it; or "".
    static QString program(const QString& name);
    // The programs this kind needs that are not installed, space-separated; "" when all are.
    static QString missing(Kind kind);

    // Starts the server and waits until its port takes connections; returns what went wrong
    // (with the end of the server's log), or "". extraConfig lines are added to the server's
    // configuration.
    QString start(const QStringList& extraConfig = {});
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }
    quint16 port() const { return m_port; }

private:
    QString startOnce(const QStringList& extraConfig);
    QString startSsh();
    // Starts a program in a process group of its own, so that stop() reaches its children.
    QProcess* launch(const QString& program, const QStringList& arguments);
    bool waitForPort(quint16 port, QProcess* process, int ms);
    QString failure(const QString& what) const;
    void stop();
    QString file(const QString& name) const { return m_dir.filePath(name); }
    bool write(const QString& name, const QString& text) const;

    Kind m_kind;
    QTemporaryDir m_dir;
    std::vector<std::unique_ptr<QProcess>> m_processes; // started last is stopped first
    quint16 m_port = 0;
    QString m_log; // the server's own log file, for failure messages
};
