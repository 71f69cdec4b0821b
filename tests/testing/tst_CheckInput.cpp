#include "support/WorkFolder.h"
#include "testing/CheckInput.h"
#include "testing/CheckOptions.h"

#include <QBuffer>
#include <QTest>

namespace {

// Two files in the work folder: "a" and "b", and the bytes of standard input.
struct Sources
{
    QByteArray a, b, in;
};

} // namespace

Q_DECLARE_METATYPE(Sources)

class tst_CheckInput : public QObject
{
    Q_OBJECT

private slots:
    // A command line and the inputs it names: either the proxies a run tests (with the notes
    // said on the way), or the one message of bad usage that ends it with status 2.
    void commandLine_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<Sources>("sources");
        QTest::addColumn<QStringList>("proxies");
        QTest::addColumn<QString>("message"); // the error, or the notes joined by "; "

        const QByteArray list = "1.2.3.4:80\r\nhttp://5.6.7.8:3128\rHTTPS://[::1]:8080\n"
                                "1.2.3.4:80\n\n  proxy.example:1080  ";
        const QStringList all{"1.2.3.4:80", "5.6.7.8:3128", "[::1]:8080", "proxy.example:1080"};
        QTest::newRow("stdin, all line ends, prefixes, once each")
            << QStringList{} << Sources{{}, {}, list} << all << "";
        QTest::newRow("files and stdin, duplicates across them")
            << QStringList{"a", "-", "b"} << Sources{"9.9.9.9:1\n", "1.2.3.4:80\n9.9.9.9:1", list}
            << (QStringList{"9.9.9.9:1"} + all) << "";
        QTest::newRow("shard 2/3") << QStringList{"--shard", "2/3"} << Sources{{}, {}, list}
                                   << QStringList{"5.6.7.8:3128"} << "";
        QTest::newRow("shard 1/1 and 5/5") << QStringList{"--shard=4/4"} << Sources{{}, {}, list}
                                           << QStringList{"proxy.example:1080"} << "";
        QTest::newRow("bad lines among good ones are counted")
            << QStringList{"a"}
            << Sources{"x\n1.2.3.4:80\n1.2.3.4:0\n" + QByteArray(5000, 'x') + "\n\x01\x02\n",
                       {},
                       {}}
            << QStringList{"1.2.3.4:80"}
            << "a: 4 lines skipped (the first is line 1): no host:port, binary data or longer "
               "than 4096 bytes";

        const QStringList none;
        QTest::newRow("binary file") << QStringList{"a"}
                                     << Sources{QByteArray("\x7f"
                                                           "ELF\x02\x01\0\0\n\0\0",
                                                           11),
                                                {},
                                                {}}
                                     << none << "a: line 1: binary data, not a text file";
        QTest::newRow("overlong line")
            << QStringList{"b"} << Sources{{}, "\n\n" + QByteArray(70000, '1'), {}} << none
            << "b: line 3: a line longer than 4096 bytes";
        QTest::newRow("no proxy in it") << QStringList{"a"} << Sources{"hello\nworld", {}, {}}
                                        << none << "a: line 1: no host:port in it";
        QTest::newRow("empty stdin")
            << QStringList{} << Sources{} << none << "standard input: no proxy to test";
        QTest::newRow("empty file")
            << QStringList{"a"} << Sources{"\n\r\n", {}, {}} << none << "a: no proxy to test";
        QTest::newRow("missing file") << QStringList{"a", "nothere"} << Sources{"1.1.1.1:1", {}, {}}
                                      << none << "nothere: No such file or directory";
        QTest::newRow("folder") << QStringList{"."} << Sources{} << none
                                << ".: is a folder, not a list of proxies";
        QTest::newRow("unknown option")
            << QStringList{"--fast"} << Sources{} << none << "Unknown option 'fast'.";
        QTest::newRow("missing value") << QStringList{"a", "--timeout"} << Sources{} << none
                                       << "Missing value after '--timeout'.";
        QTest::newRow("unknown format")
            << QStringList{"-f", "xml"} << Sources{} << none << "--format xml: text, csv or jsonl";
        QTest::newRow("parallel 0") << QStringList{"--parallel=0"} << Sources{} << none
                                    << "--parallel 0: a whole number from 1 to 1024";
        QTest::newRow("parallel 1025") << QStringList{"-p", "1025"} << Sources{} << none
                                       << "--parallel 1025: a whole number from 1 to 1024";
        QTest::newRow("timeout 0") << QStringList{"-t", "0"} << Sources{} << none
                                   << "--timeout 0: a whole number of seconds, 1 or more";
        QTest::newRow("max speed nan") << QStringList{"--max-speed", "nan"} << Sources{} << none
                                       << "--max-speed nan: a number of seconds, 0 or more";
        for (const char* shard : {"3/2", "0/2", "1/0", "1/", "a/b", "1/2/3", "-1/2"})
            QTest::newRow(qPrintable(QStringLiteral("shard %1").arg(shard)))
                << QStringList{"--shard", shard} << Sources{} << none
                << QStringLiteral("--shard %1: K/N with 1 <= K <= N, as in 2/4").arg(shard);
        QTest::newRow("store with files") << QStringList{"--store", "a"} << Sources{} << none
                                          << "--store tests the proxies of proxy.lst: name no "
                                             "input files";
    }
    void commandLine()
    {
        QFETCH(QStringList, args);
        QFETCH(Sources, sources);
        QFETCH(QStringList, proxies);
        QFETCH(QString, message);

        WorkFolder folder;
        if (!sources.a.isNull())
            folder.write("a", sources.a);
        if (!sources.b.isNull())
            folder.write("b", sources.b);
        QBuffer in(&sources.in);
        in.open(QIODevice::ReadOnly);

        const CheckOptions::Parsed parsed = CheckOptions::parse(args, CheckOptions::Defaults());
        QString said = parsed.error;
        QStringList read;
        if (parsed.config) {
            QVERIFY(said.isEmpty());
            const CheckInput::Read input = CheckInput::read(parsed.config->inputs, in);
            said = input.error.isEmpty() ? input.notes.join("; ") : input.error;
            QCOMPARE(input.error.isEmpty(), !proxies.isEmpty());
            if (input.error.isEmpty())
                read = CheckInput::shard(input.proxies, parsed.config->shard,
                                         parsed.config->shardCount);
        }
        QCOMPARE(said, message);
        QCOMPARE(read, proxies);
    }

    // --help names the defaults in force; options left out take them.
    void defaults()
    {
        CheckOptions::Defaults d;
        d.timeoutSeconds = 17;
        d.parallel = 33;
        d.userAgent = "Agent/%1";
        const QString help = CheckOptions::helpText(d);
        for (const char* text : {"(now 17)", "(now 33)", "\"Agent/%1\"", "--store-file FILE",
                                 "--user-agent", "--shard K/N", "--max-speed", "--class"})
            QVERIFY2(help.contains(QLatin1String(text)), text);
        const CheckOptions::Parsed parsed =
            CheckOptions::parse({"--detect-type", "-qf", "csv", "--timeout", "5"}, d);
        QVERIFY(parsed.config);
        QCOMPARE(parsed.config->parallel, 33);
        QCOMPARE(parsed.config->timeoutSeconds, 5);
        QVERIFY(parsed.config->detectType && parsed.config->quiet);
        QCOMPARE(parsed.config->format, CheckOptions::Format::Csv);
        QVERIFY(CheckOptions::parse({"x", "--help", "--bad=1"}, d).error.contains("bad"));
        QVERIFY(CheckOptions::parse({"x", "-h"}, d).help);
    }
};

QTEST_GUILESS_MAIN(tst_CheckInput)
#include "tst_CheckInput.moc"
