// The main window in a real notification area: a private X server, trayer as the tray, and
// clicks sent by the X server's test extension (xdotool) to where the icon stands on the screen.
#include "support/MainWindowFixture.h"
#include "support/WindowControls.h"

#include <QApplication>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QTest>

#include <csignal>
#include <cstdio>
#include <poll.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

// Helpers end with the test, even when it dies of a signal.
void endWithParent(QProcess& process)
{
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
}

// Xvfb picks a free display itself and writes its number once it takes connections, so runs
// side by side never meet on one display. Empty when no server started.
QString startXServer(QProcess& server)
{
    int fds[2];
    if (::pipe(fds) != 0)
        return {};
    endWithParent(server);
    server.setStandardOutputFile(QProcess::nullDevice());
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start(QStringLiteral("Xvfb"),
                 {QStringLiteral("-displayfd"), QString::number(fds[1]), QStringLiteral("-screen"),
                  QStringLiteral("0"), QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"),
                  QStringLiteral("tcp")});
    ::close(fds[1]);
    QByteArray number;
    pollfd ready{fds[0], POLLIN, 0};
    char c = 0;
    while (::poll(&ready, 1, 20000) == 1 && ::read(fds[0], &c, 1) == 1 && c != '\n')
        number += c;
    ::close(fds[0]);
    return c == '\n' && !number.isEmpty() ? u':' + QString::fromLatin1(number) : QString();
}

} // namespace

class tst_frmMainTray : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        QTRY_VERIFY2_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(),
                                  "trayer did not become the notification area", 20000);
    }

    // The icon has no menu: either button brings the window back, and the program lives on.
    void clickOnIcon_data()
    {
        QTest::addColumn<QString>("button");
        QTest::newRow("left") << "1";
        QTest::newRow("right") << "3";
    }

    void clickOnIcon()
    {
        QFETCH(QString, button);
        MainWindowFixture f;
        frmMain& w = f.create();
        w.Form_Load();
        QVERIFY(QTest::qWaitForWindowExposed(&w));

        w.setWindowState(Qt::WindowMinimized);
        QVERIFY(!w.isVisible() && ui::TrayX1(w)->isVisible());
        // The tray moves the icon into its panel and maps it a moment after the icon is shown: a
        // click that comes before that misses it, and is sent again to where the icon is now.
        const auto restored = [&w] { return w.isVisible() && !w.isMinimized(); };
        for (int attempt = 0; attempt < 20 && !restored(); ++attempt) {
            const QPoint at = ui::TrayX1(w)->geometry().center();
            QProcess click;
            click.setProcessChannelMode(QProcess::ForwardedChannels);
            click.start(QStringLiteral("xdotool"),
                        {QStringLiteral("mousemove"), QString::number(at.x()),
                         QString::number(at.y()), QStringLiteral("click"), button});
            QVERIFY2(click.waitForFinished(10000) && click.exitStatus() == QProcess::NormalExit &&
                         click.exitCode() == 0,
                     "xdotool could not click");
            (void)QTest::qWaitFor(restored, 500);
        }
        QVERIFY(restored());
        QVERIFY(!ui::TrayX1(w)->isVisible());
        // A few more turns of the event loop: whatever Qt still delivers for the click.
        QTest::qWait(300);
        QVERIFY(w.isVisible());
    }
};

int main(int argc, char* argv[])
{
    QProcess server;
    const QString display = startXServer(server);
    if (display.isEmpty()) {
        std::fprintf(stderr, "FAIL: Xvfb did not start\n");
        return 1;
    }
    qputenv("DISPLAY", display.toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "xcb");
    qunsetenv("WAYLAND_DISPLAY");
    // The icon goes to the X notification area, never to a desktop's over D-Bus.
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");

    QProcess tray;
    endWithParent(tray);
    tray.setStandardOutputFile(QProcess::nullDevice());
    tray.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    tray.start(QStringLiteral("trayer"),
               {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"),
                QStringLiteral("right"), QStringLiteral("--widthtype"), QStringLiteral("request"),
                QStringLiteral("--height"), QStringLiteral("24")});
    if (!tray.waitForStarted()) {
        std::fprintf(stderr, "FAIL: trayer did not start\n");
        return 1;
    }

    int result = 0;
    {
        QApplication app(argc, argv);
        tst_frmMainTray test;
        result = QTest::qExec(&test, argc, argv);
    }
    tray.kill();
    tray.waitForFinished();
    server.kill();
    server.waitForFinished();
    return result;
}

#include "tst_frmMainTray.moc"
