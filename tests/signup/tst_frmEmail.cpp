// The sign-up dialog: which addresses it takes, what reaches the service, and the EMR counter
// that limits it to the first starts.
#include "service/DocumentFetcher.h"
#include "service/HttpFetcher.h"
#include "service/ReferenceService.h"
#include "settings/SettingsStore.h"
#include "signup/MailingListSignup.h"
#include "signup/frmEmail.h"
#include "support/LayoutCheck.h"
#include "support/MainWindowFixture.h"
#include "support/TestServers.h"
#include "support/WindowControls.h"

#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

class tst_frmEmail final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        ReferenceService::Options options;
        options.mailListFile = m_dir.filePath(QStringLiteral("maillist.txt"));
        QVERIFY2(m_service.start(options), qPrintable(m_service.errorString()));
    }

    // Typed and sent with Enter, to a server that records the raw request and to the service, which
    // records the address it read. An empty query means the address is refused.
    void send_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QByteArray>("query");

        QTest::newRow("blanks") << " a  b@x.test " << QByteArray("%20a%20%20b@x.test%20");
        QTest::newRow("query delimiters") << "a+b&c=d#e@x" << QByteArray("a%2Bb%26c%3Dd%23e@x");
        QTest::newRow("percent sign") << "me%41@x" << QByteArray("me%2541@x");
        QTest::newRow("non-ASCII") << "zoë@x" << QByteArray("zo%C3%AB@x");
        QTest::newRow("@ alone") << "@" << QByteArray("@");
        QTest::newRow("no @") << "ab" << QByteArray();
        QTest::newRow("full-width @") << "a\uFF20b" << QByteArray();
    }

    void send()
    {
        QFETCH(QString, typed);
        QFETCH(QByteArray, query);
        const bool accepted = !query.isEmpty();

        FixedServer wire(200, "OK");
        HttpFetcher http;
        const StopFlag stop;
        DocumentFetcher fetcher(http, stop);
        ScriptedPrompts prompts;
        for (const QString& base : {wire.url().chopped(1), m_service.baseUrl()}) {
            QTemporaryDir config;
            SettingsStore store(config.filePath(QStringLiteral("Corvatel.conf")));
            MailingListSignup signup(store, fetcher, base);
            frmEmail dialog(signup, prompts);
            dialog.show();
            QVERIFY(QTest::qWaitForWindowExposed(&dialog));
            QCOMPARE(overlappingControls(dialog), QString());
            dialog.txtEmail->setText(typed);
            QTest::keyClick(dialog.txtEmail, Qt::Key_Return);
            // A sent address holds the whole dialog from the send until it closes.
            if (accepted)
                QVERIFY(!dialog.txtEmail->isEnabled() && !dialog.cmdCancel->isEnabled());
            QCOMPARE(dialog.isVisible(), !accepted);
            // A refused address can be corrected in the same dialog; nothing is stored.
            QCOMPARE(dialog.cmdOK->isEnabled(), !accepted);
            QCOMPARE(store.read(QStringLiteral("Email"), QStringLiteral("none")),
                     accepted ? typed : QStringLiteral("none"));
            QCOMPARE(store.read(QStringLiteral("EMR"), QString()), accepted ? "2" : QString());
        }

        const QString refused = QStringLiteral("Corvatel: ") + frmEmail::InvalidAddressText;
        QCOMPARE(prompts.asked, accepted ? QStringList() : QStringList(2, refused));
        QCOMPARE(wire.requests().size(), int(accepted));
        if (accepted) {
            const QByteArray head = wire.requests().first();
            QCOMPARE(head.left(head.indexOf('\r')),
                     "GET /maillist.php?email=" + query + " HTTP/1.1");
            QFile list(m_dir.filePath(QStringLiteral("maillist.txt")));
            QVERIFY(list.open(QIODevice::ReadOnly));
            QVERIFY(list.readAll().endsWith(typed.toUtf8() + '\n'));
        }
    }

    // Three starts over one settings file; whenever the dialog is shown it gets the next answer:
    // "cancel", "close" (the frame) or an address to send.
    void shownOnFirstStarts_data()
    {
        QTest::addColumn<QString>("storedEMR");
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<QString>("shown"); // one letter per start

        QTest::newRow("cancel twice") << "" << QStringList{"cancel", "close"} << "YYN";
        QTest::newRow("sign up at once") << "" << QStringList{"me@x"} << "YNN";
        QTest::newRow("shown once before") << "1" << QStringList{"cancel"} << "YNN";
        QTest::newRow("not a number") << "abc" << QStringList{"close", "cancel"} << "YYN";
        QTest::newRow("signed up before") << "2" << QStringList{} << "NNN";
    }

    void shownOnFirstStarts()
    {
        QFETCH(QString, storedEMR);
        QFETCH(QStringList, answers);
        QFETCH(QString, shown);

        Deployment deployment = MainWindowFixture::unreachableDeployment();
        deployment.serviceUrl = m_service.baseUrl();
        MainWindowFixture f(deployment);
        if (!storedEMR.isEmpty())
            f.store->write(QStringLiteral("EMR"), storedEMR);
        bool stopOffered = false; // by the window behind the dialog, before any load began
        f.runDialog = [&answers, &f, &stopOffered](QDialog& dialog) {
            stopOffered = stopOffered || ui::menuStop(*f.window)->isEnabled();
            auto* email = qobject_cast<frmEmail*>(&dialog);
            if (!email || answers.isEmpty())
                return -1;
            const QString answer = answers.takeFirst();
            if (answer == QLatin1String("cancel")) {
                email->cmdCancel->click();
            } else if (answer == QLatin1String("close")) {
                email->close();
            } else {
                email->txtEmail->setText(answer);
                email->cmdOK->click();
            }
            return email->result();
        };

        QString seen;
        for (int start = 0; start < 3; ++start) {
            f.dialogs.clear();
            f.create().Form_Load();
            seen += f.dialogs == QStringList{QStringLiteral("frmEmail")} ? u'Y' : u'N';
        }
        QCOMPARE(seen, shown);
        QVERIFY(answers.isEmpty() && !stopOffered);
        QCOMPARE(f.store->read(QStringLiteral("EMR"), QString()), QStringLiteral("2"));
    }

private:
    QTemporaryDir m_dir;
    ReferenceService m_service;
};

QTEST_MAIN(tst_frmEmail)
#include "tst_frmEmail.moc"
