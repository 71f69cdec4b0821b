#include "base/Deployment.h"
#include "settings/SettingsStore.h"
#include "shell/DataHome.h"
#include "shell/DialogPrompts.h"
#include "shell/ServiceLauncher.h"
#include "shell/frmMain.h"
#include "testing/OpenFiles.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QMessageBox>

#include <cstdio>
#include <cstring>

namespace {

// A command line of nothing but help and version requests: answered on the terminal, so it must
// not need a display.
bool asksOnlyForText(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i) {
        bool text = false;
        for (const char* option : {"-h", "--help", "-v", "--version"})
            text = text || std::strcmp(argv[i], option) == 0;
        if (!text)
            return false;
    }
    return argc > 1;
}

QCommandLineOption describeOptions(QCommandLineParser& parser)
{
    parser.setApplicationDescription(
        QStringLiteral("Finds, tests and manages open proxy servers."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption dataHome(
        QStringLiteral("data-home"),
        QStringLiteral("Work in %1 (created if missing) instead of the current directory.")
            .arg(QDir::toNativeSeparators(DataHome::path())));
    parser.addOption(dataHome);
    return dataHome;
}

} // namespace

int main(int argc, char* argv[])
{
    if (asksOnlyForText(argc, argv)) {
        QCoreApplication app(argc, argv);
        frmMain::setUpIdentity();
        QCommandLineParser parser;
        describeOptions(parser);
        parser.process(app); // prints and ends the program
        return 0;
    }

    // Each proxy tested at once holds a socket; the usual soft limit of 1024 open files would
    // cut a large parallel run short.
    OpenFiles::raiseSoftLimit();
    QApplication app(argc, argv);
    frmMain::setUpApplication();

    QCommandLineParser parser;
    const QCommandLineOption dataHomeOption = describeOptions(parser);
    parser.process(app);

    if (parser.isSet(dataHomeOption)) {
        const Result entered = DataHome::enter();
        if (!entered.ok()) {
            QMessageBox::critical(nullptr, QStringLiteral("Corvatel"), entered.message());
            return 1;
        }
    }

    const Deployment deployment = Deployment::fromEnvironment();
    ServiceLauncher service;
    if (qEnvironmentVariableIsEmpty("CORVATEL_SERVICE_URL")) {
        const Result started = service.ensureBundledRunning(QUrl(deployment.serviceUrl));
        if (!started.ok())
            std::fprintf(stderr, "corvatel: the local service did not start: %s\n",
                         qUtf8Printable(started.message()));
    }

    SettingsStore settings;
    DialogPrompts prompts;
    frmMain window(deployment, settings, prompts);
    prompts.setParent(&window);
    window.Form_Load();
    return app.exec();
}
