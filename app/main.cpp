#include "model/SettingsStore.h"
#include "shell/DataHome.h"
#include "shell/Deployment.h"
#include "shell/DialogPrompts.h"
#include "shell/ServiceLauncher.h"
#include "shell/frmMain.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QMessageBox>

#include <cstdio>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    frmMain::setUpApplication();

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Finds, tests and manages open proxy servers."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption dataHomeOption(
        QStringLiteral("data-home"),
        QStringLiteral("Work in %1 (created if missing) instead of the current directory.")
            .arg(QDir::toNativeSeparators(DataHome::path())));
    parser.addOption(dataHomeOption);
    parser.process(app);

    if (parser.isSet(dataHomeOption)) {
        QString error;
        if (!DataHome::enter(&error)) {
            QMessageBox::critical(nullptr, QStringLiteral("Corvatel"), error);
            return 1;
        }
    }

    const Deployment deployment = Deployment::fromEnvironment();
    ServiceLauncher service;
    if (qEnvironmentVariableIsEmpty("CORVATEL_SERVICE_URL") &&
        !service.ensureBundledRunning(QUrl(deployment.serviceUrl)))
        std::fprintf(stderr, "corvatel: the local service did not start: %s\n",
                     qUtf8Printable(service.errorString()));

    SettingsStore settings;
    DialogPrompts prompts;
    frmMain window(deployment, settings, prompts);
    prompts.setParent(&window);
    window.Form_Load();
    return app.exec();
}
