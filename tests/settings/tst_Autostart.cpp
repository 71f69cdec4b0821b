#include "settings/Autostart.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

QString readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// Runs a desktop tool; its output when it failed or warned.
QString complaint(const QString& tool, const QStringList& args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(tool, args);
    p.waitForFinished(30000);
    const QString out = QString::fromUtf8(p.readAll());
    return p.exitCode() == 0 && !out.contains(QLatin1String("warning")) ? QString() : out + u'!';
}

} // namespace

class tst_Autostart : public QObject
{
    Q_OBJECT

private slots:
    void onOffTwiceAndBlankFolder()
    {
        QTemporaryDir dir;
        const Autostart autostart(dir.filePath(QStringLiteral("autostart")),
                                  "/opt/corvatel/corvatel");
        const QString name = autostart.executableBaseName();
        const QString path = autostart.entryPath(name);
        QCOMPARE(name, QStringLiteral("corvatel"));

        for (int time = 1; time <= 2; ++time) { // the second time changes nothing, leaves nothing
            QVERIFY(autostart.SetStartWithWindows(name, "/home/u/lists", true));
            QCOMPARE(readAll(path), "[Desktop Entry]\nType=Application\nName=corvatel\n"
                                    "Exec=/opt/corvatel/corvatel\nPath=/home/u/lists\n");
        }
        QCOMPARE(QDir(autostart.entryFolder()).entryList(QDir::Files | QDir::Hidden).size(), 1);

        QVERIFY(autostart.SetStartWithWindows(name, QString(), true));
        QVERIFY(!readAll(path).contains(QLatin1String("Path=")));

        QVERIFY(autostart.SetStartWithWindows(name, "/home/u/lists", false));
        QVERIFY(!QFile::exists(path));
        QVERIFY(autostart.SetStartWithWindows(name, "/home/u/lists", false));
        // A leading blank would be trimmed from a value: it is written as "\s". No entry without a
        // program, nor one that a line break would split.
        QVERIFY(Autostart::desktopEntry(QStringLiteral(" lead"), "/bin/true", "/home/u")
                    .contains("\nName=\\slead\n"));
        QCOMPARE(Autostart::desktopEntry(QStringLiteral("corvatel"), QString(), "/home/u"),
                 QString());
        QCOMPARE(Autostart::desktopEntry(QStringLiteral("a\nExec=rm"), "/bin/true", "/home/u"),
                 QString());
        for (const QString& bad : {QString(), QStringLiteral("../x"), QStringLiteral("a\nExec=rm")})
            QVERIFY2(!autostart.SetStartWithWindows(bad, "/home/u", true), qPrintable(bad));
        QVERIFY(QDir(autostart.entryFolder()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot));
    }

    void entryWorksOnTheDesktop_data()
    {
        QTest::addColumn<QString>(
            "odd"); // part of both the program's and the working folder's path
        QTest::newRow("plain") << "lists";
        QTest::newRow("reserved") << "My a$b`c\"d'e;f&g|h(i)j*k?l#m<n>o~p\\q\\\\r";
        QTest::newRow("percent") << "100% sure";
    }

    // The entry passes desktop-file-validate, and the desktop's own launcher starts the program in
    // the entry's folder.
    void entryWorksOnTheDesktop()
    {
        QFETCH(QString, odd);
        const QString validator =
            QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
        if (validator.isEmpty())
            QSKIP("desktop-file-validate is not installed (Debian package desktop-file-utils)");
        QTemporaryDir dir;
        const QString program =
            dir.filePath(QStringLiteral("bin ") + odd + QStringLiteral("/corvatel"));
        const QString folder = dir.filePath(odd);
        const QString out = dir.filePath(QStringLiteral("started-in.txt"));
        QVERIFY(QDir().mkpath(QFileInfo(program).path()) && QDir().mkpath(folder));
        QFile script(program);
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\npwd > '" + out.toUtf8() + "'\n");
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

        const Autostart autostart(dir.filePath(QStringLiteral("autostart")), program);
        QVERIFY(autostart.SetStartWithWindows(QStringLiteral("corvatel"), folder, true));
        const QString entry = autostart.entryPath(QStringLiteral("corvatel"));
        QCOMPARE(complaint(validator, {entry}), QString());

        const QString gio = QStandardPaths::findExecutable(QStringLiteral("gio"));
        // GLib looks for the program before it undoes "%%", so it cannot start one with "%" in its
        // path.
        if (gio.isEmpty() || odd.contains(u'%'))
            return;
        QCOMPARE(complaint(gio, {QStringLiteral("launch"), entry}), QString());
        QTRY_COMPARE_WITH_TIMEOUT(readAll(out).trimmed(), folder, 10000);
    }
};

QTEST_GUILESS_MAIN(tst_Autostart)
#include "tst_Autostart.moc"
