#include "shell/DataHome.h"
#include "shell/ServiceLauncher.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

namespace {

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// The body of GET `path` from the service on `port`, read to the end of the connection.
QByteArray get(quint16 port, const QByteArray& path)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(2000))
        return {};
    socket.write("GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
    QByteArray reply;
    while (socket.waitForReadyRead(3000))
        reply += socket.readAll();
    reply += socket.readAll();
    return reply.mid(reply.indexOf("\r\n\r\n") + 4);
}

QUrl serviceUrl(quint16 port)
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port));
}

} // namespace

class tst_ServiceLauncher : public QObject
{
    Q_OBJECT

private slots:
    void findsTheLayoutBesideTheProgram();
    void startsTheServiceAndStopsItAtTheEnd();
    void leavesARunningServiceAlone();
    void startsNothingForAnotherHost();
    void saysWhyTheServiceDidNotStart();
    void dataHomeIsCreatedAndEntered();
    void dataHomeThatCannotBeMade();
};

void tst_ServiceLauncher::findsTheLayoutBesideTheProgram()
{
    // The build tree is laid out as an installed one: bin/ beside share/corvatel/.
    const auto layout = ServiceLauncher::installedLayout(QCoreApplication::applicationDirPath());
    QVERIFY(layout);
    QVERIFY(layout->program.endsWith(QLatin1String("/bin/corvatel-service")));
    QVERIFY(layout->listFile.endsWith(QLatin1String("/share/corvatel/sample-list.txt")));
    QVERIFY(layout->regionsFile.endsWith(QLatin1String("/share/corvatel/regions.txt")));

    // Any piece missing: nothing to start.
    QTemporaryDir root;
    QVERIFY(QDir(root.path()).mkpath(QStringLiteral("bin")));
    QVERIFY(QDir(root.path()).mkpath(QStringLiteral("share/corvatel")));
    QVERIFY(QFile::copy(layout->program, root.filePath(QStringLiteral("bin/corvatel-service"))));
    QVERIFY(QFile::copy(layout->listFile, root.filePath(QStringLiteral("share/corvatel/sample-list.txt"))));
    QVERIFY(!ServiceLauncher::installedLayout(root.filePath(QStringLiteral("bin"))));
    QVERIFY(QFile::copy(layout->regionsFile, root.filePath(QStringLiteral("share/corvatel/regions.txt"))));
    QVERIFY(ServiceLauncher::installedLayout(root.filePath(QStringLiteral("bin"))));
    QVERIFY(QFile::remove(root.filePath(QStringLiteral("share/corvatel/sample-list.txt"))));
    QVERIFY(!ServiceLauncher::installedLayout(root.filePath(QStringLiteral("bin"))));
}

void tst_ServiceLauncher::startsTheServiceAndStopsItAtTheEnd()
{
    const auto layout = ServiceLauncher::installedLayout(QCoreApplication::applicationDirPath());
    QVERIFY(layout);
    QTemporaryDir home;
    const quint16 port = freePort();
    const QString mailList = home.filePath(QStringLiteral("maillist.txt"));
    {
        ServiceLauncher launcher;
        QVERIFY2(launcher.ensureRunning(serviceUrl(port), *layout, mailList),
                 qPrintable(launcher.errorString()));
        QVERIFY(launcher.started());
        // Ready when it returns: the sample list and the sign-up page answer at once.
        QVERIFY(get(port, "/ppx.php?M=L&P=C&V=2").contains("localhost:8643|"));
        QCOMPARE(get(port, "/maillist.php?email=a%40b.example"), QByteArray("OK"));
        QFile written(mailList);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QVERIFY(written.readAll().contains("a@b.example"));
    }
    QVERIFY(!ServiceLauncher::answers(QStringLiteral("127.0.0.1"), port, 500));
}

void tst_ServiceLauncher::leavesARunningServiceAlone()
{
    QTcpServer other;
    QVERIFY(other.listen(QHostAddress::LocalHost, 0));
    const auto layout = ServiceLauncher::installedLayout(QCoreApplication::applicationDirPath());
    QVERIFY(layout);
    ServiceLauncher launcher;
    QVERIFY(launcher.ensureRunning(serviceUrl(other.serverPort()), *layout, QString()));
    QVERIFY(!launcher.started());
}

void tst_ServiceLauncher::startsNothingForAnotherHost()
{
    const auto layout = ServiceLauncher::installedLayout(QCoreApplication::applicationDirPath());
    QVERIFY(layout);
    ServiceLauncher launcher;
    QVERIFY(!launcher.ensureRunning(QUrl(QStringLiteral("http://192.0.2.1:8642")), *layout,
                                    QString()));
    QVERIFY(!launcher.started());
    QVERIFY(launcher.errorString().contains(QLatin1String("192.0.2.1")));
}

void tst_ServiceLauncher::saysWhyTheServiceDidNotStart()
{
    QTemporaryDir root;
    ServiceLauncher::Layout layout;
    layout.program = root.filePath(QStringLiteral("missing-service"));
    {
        ServiceLauncher launcher;
        QVERIFY(!launcher.ensureRunning(serviceUrl(freePort()), layout, QString(), 2000));
        QVERIFY(launcher.errorString().contains(layout.program));
    }
    // One that starts and gives up: its own words are the reason.
    const auto real = ServiceLauncher::installedLayout(QCoreApplication::applicationDirPath());
    QVERIFY(real);
    layout = *real;
    layout.listFile = root.filePath(QStringLiteral("no-such-list.txt"));
    ServiceLauncher launcher;
    QVERIFY(!launcher.ensureRunning(serviceUrl(freePort()), layout, QString(), 3000));
    QVERIFY(!launcher.started());
    QVERIFY2(launcher.errorString().contains(QLatin1String("no-such-list.txt")),
             qPrintable(launcher.errorString()));
}

void tst_ServiceLauncher::dataHomeIsCreatedAndEntered()
{
    QTemporaryDir xdg;
    qputenv("XDG_DATA_HOME", xdg.path().toLocal8Bit());
    const QString before = QDir::currentPath();
    QString error;
    QVERIFY2(DataHome::enter(&error), qPrintable(error));
    QCOMPARE(QDir::currentPath(), xdg.filePath(QStringLiteral("Corvatel")));
    QVERIFY(QDir::setCurrent(before));
}

void tst_ServiceLauncher::dataHomeThatCannotBeMade()
{
    QTemporaryDir xdg;
    QFile blocker(xdg.filePath(QStringLiteral("file")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    qputenv("XDG_DATA_HOME", blocker.fileName().toLocal8Bit());
    const QString before = QDir::currentPath();
    QString error;
    QVERIFY(!DataHome::enter(&error));
    QVERIFY(error.contains(blocker.fileName()));
    QCOMPARE(QDir::currentPath(), before);
}

QTEST_GUILESS_MAIN(tst_ServiceLauncher)
#include "tst_ServiceLauncher.moc"
