#include "shell/ServiceLauncher.h"

#include "shell/DataHome.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QHostAddress>
#include <QTcpSocket>

#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/prctl.h>
#endif

std::optional<ServiceLauncher::Layout> ServiceLauncher::installedLayout(const QString& binDir)
{
    const QDir bin(binDir);
    Layout layout;
    layout.program = bin.absoluteFilePath(QStringLiteral("corvatel-service"));
    const QDir data(bin.absoluteFilePath(QStringLiteral("../share/corvatel")));
    layout.listFile = QDir::cleanPath(data.absoluteFilePath(QStringLiteral("sample-list.txt")));
    layout.regionsFile = QDir::cleanPath(data.absoluteFilePath(QStringLiteral("regions.txt")));
    if (!QFileInfo(layout.program).isExecutable() || !QFileInfo::exists(layout.listFile) ||
        !QFileInfo::exists(layout.regionsFile))
        return std::nullopt;
    return layout;
}

Result ServiceLauncher::ensureBundledRunning(const QUrl& serviceUrl, const QString& binDir)
{
    const auto layout =
        installedLayout(binDir.isEmpty() ? QCoreApplication::applicationDirPath() : binDir);
    if (!layout)
        return Result::success();
    QDir().mkpath(DataHome::path());
    return ensureRunning(serviceUrl, *layout, DataHome::path() + QStringLiteral("/maillist.txt"));
}

ServiceLauncher::~ServiceLauncher()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(2000)) {
        m_process.kill();
        m_process.waitForFinished(1000);
    }
}

bool ServiceLauncher::answers(const QString& host, quint16 port, int waitMs)
{
    QTcpSocket socket;
    socket.connectToHost(host, port);
    return socket.waitForConnected(waitMs);
}

Result ServiceLauncher::ensureRunning(const QUrl& serviceUrl, const Layout& layout,
                                      const QString& mailListFile, int waitMs)
{
    const QString host = serviceUrl.host();
    const int port = serviceUrl.port(80);
    const bool loopback = host == QLatin1String("localhost") || QHostAddress(host).isLoopback();
    if (serviceUrl.scheme() != QLatin1String("http") || !loopback) {
        return Result::failure(
            QStringLiteral("%1 is not a local service").arg(serviceUrl.toString()));
    }
    if (answers(host, quint16(port), 300))
        return Result::success();

    m_process.setProgram(layout.program);
    m_process.setArguments({QStringLiteral("--port"), QString::number(port),
                            QStringLiteral("--bind"), host, QStringLiteral("--list"),
                            layout.listFile, QStringLiteral("--regions"), layout.regionsFile,
                            QStringLiteral("--maillist"), mailListFile});
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
#ifdef Q_OS_LINUX
    // A program that ends without running its destructors must not leave the service behind.
    m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
#endif
    m_process.start();
    if (!m_process.waitForStarted(waitMs)) {
        return Result::failure(
            QStringLiteral("%1: %2").arg(layout.program, m_process.errorString()));
    }
    // The service prints its address once it listens.
    const QDeadlineTimer deadline(waitMs);
    while (!m_process.canReadLine()) {
        if (m_process.state() == QProcess::NotRunning || deadline.hasExpired() ||
            !m_process.waitForReadyRead(int(deadline.remainingTime()))) {
            const QString said = QString::fromLocal8Bit(m_process.readAllStandardError()).trimmed();
            m_process.kill();
            m_process.waitForFinished(1000);
            return Result::failure(
                said.isEmpty() ? QStringLiteral("%1 did not start").arg(layout.program) : said);
        }
    }
    return Result::success();
}
