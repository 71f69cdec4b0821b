// corvatel-service: the reference proxy-list service, for tests, benchmarks and first runs.

#include "service/ReferenceService.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

namespace {

int fail(const QString& message)
{
    std::fprintf(stderr, "corvatel-service: %s\n", qUtf8Printable(message));
    return 1;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("corvatel-service"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Serves the Corvatel proxy list, gate, region and mailing-list pages, "
                       "and answers requests sent to it as an HTTP proxy."));
    parser.addHelpOption();
    const QCommandLineOption portOption(
        QStringLiteral("port"), QStringLiteral("TCP port to listen on, 0 for any free one."),
        QStringLiteral("port"), QStringLiteral("8642"));
    const QCommandLineOption bindOption(QStringLiteral("bind"),
                                        QStringLiteral("Address to listen on."),
                                        QStringLiteral("address"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption listOption(
        QStringLiteral("list"), QStringLiteral("Proxy list served by /ppx.php, one line each."),
        QStringLiteral("file"));
    const QCommandLineOption regionsOption(
        QStringLiteral("regions"),
        QStringLiteral("Locations for /getregion.php: \"address:port<TAB>location\" lines."),
        QStringLiteral("file"));
    const QCommandLineOption mailListOption(
        QStringLiteral("maillist"),
        QStringLiteral("File that /maillist.php appends the addresses to."),
        QStringLiteral("file"));
    parser.addOptions({portOption, bindOption, listOption, regionsOption, mailListOption});
    parser.process(app);
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument %1").arg(parser.positionalArguments()[0]));

    ReferenceService::Options options;
    bool portOk = false;
    const uint port = parser.value(portOption).toUInt(&portOk);
    if (!portOk || port > 65535)
        return fail(QStringLiteral("invalid port %1").arg(parser.value(portOption)));
    options.port = quint16(port);
    const QString bind = parser.value(bindOption);
    if (bind.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        options.bind = QHostAddress::LocalHost;
    else if (!options.bind.setAddress(bind))
        return fail(QStringLiteral("invalid bind address %1").arg(bind));
    options.listFile = parser.value(listOption);
    options.regionsFile = parser.value(regionsOption);
    options.mailListFile = parser.value(mailListOption);

    ReferenceService service;
    if (!service.start(options))
        return fail(service.errorString());
    // Scripts wait for this line to know the service is ready.
    QTextStream(stdout) << service.baseUrl() << Qt::endl;
    return app.exec();
}
