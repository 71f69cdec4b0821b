#include "support/MainWindowFixture.h"
#include "support/WindowControls.h"
#include "views/ProxyGrid.h"

#include <QApplication>
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
