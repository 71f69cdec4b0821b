// corvatel-check: the tester without a window. Reads proxies from files or standard input (or
// proxy.lst with --store), tests them with the window's engine and writes what it finds to
// standard output.
#include "base/Deployment.h"
#include "settings/SettingsStore.h"
#include "testing/CheckInput.h"
#include "testing/CheckOptions.h"
#include "testing/CheckRun.h"
#include "testing/OpenFiles.h"
#include "version.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    // Nothing to do when it fails: the pipe is full, so a stop is on its way already.
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

int usageError(const QString& message)
{
    std::fprintf(stderr, "corvatel-check: %s\nTry 'corvatel-check --help'.\n",
                 qUtf8Printable(message));
    return 2;
}

int inputError(const QString& message)
{
    std::fprintf(stderr, "corvatel-check: %s\n", qUtf8Printable(message));
    return 2;
}

// A file an option names must be there to be read.
QString unreadable(const QString& option, const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("--%1 %2: no such file").arg(option, path);
    if (!info.isFile() || !info.isReadable())
        return QStringLiteral("--%1 %2: not a readable file").arg(option, path);
    return QString();
}

} // namespace

int main(int argc, char* argv[])
{
    OpenFiles::raiseSoftLimit();
    QCoreApplication app(argc, argv);
    // The name a window waiting for proxy.lst's lock is shown.
    QCoreApplication::setApplicationName(QStringLiteral("corvatel-check"));
    QCoreApplication::setOrganizationName(QStringLiteral("Corvatel"));
    // A reader that went away shows as EPIPE on the next write, which ends the run.
    std::signal(SIGPIPE, SIG_IGN);

    const CheckOptions::Defaults defaults = CheckOptions::Defaults::fromSettings(SettingsStore());
    const CheckOptions::Parsed parsed =
        CheckOptions::parse(QCoreApplication::arguments().mid(1), defaults);
    if (parsed.help) {
        std::fputs(qUtf8Printable(CheckOptions::helpText(defaults)), stdout);
        return 0;
    }
    if (parsed.version) {
        std::printf("corvatel-check %d.%d.%d\n", CORVATEL_VERSION_MAJOR, CORVATEL_VERSION_MINOR,
                    CORVATEL_VERSION_REVISION);
        return 0;
    }
    if (!parsed.config)
        return usageError(parsed.error);
    const CheckOptions::Config& config = *parsed.config;
    if (config.judgesFile != defaults.judgesFile) {
        const QString why = unreadable(QStringLiteral("judges"), config.judgesFile);
        if (!why.isEmpty())
            return inputError(why);
    }
    if (config.mmdbFile != defaults.mmdbFile) {
        const QString why = unreadable(QStringLiteral("mmdb"), config.mmdbFile);
        if (!why.isEmpty())
            return inputError(why);
    }
    if (!config.store && config.inputs.isEmpty() && ::isatty(STDIN_FILENO))
        return usageError(QStringLiteral("no proxies: name files, pipe a list in or use --store"));

    CheckRun run(config, Deployment::fromEnvironment().serviceUrl, STDOUT_FILENO, STDERR_FILENO,
                 ::isatty(STDERR_FILENO) == 1);
    if (config.store) {
        const Result loaded = run.loadStore();
        if (!loaded.ok())
            return inputError(loaded.message());
    } else {
        QFile in;
        in.open(stdin, QIODevice::ReadOnly);
        const CheckInput::Read input = CheckInput::read(config.inputs, in);
        if (!input.error.isEmpty())
            return inputError(input.error);
        for (const QString& note : input.notes)
            run.say(note);
        run.setProxies(CheckInput::shard(input.proxies, config.shard, config.shardCount));
    }
    if (run.proxyCount() == 0) {
        run.say(
            QStringLiteral("Shard %1/%2 holds no proxy.").arg(config.shard).arg(config.shardCount));
        return 1;
    }

    // Ctrl+C and SIGTERM stop the run at the next turn of the event loop; a second one ends
    // the program at once.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalPipe) != 0)
        return inputError(QStringLiteral("cannot watch for Ctrl+C"));
    QSocketNotifier notifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &run, [&run] {
        char bytes[16];
        while (::read(signalPipe[0], bytes, sizeof bytes) > 0) {
        }
        std::signal(SIGINT, SIG_DFL);
        std::signal(SIGTERM, SIG_DFL);
        run.stop();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    return run.run();
}
