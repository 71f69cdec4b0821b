#include "testing/CheckOptions.h"

#include "service/HttpFetcher.h"
#include "settings/SettingsStore.h"
#include "testing/JudgeList.h"

#include <QCommandLineParser>
#include <QRegularExpression>

namespace CheckOptions {

namespace {

const QString FormatNames = QStringLiteral("text, csv or jsonl");

struct Options
{
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")}};
    QCommandLineOption version{{QStringLiteral("V"), QStringLiteral("version")}};
    QCommandLineOption store{QStringLiteral("store")};
    QCommandLineOption storeFile{QStringLiteral("store-file"), QString(), QStringLiteral("FILE")};
    QCommandLineOption timeout{
        {QStringLiteral("t"), QStringLiteral("timeout")}, QString(), QStringLiteral("SECONDS")};
    QCommandLineOption parallel{
        {QStringLiteral("p"), QStringLiteral("parallel")}, QString(), QStringLiteral("N")};
    QCommandLineOption judges{QStringLiteral("judges"), QString(), QStringLiteral("FILE")};
    QCommandLineOption detectType{QStringLiteral("detect-type")};
    QCommandLineOption mmdb{QStringLiteral("mmdb"), QString(), QStringLiteral("FILE")};
    QCommandLineOption userAgent{QStringLiteral("user-agent"), QString(), QStringLiteral("TEXT")};
    QCommandLineOption type{QStringLiteral("type"), QString(), QStringLiteral("TYPE")};
    QCommandLineOption klass{QStringLiteral("class"), QString(), QStringLiteral("CLASS")};
    QCommandLineOption maxSpeed{QStringLiteral("max-speed"), QString(), QStringLiteral("SECONDS")};
    QCommandLineOption format{
        {QStringLiteral("f"), QStringLiteral("format")}, QString(), QStringLiteral("FORMAT")};
    QCommandLineOption quiet{{QStringLiteral("q"), QStringLiteral("quiet")}};
    QCommandLineOption shard{QStringLiteral("shard"), QString(), QStringLiteral("K/N")};

    void addTo(QCommandLineParser& parser) const
    {
        for (const QCommandLineOption* option :
             {&help, &version, &store, &storeFile, &timeout, &parallel, &judges, &detectType, &mmdb,
              &userAgent, &type, &klass, &maxSpeed, &format, &quiet, &shard})
            parser.addOption(*option);
    }
};

QString badValue(const QString& option, const QString& value, const QString& wanted)
{
    return QStringLiteral("--%1 %2: %3").arg(option, value, wanted);
}

} // namespace

Defaults Defaults::fromSettings(const SettingsStore& settings)
{
    Defaults defaults;
    defaults.timeoutSeconds = settings.value(Setting::txtTimeout, 60);
    defaults.parallel = settings.value(Setting::ParallelTests, 1);
    defaults.detectType = settings.value(Setting::DetectType, false);
    defaults.mmdbFile = settings.read(Setting::MmdbFile).trimmed();
    defaults.judgesFile = JudgeList::defaultPath();
    defaults.userAgent = QString::fromLatin1(HttpFetcher::UserAgent);
    return defaults;
}

Parsed parse(const QStringList& args, const Defaults& defaults)
{
    Parsed parsed;
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    const Options o;
    o.addTo(parser);
    if (!parser.parse(QStringList{QStringLiteral("corvatel-check")} + args)) {
        parsed.error = parser.errorText();
        return parsed;
    }
    if (parser.isSet(o.help) || parser.isSet(o.version)) {
        parsed.help = parser.isSet(o.help);
        parsed.version = !parsed.help;
        return parsed;
    }

    Config c;
    c.inputs = parser.positionalArguments();
    c.store = parser.isSet(o.store) || parser.isSet(o.storeFile);
    if (parser.isSet(o.storeFile))
        c.storeFile = parser.value(o.storeFile);
    if (c.store && !c.inputs.isEmpty()) {
        parsed.error =
            QStringLiteral("--store tests the proxies of %1: name no input files").arg(c.storeFile);
        return parsed;
    }
    if (c.storeFile.isEmpty()) {
        parsed.error = QStringLiteral("--store-file: no file named");
        return parsed;
    }

    c.timeoutSeconds = defaults.timeoutSeconds;
    if (parser.isSet(o.timeout)) {
        const std::optional<int> value = Setting::positiveWholeNumber(parser.value(o.timeout));
        if (!value) {
            parsed.error = badValue(QStringLiteral("timeout"), parser.value(o.timeout),
                                    QStringLiteral("a whole number of seconds, 1 or more"));
            return parsed;
        }
        c.timeoutSeconds = *value;
    }
    c.parallel = defaults.parallel;
    if (parser.isSet(o.parallel)) {
        const std::optional<int> value = Setting::parallelCount(parser.value(o.parallel));
        if (!value) {
            parsed.error = badValue(
                QStringLiteral("parallel"), parser.value(o.parallel),
                QStringLiteral("a whole number from 1 to %1").arg(Setting::MaxParallelTests));
            return parsed;
        }
        c.parallel = *value;
    }
    c.detectType = defaults.detectType || parser.isSet(o.detectType);
    c.mmdbFile = parser.isSet(o.mmdb) ? parser.value(o.mmdb) : defaults.mmdbFile;
    c.judgesFile = parser.isSet(o.judges) ? parser.value(o.judges) : defaults.judgesFile;
    c.userAgent = parser.isSet(o.userAgent) ? parser.value(o.userAgent) : defaults.userAgent;
    static const QRegularExpression controls(QStringLiteral("[\\x00-\\x1F\\x7F]"));
    if (c.userAgent.contains(controls)) {
        parsed.error = QStringLiteral("--user-agent: no control characters, please");
        return parsed;
    }

    c.type = parser.value(o.type);
    c.klass = parser.value(o.klass);
    if (parser.isSet(o.maxSpeed)) {
        bool ok = false;
        const double value = parser.value(o.maxSpeed).toDouble(&ok);
        if (!ok || !(value >= 0) || value > 1e9) {
            parsed.error = badValue(QStringLiteral("max-speed"), parser.value(o.maxSpeed),
                                    QStringLiteral("a number of seconds, 0 or more"));
            return parsed;
        }
        c.maxSpeed = value;
    }

    if (parser.isSet(o.format)) {
        const QString name = parser.value(o.format);
        if (name == u"text")
            c.format = Format::Text;
        else if (name == u"csv")
            c.format = Format::Csv;
        else if (name == u"jsonl")
            c.format = Format::JsonLines;
        else {
            parsed.error = badValue(QStringLiteral("format"), name, FormatNames);
            return parsed;
        }
    }
    c.quiet = parser.isSet(o.quiet);

    if (parser.isSet(o.shard)) {
        static const QRegularExpression shard(QStringLiteral("^([0-9]{1,9})/([0-9]{1,9})$"));
        const QRegularExpressionMatch match = shard.match(parser.value(o.shard));
        const int k = match.hasMatch() ? match.captured(1).toInt() : 0;
        const int n = match.hasMatch() ? match.captured(2).toInt() : 0;
        if (k < 1 || k > n) {
            parsed.error = badValue(QStringLiteral("shard"), parser.value(o.shard),
                                    QStringLiteral("K/N with 1 <= K <= N, as in 2/4"));
            return parsed;
        }
        c.shard = k;
        c.shardCount = n;
    }
    parsed.config = std::move(c);
    return parsed;
}

QString helpText(const Defaults& d)
{
    const QString none = QStringLiteral("none");
    return QStringLiteral(
               "Usage: corvatel-check [OPTION]... [FILE]...\n"
               "Tests the proxies (host:port, one a line) listed in the FILEs, or on standard\n"
               "input without FILEs or with \"-\", and writes what it finds to standard output.\n"
               "A leading http:// or https:// is dropped; other lines are skipped and counted.\n"
               "Each proxy is tested once. Defaults come from Corvatel.conf, as the window's.\n"
               "\n"
               "      --store              test the proxies of proxy.lst in the current folder\n"
               "                           and write the results into it\n"
               "      --store-file FILE    the same with FILE instead of proxy.lst\n"
               "  -t, --timeout SECONDS    time-out of one test (now %1)\n"
               "  -p, --parallel N         tests at once, 1 to %2 (now %3)\n"
               "      --judges FILE        the judges' URLs, one a line; without any, the\n"
               "                           service's gate page (now %4)\n"
               "      --detect-type        find the type of each proxy: HTTP, SOCKS5, SOCKS4\n"
               "                           (now %5)\n"
               "      --mmdb FILE          MaxMind-format database of locations (now %6)\n"
               "      --user-agent TEXT    the User-Agent of every request\n"
               "                           (now \"%7\")\n"
               "      --type TYPE          list only proxies of this type (HTTP, HTTPS, SOCKS4,\n"
               "                           SOCKS4A, SOCKS5)\n"
               "      --class CLASS        list only this class: elite, anonymous, transparent\n"
               "      --max-speed SECONDS  list only proxies that answered within SECONDS\n"
               "  -f, --format FORMAT      text: address:port of each working proxy (default);\n"
               "                           csv: a header, then every tested proxy, every column;\n"
               "                           jsonl: one JSON object a tested proxy, with the exit\n"
               "                           address and the judge\n"
               "  -q, --quiet              no progress line and no notes on standard error\n"
               "      --shard K/N          test every N-th proxy of the input, from the K-th\n"
               "  -h, --help               this text\n"
               "  -V, --version            the version\n"
               "\n"
               "Exit status: 0 when at least one proxy works, 1 when none does, 2 for bad usage\n"
               "or unreadable input. Ctrl+C stops: tests in flight are dropped, what is done is\n"
               "written.\n")
        .arg(d.timeoutSeconds)
        .arg(Setting::MaxParallelTests)
        .arg(d.parallel)
        .arg(d.judgesFile.isEmpty() ? none : d.judgesFile,
             d.detectType ? QStringLiteral("on") : QStringLiteral("off"),
             d.mmdbFile.isEmpty() ? none : d.mmdbFile, d.userAgent);
}

QString classText(const QString& filter)
{
    const QString name = filter.trimmed().toLower();
    if (name == u"elite")
        return QStringLiteral("High anonymous / Elite proxy");
    if (name == u"anonymous")
        return QStringLiteral("Anonymous proxy");
    if (name == u"transparent")
        return QStringLiteral("Transparent proxy");
    return filter;
}

} // namespace CheckOptions
