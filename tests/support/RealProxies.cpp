#include "support/RealProxies.h"

#include "support/TestServers.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTcpSocket>

#include <csignal>
#include <sys/types.h>
#include <unistd.h>

namespace {

QStringList programsOf(RealProxy::Kind kind)
{
    switch (kind) {
    case RealProxy::Kind::Squid:
        return {QStringLiteral("squid")};
    case RealProxy::Kind::Dante:
        return {QStringLiteral("danted")};
    case RealProxy::Kind::Microsocks:
        return {QStringLiteral("microsocks")};
    case RealProxy::Kind::SshDynamic:
        return {QStringLiteral("sshd"), QStringLiteral("ssh"), QStringLiteral("ssh-keygen")};
    case RealProxy::Kind::Tinyproxy:
        return {QStringLiteral("tinyproxy")};
    }
    return {};
}

QString tail(const QString& path, int lines = 15)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    const QStringList all = QString::fromLocal8Bit(f.readAll()).split(u'\n', Qt::SkipEmptyParts);
    return all.mid(std::max<qsizetype>(0, all.size() - lines)).join(u'\n');
}

} // namespace

RealProxy::~RealProxy()
{
    stop();
}

QString RealProxy::program(const QString& name)
{
    const QString onPath = QStandardPaths::findExecutable(name);
    return !onPath.isEmpty()
               ? onPath
               : QStandardPaths::findExecutable(name, {"/usr/sbin", "/usr/local/sbin", "/sbin"});
}

QString RealProxy::missing(Kind kind)
{
    QStringList absent;
    for (const QString& p : programsOf(kind)) {
        if (program(p).isEmpty())
            absent << p;
    }
    return absent.join(u' ');
}

QString RealProxy::start(const QStringList& extraConfig)
{
    if (!m_dir.isValid())
        return QStringLiteral("no temporary folder: ") + m_dir.errorString();
    const QString absent = missing(m_kind);
    if (!absent.isEmpty())
        return QStringLiteral("not installed: ") + absent;
    // Squid and dante drop to users of their own, which still write their logs here.
    QFile::setPermissions(m_dir.path(), QFileDevice::Permissions(0x7777));
    // The free port is only free until somebody else takes it, so try a few.
    QString result;
    for (int attempt = 0; attempt < 3; ++attempt) {
        stop();
        result = startOnce(extraConfig);
        if (result.isEmpty())
            return result;
    }
    stop();
    return result;
}

QString RealProxy::startOnce(const QStringList& extraConfig)
{
    m_port = closedLoopbackPort();
    const QString extra = extraConfig.join(u'\n') + u'\n';
    QProcess* server = nullptr;
    switch (m_kind) {
    case Kind::Squid:
        m_log = file(QStringLiteral("cache.log"));
        if (!write(QStringLiteral("squid.conf"),
                   QStringLiteral("http_port 127.0.0.1:%1\n"
                                  "pid_filename %2\n"
                                  "cache_log %3\n"
                                  "access_log stdio:%4\n"
                                  "cache_store_log none\n"
                                  "netdb_filename none\n"
                                  "coredump_dir %5\n"
                                  "cache deny all\n"
                                  "cache_mem 8 MB\n"
                                  "pinger_enable off\n"
                                  "shutdown_lifetime 1 seconds\n"
                                  "http_access allow localhost\n"
                                  "http_access deny all\n")
                           .arg(m_port)
                           .arg(file(QStringLiteral("squid.pid")), m_log,
                                file(QStringLiteral("access.log")), m_dir.path()) +
                       extra))
            return failure(QStringLiteral("cannot write squid.conf"));
        server = launch(program(QStringLiteral("squid")),
                        {"-N", "-f", file(QStringLiteral("squid.conf"))});
        break;
    case Kind::Dante:
        m_log = file(QStringLiteral("danted.log"));
        if (!write(QStringLiteral("danted.conf"),
                   QStringLiteral("logoutput: %1\n"
                                  "internal: 127.0.0.1 port = %2\n"
                                  "external: 127.0.0.1\n"
                                  "clientmethod: none\n"
                                  "socksmethod: none\n"
                                  "user.privileged: root\n"
                                  "user.unprivileged: nobody\n"
                                  "client pass {\n  from: 127.0.0.0/8 to: 0.0.0.0/0\n}\n"
                                  "socks pass {\n  from: 127.0.0.0/8 to: 0.0.0.0/0\n"
                                  "  command: connect\n}\n")
                           .arg(m_log)
                           .arg(m_port) +
                       extra))
            return failure(QStringLiteral("cannot write danted.conf"));
        server = launch(program(QStringLiteral("danted")),
                        {"-f", file(QStringLiteral("danted.conf")), "-p",
                         file(QStringLiteral("danted.pid")), "-N", "1"});
        break;
    case Kind::Microsocks:
        m_log.clear();
        server = launch(program(QStringLiteral("microsocks")),
                        {"-i", "127.0.0.1", "-p", QString::number(m_port)});
        break;
    case Kind::Tinyproxy:
        m_log.clear();
        if (!write(QStringLiteral("tinyproxy.conf"),
                   QStringLiteral("Port %1\nListen 127.0.0.1\nAllow 127.0.0.1\nLogLevel Warning\n")
                           .arg(m_port) +
                       extra))
            return failure(QStringLiteral("cannot write tinyproxy.conf"));
        server = launch(program(QStringLiteral("tinyproxy")),
                        {"-d", "-c", file(QStringLiteral("tinyproxy.conf"))});
        break;
    case Kind::SshDynamic:
        return startSsh();
    }
    if (!waitForPort(m_port, server, 15000))
        return failure(programsOf(m_kind).first() +
                       QStringLiteral(" did not open port %1").arg(m_port));
    return QString();
}

QString RealProxy::startSsh()
{
    // sshd wants its privilege-separation folder, which only its service would create.
    QDir().mkpath(QStringLiteral("/run/sshd"));
    m_log = file(QStringLiteral("sshd.log"));
    for (const QString& key : {QStringLiteral("host_key"), QStringLiteral("client_key")}) {
        QFile::remove(file(key));
        QFile::remove(file(key + QStringLiteral(".pub")));
        QProcess keygen;
        keygen.setProcessChannelMode(QProcess::MergedChannels);
        keygen.start(program(QStringLiteral("ssh-keygen")),
                     {"-q", "-t", "ed25519", "-N", "", "-f", file(key)});
        if (!keygen.waitForFinished(20000) || keygen.exitCode() != 0)
            return QStringLiteral("ssh-keygen failed: ") + QString::fromLocal8Bit(keygen.readAll());
    }
    if (!QFile::copy(file(QStringLiteral("client_key.pub")), file(QStringLiteral("authorized"))))
        return QStringLiteral("cannot write the authorized keys");
    const quint16 sshdPort = closedLoopbackPort();
    if (!write(QStringLiteral("sshd.conf"),
               QStringLiteral("ListenAddress 127.0.0.1:%1\n"
                              "HostKey %2\n"
                              "PidFile %3\n"
                              "AuthorizedKeysFile %4\n"
                              "PermitRootLogin yes\n"
                              "PubkeyAuthentication yes\n"
                              "PasswordAuthentication no\n"
                              "KbdInteractiveAuthentication no\n"
                              "UsePAM no\n"
                              // The folder is writable by all, for the other servers' users.
                              "StrictModes no\n"
                              "AllowTcpForwarding yes\n")
                   .arg(sshdPort)
                   .arg(file(QStringLiteral("host_key")), file(QStringLiteral("sshd.pid")),
                        file(QStringLiteral("authorized")))))
        return failure(QStringLiteral("cannot write sshd.conf"));
    QProcess* sshd = launch(program(QStringLiteral("sshd")),
                            {"-D", "-f", file(QStringLiteral("sshd.conf")), "-E", m_log});
    if (!waitForPort(sshdPort, sshd, 15000))
        return failure(QStringLiteral("sshd did not open port %1").arg(sshdPort));
    // The key's path stays one argument, whatever it holds.
    const QStringList where = {QStringLiteral("127.0.0.1:%1").arg(m_port), "-p",
                               QString::number(sshdPort), "-i", file(QStringLiteral("client_key"))};
    const QStringList options =
        QStringLiteral("-F /dev/null -o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null "
                       "-o BatchMode=yes -o ExitOnForwardFailure=yes -o LogLevel=ERROR "
                       "root@127.0.0.1")
            .split(u' ');
    QProcess* ssh =
        launch(program(QStringLiteral("ssh")), QStringList{"-N", "-D"} + where + options);
    if (!waitForPort(m_port, ssh, 15000))
        return failure(QStringLiteral("ssh -D did not open port %1: ").arg(m_port) +
                       QString::fromLocal8Bit(ssh->readAll()).trimmed());
    return QString();
}

QProcess* RealProxy::launch(const QString& programPath, const QStringList& arguments)
{
    auto process = std::make_unique<QProcess>();
    process->setProcessChannelMode(QProcess::MergedChannels);
    process->setChildProcessModifier([] { ::setpgid(0, 0); });
    process->start(programPath, arguments);
    m_processes.push_back(std::move(process));
    return m_processes.back().get();
}

bool RealProxy::waitForPort(quint16 port, QProcess* process, int ms)
{
    const QDeadlineTimer deadline(ms);
    if (!process->waitForStarted(ms))
        return false;
    while (!deadline.hasExpired()) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, port);
        if (probe.waitForConnected(200))
            return true;
        if (process->state() == QProcess::NotRunning)
            return false;
        process->waitForFinished(50);
    }
    return false;
}

QString RealProxy::failure(const QString& what) const
{
    QString text = what;
    for (const auto& process : m_processes) {
        const QString output = QString::fromLocal8Bit(process->readAll()).trimmed();
        if (!output.isEmpty())
            text += QStringLiteral("\n") + process->program() + QStringLiteral(": ") + output;
    }
    if (!m_log.isEmpty())
        text += QStringLiteral("\n") + tail(m_log);
    return text;
}

void RealProxy::stop()
{
    // The last one started first: the ssh client before its sshd, whose session ends with it.
    for (auto it = m_processes.rbegin(); it != m_processes.rend(); ++it) {
        QProcess& p = **it;
        const qint64 pid = p.processId();
        if (pid > 0)
            ::kill(-pid_t(pid), SIGKILL); // the whole group: dante's children too
        p.kill();
        p.waitForFinished(3000);
    }
    m_processes.clear();
}

bool RealProxy::write(const QString& name, const QString& text) const
{
    QFile f(file(name));
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(text.toUtf8()) >= 0;
}
