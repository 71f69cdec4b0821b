// The built corvatel-check against real proxies on loopback, the reference service as judge.
#include "model/ImportedListStore.h"
#include "model/ProxyTableModel.h"
#include "service/ReferenceService.h"
#include "support/FakeWindowHost.h"
#include "support/RealProxies.h"
#include "support/ScriptedPrompts.h"
#include "support/TestServers.h"
#include "support/WorkFolder.h"
#include "views/ImportedListEditor.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <csignal>

namespace {

QString program()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/corvatel-check");
}

struct Outcome
{
    int code = -1;
    QStringList out; // lines
    QString err;
    qint64 ms = 0;
};

} // namespace

class tst_CheckCommand : public QObject
{
    Q_OBJECT

    // Runs the program in the work folder with input on its standard input; the test's event
    // loop keeps serving the judge meanwhile. afterLines(process, lines) may act on the output
    // seen so far. With throughHead the output goes through "head -n 1", and the exit status is
    // the program's.
    Outcome check(const QStringList& args, const QByteArray& input,
                  const std::function<void(QProcess&, int)>& afterLines = {},
                  bool throughHead = false)
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("CORVATEL_SERVICE_URL", m_serviceUrl);
        env.insert("XDG_CONFIG_HOME", m_folder.filePath("config"));
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(m_folder.path());
        QElapsedTimer clock;
        clock.start();
        if (throughHead)
            process.start(
                "bash",
                QStringList{"-c", "set -o pipefail; \"$0\" \"$@\" | head -n 1", program()} + args);
        else
            process.start(program(), args);
        process.write(input);
        process.closeWriteChannel();
        QByteArray out;
        QSignalSpy finished(&process, &QProcess::finished);
        while (finished.isEmpty() && clock.elapsed() < 60000) {
            finished.wait(50);
            out += process.readAllStandardOutput();
            if (afterLines)
                afterLines(process, int(out.count('\n')));
        }
        if (finished.isEmpty()) {
            process.kill();
            process.waitForFinished();
        }
        out += process.readAllStandardOutput();
        Outcome outcome;
        outcome.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        outcome.out = QString::fromUtf8(out).split(u'\n', Qt::SkipEmptyParts);
        outcome.err = QString::fromUtf8(process.readAllStandardError());
        outcome.ms = clock.elapsed();
        return outcome;
    }

private slots:
    void initTestCase()
    {
        using Kind = RealProxy::Kind;
        const std::tuple<QString, Kind, QStringList> servers[] = {
            {"via", Kind::Tinyproxy, {}},
            {"quiet", Kind::Tinyproxy, {"DisableViaHeader Yes"}},
            {"socks", Kind::Microsocks, {}}};
        for (const auto& [name, kind, extra] : servers) {
            auto proxy = std::make_unique<RealProxy>(kind);
            const QString failure = proxy->start(extra);
            QVERIFY2(failure.isEmpty(), qPrintable(name + ": " + failure));
            m_proxy.insert(name, proxy->address());
            m_proxies.push_back(std::move(proxy));
        }
        m_proxy.insert("dead", QStringLiteral("127.0.0.1:%1").arg(closedLoopbackPort()));
        m_proxy.insert("hang", QStringLiteral("127.0.0.1:%1").arg(m_hanging.serverPort()));
        QVERIFY2(m_service.start({}), qPrintable(m_service.errorString()));
        m_serviceUrl = QStringLiteral("http://127.0.0.1:%1").arg(m_service.port());
    }

    // Each format lists what it should of the same four proxies, tested one at a time in input
    // order: text the working ones, CSV and JSON lines every one with its columns.
    void formats_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QStringList>("expected"); // proxy, or proxy|active|type|class[|exit|judge]
        QTest::addColumn<int>("code");

        const QString elite = "High anonymous / Elite proxy";
        const QString judge = "127.0.0.1|" + m_serviceUrl + "/gate.php";
        QTest::newRow("text") << QStringList{} << QStringList{"via", "quiet"} << 0;
        QTest::newRow("csv") << QStringList{"--format", "csv"}
                             << QStringList{"via|Y||Anonymous proxy", "quiet|Y||" + elite,
                                            "socks|N||", "dead|N||"}
                             << 0;
        QTest::newRow("jsonl, types found")
            << QStringList{"-f", "jsonl", "--detect-type"}
            << QStringList{"via|Y|HTTP|Anonymous proxy|" + judge,
                           "quiet|Y|HTTP|" + elite + "|" + judge,
                           "socks|Y|SOCKS5|" + elite + "|" + judge,
                           "dead|N||||" + m_serviceUrl + "/gate.php"}
            << 0;
        QTest::newRow("class filter")
            << QStringList{"--class", "elite"} << QStringList{"quiet"} << 0;
        QTest::newRow("type filter") << QStringList{"--type=socks5", "--detect-type", "-f", "csv"}
                                     << QStringList{"socks|Y|SOCKS5|" + elite} << 0;
        QTest::newRow("none works") << QStringList{"--shard", "4/4"} << QStringList{} << 1;
    }
    void formats()
    {
        QFETCH(QStringList, args);
        QFETCH(QStringList, expected);
        QFETCH(int, code);

        QByteArray input;
        for (const char* name : {"via", "quiet", "socks", "dead"})
            input += "http://" + m_proxy.value(name).toUtf8() + "\r\n";
        const Outcome run = check(args + QStringList{"-t", "10", "-p", "1"}, input);
        QCOMPARE(run.code, code);
        QStringList lines = run.out;
        const bool csv = args.contains("csv");
        if (csv) {
            QCOMPARE(lines.value(0), "Active,Proxy,Speed,Reliable,Tested,Type,Cookies,Get,Refer,"
                                     "Post,SSL,Location,Class");
            lines.removeFirst();
        }
        QStringList seen;
        for (const QString& line : lines) {
            QStringList f;
            if (csv) {
                const QStringList c = line.split(u',');
                QCOMPARE(c.size(), 13);
                f = QStringList{c[1], c[0], c[5], c[12]};
            } else if (line.startsWith(u'{')) {
                const QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object();
                QCOMPARE(o.size(), 15);
                f = QStringList{o["proxy"].toString(), o["active"].toString(),
                                o["type"].toString(),  o["class"].toString(),
                                o["exit"].toString(),  o["judge"].toString()};
            } else {
                f = QStringList{line};
            }
            f[0] = m_proxy.key(f[0], f[0]);
            seen << f.join(u'|');
        }
        QCOMPARE(seen, expected);
    }

    // Ctrl+C, or a reader that goes away, ends the run at once: the tests still waiting on a
    // proxy that never answers are dropped, what ended before is kept.
    void stops_data()
    {
        QTest::addColumn<bool>("closeOutput");
        QTest::addColumn<bool>("store");
        QTest::newRow("SIGINT") << false << false;
        QTest::newRow("closed output") << true << false;
        // The two quick results are saved, the second after the Stop; the cut test writes nothing.
        QTest::newRow("SIGINT, --store") << false << true;
    }
    void stops()
    {
        QFETCH(bool, closeOutput);
        QFETCH(bool, store);
        const QString dead2 = QString(m_proxy["dead"]).replace("127.0.0.1", "127.0.0.2");
        const QStringList proxies = store ? QStringList{m_proxy["dead"], dead2, m_proxy["hang"]}
                                          : QStringList{m_proxy["dead"], m_proxy["hang"]};
        QByteArray input;
        for (const QString& proxy : proxies)
            input += (store ? ProxyRow::newImportedRowText(proxy) : proxy).toUtf8() + "\n";
        if (store)
            m_folder.write("proxy.lst", input);
        const int before = store ? 2 : 1;
        bool acted = false;
        const Outcome run = check(
            QStringList{"-f", "jsonl", "-t", "50", "-p", store ? "3" : "1"} +
                (store ? QStringList{"--store"} : QStringList{}),
            store ? QByteArray() : input,
            [&](QProcess& p, int lines) {
                if (lines >= before && !acted && !closeOutput) {
                    acted = true;
                    ::kill(pid_t(p.processId()), SIGINT);
                }
            },
            closeOutput);
        QVERIFY2(run.ms < 20000, qPrintable(QString::number(run.ms)));
        QCOMPARE(run.code, 1);
        QCOMPARE(run.out.size(), closeOutput ? 1 : before);
        QCOMPARE(run.err.contains("Stopped"), !closeOutput);
        if (store) {
            const QList<QByteArray> saved = m_folder.read("proxy.lst").split('\n');
            QCOMPARE(saved.size(), 4);
            QVERIFY(saved[0].startsWith("N|") && saved[1].startsWith("N|"));
            QCOMPARE(QString::fromUtf8(saved[2]), ProxyRow::newImportedRowText(m_proxy["hang"]));
        }
    }

    // --store beside a window working on the same proxy.lst: a paste in the window, saved while
    // corvatel-check runs or after it ended, and the results corvatel-check writes all survive.
    void besideTheWindow_data()
    {
        QTest::addColumn<bool>("during");
        QTest::newRow("window saves during the run") << true;
        QTest::newRow("window saves after it") << false;
    }
    void besideTheWindow()
    {
        QFETCH(bool, during);
        const QStringList listed{"via", "dead", "hang"};
        QByteArray file;
        for (const QString& name : listed)
            file += ProxyRow::newImportedRowText(m_proxy[name]).toUtf8() + "\n";
        const QString path = m_folder.write("proxy.lst", file);
        QCOMPARE(path, ImportedListStore::defaultPath());

        ImportedListStore store;
        QVERIFY(store.loadFromFile(path).ok());
        ProxyTableModel rows;
        FakeWindowHost host;
        ScriptedPrompts prompts;
        ImportedListEditor editor(rows, store, host, prompts);
        const QString pasted = "10.9.8.7:3128";
        int pastes = 0;
        const auto paste = [&] { pastes += editor.pasteProxies(pasted); };

        const Outcome run =
            check({"--store", "-f", "jsonl", "-p", "3", "-t", "3"}, {}, [&](QProcess&, int lines) {
                if (during && lines >= 1 && pastes == 0)
                    paste();
            });
        QCOMPARE(run.code, 0);
        QCOMPARE(run.out.size(), 3);
        if (!during)
            paste();
        QCOMPARE(pastes, 1);

        QStringList states;
        for (const QString& line :
             QString::fromUtf8(m_folder.read("proxy.lst")).split(u'\n', Qt::SkipEmptyParts))
            states << m_proxy.key(ProxyRow::proxyField(line).toString(), pasted) + u' ' +
                          line.front();
        QCOMPARE(states, (QStringList{"via Y", "dead N", "hang N", pasted + " ?"}));
    }

    // Bad usage ends with status 2 and one message, before anything is tested; the program needs
    // no display and links no Qt Gui.
    void usage()
    {
        const Outcome missing = check({"nothere.txt"}, {});
        QCOMPARE(missing.code, 2);
        QCOMPARE(missing.err, "corvatel-check: nothere.txt: No such file or directory\n");
        QCOMPARE(check({"--parallel", "2000"}, "1.2.3.4:5\n").code, 2);
        const Outcome emptyShard = check({"--shard", "2/2"}, "1.2.3.4:5\n");
        QCOMPARE(emptyShard.code, 1);
        QCOMPARE(emptyShard.err, "Shard 2/2 holds no proxy.\n");
        QProcess ldd;
        ldd.start("ldd", {program()});
        QVERIFY(ldd.waitForFinished());
        const QByteArray libraries = ldd.readAllStandardOutput();
        QVERIFY(libraries.contains("libQt6Core"));
        QVERIFY2(!libraries.contains("libQt6Gui") && !libraries.contains("libQt6Widgets"),
                 libraries.constData());
    }

private:
    WorkFolder m_folder;
    std::vector<std::unique_ptr<RealProxy>> m_proxies;
    QHash<QString, QString> m_proxy;
    HangingServer m_hanging;
    ReferenceService m_service;
    QString m_serviceUrl;
};

QTEST_GUILESS_MAIN(tst_CheckCommand)
#include "tst_CheckCommand.moc"
