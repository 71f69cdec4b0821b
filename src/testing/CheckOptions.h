#pragma once

#include <QString>
#include <QStringList>

#include <optional>

class SettingsStore;

// The command line of corvatel-check, the tester without a window. parse() is a pure function of
// the arguments and the defaults, so that it can be tested and fuzzed on its own.
namespace CheckOptions {

enum class Format { Text, Csv, JsonLines };

// What the settings give when an option is not named.
struct Defaults
{
    int timeoutSeconds = 60;
    int parallel = 1;
    bool detectType = false;
    QString mmdbFile;   // "" for none: the service's region page gives locations
    QString judgesFile; // judges.lst in the current folder
    QString userAgent;

    // The defaults Corvatel.conf holds; its absent or unreadable values read as the window's own
    // defaults.
    static Defaults fromSettings(const SettingsStore& settings);
};

struct Config
{
    QStringList inputs; // files, "-" for standard input; empty: standard input
    bool store = false; // test proxy.lst (storeFile) and write the results into it
    QString storeFile = QStringLiteral("proxy.lst");

    int timeoutSeconds = 60;
    int parallel = 1;
    bool detectType = false;
    QString mmdbFile;
    QString judgesFile;
    QString userAgent;

    // Filters of the output; "" or nullopt lets every row through.
    QString type;  // the Type cell, case ignored; an empty cell counts as HTTP
    QString klass; // "elite", "anonymous", "transparent" or a Class text, case ignored
    std::optional<double> maxSpeed; // working proxies at most this many seconds

    Format format = Format::Text;
    bool quiet = false;
    int shard = 1; // this run tests every shardCount-th proxy, starting at the shard-th
    int shardCount = 1;
};

struct Parsed
{
    std::optional<Config> config; // nothing when the run should not start
    QString error;                // bad usage: one line saying what is wrong
    bool help = false;
    bool version = false;
};

// args without the program's name.
Parsed parse(const QStringList& args, const Defaults& defaults);

// The --help text, with the defaults in force.
QString helpText(const Defaults& defaults);

// The Class text the --class filter compares with: "elite" stands for "High anonymous / Elite
// proxy" and so on; any other text is taken as it is.
QString classText(const QString& filter);

} // namespace CheckOptions
