#include "shell/ServiceLauncher.h"

#include "shell/DataHome.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QHostAddress>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QThread>

#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/prctl.h>
#endif
#include <unistd.h>

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

void ServiceLauncher::startSampleProxy(const Layout& layout, const QString& folder)
{
    const QString loopback = QStringLiteral("127.0.0.1");
    if (answers(loopback, layout.sampleProxyPort, 200))
        return;
    const QString program = layout.tinyproxy.contains(u'/')
                                ? layout.tinyproxy
                                : QStandardPaths::findExecutable(layout.tinyproxy);
    if (program.isEmpty() || !QFileInfo(program).isExecutable())
        return;
    QString config = QStringLiteral("Port %1\nListen 127.0.0.1\nTimeout 60\nAllow 127.0.0.1\n"
                                    "MaxClients 20\nLogLevel Critical\n")
                         .arg(layout.sampleProxyPort);
    if (::geteuid() == 0) // tinyproxy will not run as root
        config += QStringLiteral("User nobody\nGroup nogroup\n");
    const QString configFile = folder + QStringLiteral("/tinyproxy.conf");
    QFile file(configFile);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(config.toUtf8()) < 0)
        return;
    file.close();
    m_sampleProxy.setProgram(program);
    m_sampleProxy.setArguments({QStringLiteral("-d"), QStringLiteral("-c"), configFile});
    m_sampleProxy.setStandardOutputFile(QProcess::nullDevice());
    m_sampleProxy.setStandardErrorFile(QProcess::nullDevice());
#ifdef Q_OS_LINUX
    m_sampleProxy.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
#endif
    m_sampleProxy.start();
    if (!m_sampleProxy.waitForStarted(2000))
        return;
    const QDeadlineTimer deadline(2000);
    while (!answers(loopback, layout.sampleProxyPort, 100) && !deadline.hasExpired() &&
           m_sampleProxy.state() == QProcess::Running)
        QThread::msleep(50);
}

QString ServiceLauncher::listToServe(const Layout& layout, const QString& folder)
{
    if (answers(QStringLiteral("127.0.0.1"), layout.sampleProxyPort, 200))
        return layout.listFile;
    QFile in(layout.listFile);
    if (!in.open(QIODevice::ReadOnly))
        return layout.listFile;
    const QByteArray named = "localhost:" + QByteArray::number(layout.sampleProxyPort) + '|';
    QByteArray kept;
    for (const QByteArray& line : in.readAll().split('\n')) {
        if (!line.startsWith(named) && !line.isEmpty())
            kept += line + '\n';
    }
    const QString copy = folder + QStringLiteral("/sample-list.txt");
    QFile out(copy);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(kept) != kept.size())
        return layout.listFile;
    return copy;
}

ServiceLauncher::~ServiceLauncher()
{
    for (QProcess* process : {&m_process, &m_sampleProxy}) {
        if (process->state() == QProcess::NotRunning)
            continue;
        process->terminate();
        if (!process->waitForFinished(2000)) {
            process->kill();
            process->waitForFinished(1000);
        }
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

    const QString folder = QFileInfo(mailListFile).absolutePath();
    QDir().mkpath(folder);
    startSampleProxy(layout, folder);
    m_process.setProgram(layout.program);
    m_process.setArguments({QStringLiteral("--port"), QString::number(port),
                            QStringLiteral("--bind"), host, QStringLiteral("--list"),
                            listToServe(layout, folder), QStringLiteral("--regions"),
                            layout.regionsFile, QStringLiteral("--maillist"), mailListFile});
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
