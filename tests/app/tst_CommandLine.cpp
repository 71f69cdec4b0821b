// The built program asked from a terminal.
#include <QProcess>
#include <QtTest>

namespace {

QString program()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/corvatel");
}

struct Run
{
    QProcess::ExitStatus status = QProcess::CrashExit;
    int code = -1;
    QString out;
    QString err;
};

Run run(const QStringList& arguments, const QProcessEnvironment& environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program(), arguments);
    if (!process.waitForFinished(30000))
        process.kill();
    process.waitForFinished();
    return {process.exitStatus(), process.exitCode(),
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

} // namespace

class tst_CommandLine : public QObject
{
    Q_OBJECT

private slots:
    // Help and version are answered on standard output, where no display is to be had.
    void answersWithoutDisplay_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("mentions");
        const QString usage = QStringLiteral("Usage: %1 [options]\n").arg(program());
        const QString version = QStringLiteral("Corvatel %1.%2.%3\n")
                                    .arg(CORVATEL_VERSION_MAJOR)
                                    .arg(CORVATEL_VERSION_MINOR)
                                    .arg(CORVATEL_VERSION_REVISION);
        QTest::newRow("--help") << QStringList{"--help"} << usage << "--data-home";
        QTest::newRow("-h") << QStringList{"-h"} << usage << "--data-home";
        QTest::newRow("--version") << QStringList{"--version"} << version << "";
        QTest::newRow("-v") << QStringList{"-v"} << version << "";
    }

    void answersWithoutDisplay()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, start);
        QFETCH(QString, mentions);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(QLatin1String(name));
        const Run r = run(arguments, environment);
        QVERIFY2(r.status == QProcess::NormalExit && r.code == 0, qPrintable(r.err));
        QVERIFY2(r.out.startsWith(start) && r.out.contains(mentions), qPrintable(r.out));
    }

    void refusesUnknownOption_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("alone") << QStringList{"--bogus"};
        QTest::newRow("beside --version") << QStringList{"--version", "--bogus"};
    }

    void refusesUnknownOption()
    {
        QFETCH(QStringList, arguments);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        const Run r = run(arguments, environment);
        QVERIFY2(r.status == QProcess::NormalExit && r.code != 0, qPrintable(r.err));
        QVERIFY2(r.err.contains(QStringLiteral("Unknown option 'bogus'")), qPrintable(r.err));
        QCOMPARE(r.out, QString());
    }
};

QTEST_GUILESS_MAIN(tst_CommandLine)
#include "tst_CommandLine.moc"
