#include "base/StopFlag.h"
#include "service/DocumentFetcher.h"
#include "service/HttpFetcher.h"
#include "settings/SettingsStore.h"
#include "signup/MailingListSignup.h"
#include "signup/frmEmail.h"
#include "support/MainWindowFixture.h"
#include "support/ScriptedPrompts.h"
#include "support/WindowControls.h"
#include "views/ColumnLayout.h"
#include "views/ProxyGrid.h"

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

// The window on a screen at twice the usual DPI: Qt scales by 2, every length given in twips
// comes out twice as many device pixels.
class tst_HiDpi : public QObject
{
    Q_OBJECT

private slots:
    void twipsScaleWithTheScreen()
    {
        const QScreen* screen = QGuiApplication::primaryScreen();
        QCOMPARE(QList<qreal>({screen->devicePixelRatio(), screen->logicalDotsPerInchX()}),
                 QList<qreal>({2.0, 96.0}));

        MainWindowFixture f;
        frmMain& w = f.create();
        w.Form_Load();
        w.placement().setGeometryTwips(1500, 900, 10500, 6000);
        QCoreApplication::processEvents();
        // Drawn pixels: a twip is 1/1440 inch, so 10 500 by 6 000 twips at 192 DPI.
        QCOMPARE(w.grab().size(), QSize(1400, 800));
        QCOMPARE(ui::MSH(w)->grab().width(), (10500 - 280) * 192 / 1440);
        // 2 000 twips: 133 px at 96 DPI.
        QCOMPARE(int(ui::MSH(w)->columnWidth(1) * w.devicePixelRatio()), 2 * 133);
    }

    // A drawn picture has a device pixel for each of the screen's, not one stretched over two.
    void picturesAreSharp()
    {
        QTemporaryDir config;
        SettingsStore store(config.filePath(QStringLiteral("Corvatel.conf")));
        HttpFetcher http;
        const StopFlag stop;
        DocumentFetcher fetcher(http, stop);
        MailingListSignup signup(store, fetcher, QStringLiteral("http://127.0.0.1:9"));
        ScriptedPrompts prompts;
        frmEmail dialog(signup, prompts);
        const QPixmap envelope = dialog.findChild<QLabel*>(QStringLiteral("Picture1"))->pixmap();
        QCOMPARE(envelope.devicePixelRatio(), 2.0);
        QCOMPARE(envelope.size(), QSize(144, 144));
    }

    // A first start opens in the middle of the screen, wide enough for every column shown.
    void firstStartShowsEveryColumn()
    {
        MainWindowFixture f;
        frmMain& w = f.create();
        w.Form_Load();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const QRect area = w.screen()->availableGeometry();
        // The frame the desktop adds is not known before the window is shown.
        QVERIFY((w.frameGeometry().center() - area.center()).manhattanLength() <= 8);
        QCOMPARE(w.placement().widthTwips(), frmMain::DesignWidth);
        const QHeaderView* header = ui::MSH(w)->horizontalHeader();
        const double tpp = w.twipsPerPixel();
        for (int c = 0; c < ProxyRow::ColumnCount; ++c) {
            if (!header->isSectionHidden(c))
                QVERIFY2(header->sectionSize(c) >= ColumnLayout::Designed[size_t(c)] / tpp - 1,
                         qPrintable(QString::number(c)));
        }
    }
};

int main(int argc, char* argv[])
{
    // A headless screen at 192 DPI, set up before the application creates it.
    QTemporaryDir dir;
    QFile config(dir.filePath(QStringLiteral("screen.json")));
    if (!config.open(QIODevice::WriteOnly))
        return 1;
    config.write(R"({"screens": [{"name": "hidpi", "x": 0, "y": 0, "width": 3840,
                   "height": 2160, "logicalDpi": 192, "dpr": 1}]})");
    config.close();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + config.fileName().toLocal8Bit());
    QApplication app(argc, argv);
    tst_HiDpi test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_HiDpi.moc"
