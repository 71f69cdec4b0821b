// The built program asked from a terminal.
#include "version.h"

#include <QProcess>
#include <QTest>

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
    // Help and version are answered on standard output with no display to be had; an unknown
    // option is refused, also beside one of them (that start wants a screen, an offscreen one).
    void withoutDisplay_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("out"); // how standard output starts
        QTest::addColumn<QString>("err"); // what standard error holds
        const QString usage = QStringLiteral("Usage: %1 [options]\n").arg(program());
        const QString version = QStringLiteral("Corvatel %1.%2.%3\n")
                                    .arg(CORVATEL_VERSION_MAJOR)
                                    .arg(CORVATEL_VERSION_MINOR)
                                    .arg(CORVATEL_VERSION_REVISION);
        QTest::newRow("--help") << QStringList{"--help"} << 0 << usage << "";
        QTest::newRow("--version") << QStringList{"--version"} << 0 << version << "";
        QTest::newRow("unknown beside --version") << QStringList{"--version", "--bogus"} << 1 << ""
                                                  << "Unknown option 'bogus'";
    }

    void withoutDisplay()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, code);
        QFETCH(QString, out);
        QFETCH(QString, err);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(QLatin1String(name));
        if (code != 0)
            environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        const Run r = run(arguments, environment);
        QVERIFY2(r.status == QProcess::NormalExit && r.code == code, qPrintable(r.err));
        QVERIFY2((out.isEmpty() || r.out.startsWith(out)) && r.err.contains(err),
                 qPrintable(r.out + r.err));
    }
};

QTEST_GUILESS_MAIN(tst_CommandLine)
#include "tst_CommandLine.moc"
