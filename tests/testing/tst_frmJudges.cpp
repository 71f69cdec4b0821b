#include "service/ReferenceService.h"
#include "settings/SettingsStore.h"
#include "settings/frmSetup.h"
#include "support/LayoutCheck.h"
#include "support/MainWindowFixture.h"
#include "support/ScriptedPrompts.h"
#include "support/TestServers.h"
#include "support/WindowControls.h"
#include "support/WorkFolder.h"
#include "testing/frmJudges.h"

#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <memory>

namespace {

const QString Judges = QStringLiteral("judges.lst");

} // namespace

class tst_frmJudges : public QObject
{
    Q_OBJECT

    ReferenceService m_service;

private slots:
    void initTestCase() { QVERIFY2(m_service.start({}), qPrintable(m_service.errorString())); }

    void editing_data()
    {
        QTest::addColumn<QByteArray>("file"); // null: none
        QTest::addColumn<QString>("action");  // "add" or "remove"
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<QByteArray>("saved"); // null: none
        QTest::addColumn<QString>("said");     // what a box said last, a part of it
        QTest::addColumn<QString>("status");   // the note below the list, a part of it

        const auto row = [](const char* name, const QByteArray& file, const char* action,
                            const QStringList& answers, const QList<int>& selected,
                            const QByteArray& saved, const char* said, const char* status = "") {
            QTest::newRow(name) << file << QString(action) << answers << selected << saved
                                << QString(said) << QString(status);
        };
        const QByteArray two = "http://a.example/\nhttps://b.example:8443/e?x=1\n";
        row("add a good URL, no file yet", {}, "add", {" http://j.example/gate.php "}, {},
            "http://j.example/gate.php\n", "Add Judge");
        row("add a bad URL", two, "add", {"ftp://j.example/"}, {}, two,
            "\"ftp://j.example/\" is no http(s) URL; it was not added.");
        row("add cancelled", {}, "add", {}, {}, {}, "Add Judge", "No judges");
        row("add one listed already", two, "add", {"http://a.example/"}, {}, two, "listed already");
        row("remove the selected", two + "http://c.example/\n", "remove", {}, {0, 2},
            "https://b.example:8443/e?x=1\n", "");
        row("remove the last one", "http://a.example/\n", "remove", {}, {0}, "", "", "No judges");
        row("lines that are no URL named, dropped at the next change",
            "ftp://x/\nhttp://a.example/\n", "add", {"http://b.example/"}, {},
            "http://a.example/\nhttp://b.example/\n", "Add Judge",
            "judges.lst line 1 is no http(s) URL: ftp://x/");
    }

    void editing()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, action);
        QFETCH(QStringList, answers);
        QFETCH(QList<int>, selected);
        QFETCH(QByteArray, saved);
        QFETCH(QString, said);
        QFETCH(QString, status);

        WorkFolder folder;
        if (!file.isNull())
            folder.write(Judges, file);
        ScriptedPrompts prompts;
        prompts.answers.append(answers);
        frmJudges dialog(prompts);
        dialog.Form_Load();
        const QString loadedNote = dialog.lblStatus->text();
        for (int row : selected)
            dialog.lstJudges->topLevelItem(row)->setSelected(true);

        QTest::mouseClick(action == QLatin1String("add") ? dialog.cmdAdd : dialog.cmdRemove,
                          Qt::LeftButton);
        QCOMPARE(folder.read(Judges, QByteArray()), saved.isNull() ? QByteArray() : saved);
        QCOMPARE(QFile::exists(folder.filePath(Judges)), !saved.isNull());
        QCOMPARE(dialog.urls().join(u'\n').toUtf8(), saved.trimmed());
        QVERIFY2(said.isEmpty() ? prompts.asked.isEmpty()
                                : !prompts.asked.isEmpty() && prompts.asked.last().contains(said),
                 qPrintable(prompts.asked.join(u'\n')));
        QVERIFY2(status.isEmpty() ? true : (loadedNote + dialog.lblStatus->text()).contains(status),
                 qPrintable(loadedNote));
        QCOMPARE(dialog.cmdRemove->isEnabled(), false); // nothing selected any more
    }

    void saveFailureShown()
    {
        WorkFolder folder;
        QDir(folder.path()).mkdir(Judges); // a folder cannot be replaced by the file
        ScriptedPrompts prompts;
        prompts.answers << QStringLiteral("http://j.example/");
        frmJudges dialog(prompts);
        dialog.Form_Load();
        dialog.cmdAdd_Click();
        QVERIFY2(prompts.asked.last().startsWith(QLatin1String("Judges: Could not save")),
                 qPrintable(prompts.asked.join(u'\n')));
        QVERIFY(dialog.lblStatus->text().contains(QLatin1String("Could not save")));
    }

    void checkNow_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("state");

        const QString service = m_service.baseUrl();
        QTest::newRow("the service's gate") << service + "/gate.php?a=1"
                                            << "works (sees you as 127.0.0.1)";
        QTest::newRow("the service's JSON echo") << service + "/get"
                                                 << "works (sees you as 127.0.0.1)";
        QTest::newRow("no echo page") << service + "/"
                                      << "the judge's answer is no CGI or JSON echo";
        QTest::newRow("status 404") << service + "/nothing"
                                    << "answered with status 404";
        const int closed = closedLoopbackPort();
        QTest::newRow("closed port")
            << QStringLiteral("http://127.0.0.1:%1/gate.php").arg(closed)
            << QStringLiteral("Failed to connect to 127.0.0.1 port %1 ").arg(closed);
    }

    // Each judge is fetched directly with a fresh token; the window stays responsive meanwhile.
    void checkNow()
    {
        QFETCH(QString, url);
        QFETCH(QString, state);

        WorkFolder folder;
        folder.write(Judges, url.toUtf8() + '\n');
        ScriptedPrompts prompts;
        frmJudges dialog(prompts);
        dialog.Form_Load();
        QTest::mouseClick(dialog.cmdCheck, Qt::LeftButton);
        QVERIFY(dialog.isChecking() && !dialog.cmdCheck->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(!dialog.isChecking(), 20000);
        // The state as far as it is known before the run (a time taken may follow).
        const QString shown = dialog.lstJudges->topLevelItem(0)->text(frmJudges::StateColumn);
        QVERIFY2(shown.startsWith(state), qPrintable(shown));
        QVERIFY(dialog.cmdCheck->isEnabled());
        QCOMPARE(folder.read(Judges), url.toUtf8() + '\n');
        QVERIFY(prompts.asked.isEmpty());
    }

    // Closing, removing and destroying while the judges hang drop their checks, without a call
    // into what is gone.
    void checksInFlight()
    {
        HangingServer hanging;
        WorkFolder folder;
        folder.write(Judges, (hanging.url() + "a\n" + hanging.url() + "b\n").toUtf8());
        ScriptedPrompts prompts;
        auto dialog = std::make_unique<frmJudges>(prompts);
        dialog->Form_Load();
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
        QCOMPARE(overlappingControls(*dialog), QString());

        dialog->cmdCheck_Click();
        QTRY_COMPARE(hanging.requests().size(), 2);
        dialog->lstJudges->topLevelItem(0)->setSelected(true);
        dialog->cmdRemove_Click();
        QVERIFY(dialog->isChecking());
        dialog->cmdClose->click();
        QVERIFY(!dialog->isVisible() && !dialog->isChecking());
        QCOMPARE(dialog->lstJudges->topLevelItem(0)->text(frmJudges::StateColumn), QString());

        dialog->cmdCheck_Click();
        QTRY_COMPARE(hanging.requests().size(), 3);
        dialog.reset();
        QTest::qWait(50); // whatever the fetches still had queued runs now
        QCOMPARE(folder.read(Judges), (hanging.url() + "b\n").toUtf8());
    }

    void openedFromSetupAndToolsMenu()
    {
        MainWindowFixture fixture;
        frmMain& window = fixture.create();
        QVERIFY(ui::menuTools(window)->actions().contains(ui::menuJudges(window)));
        QString title;
        fixture.runDialog = [&title](QDialog& dialog) {
            title = dialog.windowTitle();
            return 0;
        };
        ui::menuJudges(window)->trigger();
        QCOMPARE(fixture.dialogs, QStringList{QStringLiteral("frmJudges")});
        QCOMPARE(title, QStringLiteral("Judges"));

        fixture.dialogs.clear();
        fixture.runDialog = [](QDialog& dialog) {
            if (auto* setup = qobject_cast<frmSetup*>(&dialog))
                setup->cmdJudges->click();
            return 0;
        };
        ui::menuSetup(window)->trigger();
        QCOMPARE(fixture.dialogs, (QStringList{"frmSetup", "frmJudges"}));
    }
};

QTEST_MAIN(tst_frmJudges)
#include "tst_frmJudges.moc"
