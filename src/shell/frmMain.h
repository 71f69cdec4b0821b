#pragma once

#include "base/Deployment.h"
#include "base/StopFlag.h"
#include "base/WindowHost.h"
#include "model/ImportedListStore.h"
#include "settings/WindowSettings.h"
#include "shell/WindowPlacement.h"
#include "testing/AutoTest.h"
#include "views/ColumnLayout.h"
#include "views/ListPages.h"

#include <QDate>
#include <QIcon>
#include <QMainWindow>
#include <QStringList>

#include <functional>
#include <memory>

class DocumentFetcher;
class FilterBar;
class HttpFetcher;
class Prompts;
class ProxyGrid;
class QAction;
class QComboBox;
class QDialog;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QRadioButton;
class QPushButton;
class QSystemTrayIcon;
class QTimer;
class QToolButton;
class frmImport;
class ProxyTester;
class frmSetup;
class ServiceListLoader;
class SettingsStore;
class SystemProxySwitch;
class WebLookups;

// The main window: owns both proxy lists (in its four grids and the imported list store), the
// fetcher, the timers and every command. Its routines keep the names the rest of the program
// knows them by (Form_Load, loadProxyRemote, ...). Long routines serve the event queue while
// they work, so the window stays live; enableControls keeps interfering commands away meanwhile.
class frmMain final : public QMainWindow, public WindowHost
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmMain)

public:
    // Design-time outer size in twips, which the first start centres on the screen.
    // The first start's size: every column shown at its designed width, the scroll bar beside.
    static constexpr int DesignWidth = ColumnLayout::designedShownTwips() + 700;
    static constexpr int DesignHeight = 7000;
    static constexpr int FrameHeight = 1400; // the "Filter" frame, status text included
    // The grids' height is reckoned from the window's outer height, which adds a title bar and
    // borders to the inside height that Qt reports; without it an empty strip would be left
    // between the filter frame and the status bar.
    static constexpr int TitleBarTwips = 405;

    frmMain(const Deployment& deployment, SettingsStore& store, Prompts& prompts,
            QWidget* parent = nullptr);
    ~frmMain() override;

    static QString caption();
    // The application's name, version, desktop entry and icon; the program lives on in the tray
    // when its window is closed. Call once after creating the QApplication.
    static void setUpApplication();
    // Its name and version alone, which a core application without a display can take too.
    static void setUpIdentity();

    // Start-up; call once after construction.
    void Form_Load();
    void GetSettings();
    void Form_Resize() override;
    void SetupGrid(ProxyGrid& grid);
    void Form_QueryUnload();
    void menuExit_Click();
    void menuStop_Click();
    void Timer1_Timer();
    void restoreFromTray();

    void loadProxyRemote();
    void getMyIP();
    void enableControls(bool enabled) override;
    void Option1_Click();
    void Option2_Click();
    void cmdFilter_Click();
    void cmdReset_Click();
    // Proxies from a text file, and the web source dialog with its scan.
    void menuImpProxList_Click();
    void menuImpProxSource_Click();
    // "OK" in the settings dialog re-reads the settings and lays the window out.
    void menuSetup_Click();
    void menuAbout_Click();
    void menuJudges_Click();

    // Proxy tests, the system proxy and its auto-test.
    void menuTestProxy_Click();
    void testSelectedProxies(ProxyGrid& grid);
    void testSelectedProxies(int grid) override;
    void menuPROXON_Click();
    void menuPROXOFF_Click();
    void timerPTest_Timer();
    // Web look-ups and the clipboard copy on the current grid.
    void menuGetINFO_Click();
    void copySelectedProxies();
    // The grid that activeGrid names; nullptr for any other value.
    ProxyGrid* gridFor(int number) const;

    void setStatusText(const QString& text) override;
    QString statusText() const override;
    QString panelText(int panel) const; // 1..3
    void setPanelText(int panel, const QString& text) override;

    // Window place and size in twips.
    WindowPlacement& placement() { return m_placement; }
    double twipsPerPixel() const;

    // Test seams: what "end the program" does, and what day it is.
    void setTerminate(std::function<void()> terminate) { m_terminate = std::move(terminate); }
    // What the program's own way to end does from inside a running routine (the process ends).
    void setEndAtOnce(std::function<void()> end) { m_endAtOnce = std::move(end); }
    void setToday(std::function<QDate()> today) { m_today = std::move(today); }
    // How a modal dialog is run: QDialog::exec unless a test says otherwise.
    void setDialogRunner(std::function<int(QDialog&)> run) { m_runDialog = std::move(run); }
    int runDialog(QDialog& dialog);

    DocumentFetcher& fetcher() { return *m_fetcher; }
    ProxyTester& tester() { return *m_tester; }
    SystemProxySwitch& proxySwitch() { return *m_proxySwitch; }
    ListPages& pages() { return *m_pages; }
    WebLookups& webLookups() { return *m_webLookups; }
    ImportedListStore& importedStore() { return sblistPROXLoc; }
    const WindowSettings& settings() const { return m_settings; }
    const Deployment& deployment() const { return m_deployment; }

    StopFlag stopRequested;
    int activeGrid = 1;
    int lastSortOrder = 7;
    QString httpResult;
    QString enabledProxyLabel; // the switched-on proxy and its location, for the auto-test

    // What the subsystems ask of the window.
    void setProgressMaximum(int maximum) override;
    void setProgressValue(int value) override;
    void setProgressText(const QString& text) override;
    void setBusyCursor(bool busy) override;
    const StopFlag& stopFlag() const override { return stopRequested; }
    bool isStopRequested() const override { return stopRequested.isRequested(); }
    void clearStopRequested() override { stopRequested.clear(); }
    void requestStop() override;
    void lockForRun(int grid) override;
    void showTestedRow(int grid, int row) override;
    void unlockAfterRun(int grid) override;
    void showImportedPage() override { Option2_Click(); }
    void reloadLists() override { loadProxyRemote(); }
    bool windowMinimized() const override { return isMinimized(); }
    void restoreWindow() override { restoreFromTray(); }

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // Controls, by the names the routines use.
    ProxyGrid* MSH = nullptr;
    ProxyGrid* MSH2 = nullptr;
    ProxyGrid* MSHi = nullptr;
    ProxyGrid* MSHi2 = nullptr;
    QRadioButton* Option1 = nullptr;
    QRadioButton* Option2 = nullptr;
    FilterBar* frame = nullptr;
    QComboBox* cboLOC = nullptr;
    QComboBox* cboTYPE = nullptr;
    QComboBox* cboCLASS = nullptr;
    QLineEdit* txtMinSpeed = nullptr;
    QLineEdit* txtMaxSpeed = nullptr;
    QPushButton* cmdFilter = nullptr;
    QPushButton* cmdReset = nullptr;
    QPlainTextEdit* txtSTAT = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QTimer* timerPTest = nullptr;
    QTimer* Timer1 = nullptr;
    QSystemTrayIcon* TrayX1 = nullptr;
    QToolButton* picTWITTER = nullptr;
    QToolButton* picFB = nullptr;

    QMenu* menuFile = nullptr;
    QAction* menuImpProxList = nullptr;
    QAction* menuImpProxSource = nullptr;
    QAction* menuExport = nullptr;
    QAction* menuRefresh = nullptr;
    QAction* menuStop = nullptr;
    QAction* menuSetup = nullptr;
    QAction* menuExit = nullptr;
    QMenu* menuEdit = nullptr;
    QAction* menuUndo = nullptr;
    QMenu* menuTools = nullptr;
    QAction* menuTestProxy = nullptr;
    QAction* menuGetINFO = nullptr;
    QAction* menuPROXON = nullptr;
    QAction* menuPROXOFF = nullptr;
    QAction* menuWHATIP = nullptr;
    QAction* menuCopyProx = nullptr;
    QAction* menuJudges = nullptr;
    QMenu* menuHelp = nullptr;
    QAction* menuSupport = nullptr;
    QAction* menuAbout = nullptr;

    class Running;

    void createControls();
    void createMenus();
    void placeFrameContents();
    int statusBarTwips() const;
    QLabel* panel(int index) const;

    Deployment m_deployment;
    SettingsStore& m_store;
    Prompts& m_prompts;
    WindowSettings m_settings;
    ImportedListStore sblistPROXLoc;
    std::unique_ptr<HttpFetcher> m_http;
    std::unique_ptr<DocumentFetcher> m_fetcher;
    WindowPlacement m_placement;
    std::unique_ptr<ServiceListLoader> m_loader;
    std::unique_ptr<ProxyTester> m_tester;
    std::unique_ptr<AutoTest> m_autoTest;
    std::unique_ptr<SystemProxySwitch> m_proxySwitch;
    std::unique_ptr<ListPages> m_pages;
    std::unique_ptr<ColumnLayout> m_serviceColumns;
    std::unique_ptr<ColumnLayout> m_importedColumns;
    bool m_placedOnScreen = false;    // brought whole onto the screen once it had its frame
    frmImport* m_frmImport = nullptr; // one dialog object for the whole run
    frmSetup* m_setup = nullptr;      // one dialog object for the whole run
    std::unique_ptr<WebLookups> m_webLookups;
    QLabel* m_panels[3] = {};
    int m_frameTwips[4] = {70, 0, 0, FrameHeight};
    int m_running = 0;
    bool m_closing = false;
    std::function<void()> m_terminate;
    std::function<void()> m_endAtOnce;
    std::function<QDate()> m_today;
    std::function<int(QDialog&)> m_runDialog;
};
