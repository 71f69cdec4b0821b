#include "support/TinyProxy.h"

#include "support/TestServers.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTcpSocket>

namespace {
constexpr qsizetype MaxOutputBytes = 64 * 1024;
}

TinyProxy::~TinyProxy()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(3000)) {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
}

QString TinyProxy::executable()
{
    const QStringList extra = {QStringLiteral("/usr/bin"), QStringLiteral("/usr/sbin"),
                               QStringLiteral("/usr/local/bin"), QStringLiteral("/usr/local/sbin")};
    QString path = QStandardPaths::findExecutable(QStringLiteral("tinyproxy"));
    if (path.isEmpty())
        path = QStandardPaths::findExecutable(QStringLiteral("tinyproxy"), extra);
    return path;
}

bool TinyProxy::start()
{
    const QString program = executable();
    if (program.isEmpty()) {
        m_error = QStringLiteral("tinyproxy is not installed");
        return false;
    }
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary folder for the configuration");
        return false;
    }
    QObject::connect(&m_process, &QProcess::readyReadStandardOutput, &m_process, [this] {
        m_output += m_process.readAllStandardOutput();
        if (m_output.size() > MaxOutputBytes)
            m_output = m_output.right(MaxOutputBytes);
    });
    m_process.setProcessChannelMode(QProcess::MergedChannels);

    // The free port is only free until somebody else takes it, so try a few.
    for (int attempt = 0; attempt < 3; ++attempt) {
        m_port = closedLoopbackPort();
        const QString config = m_dir.filePath(QStringLiteral("tinyproxy.conf"));
        QFile file(config);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            m_error = QStringLiteral("cannot write %1").arg(config);
            return false;
        }
        file.write(QStringLiteral("Port %1\nListen 127.0.0.1\nAllow 127.0.0.1\nTimeout 30\n"
                                  "MaxClients 50\nLogLevel Warning\n")
                       .arg(m_port)
                       .toUtf8());
        file.close();

        m_process.start(program, {QStringLiteral("-d"), QStringLiteral("-c"), config});
        if (!m_process.waitForStarted(5000)) {
            m_error = QStringLiteral("tinyproxy did not start: %1").arg(m_process.errorString());
            return false;
        }
        const QDeadlineTimer deadline(10000);
        while (m_process.state() == QProcess::Running && !deadline.hasExpired()) {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, m_port);
            if (probe.waitForConnected(200))
                return true;
            m_process.waitForReadyRead(50);
        }
        if (m_process.state() == QProcess::Running) {
            m_error = QStringLiteral("tinyproxy did not open port %1 in time").arg(m_port);
            return false;
        }
        m_output += m_process.readAll();
        m_error = QStringLiteral("tinyproxy ended: %1").arg(QString::fromLocal8Bit(m_output));
    }
    return false;
}
