// corvatel-scenes: opens the real window in one of the states the documentation shows, prints
// "ready" once it is there and stays open until it is ended. scripts/screenshots.sh photographs
// each state under a virtual screen.
//   corvatel-scenes [--dark] signup|service|filter|imported|setup|websource
// --dark draws it with the Fusion style and a dark palette, as a dark desktop theme would.

#include "base/Deployment.h"
#include "settings/SettingsStore.h"
#include "shell/DialogPrompts.h"
#include "shell/ServiceLauncher.h"
#include "shell/frmMain.h"
#include "signup/MailingListSignup.h"
#include "support/DarkPalette.h"
#include "support/WindowControls.h"
#include "views/ProxyGrid.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QStyleFactory>
#include <QTimer>

#include <cstdio>

namespace {

void ready()
{
    std::printf("ready\n");
    std::fflush(stdout);
}

// Dialogs run modally inside the triggering call, so "ready" is said from a timer meanwhile.
void readySoon()
{
    QTimer::singleShot(1500, qApp, ready);
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    frmMain::setUpApplication();
    QStringList args = app.arguments().mid(1);
    if (args.removeAll(QStringLiteral("--dark")) > 0) {
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        QApplication::setPalette(darkPalette());
    }
    const QString scene = args.value(0);
    const QStringList scenes = {QStringLiteral("signup"), QStringLiteral("service"),
                                QStringLiteral("filter"), QStringLiteral("imported"),
                                QStringLiteral("setup"),  QStringLiteral("websource")};
    if (!scenes.contains(scene)) {
        std::fprintf(stderr, "usage: corvatel-scenes [--dark] %s\n", qPrintable(scenes.join(u'|')));
        return 2;
    }

    const Deployment deployment = Deployment::fromEnvironment();
    ServiceLauncher service;
    const Result started = service.ensureBundledRunning(QUrl(deployment.serviceUrl));
    if (!started.ok())
        std::fprintf(stderr, "corvatel-scenes: %s\n", qUtf8Printable(started.message()));

    SettingsStore settings;
    if (scene != QLatin1String("signup"))
        settings.write(Setting::EMR, QString::number(MailingListSignup::ShowUntil));
    settings.write(Setting::ParallelTests, QStringLiteral("8"));
    DialogPrompts prompts;
    frmMain window(deployment, settings, prompts);
    prompts.setParent(&window);

    if (scene == QLatin1String("signup"))
        readySoon();
    window.Form_Load();

    if (scene == QLatin1String("service")) {
        ready();
    } else if (scene == QLatin1String("filter")) {
        ui::cboTYPE(window)->setCurrentIndex(ui::cboTYPE(window)->findText(QStringLiteral("HTTP")));
        ui::cboCLASS(window)->setCurrentIndex(
            ui::cboCLASS(window)->findText(QStringLiteral("High anonymous / Elite proxy")));
        window.cmdFilter_Click();
        ready();
    } else if (scene == QLatin1String("imported")) {
        window.Option2_Click();
        ProxyGrid& grid = *ui::MSHi(window);
        grid.setRow(1);
        grid.setRowSel(std::min(4, grid.Rows() - 1)); // the rows after the fourth stay untested
        QTimer::singleShot(0, &window, [&window, &grid] {
            window.testSelectedProxies(grid);
            grid.setRow(grid.Rows() - 1);
            grid.setRowSel(grid.Rows() - 1);
            ready();
        });
    } else if (scene == QLatin1String("setup")) {
        readySoon();
        QTimer::singleShot(0, ui::menuSetup(window), &QAction::trigger);
    } else if (scene == QLatin1String("websource")) {
        readySoon();
        QTimer::singleShot(0, ui::menuImpProxSource(window), &QAction::trigger);
    }
    return app.exec();
}
