#include "settings/frmSetup.h"
#include "support/LayoutCheck.h"
#include "support/MainWindowFixture.h"
#include "support/WindowControls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTimer>

namespace {

enum class Close { Frame, OK, Cancel, Escape };

// Runs the dialog modally, as the main window does; act runs while it is shown.
int runModal(QDialog& dialog, Close how, const std::function<void()>& act = {})
{
    QTimer::singleShot(0, &dialog, [&dialog, how, act] {
        if (act)
            act();
        auto& setup = static_cast<frmSetup&>(dialog);
        if (how == Close::OK)
            setup.chkOK->click();
        else if (how == Close::Cancel)
            setup.cmdCancel->click();
        else if (how == Close::Escape)
            QTest::keyClick(setup.focusWidget() ? setup.focusWidget() : &setup, Qt::Key_Escape);
        else
            dialog.close(); // the window frame's close button
    });
    return dialog.exec();
}

struct Fixture
{
    void open(Close how, const std::function<void()>& act = {})
    {
        dialog.Form_Load();
        runModal(dialog, how, act);
    }
    QTemporaryDir dir;
    SettingsStore store{dir.filePath(QStringLiteral("Corvatel.conf"))};
    ScriptedPrompts prompts;
    Autostart autostart{dir.filePath(QStringLiteral("autostart")), "/opt/corvatel/corvatel"};
    frmSetup dialog{store, prompts, [] {}, autostart};
};

} // namespace

Q_DECLARE_METATYPE(Close)

class tst_frmSetup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8()); }

    void writtenAtOnceOrOnClose_data()
    {
        // clang-format off
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");
        QTest::newRow("timeout 5") << "txtTimeout" << "5" << "txtTimeout" << "30" << "30";
        QTest::newRow("timeout 6") << "txtTimeout" << "6" << "txtTimeout" << "30" << "6";
        QTest::newRow("timeout 60") << "txtTimeout" << "60" << "txtTimeout" << "30" << "60";
        QTest::newRow("timeout 61") << "txtTimeout" << "61" << "txtTimeout" << "30" << "30";
        QTest::newRow("parallel max") << "txtParallel" << "1024" << "ParallelTests" << "4" << "1024";
        QTest::newRow("parallel max+1") << "txtParallel" << "1025" << "ParallelTests" << "4" << "4";
        QTest::newRow("Show SSL off") << "chkSSL" << "" << "chkSSL" << "1" << "0";
        QTest::newRow("detect type on") << "chkDetectType" << "" << "DetectType" << "0" << "1";
        QTest::newRow("database typed") << "txtMmdbFile" << " /data/City.mmdb " << "MmdbFile" << ""
                                        << "/data/City.mmdb";
        // For the "..." button, typed is the file the file dialog answers with.
        QTest::newRow("database browsed") << "cmdMmdbFile" << "/data/New.mmdb" << "MmdbFile"
                                          << "/data/City.mmdb" << "/data/New.mmdb";
        QTest::newRow("browsing cancelled") << "cmdMmdbFile" << "" << "MmdbFile" << "/data/City.mmdb"
                                            << "/data/City.mmdb";
        QTest::newRow("font not on the system") << "cboFONT" << "" << "cboFont" << "No Face 4711"
                                                << "No Face 4711";
        // clang-format on
    }

    // Check boxes write at once, everything else when the dialog is closed (here by its frame). The
    // text boxes open showing what is stored.
    void writtenAtOnceOrOnClose()
    {
        QFETCH(QString, control);
        QFETCH(QString, typed);
        QFETCH(QString, key);
        QFETCH(QString, before);
        QFETCH(QString, after);
        Fixture f;
        f.store.write(key, before);
        auto* box = f.dialog.findChild<QCheckBox*>(control);
        auto* edit = f.dialog.findChild<QLineEdit*>(control);
        auto* combo = f.dialog.findChild<QComboBox*>(control);
        auto* button = f.dialog.findChild<QPushButton*>(control);
        QString whileOpen, shown;
        f.open(Close::Frame, [&] {
            if (box)
                box->click();
            if (edit) {
                shown = edit->text();
                edit->clear();
                QTest::keyClicks(edit, typed);
            }
            if (button) {
                f.prompts.answers << typed;
                button->click();
            }
            whileOpen = f.store.read(key);
        });
        QCOMPARE(whileOpen, box ? after : before);
        if (edit)
            QCOMPARE(shown, before);
        QCOMPARE(f.store.read(key), after);
        if (combo) // the font the grid falls back to
            QCOMPARE(combo->currentText(), QFontInfo(QFont(before)).family());
        if (key == QLatin1String("ParallelTests"))
            QCOMPARE(f.store.value(Setting::ParallelTests), after.toInt());
    }

    // A checked box found on opening points the entry at the folder the program now runs in.
    void startWithDesktop()
    {
        Fixture f;
        const QString previous = QDir::currentPath();
        const QString entry = f.autostart.entryPath(QStringLiteral("corvatel"));
        const auto entryPath = [&entry] {
            return QSettings(entry, QSettings::IniFormat).value("Desktop Entry/Path").toString();
        };
        QTemporaryDir first, second;
        QDir::setCurrent(first.path());
        f.open(Close::Frame, [&] { f.dialog.chkWINDOWS->click(); });
        QCOMPARE(entryPath(), first.path());
        QDir::setCurrent(second.path());
        f.open(Close::OK);
        QCOMPARE(entryPath(), second.path());
        f.open(Close::OK, [&] { f.dialog.chkWINDOWS->click(); });
        QDir::setCurrent(previous);
        QCOMPARE(f.store.read(QStringLiteral("chkWINDOWS")), QStringLiteral("0"));
        QVERIFY(!QFile::exists(entry));
    }

    // "OK" writes first, so the window lays itself out with the new time-out and font size at
    // once, without a notice. The lists are filled anew at each opening.
    void okAppliesAtOnce()
    {
        MainWindowFixture f;
        frmMain& w = f.create();
        w.GetSettings();
        QString typed;
        QList<int> offered; // fonts listed twice and sizes listed, at each opening
        f.runDialog = [&typed, &offered](QDialog& dialog) {
            auto& setup = static_cast<frmSetup&>(dialog);
            QStringList fonts;
            for (int i = 0; i < setup.cboFONT->count(); ++i)
                fonts << setup.cboFONT->itemText(i);
            offered << int(fonts.removeDuplicates()) << setup.cboFontSize->count();
            return runModal(dialog, Close::OK, [&] {
                setup.chkTest->click();
                setup.txtTimeout->setText(QStringLiteral("30"));
                QTest::keyClicks(setup.cboFontSize, QStringLiteral("12")); // lists only
                typed += setup.cboFontSize->currentText();
                QTest::keyClick(setup.cboFontSize, Qt::Key_Down);
            });
        };
        ui::menuSetup(w)->trigger();
        QCOMPARE(f.dialogs, QStringList{QStringLiteral("frmSetup")});
        QCOMPARE(w.settings().chkTEST, 0); // on by default
        QCOMPARE(w.settings().txtTimeout, 30);
        QCOMPARE(ui::MSHi(w)->font().pointSizeF(), 9.0);
        QCOMPARE(f.store->read(QStringLiteral("cboFontSize")), QStringLiteral("9"));
        QCOMPARE(f.store->read(QStringLiteral("cboFont")), QStringLiteral("MS Sans Serif"));
        ui::menuSetup(w)->trigger();
        QCOMPARE(typed, QStringLiteral("89"));
        QCOMPARE(w.settings().chkTEST, 1);
        QCOMPARE(ui::MSHi(w)->font().pointSizeF(), 10.0);
        QCOMPARE(offered, (QList<int>{0, 15, 0, 15}));
        QCOMPARE(f.prompts.asked, QStringList());
    }

    void cancelPutsBack_data()
    {
        QTest::addColumn<Close>("how");
        QTest::newRow("Cancel") << Close::Cancel;
        QTest::newRow("Escape") << Close::Escape;
    }

    // Cancel and Esc put back the keys, the autostart entry and the columns as they were found,
    // including what opening and clicking wrote at once.
    void cancelPutsBack()
    {
        QFETCH(Close, how);
        MainWindowFixture f;
        f.store->write(QStringLiteral("chkWINDOWS"), QStringLiteral("1"));
        f.store->write(QStringLiteral("txtTimeout"), QStringLiteral("45"));
        const Autostart autostart;
        const QString entry = autostart.entryPath(autostart.executableBaseName());
        QDir().mkpath(QFileInfo(entry).path());
        QFile file(entry);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[Desktop Entry]\nPath=/somewhere/else\n");
        file.close();
        frmMain& w = f.create();
        w.Form_Load();
        const QString storedBefore = [&] {
            QFile conf(f.store->filePath());
            return conf.open(QIODevice::ReadOnly) ? QString::fromUtf8(conf.readAll()) : QString();
        }();
        bool sslWhileOpen = false;
        QString entryWhileOpen;
        f.runDialog = [&](QDialog& dialog) {
            auto& setup = static_cast<frmSetup&>(dialog);
            return runModal(dialog, how, [&] {
                setup.chkSSL->click();
                sslWhileOpen = !ui::MSH(w)->isColumnHidden(ProxyRow::SSL);
                entryWhileOpen =
                    QSettings(entry, QSettings::IniFormat).value("Desktop Entry/Path").toString();
                setup.chkDetectType->click();
                setup.txtTimeout->setText(QStringLiteral("30"));
                QTest::keyClick(setup.cboFontSize, Qt::Key_Down);
            });
        };
        ui::menuSetup(w)->trigger();
        QVERIFY(sslWhileOpen);
        QCOMPARE(entryWhileOpen, QDir::currentPath());
        QFile conf(f.store->filePath());
        QVERIFY(conf.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(conf.readAll()), storedBefore);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("[Desktop Entry]\nPath=/somewhere/else\n"));
        QVERIFY(ui::MSH(w)->isColumnHidden(ProxyRow::SSL));
        QCOMPARE(w.settings().txtTimeout, 45);
        QVERIFY(file.remove());
    }

    void rangeShownAndOkWaits_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("range");
        QTest::newRow("timeout 5") << "txtTimeout"
                                   << "5"
                                   << "Must be 6 to 60";
        QTest::newRow("timeout empty") << "txtTimeout"
                                       << ""
                                       << "Must be 6 to 60";
        QTest::newRow("timeout 6") << "txtTimeout"
                                   << "6"
                                   << "";
        QTest::newRow("parallel 0") << "txtParallel"
                                    << "0"
                                    << "Must be 1 to 1024";
        QTest::newRow("parallel 1025") << "txtParallel"
                                       << "1025"
                                       << "Must be 1 to 1024";
        QTest::newRow("parallel 1024") << "txtParallel"
                                       << "1024"
                                       << "";
    }

    // A value out of range shows the range beside its box and OK does nothing until it is mended.
    void rangeShownAndOkWaits()
    {
        QFETCH(QString, control);
        QFETCH(QString, typed);
        QFETCH(QString, range);
        Fixture f;
        f.dialog.Form_Load();
        f.dialog.show();
        auto* edit = f.dialog.findChild<QLineEdit*>(control);
        edit->setText(typed);
        const auto* label = f.dialog.findChild<QLabel*>(
            control == QLatin1String("txtTimeout") ? "lblTimeoutRange" : "lblParallelRange");
        QCOMPARE(label->text(), range);
        QCOMPARE(f.dialog.chkOK->isEnabled(), range.isEmpty());
        QTest::keyClick(edit, Qt::Key_Return);
        QCOMPARE(f.dialog.isVisible(), !range.isEmpty());
        f.dialog.hide();
    }

    // The "Show" boxes show their columns in every grid at once, and at the next start.
    void showBoxesShowColumns()
    {
        MainWindowFixture f;
        f.store->write(QStringLiteral("chkSSL"), QStringLiteral("1"));
        frmMain& w = f.create();
        w.Form_Load();
        const auto shown = [&w](int column) {
            QList<bool> grids;
            for (ProxyGrid* g : {ui::MSH(w), ui::MSH2(w), ui::MSHi(w), ui::MSHi2(w)})
                grids << !g->isColumnHidden(column);
            return grids;
        };
        const QList<bool> all(4, true), none(4, false);
        QCOMPARE(shown(ProxyRow::SSL), all);
        QList<QList<bool>> whileOpen;
        f.runDialog = [&](QDialog& dialog) {
            auto& setup = static_cast<frmSetup&>(dialog);
            return runModal(dialog, Close::Frame, [&] {
                setup.chkCOOKIES->click();
                whileOpen << shown(ProxyRow::Cookies);
                setup.chkSSL->click();
                whileOpen << shown(ProxyRow::SSL) << shown(ProxyRow::Get);
            });
        };
        ui::menuSetup(w)->trigger();
        QCOMPARE(whileOpen, (QList<QList<bool>>{all, none, none}));
    }

    void controlsDoNotOverlap()
    {
        Fixture f;
        f.dialog.Form_Load();
        // In the middle of the screen.
        const QPoint middle = f.dialog.screen()->geometry().center();
        QVERIFY((f.dialog.geometry().center() - middle).manhattanLength() <= 2);
        f.dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f.dialog));
        QCOMPARE(overlappingControls(f.dialog), QString());
        // The boxes of a frame line up on its left; the database's box has a button that
        // clears it, which is how to have none.
        for (const QCheckBox* box : {f.dialog.chkIMP, f.dialog.chkWINDOWS, f.dialog.chkTest})
            QCOMPARE(box->x(), f.dialog.chkCOR->x());
        QVERIFY(f.dialog.txtMmdbFile->isClearButtonEnabled());
    }

    // Loaded again, each box shows what is stored now, not what it showed before.
    void loadedAgainShowsWhatIsStored()
    {
        Fixture f;
        f.store.write(QStringLiteral("chkCOR"), QStringLiteral("1"));
        f.dialog.Form_Load();
        QVERIFY(f.dialog.chkCOR->isChecked());
        f.store.write(QStringLiteral("chkCOR"), QStringLiteral("0"));
        f.dialog.Form_Load();
        QVERIFY(!f.dialog.chkCOR->isChecked());
    }

private:
    QTemporaryDir m_config; // the main window's dialog writes its autostart entry here
};

QTEST_MAIN(tst_frmSetup)
#include "tst_frmSetup.moc"
