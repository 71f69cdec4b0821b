#include "support/TinyProxy.h"

#include "support/TestServers.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTcpSocket>

TinyProxy::~TinyProxy()
{
    m_process.kill();
    m_process.waitForFinished(3000);
}

QString TinyProxy::executable()
{
    const QString onPath = QStandardPaths::findExecutable(QStringLiteral("tinyproxy"));
    return !onPath.isEmpty() ? onPath
                             : QStandardPaths::findExecutable(QStringLiteral("tinyproxy"),
                                                              {"/usr/sbin", "/usr/local/sbin"});
}

QString TinyProxy::start(const QStringList& extraConfig)
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    // The free port is only free until somebody else takes it, so try a few.
    for (int attempt = 0; attempt < 3; ++attempt) {
        m_port = closedLoopbackPort();
        QFile config(m_dir.filePath(QStringLiteral("tinyproxy.conf")));
        if (!config.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return QStringLiteral("cannot write ") + config.fileName();
        config.write(
            (QStringLiteral("Port %1\nListen 127.0.0.1\nAllow 127.0.0.1\nLogLevel Warning\n")
                 .arg(m_port) +
             extraConfig.join(u'\n') + u'\n')
                .toUtf8());
        config.close();
        m_process.start(executable(),
                        {QStringLiteral("-d"), QStringLiteral("-c"), config.fileName()});
        const QDeadlineTimer deadline(10000);
        while (m_process.waitForStarted() && !deadline.hasExpired()) {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, m_port);
            if (probe.waitForConnected(200))
                return QString();
            m_process.waitForFinished(50);
        }
        if (m_process.state() != QProcess::NotRunning)
            return QStringLiteral("tinyproxy did not open port %1 in time").arg(m_port);
    }
    return QStringLiteral("tinyproxy ended: ") + QString::fromLocal8Bit(m_process.readAll());
}
