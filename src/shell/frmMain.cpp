#include "shell/frmMain.h"

#include "import/TextFileImport.h"
#include "import/frmImport.h"
#include "model/ProxyRow.h"
#include "model/SettingsStore.h"
#include "service/DocumentFetcher.h"
#include "service/ExternalAddress.h"
#include "service/HttpFetcher.h"
#include "service/ServiceList.h"
#include "settings/frmSetup.h"
#include "shell/Prompts.h"
#include "shell/YieldClock.h"
#include "signup/frmEmail.h"
#include "system/ProxyClipboard.h"
#include "system/SystemProxySwitch.h"
#include "system/WebLookups.h"
#include "testing/ProxyTester.h"
#include "testing/frmJudges.h"
#include "version.h"
#include "views/ProxyGrid.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSet>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace {

constexpr int GridLeft = 100;
constexpr int GridTop = 400;
constexpr ProxyRow::Colour ServiceBand = FilterPass::ServiceBand;
constexpr ProxyRow::Colour ImportedBand = FilterPass::ImportedBand;
constexpr ProxyRow::Colour ImportedResultBand = 0xFFFAF8CF; // 250, 248, 207

QIcon makeIcon(QColor fill, const QString& letter)
{
    QPixmap pixmap(64, 64);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(fill);
    p.setPen(Qt::NoPen);
    p.drawEllipse(2, 2, 60, 60);
    p.setPen(Qt::white);
    QFont f = p.font();
    f.setBold(true);
    f.setPixelSize(38);
    p.setFont(f);
    p.drawText(pixmap.rect(), Qt::AlignCenter, letter);
    return QIcon(pixmap);
}

int toPixels(int twips, double tpp)
{
    return int(std::lround(twips / tpp));
}

} // namespace

// Counts the routines that are in progress, so ending the program knows whether it is being
// asked from inside one of them.
class frmMain::Running final
{
public:
    explicit Running(frmMain& window) : m_window(window) { ++m_window.m_running; }
    ~Running() { --m_window.m_running; }
    Running(const Running&) = delete;
    Running& operator=(const Running&) = delete;

private:
    frmMain& m_window;
};

frmMain::frmMain(const Deployment& deployment, SettingsStore& store, Prompts& prompts,
                 QWidget* parent)
    : QMainWindow(parent), m_deployment(deployment), m_store(store), m_prompts(prompts),
      m_http(std::make_unique<HttpFetcher>()),
      m_fetcher(std::make_unique<DocumentFetcher>(*m_http, stopRequested)),
      m_today([] { return QDate::currentDate(); })
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowIcon(applicationIcon());
    createControls();
    createMenus();

    m_terminate = [this] {
        // Ending "at once": from inside a running routine nothing on the stack may go on. What
        // the window already shows of the imported list is saved first (a parallel run saves
        // at most once a second; a long save may still be on its way), so nothing is lost.
        if (m_running > 0) {
            if (sblistPROXLoc.hasUnsavedChanges())
                sblistPROXLoc.saveToFile(ImportedListStore::defaultPath());
            m_endAtOnce();
            return;
        }
        QCoreApplication::exit(0);
    };
    m_endAtOnce = [] {
        std::fflush(nullptr);
        std::_Exit(0);
    };

    m_tester = std::make_unique<ProxyTester>(*this, *m_fetcher, sblistPROXLoc, MSHi->rows(),
                                             m_store, m_deployment.serviceUrl);
    m_autoTest = std::make_unique<AutoTest>(*this, *m_fetcher, m_prompts, m_deployment.probeUrl);
    m_proxySwitch = std::make_unique<SystemProxySwitch>(
        SystemProxySwitch::defaultContractPath(),
        SystemProxySwitch::backendFor(m_deployment.systemProxy));

    m_pages = std::make_unique<ListPages>(
        ListPages::Controls{MSH, MSH2, MSHi, MSHi2, frame, cboLOC, cboTYPE, cboCLASS, txtMinSpeed,
                            txtMaxSpeed, menuTools, menuTestProxy},
        sblistPROXLoc, activeGrid, lastSortOrder, *this);
    connect(cmdFilter, &QPushButton::clicked, this, [this] { cmdFilter_Click(); });
    connect(cmdReset, &QPushButton::clicked, this, [this] { cmdReset_Click(); });

    m_webLookups = std::make_unique<WebLookups>(m_deployment, m_prompts);
    using Page = WebLookups::Page;
    connect(menuAbout, &QAction::triggered, this, [this] { m_webLookups->open(Page::About); });
    connect(menuSupport, &QAction::triggered, this, [this] { m_webLookups->open(Page::Support); });
    connect(menuWHATIP, &QAction::triggered, this,
            [this] { m_webLookups->open(Page::WhatIsMyIp); });
    connect(picFB, &QToolButton::clicked, this, [this] { m_webLookups->open(Page::Facebook); });
    connect(picTWITTER, &QToolButton::clicked, this, [this] { m_webLookups->open(Page::Twitter); });
    connect(menuGetINFO, &QAction::triggered, this, [this] { menuGetINFO_Click(); });
    connect(menuCopyProx, &QAction::triggered, this, [this] { copySelectedProxies(); });

    setGeometryTwips(0, 0, DesignWidth, DesignHeight);
}

frmMain::~frmMain() = default;

QString frmMain::caption()
{
    return QStringLiteral("Corvatel - version %1.%2.%3")
        .arg(CORVATEL_VERSION_MAJOR)
        .arg(CORVATEL_VERSION_MINOR)
        .arg(CORVATEL_VERSION_REVISION);
}

void frmMain::createControls()
{
    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("central"));
    setCentralWidget(central);

    MSH = new ProxyGrid(QStringLiteral("MSH"), central);
    MSH2 = new ProxyGrid(QStringLiteral("MSH2"), central);
    MSHi = new ProxyGrid(QStringLiteral("MSHi"), central);
    MSHi2 = new ProxyGrid(QStringLiteral("MSHi2"), central);
    for (ProxyGrid* grid : {MSH, MSH2, MSHi, MSHi2})
        grid->setRows(2);
    MSH2->hide();
    MSHi->hide();
    MSHi2->hide();

    Option1 = new QRadioButton(QStringLiteral("Main"), central);
    Option1->setObjectName(QStringLiteral("Option1"));
    Option1->setChecked(true);
    Option2 = new QRadioButton(QStringLiteral("Imported Proxies"), central);
    Option2->setObjectName(QStringLiteral("Option2"));
    connect(Option1, &QRadioButton::clicked, this, [this] { Option1_Click(); });
    connect(Option2, &QRadioButton::clicked, this, [this] { Option2_Click(); });

    picTWITTER = new QToolButton(central);
    picTWITTER->setObjectName(QStringLiteral("picTWITTER"));
    picTWITTER->setIcon(makeIcon(QColor(0x1d, 0xa1, 0xf2), QStringLiteral("t")));
    picTWITTER->setToolTip(QStringLiteral("Click HERE to Get Our Updates on Twitter"));
    picTWITTER->setAutoRaise(true);
    picFB = new QToolButton(central);
    picFB->setObjectName(QStringLiteral("picFB"));
    picFB->setIcon(makeIcon(QColor(0x3b, 0x59, 0x98), QStringLiteral("f")));
    picFB->setToolTip(QStringLiteral("Click HERE to Get Our Updates on Facebook"));
    picFB->setAutoRaise(true);

    frame = new QGroupBox(QStringLiteral("Filter"), central);
    frame->setObjectName(QStringLiteral("frame"));
    auto makeCombo = [this](const char* name, const QString& neutral) {
        auto* combo = new QComboBox(frame);
        combo->setObjectName(QLatin1String(name));
        combo->setPlaceholderText(neutral);
        combo->setCurrentIndex(-1);
        return combo;
    };
    cboLOC = makeCombo("cboLOC", FilterCriteria::allLocations());
    cboTYPE = makeCombo("cboTYPE", FilterCriteria::allTypes());
    cboCLASS = makeCombo("cboCLASS", FilterCriteria::allClasses());
    Label1 = new QLabel(QStringLiteral("Speed"), frame);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label2 = new QLabel(QStringLiteral("to"), frame);
    Label2->setObjectName(QStringLiteral("Label2"));
    txtMinSpeed = new QLineEdit(QStringLiteral("0"), frame);
    txtMinSpeed->setObjectName(QStringLiteral("txtMinSpeed"));
    txtMaxSpeed = new QLineEdit(QStringLiteral("0"), frame);
    txtMaxSpeed->setObjectName(QStringLiteral("txtMaxSpeed"));
    cmdFilter = new QPushButton(QStringLiteral("Filter"), frame);
    cmdFilter->setObjectName(QStringLiteral("cmdFilter"));
    cmdReset = new QPushButton(QStringLiteral("Reset"), frame);
    cmdReset->setObjectName(QStringLiteral("cmdReset"));

    // The status text: written by the program only; read-only refuses typing and pasting.
    // The status text and the progress bar sit over the filter frame but are not part of it, so
    // they stay readable while a run disables the frame.
    txtSTAT = new QPlainTextEdit(central);
    txtSTAT->setObjectName(QStringLiteral("txtSTAT"));
    txtSTAT->setReadOnly(true);
    txtSTAT->setUndoRedoEnabled(false);
    txtSTAT->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    ProgressBar1 = new QProgressBar(central);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);

    for (int i = 0; i < 3; ++i) {
        m_panels[i] = new QLabel(this);
        m_panels[i]->setObjectName(QStringLiteral("panel%1").arg(i + 1));
        m_panels[i]->setMinimumWidth(120);
        statusBar()->addPermanentWidget(m_panels[i], i == 2 ? 1 : 0);
    }
    statusBar()->setObjectName(QStringLiteral("statbar"));
    statusBar()->setSizeGripEnabled(true);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1_Timer(); });
    Timer1->start();

    timerPTest = new QTimer(this);
    timerPTest->setObjectName(QStringLiteral("timerPTest"));
    timerPTest->setInterval(60000);
    connect(timerPTest, &QTimer::timeout, this, [this] { timerPTest_Timer(); });

    TrayX1 = new QSystemTrayIcon(this);
    TrayX1->setObjectName(QStringLiteral("TrayX1"));
    // Hiding the icon destroys the widget that is still handling the click (a right press sends
    // it a context menu event next): the window comes back once the click is over.
    connect(
        TrayX1, &QSystemTrayIcon::activated, this, [this] { restoreFromTray(); },
        Qt::QueuedConnection);
}

void frmMain::createMenus()
{
    auto action = [this](QMenu* menu, const char* name, const QString& text,
                         const QKeySequence& shortcut = {}) {
        auto* a = menu->addAction(text);
        a->setObjectName(QLatin1String(name));
        if (!shortcut.isEmpty()) {
            a->setShortcut(shortcut);
            a->setShortcutContext(Qt::WindowShortcut);
        }
        return a;
    };

    menuFile = menuBar()->addMenu(QStringLiteral("&File"));
    menuFile->setObjectName(QStringLiteral("menuFile"));
    menuImpProxList =
        action(menuFile, "menuImpProxList", QStringLiteral("Import Proxy List from File"));
    menuImpProxSource =
        action(menuFile, "menuImpProxSource", QStringLiteral("Import Proxies from Web Source"));
    menuFile->addSeparator()->setObjectName(QStringLiteral("menuSep2"));
    menuRefresh = action(menuFile, "menuRefresh", QStringLiteral("Refresh Proxy List (Remote)"),
                         QKeySequence(Qt::Key_F5));
    menuStop = action(menuFile, "menuStop", QStringLiteral("Stop"));
    menuStop->setEnabled(false);
    menuSetup = action(menuFile, "menuSetup", QStringLiteral("Setup"));
    menuExit = action(menuFile, "menuExit", QStringLiteral("Exit"));

    menuTools = menuBar()->addMenu(QStringLiteral("&Tools"));
    menuTools->setObjectName(QStringLiteral("menuTools"));
    menuTestProxy = action(menuTools, "menuTestProxy", QStringLiteral("Test Selected Proxies"),
                           QKeySequence(Qt::CTRL | Qt::Key_T));
    menuGetINFO = action(menuTools, "menuGetINFO", QStringLiteral("Get Selected Proxy Info"));
    menuTools->addSeparator()->setObjectName(QStringLiteral("menuSep0"));
    menuPROXON = action(menuTools, "menuPROXON", QStringLiteral("Enable Selected Proxy on System"),
                        QKeySequence(Qt::Key_F1));
    menuPROXOFF = action(menuTools, "menuPROXOFF", QStringLiteral("Disable All Proxies on System"),
                         QKeySequence(Qt::Key_F2));
    menuTools->addSeparator()->setObjectName(QStringLiteral("menuSep1"));
    menuWHATIP = action(menuTools, "menuWHATIP", QStringLiteral("What is my IP Address?"));
    menuCopyProx =
        action(menuTools, "menuCopyProx", QStringLiteral("Copy Selected Proxies to Clipboard"),
               QKeySequence(Qt::CTRL | Qt::Key_C));
    menuTools->addSeparator()->setObjectName(QStringLiteral("menuSep3"));
    menuJudges = action(menuTools, "menuJudges", QStringLiteral("Judges..."));

    menuHelp = menuBar()->addMenu(QStringLiteral("&Help"));
    menuHelp->setObjectName(QStringLiteral("menuHelp"));
    menuSupport = action(menuHelp, "menuSupport", QStringLiteral("&Support"));
    menuAbout = action(menuHelp, "menuAbout", QStringLiteral("About"));

    connect(menuRefresh, &QAction::triggered, this, [this] { loadProxyRemote(); });
    connect(menuStop, &QAction::triggered, this, [this] { menuStop_Click(); });
    connect(menuExit, &QAction::triggered, this, [this] { menuExit_Click(); });
    connect(menuTestProxy, &QAction::triggered, this, [this] { menuTestProxy_Click(); });
    connect(menuPROXON, &QAction::triggered, this, [this] { menuPROXON_Click(); });
    connect(menuPROXOFF, &QAction::triggered, this, [this] { menuPROXOFF_Click(); });
    connect(menuImpProxList, &QAction::triggered, this, [this] { menuImpProxList_Click(); });
    connect(menuImpProxSource, &QAction::triggered, this, [this] { menuImpProxSource_Click(); });
    connect(menuSetup, &QAction::triggered, this, [this] { menuSetup_Click(); });
    connect(menuJudges, &QAction::triggered, this, [this] { menuJudges_Click(); });
}

QIcon frmMain::applicationIcon()
{
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/%1x%1/apps/corvatel.png").arg(size),
                     QSize(size, size));
    return icon;
}

void frmMain::setUpIdentity()
{
    QCoreApplication::setApplicationName(QStringLiteral("Corvatel"));
    QCoreApplication::setOrganizationName(QStringLiteral("Corvatel"));
    QCoreApplication::setApplicationVersion(QStringLiteral("%1.%2.%3")
                                                .arg(CORVATEL_VERSION_MAJOR)
                                                .arg(CORVATEL_VERSION_MINOR)
                                                .arg(CORVATEL_VERSION_REVISION));
}

void frmMain::setUpApplication()
{
    setUpIdentity();
    QApplication::setDesktopFileName(QStringLiteral("corvatel"));
    QApplication::setWindowIcon(applicationIcon());
    QApplication::setQuitOnLastWindowClosed(false);
}

double frmMain::twipsPerPixel() const
{
    return ProxyGrid::twipsPerPixel(this);
}

// A length set in twips reads back unchanged while the window keeps the pixel length it became,
// so stored places and sizes do not drift by a pixel's rounding at every start.
int frmMain::twips(int index, int pixels) const
{
    const Remembered& r = m_remembered[index];
    if (r.pixels == pixels)
        return r.twips;
    return int(std::lround(pixels * twipsPerPixel()));
}

int frmMain::pixelsFor(int index, int twips)
{
    const int px = toPixels(twips, twipsPerPixel());
    m_remembered[index] = {twips, px};
    return px;
}

int frmMain::leftTwips() const
{
    return twips(0, pos().x());
}

int frmMain::topTwips() const
{
    return twips(1, pos().y());
}

int frmMain::widthTwips() const
{
    return twips(2, width());
}

int frmMain::heightTwips() const
{
    return twips(3, height());
}

void frmMain::setGeometryTwips(int left, int top, int width, int height)
{
    move(pixelsFor(0, left), pixelsFor(1, top));
    resize(pixelsFor(2, width), pixelsFor(3, height));
}

int frmMain::statusBarTwips() const
{
    const int px =
        statusBar()->isVisible() ? statusBar()->height() : statusBar()->sizeHint().height();
    return int(std::lround(px * twipsPerPixel()));
}

// ---- start-up --------------------------------------------------------------------------------

void frmMain::Form_Load()
{
    Running running(*this);
    const double tpp = twipsPerPixel();

    setWindowTitle(caption());

    // Place and size.
    const QRect screen = this->screen() ? this->screen()->geometry() : QRect(0, 0, 1024, 768);
    const double screenW = screen.width() * tpp;
    const double screenH = screen.height() * tpp;
    // Stored as single-precision numbers; a hand-edited giant is kept within reach of the screen.
    // A text that is not a number leaves the value as designed.
    auto restore = [this](const QString& key, const QString& fallback, int& twips, bool length) {
        double value = 0;
        if (SettingsText::toNumber(m_store.read(key, fallback), value) && (!length || value >= 0))
            twips = int(std::lround(std::clamp(double(float(value)), -1e7, 1e7)));
    };
    int left = leftTwips();
    int top = topTwips();
    int width = widthTwips();
    int height = heightTwips();
    const QString leftKey = QStringLiteral("Left");
    const QString topKey = QStringLiteral("Top");
    const QString widthKey = QStringLiteral("Width");
    const QString heightKey = QStringLiteral("Height");
    restore(leftKey, QString::number(screenW / 2 - DesignWidth / 2.0), left, false);
    restore(topKey, QString::number(screenH / 2 - DesignHeight / 2.0), top, false);
    restore(widthKey, SettingsStore::defaultOf(widthKey), width, true);
    restore(heightKey, SettingsStore::defaultOf(heightKey), height, true);
    setGeometryTwips(left, top, width, height);

    cboLOC->setCurrentIndex(-1);
    cboCLASS->setCurrentIndex(-1);
    cboTYPE->setCurrentIndex(-1);
    txtMinSpeed->setText(QStringLiteral("0"));
    txtMaxSpeed->setText(QStringLiteral("0"));

    const QString listPath = ImportedListStore::defaultPath();
    ImportedListStore::Result loaded;
    if (QFileInfo::exists(listPath)) {
        loaded = sblistPROXLoc.loadFromFile(listPath);
        if (!loaded.ok)
            setStatusText(loaded.message);
    }

    Form_Resize();
    menuPROXOFF_Click();
    show();
    frmEmail::showIfDue(
        m_store, *m_fetcher, m_deployment.serviceUrl, m_prompts,
        [this](QDialog& dialog) { return runDialog(dialog); }, this);

    lastSortOrder = 7;
    TrayX1->setIcon(windowIcon());
    TrayX1->setToolTip(windowTitle());
    GetSettings();

    MSH->setCol(0);
    MSH->setColSel(MSH->Cols() - 1);

    int lastTab = 0;
    if (SettingsText::toWholeNumber(m_store.read(QStringLiteral("LastTab")), lastTab)) {
        if (lastTab == 1)
            Option1_Click();
        else if (lastTab == 2)
            Option2_Click();
    }
    show();

    getMyIP();
    loadProxyRemote();
    // Loading the lists clears the status text; a list that could not be read must stay said.
    if (!loaded.ok)
        setStatusText(loaded.message);
}

void frmMain::GetSettings()
{
    m_settings.readFrom(m_store);
    m_fetcher->setTestTimeout(m_settings.txtTimeout);
    double size = 0;
    const bool hasSize = SettingsText::toNumber(m_settings.cboFontSize, size);
    for (ProxyGrid* grid : {MSH, MSH2, MSHi, MSHi2}) {
        grid->setGridFont(m_settings.cboFont, size, hasSize);
        grid->setFixedFontFace(m_settings.cboFont);
    }
}

// ---- layout ----------------------------------------------------------------------------------

void frmMain::Form_Resize()
{
    if (isMinimized()) {
        if (QSystemTrayIcon::isSystemTrayAvailable()) {
            TrayX1->show();
            hide();
        }
        return;
    }
    TrayX1->hide();

    for (ProxyGrid* grid : {MSH, MSH2, MSHi, MSHi2})
        SetupGrid(*grid);

    const int frameWidth = widthTwips() - 140;
    if (frameWidth >= 0)
        m_frameTwips[2] = frameWidth;
    m_frameTwips[1] = MSH->topTwips() + MSH->heightTwips() + 200;
    const double tpp = twipsPerPixel();
    frame->setGeometry(toPixels(m_frameTwips[0], tpp), toPixels(m_frameTwips[1], tpp),
                       toPixels(m_frameTwips[2], tpp), toPixels(m_frameTwips[3], tpp));
    placeFrameContents();

    const int right = toPixels(widthTwips(), tpp);
    const int iconSize = toPixels(330, tpp);
    picFB->setGeometry(right - 2 * iconSize - 16, 2, iconSize, iconSize);
    picFB->setIconSize(QSize(iconSize - 6, iconSize - 6));
    picTWITTER->setGeometry(right - iconSize - 10, 2, iconSize, iconSize);
    picTWITTER->setIconSize(QSize(iconSize - 6, iconSize - 6));
    Option1->setGeometry(toPixels(GridLeft, tpp), toPixels(60, tpp), toPixels(1100, tpp),
                         toPixels(300, tpp));
    Option2->setGeometry(toPixels(1300, tpp), toPixels(60, tpp), toPixels(2200, tpp),
                         toPixels(300, tpp));
}

void frmMain::SetupGrid(ProxyGrid& grid)
{
    static constexpr int Widths[] = {700, 2000, 900, 800, 1600, 1000};
    const int width = widthTwips() - 280;
    const int height =
        heightTwips() + TitleBarTwips - (MSH->topTwips() + statusBarTwips() + FrameHeight + 1050);
    grid.setGeometryTwips(GridLeft, GridTop, width, height);
    for (int c = 0; c < 6; ++c)
        grid.setColWidth(c, Widths[c]);
    grid.setColWidth(ProxyRow::Location, 2000);
    int used = 2000;
    for (int c = 0; c <= ProxyRow::SSL; ++c)
        used += grid.ColWidth(c);
    grid.setColWidth(ProxyRow::Class, grid.widthTwips() - used);
    const QStringList& headers = ProxyRow::columnHeaders();
    for (int c = 0; c < ProxyRow::ColumnCount; ++c)
        grid.setTextMatrix(0, c, headers.at(c));
    for (int c = ProxyRow::Cookies; c <= ProxyRow::SSL; ++c)
        grid.setColWidth(c, 0);
}

void frmMain::placeFrameContents()
{
    const double tpp = twipsPerPixel();
    auto put = [tpp](QWidget* w, int left, int top, int width, int height) {
        w->setGeometry(toPixels(left, tpp), toPixels(top, tpp), toPixels(width, tpp),
                       toPixels(height, tpp));
    };
    const int row = 300;
    const int h = 330;
    // The filter row runs left to right; each control has its width in twips but at least what
    // its text needs, so a larger font never cuts "All Proxy Types". When that makes the row
    // wider than the frame, the location and class boxes give back what they have beyond it.
    struct Item
    {
        QWidget* widget;
        int width;
        int needs;
        int lift;
    };
    auto comboNeeds = [](const QComboBox* combo) {
        QStyleOptionComboBox option;
        option.initFrom(combo);
        const QSize text(combo->fontMetrics().horizontalAdvance(combo->placeholderText()),
                         combo->fontMetrics().height());
        return combo->style()->sizeFromContents(QStyle::CT_ComboBox, &option, text, combo).width();
    };
    auto textNeeds = [](const QWidget* w, const QString& text, int padding) {
        return w->fontMetrics().horizontalAdvance(text) + padding;
    };
    const int lift = toPixels(15, tpp);
    Item items[] = {
        {cboLOC, toPixels(2400, tpp), comboNeeds(cboLOC), 0},
        {cboTYPE, toPixels(1700, tpp), comboNeeds(cboTYPE), 0},
        {cboCLASS, toPixels(2800, tpp), comboNeeds(cboCLASS), 0},
        {Label1, toPixels(520, tpp), textNeeds(Label1, Label1->text(), 2), 0},
        {txtMinSpeed, toPixels(600, tpp), 0, 0},
        {Label2, toPixels(220, tpp), textNeeds(Label2, Label2->text(), 2), 0},
        {txtMaxSpeed, toPixels(600, tpp), 0, 0},
        {cmdFilter, toPixels(1000, tpp), textNeeds(cmdFilter, cmdFilter->text(), 16), lift},
        {cmdReset, toPixels(1000, tpp), textNeeds(cmdReset, cmdReset->text(), 16), lift},
    };
    const int gap = toPixels(80, tpp);
    const int margin = toPixels(120, tpp);
    int total = 0;
    for (Item& item : items) {
        item.width = std::max(item.width, item.needs);
        total += item.width + gap;
    }
    total += gap; // before the buttons
    const int excess = total - gap - (toPixels(m_frameTwips[2], tpp) - 2 * margin);
    const std::array<Item*, 2> spare{&items[0], &items[2]};
    const int spareTotal =
        (spare[0]->width - spare[0]->needs) + (spare[1]->width - spare[1]->needs);
    if (excess > 0 && spareTotal > 0) {
        const int give = std::min(excess, spareTotal);
        int given = 0;
        for (Item* item : spare) {
            const int share = (item->width - item->needs) * give / spareTotal;
            item->width -= share;
            given += share;
        }
        spare[1]->width -= std::min(give - given, spare[1]->width - spare[1]->needs);
    }
    const int top = toPixels(row, tpp);
    const int height = toPixels(h, tpp);
    int x = margin;
    for (const Item& item : items) {
        if (item.widget == cmdFilter)
            x += gap;
        item.widget->setGeometry(x, top - item.lift, item.width, height + 2 * item.lift);
        x += item.width + gap;
    }

    const int frameWidth = m_frameTwips[2];
    const int progressWidth = 2400;
    const int statWidth = std::max(0, frameWidth - progressWidth - 360);
    const int frameLeft = m_frameTwips[0];
    const int frameTop = m_frameTwips[1];
    put(txtSTAT, frameLeft + 120, frameTop + 720, statWidth, 615);
    put(ProgressBar1, frameLeft + 120 + statWidth + 120, frameTop + 720 + 200, progressWidth, 240);
    txtSTAT->raise();
    ProgressBar1->raise();
}

void frmMain::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    Form_Resize();
}

void frmMain::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        Form_Resize();
}

void frmMain::restoreFromTray()
{
    setWindowState(windowState() & ~Qt::WindowMinimized);
    if (!isVisible()) {
        show();
        activateWindow();
    }
    Form_Resize();
}

// ---- shutdown --------------------------------------------------------------------------------

void frmMain::closeEvent(QCloseEvent* event)
{
    event->accept();
    if (!m_closing)
        Form_QueryUnload();
}

void frmMain::Form_QueryUnload()
{
    m_closing = true;
    menuPROXOFF_Click();
    const Qt::WindowStates state = windowState();
    const bool normal =
        !(state & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen));
    if (normal) {
        m_store.write(QStringLiteral("Left"), QString::number(leftTwips()));
        m_store.write(QStringLiteral("Top"), QString::number(topTwips()));
        m_store.write(QStringLiteral("Width"), QString::number(widthTwips()));
        m_store.write(QStringLiteral("Height"), QString::number(heightTwips()));
    }
    m_store.sync();
    TrayX1->hide();
    if (m_terminate)
        m_terminate();
}

int frmMain::runDialog(QDialog& dialog)
{
    return m_runDialog ? m_runDialog(dialog) : dialog.exec();
}

void frmMain::menuExit_Click()
{
    close();
}

// ---- status, clock, commands -----------------------------------------------------------------

void frmMain::setStatusText(const QString& text)
{
    txtSTAT->setPlainText(text);
}

QString frmMain::statusText() const
{
    return txtSTAT->toPlainText();
}

QLabel* frmMain::panel(int index) const
{
    return index >= 1 && index <= 3 ? m_panels[index - 1] : nullptr;
}

QString frmMain::panelText(int index) const
{
    const QLabel* p = panel(index);
    return p ? p->text() : QString();
}

void frmMain::setPanelText(int index, const QString& text)
{
    if (QLabel* p = panel(index))
        p->setText(text);
}

QString frmMain::comboText(const QComboBox& combo)
{
    return ListPages::comboText(combo);
}

void frmMain::Timer1_Timer()
{
    m_fetcher->tick();
}

void frmMain::enableControls(bool enabled)
{
    Option1->setEnabled(enabled);
    Option2->setEnabled(enabled);
    menuTools->setEnabled(enabled);
    menuTools->menuAction()->setEnabled(enabled);
    menuHelp->setEnabled(enabled);
    menuHelp->menuAction()->setEnabled(enabled);
    menuImpProxList->setEnabled(enabled);
    menuImpProxSource->setEnabled(enabled);
    menuRefresh->setEnabled(enabled);
    menuSetup->setEnabled(enabled);
    menuStop->setEnabled(!enabled);
}

void frmMain::requestStop()
{
    stopRequested = true;
    m_fetcher->wake();
}

void frmMain::menuStop_Click()
{
    stopRequested = true;
    setStatusText(QStringLiteral("Finished checking proxies.."));
    ProgressBar1->setValue(0);
    ProxyGrid* grids[] = {MSH, MSH2, MSHi, MSHi2};
    if (activeGrid >= 1 && activeGrid <= 4)
        grids[activeGrid - 1]->setEnabled(true);
    frame->setEnabled(true);
    enableControls(true);
    m_fetcher->wake();
    m_tester->wake();
}

ProxyGrid* frmMain::gridFor(int number) const
{
    ProxyGrid* const grids[] = {MSH, MSH2, MSHi, MSHi2};
    return number >= 1 && number <= 4 ? grids[number - 1] : nullptr;
}

void frmMain::menuGetINFO_Click()
{
    if (ProxyGrid* grid = gridFor(activeGrid))
        m_webLookups->menuGetINFO_Click(grid->TextMatrix(grid->Row(), ProxyRow::Proxy));
}

void frmMain::copySelectedProxies()
{
    if (ProxyGrid* grid = gridFor(activeGrid))
        ProxyClipboard::copySelectedProxies(grid->rows(), grid->Row(), grid->RowSel());
}

// ---- proxy tests -----------------------------------------------------------------------------

void frmMain::menuTestProxy_Click()
{
    if (ProxyGrid* grid = gridFor(activeGrid))
        testSelectedProxies(*grid);
}

void frmMain::testSelectedProxies(ProxyGrid& grid)
{
    Running running(*this);
    int number = 0;
    for (int n = 1; n <= 4; ++n) {
        if (gridFor(n) == &grid)
            number = n;
    }
    const int before = m_tester->gateFetchCount();
    m_tester->testSelectedProxies({&grid.rows(), number, grid.Row(), grid.RowSel()});
    if (m_tester->gateFetchCount() != before)
        httpResult = m_tester->lastGateBody();
}

void frmMain::setProgressMaximum(int maximum)
{
    ProgressBar1->setMaximum(std::max(maximum, 1));
}

void frmMain::setProgressValue(int value)
{
    ProgressBar1->setValue(std::clamp(value, 0, ProgressBar1->maximum()));
}

void frmMain::setBusyCursor(bool busy)
{
    if (busy)
        MSH->setCursor(Qt::WaitCursor);
    else
        MSH->unsetCursor();
}

void frmMain::lockForRun(int grid)
{
    enableControls(false);
    if (ProxyGrid* g = gridFor(grid))
        g->setEnabled(false);
    frame->setEnabled(false);
}

void frmMain::showTestedRow(int grid, int row)
{
    if (ProxyGrid* g = gridFor(grid)) {
        g->setRow(row);
        g->setCol(0);
    }
}

void frmMain::unlockAfterRun(int grid)
{
    if (ProxyGrid* g = gridFor(grid)) {
        g->setRedraw(true);
        g->setEnabled(true);
        g->setRow(g->Row()); // the selection shrinks to the current cell
        if (!isMinimized() && !stopRequested)
            g->setFocus();
    }
    frame->setEnabled(true);
    enableControls(true);
}

// ---- system proxy ----------------------------------------------------------------------------

void frmMain::menuPROXON_Click()
{
    ProxyGrid* grid = gridFor(activeGrid);
    if (!grid || grid->Row() < 1)
        return;
    const int row = grid->Row();
    const QString proxy = grid->TextMatrix(row, ProxyRow::Proxy);
    if (proxy.isEmpty())
        return;
    const QString location = grid->TextMatrix(row, ProxyRow::Location);
    const SystemProxySwitch::Result result =
        m_proxySwitch->switchOn(proxy, grid->TextMatrix(row, ProxyRow::Type));
    // What was not switched on is never said to be: the caption and the auto-test stay as they
    // were, and the status text says why.
    if (!result.ok) {
        setStatusText(result.message);
        return;
    }
    setWindowTitle(caption() + QStringLiteral(" - Using [") + proxy + QStringLiteral("] in ") +
                   location);
    TrayX1->setToolTip(windowTitle());
    setStatusText(QStringLiteral("Proxy Use Enabled"));
    if (m_settings.chkTEST == 1)
        timerPTest->start();
    enabledProxyLabel = proxy + QStringLiteral(" [") + location + QStringLiteral("]");
}

void frmMain::menuPROXOFF_Click()
{
    setWindowTitle(caption());
    TrayX1->setToolTip(windowTitle());
    const SystemProxySwitch::Result result = m_proxySwitch->switchOff();
    setStatusText(QStringLiteral("Proxy Use (System) Disabled") +
                  (result.ok ? QString() : QStringLiteral("\n") + result.message));
    if (m_settings.chkTEST == 1)
        timerPTest->stop();
    enabledProxyLabel.clear();
}

void frmMain::timerPTest_Timer()
{
    Running running(*this);
    m_autoTest->timerPTest_Timer(enabledProxyLabel,
                                 m_proxySwitch->value(QStringLiteral("ProxyServer")));
    httpResult = m_autoTest->httpResult();
}

// ---- pages -----------------------------------------------------------------------------------

void frmMain::Option1_Click()
{
    MSH->show();
    MSH2->hide();
    MSHi->hide();
    MSHi2->hide();
    Option1->setChecked(true);
    activeGrid = 1;
    buildFilterChoices(*MSH);
}

void frmMain::Option2_Click()
{
    MSH->hide();
    MSH2->hide();
    MSHi->show();
    MSHi2->hide();
    Option2->setChecked(true);
    activeGrid = 3;
    buildFilterChoices(*MSHi);
}

void frmMain::cmdFilter_Click()
{
    Running running(*this);
    m_pages->filterPage();
}

void frmMain::cmdReset_Click()
{
    m_pages->resetPage();
}

void frmMain::menuImpProxList_Click()
{
    Running running(*this);
    TextFileImport(MSHi->rows(), sblistPROXLoc, *this, m_prompts).menuImpProxList_Click();
}

void frmMain::menuImpProxSource_Click()
{
    Running running(*this);
    if (!m_frmImport)
        m_frmImport = new frmImport(*this, sblistPROXLoc, *m_fetcher, m_prompts, this);
    m_frmImport->Form_Load();
    runDialog(*m_frmImport);
}

void frmMain::menuSetup_Click()
{
    if (!m_setup) {
        const auto reload = [this] {
            GetSettings();
            Form_Resize();
        };
        m_setup = new frmSetup(m_store, m_prompts, reload, Autostart(), this);
    }
    m_setup->Form_Load();
    runDialog(*m_setup);
}

// The Tools menu is disabled as a whole during long operations, so this never opens inside one.
void frmMain::menuJudges_Click()
{
    frmJudges judges(m_prompts, this);
    judges.Form_Load();
    runDialog(judges);
}

// ---- lists -----------------------------------------------------------------------------------

void frmMain::paintRowBands(ProxyGrid& grid, ProxyRow::Colour band)
{
    grid.paintRowBands(band);
}

void frmMain::addImportedRow(const QString& text)
{
    if (text.startsWith(QLatin1String("127.")) || text.startsWith(QLatin1String("0.")))
        return;
    ProxyTableModel& model = MSHi->rows();
    const int last = model.Rows() - 1;
    ProxyTableModel::Row row = model.row(last);
    ProxyRow::readStoredRowText(text, row.cells);
    const ProxyRow::Colour colour = ProxyRow::markColour(row.cells[ProxyRow::Active]);
    if (colour != ProxyRow::NoColour)
        row.fore.fill(colour);
    model.setRow(last, row);
    model.setRows(last + 2);
}

void frmMain::buildFilterChoices(ProxyGrid& grid, int fromRow, int toRow)
{
    sbLOC.clear();
    sbTYPE.clear();
    sbCLASS.clear();
    setStatusText(QStringLiteral("Importing Proxies.."));
    if (fromRow == 0)
        fromRow = 1;
    if (toRow == 0)
        toRow = grid.Rows();
    ProgressBar1->setMaximum(std::max(toRow, 1));

    struct Choices
    {
        int column;
        QStringList& list;
        QComboBox* combo;
        QSet<QString> seen;
    };
    std::array<Choices, 3> choices{{{ProxyRow::Location, sbLOC, cboLOC, {}},
                                    {ProxyRow::Type, sbTYPE, cboTYPE, {}},
                                    {ProxyRow::Class, sbCLASS, cboCLASS, {}}}};
    const ProxyTableModel& model = grid.rows();
    YieldClock clock;
    for (int r = fromRow; r <= toRow; ++r) {
        if (r >= 1 && r < model.Rows()) {
            for (Choices& c : choices) {
                const QString text = model.TextMatrix(r, c.column);
                if (text.isEmpty())
                    continue;
                const qsizetype before = c.seen.size();
                c.seen.insert(text); // one look-up: the set grows only for a new text
                if (c.seen.size() != before)
                    c.list.append(text);
            }
        }
        if (stopRequested)
            break;
        if (clock.maybeYield())
            ProgressBar1->setValue(std::min(r, ProgressBar1->maximum()));
    }
    ProgressBar1->setValue(0);

    for (Choices& c : choices) {
        QStringList items = c.list;
        items.sort(Qt::CaseInsensitive);
        c.combo->clear();
        c.combo->addItems(items);
        c.combo->setCurrentIndex(-1);
    }
}

void frmMain::loadProxyRemote()
{
    Running running(*this);
    // One clock for the whole load: the window is served between phases as well as inside them.
    YieldClock clock;
    enableControls(false);

    MSH->setRows(1);
    MSH->setRows(2);
    Form_Resize();
    MSH->setRedraw(false);
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);

    if (m_settings.chkCOR == 1) {
        setStatusText(QStringLiteral("Loading External Proxy List.."));
        // The lines are views into this body: it is the load's own copy, so a command served
        // meanwhile that fetches something else (a test run, the auto-test) cannot free it.
        const QString body =
            m_fetcher->getDOC_WINHTTP(true, false, ServiceList::listUrl(m_deployment.serviceUrl));
        httpResult = body;
        clock.yieldNow();
        const std::vector<QStringView> lines = ServiceList::linesToLoad(body);
        if (!lines.empty()) {
            setStatusText(QStringLiteral("Cleaning Proxy List.."));
            ProgressBar1->setMaximum(std::max<int>(int(lines.size()) - 1, 1));
            // The loaded rows replace the grid's empty row. They go in by batches: packing a
            // whole long list at once would keep the window waiting.
            constexpr std::size_t Batch = 2048;
            MSH->setRows(1);
            std::vector<ProxyTableModel::Row> rows;
            rows.reserve(Batch);
            ProxyTableModel::Row row;
            for (std::size_t i = 0; i < lines.size(); ++i) {
                if (stopRequested)
                    break;
                row.cells = ProxyRow::Cells();
                if (ProxyRow::serviceLineToCells(lines[i], row.cells))
                    rows.push_back(row);
                if (rows.size() == Batch) {
                    MSH->rows().appendRows(std::exchange(rows, {}));
                    rows.reserve(Batch);
                }
                if (clock.maybeYield())
                    ProgressBar1->setValue(int(i));
            }
            MSH->rows().appendRows(std::move(rows));
            clock.maybeYield();
        }
        ProgressBar1->setValue(0);
    }

    if (m_settings.chkIMP == 1) {
        const int count = sblistPROXLoc.count();
        if (count >= 1) {
            MSHi->setEnabled(false);
            MSHi->setRedraw(false);
            MSHi->setRows(1);
            MSHi->setRows(2);
            ProgressBar1->setMaximum(count);
            setStatusText(QStringLiteral("Importing Local Proxies.."));
            // Not cut short by Stop: the imported grid must show every stored line, or it and
            // proxy.lst would disagree until the next load.
            for (int i = 0; i < count && i < sblistPROXLoc.count(); ++i) {
                const QString line = sblistPROXLoc.item(i); // a copy: the loop serves the queue
                // A line without a proxy (blank, damaged) stays in the store but is not shown.
                if (!ProxyRow::proxyField(line).isEmpty())
                    addImportedRow(line);
                if (clock.maybeYield())
                    ProgressBar1->setValue(i);
            }
            MSHi->rows().RemoveItem(MSHi->Rows() - 1);
            MSHi->setEnabled(true);
            MSHi->setRedraw(true);
        }
        ProgressBar1->setValue(0);
    }

    if (MSH->Rows() >= 2) {
        clock.yieldNow();
        MSH->setCol(ProxyRow::Tested);
        MSH->setRow(1);
        MSH->setRowSel(MSH->Rows() - 1);
        MSH->Sort(ProxyTableModel::TextDescending, clock.server());
        clock.maybeYield();
    }

    if (m_settings.chkCOR == 1) {
        MSH->setEnabled(false);
        paintRowBands(*MSH, ServiceBand);
        paintRowBands(*MSH2, ServiceBand);
        MSH->setEnabled(true);
        MSH->setRedraw(true);
    }
    if (m_settings.chkIMP == 1) {
        MSHi->setEnabled(false);
        MSHi->setRedraw(false);
        paintRowBands(*MSHi, ImportedBand);
        paintRowBands(*MSHi2, ImportedResultBand);
        MSHi->setEnabled(true);
        MSHi->setRedraw(true);
    }
    clock.maybeYield();

    if (activeGrid == 1 || activeGrid == 2)
        buildFilterChoices(*MSH);
    else if (activeGrid == 3 || activeGrid == 4)
        buildFilterChoices(*MSHi);

    MSH->setRedraw(true);
    if (MSH->Rows() >= 2) {
        MSH->setRow(1);
        MSH->setCol(0);
        MSH->setColSel(MSH->Cols() - 1);
    }
    setStatusText(QString());
    setPanelText(1, QString::number(MSH->rows().proxyCount()) + QStringLiteral(" Main"));
    setPanelText(2, QString::number(MSHi->rows().proxyCount()) + QStringLiteral(" Imported"));
    QGuiApplication::restoreOverrideCursor();

    if (!isMinimized() && MSH->isVisible())
        MSH->setFocus();
    enableControls(true);
    // A Stop that ended this load must not cut short the next fetch or run.
    stopRequested = false;
}

void frmMain::getMyIP()
{
    Running running(*this);
    const QDate today = m_today();
    const QString todayText = ExternalAddress::dayText(today);
    const QString lastDay =
        m_store.read(QStringLiteral("LAST_MYIP"), ExternalAddress::dayText(today.addDays(-1)));
    const QString stored = m_store.read(QStringLiteral("MYIP"), QString());
    if (!ExternalAddress::fetchDue(stored, lastDay, todayText)) {
        setPanelText(3, stored);
        return;
    }
    setStatusText(QStringLiteral("Getting External IP Address.."));
    const QString page = m_fetcher->getDOC_WINHTTP(true, false, m_deployment.ipInfoUrl);
    bool found = false;
    const QString address = ExternalAddress::fromPage(page, &found);
    if (found)
        setPanelText(3, address);
    setStatusText(QString());
    // Only an address is remembered: a page without one must not end up in the status bar.
    m_store.write(QStringLiteral("MYIP"), found ? address : QString());
    m_store.write(QStringLiteral("LAST_MYIP"), todayText);
}
