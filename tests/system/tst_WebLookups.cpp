// The addresses the look-up commands hand to the browser, from the window's menus and pictures
// down to the opener, and the failure message.
#include "shell/frmAbout.h"
#include "support/MainWindowFixture.h"
#include "support/WindowControls.h"
#include "system/WebLookups.h"
#include "views/ProxyGrid.h"

#include <QAction>
#include <QCursor>
#include <QGuiApplication>
#include <QLabel>
#include <QTest>
#include <QToolButton>

class tst_WebLookups final : public QObject
{
    Q_OBJECT

private slots:
    // Each command as the user triggers it, with the given Proxy cell in the current row.
    void windowCommands_data()
    {
        // clang-format off
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("proxy");
        QTest::addColumn<QString>("opened");

        QTest::newRow("Support") << "menuSupport" << "" << "http://maker.test/support.php";
        QTest::newRow("What is my IP") << "menuWHATIP" << "" << "http://echo.test/";
        QTest::newRow("Facebook") << "picFB" << "" << "http://facebook.test/maker";
        QTest::newRow("Twitter") << "picTWITTER" << "" << "http://twitter.test/maker?lang=en";
        QTest::newRow("info") << "menuGetINFO" << "10.0.0.1:80" << "http://info.test/ip/10.0.0.1";
        QTest::newRow("info, first colon") << "menuGetINFO" << "1.2.3.4:80:81"
                                           << "http://info.test/ip/1.2.3.4";
        QTest::newRow("info, imported with its scheme")
            << "menuGetINFO" << "http://5.6.7.8:3128" << "http://info.test/ip/5.6.7.8";
        QTest::newRow("info, cell stays in the path")
            << "menuGetINFO" << "1.2/../x?y#z:80" << "http://info.test/ip/1.2%2F..%2Fx%3Fy%23z";
        // clang-format on
    }

    void windowCommands()
    {
        QFETCH(QString, control);
        QFETCH(QString, proxy);
        QFETCH(QString, opened);

        MainWindowFixture f;
        f.deployment.siteUrl = QStringLiteral("http://maker.test/");
        f.deployment.whatIpUrl = QStringLiteral("http://echo.test");
        f.deployment.ipInfoUrl = QStringLiteral("http://info.test/");
        f.deployment.facebookUrl = QStringLiteral("http://facebook.test/maker");
        f.deployment.twitterUrl = QStringLiteral("http://twitter.test/maker?lang=en");
        f.store->write(QStringLiteral("EMR"), QStringLiteral("2"));
        f.store->write(QStringLiteral("LastTab"), QStringLiteral("2"));
        frmMain& w = f.create();
        w.Form_Load();
        ui::MSHi(w)->setRows(3);
        ui::MSHi(w)->setTextMatrix(1, ProxyRow::Proxy, QStringLiteral("192.168.7.7:3128"));
        ui::MSHi(w)->setTextMatrix(2, ProxyRow::Proxy, proxy);
        ui::MSHi(w)->setRow(2);

        if (auto* action = w.findChild<QAction*>(control))
            action->trigger();
        else
            QTest::mouseClick(w.findChild<QToolButton*>(control), Qt::LeftButton);

        QCOMPARE(f.opened, QStringList{opened});
        QVERIFY(f.prompts.asked.isEmpty());
    }

    // About is a box of the program's own; its link opens the site.
    void aboutBox()
    {
        MainWindowFixture f;
        f.deployment.siteUrl = QStringLiteral("http://maker.test");
        QString text;
        f.runDialog = [&text](QDialog& dialog) {
            auto* about = qobject_cast<frmAbout*>(&dialog);
            text = about->lblText->text();
            emit about->lblText->linkActivated(QStringLiteral("http://maker.test/"));
            return 0;
        };
        frmMain& w = f.create();
        w.findChild<QAction*>(QStringLiteral("menuAbout"))->trigger();
        QCOMPARE(f.dialogs, QStringList{QStringLiteral("frmAbout")});
        const QString version = frmMain::caption().section(u' ', -1);
        for (const QString& part :
             {QStringLiteral("Corvatel ") + version, QStringLiteral("MIT License"),
              QString::fromLatin1(qVersion()), QStringLiteral("http://maker.test/")})
            QVERIFY2(text.contains(part), qPrintable(part));
        QCOMPARE(f.opened, QStringList{QStringLiteral("http://maker.test/")});
    }

    void failedOpenIsReported_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<bool>("handlerSucceeds");
        QTest::addColumn<int>("handlerCalls");

        QTest::newRow("opened") << "http://maker.test/" << true << 1;
        QTest::newRow("handler fails") << "http://maker.test/" << false << 1;
        QTest::newRow("not an address") << "http://[bad" << true << 0;
    }

    // Reported once when not opened; the busy pointer is up while the handler works and gone after.
    void failedOpenIsReported()
    {
        QFETCH(QString, target);
        QFETCH(bool, handlerSucceeds);
        QFETCH(int, handlerCalls);

        ScriptedPrompts prompts;
        int calls = 0;
        bool busyMeanwhile = false;
        WebLookups lookups(Deployment::defaults(), prompts, [&](const QUrl&) {
            ++calls;
            const QCursor* cursor = QGuiApplication::overrideCursor();
            busyMeanwhile = cursor && cursor->shape() == Qt::BusyCursor;
            return handlerSucceeds;
        });
        lookups.shellOpen(target);

        QCOMPARE(calls, handlerCalls);
        QCOMPARE(busyMeanwhile, handlerCalls > 0);
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
        const bool reported = !(handlerSucceeds && handlerCalls > 0);
        const QStringList message{QStringLiteral("Corvatel: ") + WebLookups::OpenFailedText +
                                  u'\n' + WebLookups::InstallHintText};
        QCOMPARE(prompts.asked, reported ? message : QStringList());
    }
};

QTEST_MAIN(tst_WebLookups)
#include "tst_WebLookups.moc"
