#include "shell/DataHome.h"
#include "shell/ServiceLauncher.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

namespace {

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

QUrl serviceUrl(quint16 port)
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port));
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

// Children of this process that ended and were never waited for.
int zombieChildren()
{
    int count = 0;
    const QByteArray self = QByteArray::number(QCoreApplication::applicationPid());
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (name) state ppid ...", where the name may hold blanks and parentheses.
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        count += fields.size() > 1 && fields[0] == "Z" && fields[1] == self;
    }
    return count;
}

// The build tree is laid out as an installed one: bin/ beside share/corvatel/.
ServiceLauncher::Layout builtLayout()
{
    return ServiceLauncher::installedLayout(QCoreApplication::applicationDirPath()).value();
}

} // namespace

class tst_ServiceLauncher : public QObject
{
    Q_OBJECT

private slots:
    void findsTheLayoutBesideTheProgram()
    {
        const ServiceLauncher::Layout layout = builtLayout();
        const QStringList pieces{"bin/corvatel-service", "share/corvatel/sample-list.txt",
                                 "share/corvatel/regions.txt"};
        const QStringList files{layout.program, layout.listFile, layout.regionsFile};
        for (int i = 0; i < 3; ++i)
            QVERIFY2(files[i].endsWith(u'/' + pieces[i]), qPrintable(files[i]));

        // Any piece missing: nothing to start.
        for (int missing = -1; missing < 3; ++missing) {
            QTemporaryDir root;
            QVERIFY(QDir(root.path()).mkpath(QStringLiteral("bin")));
            QVERIFY(QDir(root.path()).mkpath(QStringLiteral("share/corvatel")));
            for (int i = 0; i < 3; ++i)
                QVERIFY(i == missing || QFile::copy(files[i], root.filePath(pieces[i])));
            QCOMPARE(bool(ServiceLauncher::installedLayout(root.filePath(QStringLiteral("bin")))),
                     missing < 0);
        }
    }

    // The service beside this program, with sign-ups in a data folder not made yet.
    void startsTheServiceAndStopsItAtTheEnd()
    {
        QTemporaryDir xdg;
        qputenv("XDG_DATA_HOME", xdg.path().toLocal8Bit());
        const quint16 port = freePort();
        const QString mailList = xdg.filePath(QStringLiteral("Corvatel/maillist.txt"));
        {
            ServiceLauncher launcher;
            const Result started = launcher.ensureBundledRunning(serviceUrl(port));
            QVERIFY2(started.ok(), qPrintable(started.message()));
            QVERIFY(launcher.started());
            // Ready when it returns: the sample list and the sign-up page answer at once.
            QVERIFY(get(port, "/ppx.php?M=L&P=C&V=2").contains("localhost:8643|"));
            QCOMPARE(get(port, "/maillist.php?email=a%40b.example"), QByteArray("OK"));
            QFile written(mailList);
            QVERIFY(written.open(QIODevice::ReadOnly));
            QVERIFY(written.readAll().contains("a@b.example"));
        }
        QVERIFY(!ServiceLauncher::answers(QStringLiteral("127.0.0.1"), port, 500));

        // A program without its service beside it has nothing to start, and that is no fault.
        ServiceLauncher none;
        QVERIFY(none.ensureBundledRunning(serviceUrl(port), xdg.path()).ok());
        QVERIFY(!none.started());
    }

    // The sample list's local proxy runs for the session when tinyproxy is there; without it the
    // list is served without that proxy.
    void sampleProxy_data()
    {
        QTest::addColumn<QString>("tinyproxy");
        QTest::newRow("tinyproxy installed") << "tinyproxy";
        QTest::newRow("no tinyproxy") << "/nonexistent/tinyproxy";
    }
    void sampleProxy()
    {
        QFETCH(QString, tinyproxy);
        const bool installed = !QStandardPaths::findExecutable(tinyproxy).isEmpty();
        if (tinyproxy == QLatin1String("tinyproxy") && !installed)
            QSKIP("tinyproxy is not installed (test.sh installs it)");
        auto layout = ServiceLauncher::installedLayout(QCoreApplication::applicationDirPath());
        QVERIFY(layout);
        QTemporaryDir data;
        layout->tinyproxy = tinyproxy;
        layout->sampleProxyPort = freePort();
        const QByteArray proxy = "localhost:" + QByteArray::number(layout->sampleProxyPort);
        QFile list(data.filePath(QStringLiteral("list.txt")));
        QVERIFY(list.open(QIODevice::WriteOnly));
        list.write("localhost:1|1|100|2024-04-30 12:00:00|HTTP|||||||Anonymous proxy|\n" + proxy +
                   "|1|100|2024-04-30 12:00:00|HTTP|||||||Anonymous proxy|\n");
        list.close();
        layout->listFile = list.fileName();
        const quint16 port = freePort();
        {
            ServiceLauncher launcher;
            const Result started = launcher.ensureRunning(
                serviceUrl(port), *layout, data.filePath(QStringLiteral("Corvatel/maillist.txt")));
            QVERIFY2(started.ok(), qPrintable(started.message()));
            const QByteArray served = get(port, "/ppx.php?M=L&P=C&V=2");
            QVERIFY2(served.contains("localhost:1|"), served.constData());
            QCOMPARE(served.contains(proxy + '|'), installed);
            QCOMPARE(
                ServiceLauncher::answers(QStringLiteral("127.0.0.1"), layout->sampleProxyPort, 500),
                installed);
        }
        QVERIFY(
            !ServiceLauncher::answers(QStringLiteral("127.0.0.1"), layout->sampleProxyPort, 300));
    }

    void startsNothingElsewhere()
    {
        // Something already answers: left alone.
        QTcpServer other;
        QVERIFY(other.listen(QHostAddress::LocalHost, 0));
        ServiceLauncher running;
        QVERIFY(
            running.ensureRunning(serviceUrl(other.serverPort()), builtLayout(), QString()).ok());
        QVERIFY(!running.started());

        // Another host: nothing to start there.
        ServiceLauncher remote;
        const Result elsewhere =
            remote.ensureRunning(QUrl(QStringLiteral("http://192.0.2.1:8642")), builtLayout(), {});
        QVERIFY(!elsewhere.ok());
        QVERIFY(!remote.started());
        QVERIFY(elsewhere.message().contains(QLatin1String("192.0.2.1")));
    }

    void saysWhyTheServiceDidNotStart()
    {
        QTemporaryDir root;
        ServiceLauncher::Layout layout;
        layout.program = root.filePath(QStringLiteral("missing-service"));
        {
            ServiceLauncher launcher;
            const Result missing =
                launcher.ensureRunning(serviceUrl(freePort()), layout, QString(), 2000);
            QVERIFY(!missing.ok());
            QVERIFY(missing.message().contains(layout.program));
        }
        // One that starts and gives up: its own words are the reason.
        layout = builtLayout();
        layout.listFile = root.filePath(QStringLiteral("no-such-list.txt"));
        ServiceLauncher launcher;
        const Result refused =
            launcher.ensureRunning(serviceUrl(freePort()), layout, QString(), 3000);
        QVERIFY(!refused.ok());
        QVERIFY(!launcher.started());
        QVERIFY2(refused.message().contains(QLatin1String("no-such-list.txt")),
                 qPrintable(refused.message()));

        // One that never says it listens is ended and waited for, not left a zombie.
        QFile silent(root.filePath(QStringLiteral("silent-service")));
        QVERIFY(silent.open(QIODevice::WriteOnly) &&
                silent.write("#!/bin/sh\nexec sleep 30\n") > 0);
        silent.close();
        QVERIFY(silent.setPermissions(QFile::ReadOwner | QFile::ExeOwner));
        layout.program = silent.fileName();
        ServiceLauncher silentLauncher;
        QVERIFY(!silentLauncher.ensureRunning(serviceUrl(freePort()), layout, QString(), 300).ok());
        QVERIFY(!silentLauncher.started());
        QCOMPARE(zombieChildren(), 0);
    }

    void dataHome_data()
    {
        QTest::addColumn<bool>("blocked"); // XDG_DATA_HOME is a file
        QTest::newRow("created and entered") << false;
        QTest::newRow("cannot be made") << true;
    }
    void dataHome()
    {
        QFETCH(bool, blocked);
        QTemporaryDir xdg;
        QString home = xdg.path();
        if (blocked) {
            QFile blocker(xdg.filePath(QStringLiteral("file")));
            QVERIFY(blocker.open(QIODevice::WriteOnly));
            home = blocker.fileName();
        }
        qputenv("XDG_DATA_HOME", home.toLocal8Bit());
        const QString before = QDir::currentPath();
        const Result entered = DataHome::enter();
        QCOMPARE(entered.ok(), !blocked);
        QCOMPARE(entered.message().contains(home), blocked);
        QCOMPARE(QDir::currentPath(), blocked ? before : home + QStringLiteral("/Corvatel"));
        QVERIFY(QDir::setCurrent(before));
    }
};

QTEST_GUILESS_MAIN(tst_ServiceLauncher)
#include "tst_ServiceLauncher.moc"
