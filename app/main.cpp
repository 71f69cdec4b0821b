#include "model/SettingsStore.h"
#include "shell/Deployment.h"
#include "shell/DialogPrompts.h"
#include "shell/frmMain.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvatel"));
    QApplication::setOrganizationName(QStringLiteral("Corvatel"));
    QApplication::setQuitOnLastWindowClosed(false);

    const Deployment deployment = Deployment::fromEnvironment();
    SettingsStore settings;
    DialogPrompts prompts;
    frmMain window(deployment, settings, prompts);
    prompts.setParent(&window);
    window.Form_Load();
    return app.exec();
}
