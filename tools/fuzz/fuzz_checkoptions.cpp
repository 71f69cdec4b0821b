// corvatel-check's command line: arguments are the input split at NUL bytes. Whatever they are,
// the parser either refuses them with a message or gives a configuration within its bounds.
#include "FuzzCheck.h"

#include "settings/SettingKeys.h"
#include "testing/CheckOptions.h"

#include <QStringList>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    QStringList args;
    for (const QByteArray& arg : bytes.split('\0'))
        args.append(QString::fromUtf8(arg));
    const CheckOptions::Parsed parsed = CheckOptions::parse(args, CheckOptions::Defaults());
    const int outcomes = int(parsed.config.has_value()) + int(!parsed.error.isEmpty()) +
                         int(parsed.help) + int(parsed.version);
    FUZZ_CHECK(outcomes == 1);
    if (!parsed.config)
        return 0;
    const CheckOptions::Config& c = *parsed.config;
    FUZZ_CHECK(c.timeoutSeconds >= 1);
    FUZZ_CHECK(c.parallel >= 1 && c.parallel <= Setting::MaxParallelTests);
    FUZZ_CHECK(c.shard >= 1 && c.shard <= c.shardCount);
    FUZZ_CHECK(!c.maxSpeed || *c.maxSpeed >= 0);
    FUZZ_CHECK(!c.storeFile.isEmpty());
    FUZZ_CHECK(!c.store || c.inputs.isEmpty());
    for (const QChar ch : c.userAgent)
        FUZZ_CHECK(ch.unicode() >= 0x20 && ch.unicode() != 0x7F);
    return 0;
}
