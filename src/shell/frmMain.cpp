#include "shell/frmMain.h"

#include "base/Prompts.h"
#include "base/YieldClock.h"
#include "import/TextFileImport.h"
#include "import/frmImport.h"
#include "model/ProxyRow.h"
#include "service/DocumentFetcher.h"
#include "service/ExternalAddress.h"
#include "service/HttpFetcher.h"
#include "service/ServiceListLoader.h"
#include "settings/SettingKeys.h"
#include "settings/SettingsStore.h"
#include "settings/frmSetup.h"
#include "shell/AppIcons.h"
#include "shell/frmAbout.h"
#include "signup/frmEmail.h"
#include "system/ProxyClipboard.h"
#include "system/SystemProxySwitch.h"
#include "system/WebLookups.h"
#include "testing/ProxyTester.h"
#include "testing/frmJudges.h"
#include "version.h"
#include "views/FilterBar.h"
#include "views/PageExport.h"
#include "views/ProxyGrid.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

constexpr int GridLeft = 100;
constexpr int GridTop = 400;

int toPixels(int twips, double tpp)
{
    return WindowPlacement::toPixels(twips, tpp);
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
      m_fetcher(std::make_unique<DocumentFetcher>(*m_http, stopRequested)), m_placement(*this),
      m_today([] { return QDate::currentDate(); })
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowIcon(AppIcons::application());
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

    m_tester = std::make_unique<ProxyTester>(*this, sblistPROXLoc, MSHi->rows(), m_store,
                                             m_deployment.serviceUrl);
    m_loader = std::make_unique<ServiceListLoader>(*m_fetcher, sblistPROXLoc, *this,
                                                   m_deployment.serviceUrl);
    m_autoTest = std::make_unique<AutoTest>(*this, *m_fetcher, m_prompts, m_deployment.probeUrl);
    m_proxySwitch = std::make_unique<SystemProxySwitch>(
        SystemProxySwitch::defaultContractPath(),
        SystemProxySwitch::backendFor(m_deployment.systemProxy));

    m_pages = std::make_unique<ListPages>(
        ListPages::Controls{MSH, MSH2, MSHi, MSHi2, frame, cboLOC, cboTYPE, cboCLASS, txtMinSpeed,
                            txtMaxSpeed, menuTools, menuTestProxy, menuUndo, Option1, Option2},
        sblistPROXLoc, activeGrid, lastSortOrder, *this, m_prompts);
    m_serviceColumns = std::make_unique<ColumnLayout>(*MSH, *MSH2);
    m_importedColumns = std::make_unique<ColumnLayout>(*MSHi, *MSHi2);
    connect(cmdFilter, &QPushButton::clicked, this, [this] { cmdFilter_Click(); });
    connect(cmdReset, &QPushButton::clicked, this, [this] { cmdReset_Click(); });

    m_webLookups = std::make_unique<WebLookups>(m_deployment, m_prompts);
    using Page = WebLookups::Page;
    connect(menuAbout, &QAction::triggered, this, [this] { menuAbout_Click(); });
    connect(menuSupport, &QAction::triggered, this, [this] { m_webLookups->open(Page::Support); });
    connect(menuWHATIP, &QAction::triggered, this,
            [this] { m_webLookups->open(Page::WhatIsMyIp); });
    connect(picFB, &QToolButton::clicked, this, [this] { m_webLookups->open(Page::Facebook); });
    connect(picTWITTER, &QToolButton::clicked, this, [this] { m_webLookups->open(Page::Twitter); });
    connect(menuGetINFO, &QAction::triggered, this, [this] { menuGetINFO_Click(); });
    connect(menuCopyProx, &QAction::triggered, this, [this] { copySelectedProxies(); });

    m_placement.setGeometryTwips(0, 0, DesignWidth, DesignHeight);
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

    picTWITTER = new QToolButton(central);
    picTWITTER->setObjectName(QStringLiteral("picTWITTER"));
    picTWITTER->setIcon(AppIcons::letter(QColor(0x1d, 0xa1, 0xf2), QStringLiteral("t")));
    picTWITTER->setToolTip(QStringLiteral("Click HERE to Get Our Updates on Twitter"));
    picTWITTER->setAutoRaise(true);
    picFB = new QToolButton(central);
    picFB->setObjectName(QStringLiteral("picFB"));
    picFB->setIcon(AppIcons::letter(QColor(0x3b, 0x59, 0x98), QStringLiteral("f")));
    picFB->setToolTip(QStringLiteral("Click HERE to Get Our Updates on Facebook"));
    picFB->setAutoRaise(true);

    frame = new FilterBar(central);
    cboLOC = frame->cboLOC();
    cboTYPE = frame->cboTYPE();
    cboCLASS = frame->cboCLASS();
    txtMinSpeed = frame->txtMinSpeed();
    txtMaxSpeed = frame->txtMaxSpeed();
    cmdFilter = frame->cmdFilter();
    cmdReset = frame->cmdReset();

    // The status text: written by the program only; read-only refuses typing and pasting.
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
    menuExport = action(menuFile, "menuExport", QStringLiteral("Export..."));
    menuFile->addSeparator()->setObjectName(QStringLiteral("menuSep2"));
    menuRefresh = action(menuFile, "menuRefresh", QStringLiteral("Refresh Proxy List (Remote)"),
                         QKeySequence(Qt::Key_F5));
    menuStop = action(menuFile, "menuStop", QStringLiteral("Stop"), QKeySequence(Qt::Key_Escape));
    menuStop->setEnabled(false);
    menuSetup = action(menuFile, "menuSetup", QStringLiteral("Setup"));
    menuExit = action(menuFile, "menuExit", QStringLiteral("Exit"));

    menuEdit = menuBar()->addMenu(QStringLiteral("&Edit"));
    menuEdit->setObjectName(QStringLiteral("menuEdit"));
    menuUndo =
        action(menuEdit, "menuUndo", QStringLiteral("Undo"), QKeySequence(Qt::CTRL | Qt::Key_Z));

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
    connect(menuExport, &QAction::triggered, this, [this] {
        if (const ProxyGrid* grid = gridFor(activeGrid))
            PageExport(*this, m_prompts).exportGrid(*grid);
    });
    connect(menuSetup, &QAction::triggered, this, [this] { menuSetup_Click(); });
    connect(menuJudges, &QAction::triggered, this, [this] { menuJudges_Click(); });
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
    QApplication::setWindowIcon(AppIcons::application());
    QApplication::setQuitOnLastWindowClosed(false);
}

double frmMain::twipsPerPixel() const
{
    return m_placement.twipsPerPixel();
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
    setWindowTitle(caption());
    m_placement.restore(m_store, DesignWidth, DesignHeight);
    m_serviceColumns->restore(m_store.read(Setting::ColumnWidths1));
    m_importedColumns->restore(m_store.read(Setting::ColumnWidths2));

    frame->clearCriteria();

    const QString listPath = ImportedListStore::defaultPath();
    Result loaded;
    if (QFileInfo::exists(listPath)) {
        loaded = sblistPROXLoc.loadFromFile(listPath);
        if (!loaded.ok())
            setStatusText(loaded.message());
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

    const int lastTab = m_store.value(Setting::LastTab, 0);
    if (lastTab == 1)
        Option1_Click();
    else if (lastTab == 2)
        Option2_Click();
    show();

    getMyIP();
    loadProxyRemote();
    // Loading the lists clears the status text; a list that could not be read must stay said.
    if (!loaded.ok())
        setStatusText(loaded.message());
}

void frmMain::GetSettings()
{
    m_settings.readFrom(m_store);
    double size = 0;
    const bool hasSize = SettingsText::toNumber(m_settings.cboFontSize, size);
    for (ProxyGrid* grid : {MSH, MSH2, MSHi, MSHi2}) {
        grid->setGridFont(m_settings.cboFont, size, hasSize);
        grid->setFixedFontFace(m_settings.cboFont);
    }
    m_serviceColumns->showOptionalColumns(m_settings);
    m_importedColumns->showOptionalColumns(m_settings);
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

    const int frameWidth = m_placement.widthTwips() - 140;
    if (frameWidth >= 0)
        m_frameTwips[2] = frameWidth;
    m_frameTwips[1] = MSH->topTwips() + MSH->heightTwips() + 200;
    const double tpp = twipsPerPixel();
    frame->setGeometry(toPixels(m_frameTwips[0], tpp), toPixels(m_frameTwips[1], tpp),
                       toPixels(m_frameTwips[2], tpp), toPixels(m_frameTwips[3], tpp));
    placeFrameContents();

    const int right = toPixels(m_placement.widthTwips(), tpp);
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
    // The columns keep the widths they have: their pages' layouts hold them.
    const int width = m_placement.widthTwips() - 280;
    const int height = m_placement.heightTwips() + TitleBarTwips -
                       (MSH->topTwips() + statusBarTwips() + FrameHeight + 1050);
    grid.setGeometryTwips(GridLeft, GridTop, width, height);
    const QStringList& headers = ProxyRow::columnHeaders();
    for (int c = 0; c < ProxyRow::ColumnCount; ++c)
        grid.setTextMatrix(0, c, headers.at(c));
}

void frmMain::placeFrameContents()
{
    const double tpp = twipsPerPixel();
    frame->placeContents(tpp, m_frameTwips[2]);
    auto put = [tpp](QWidget* w, int left, int top, int width, int height) {
        w->setGeometry(toPixels(left, tpp), toPixels(top, tpp), toPixels(width, tpp),
                       toPixels(height, tpp));
    };
    // The status text and the progress bar sit over the filter frame but are not part of it, so
    // they stay readable while a run disables the frame.
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

void frmMain::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!std::exchange(m_placedOnScreen, true))
        m_placement.keepOnScreen();
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
    m_placement.save(m_store);
    m_store.write(Setting::ColumnWidths1, m_serviceColumns->storedText());
    m_store.write(Setting::ColumnWidths2, m_importedColumns->storedText());
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
    menuExport->setEnabled(enabled);
    menuRefresh->setEnabled(enabled);
    menuSetup->setEnabled(enabled);
    menuStop->setEnabled(!enabled);
}

void frmMain::requestStop()
{
    stopRequested.request();
}

void frmMain::menuStop_Click()
{
    stopRequested.request();
    setStatusText(QStringLiteral("Finished checking proxies.."));
    ProgressBar1->setValue(0);
    ProxyGrid* grids[] = {MSH, MSH2, MSHi, MSHi2};
    if (activeGrid >= 1 && activeGrid <= 4)
        grids[activeGrid - 1]->setEnabled(true);
    frame->setEnabled(true);
    enableControls(true);
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

void frmMain::testSelectedProxies(int grid)
{
    if (ProxyGrid* g = gridFor(grid))
        testSelectedProxies(*g);
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
    m_tester->testSelectedProxies({&grid.rows(), number, grid.Row(), grid.RowSel()},
                                  m_settings.txtTimeout);
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

void frmMain::setProgressText(const QString& text)
{
    ProgressBar1->setFormat(text);
    ProgressBar1->setTextVisible(!text.isEmpty());
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
        if (!isMinimized() && !stopRequested.isRequested())
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
    const Result result = m_proxySwitch->switchOn(proxy, grid->TextMatrix(row, ProxyRow::Type));
    // What was not switched on is never said to be: the caption and the auto-test stay as they
    // were, and the status text says why.
    if (!result.ok()) {
        setStatusText(result.message());
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
    const Result result = m_proxySwitch->switchOff();
    setStatusText(QStringLiteral("Proxy Use (System) Disabled") +
                  (result.ok() ? QString() : QStringLiteral("\n") + result.message()));
    if (m_settings.chkTEST == 1)
        timerPTest->stop();
    enabledProxyLabel.clear();
}

void frmMain::timerPTest_Timer()
{
    Running running(*this);
    m_autoTest->timerPTest_Timer(enabledProxyLabel,
                                 m_proxySwitch->value(QStringLiteral("ProxyServer")),
                                 m_settings.txtTimeout);
    httpResult = m_autoTest->httpResult();
}

// ---- pages -----------------------------------------------------------------------------------

void frmMain::Option1_Click()
{
    m_pages->Option1_Click();
}

void frmMain::Option2_Click()
{
    m_pages->Option2_Click();
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
    TextFileImport(MSHi->rows(), sblistPROXLoc, m_pages->importedUndo(), *this, m_prompts)
        .menuImpProxList_Click();
}

void frmMain::menuImpProxSource_Click()
{
    Running running(*this);
    if (!m_frmImport)
        m_frmImport = new frmImport(*this, sblistPROXLoc, m_pages->importedUndo(), *m_fetcher,
                                    m_prompts, this);
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
        connect(m_setup, &frmSetup::judgesRequested, this, [this] { menuJudges_Click(); });
    }
    m_setup->Form_Load();
    runDialog(*m_setup);
}

void frmMain::menuAbout_Click()
{
    frmAbout about(WebLookups::address(m_deployment, WebLookups::Page::About), this);
    connect(&about, &frmAbout::siteRequested, this,
            [this] { m_webLookups->open(WebLookups::Page::About); });
    runDialog(about);
}

// The Tools menu is disabled as a whole during long operations, so this never opens inside one.
void frmMain::menuJudges_Click()
{
    frmJudges judges(m_prompts, this);
    judges.Form_Load();
    runDialog(judges);
}

// ---- lists -----------------------------------------------------------------------------------

void frmMain::loadProxyRemote()
{
    Running running(*this);
    httpResult = m_pages->loadLists(*m_loader, m_settings.chkCOR == 1, m_settings.chkIMP == 1);
}

void frmMain::getMyIP()
{
    Running running(*this);
    ExternalAddress::getMyIP(m_store, *m_fetcher, m_deployment.ipInfoUrl, m_today(), *this);
}
