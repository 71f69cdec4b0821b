#pragma once

#include "import/SourceList.h"
#include "import/SourceScanner.h"
#include "model/ImportedListUndo.h"

#include <QDialog>

class Prompts;
class QGroupBox;
class QListWidget;
class QProgressBar;
class QPushButton;
class DocumentFetcher;
class ImportedListStore;
class WindowHost;

// "Proxy Import Sources": the list of web pages the scanner reads proxies from (kept in
// proxysources.lst), with Add, File Add, Delete, Scan and OK. The main window keeps one object
// for the whole run, so sourcesScanned outlives a closing.
//
// While a scan or a File Add runs, the buttons that would change the list or start another scan
// are disabled; OK or closing the dialog then stops it and takes effect once it has ended. The
// proxies that the scans of one opening added are undone as one import.
class frmImport final : public QDialog, private SourceScanner::View
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmImport)

public:
    // Design size in twips.
    static constexpr int DesignWidth = 7200;
    static constexpr int DesignHeight = 5000;

    frmImport(WindowHost& host, ImportedListStore& store, ImportedListUndo& undo,
              DocumentFetcher& fetcher, Prompts& prompts, QWidget* parent = nullptr);
    ~frmImport() override;

    // Before every opening: the imported list page, centred, the list from proxysources.lst.
    void Form_Load();
    void Form_Resize();
    void cmdADD_Click();
    void cmdFile_Click();
    void cmdDelete_Click();
    void cmdScan_Click();
    void commandOK_Click();

    const SourceList& sources() const { return m_sources; }
    bool isBusy() const { return m_busy; }

    bool sourcesScanned = false;

    QListWidget* SBList1 = nullptr;
    QGroupBox* Frame1 = nullptr;
    QPushButton* cmdADD = nullptr;
    QPushButton* cmdFile = nullptr;
    QPushButton* cmdDelete = nullptr;
    QPushButton* cmdScan = nullptr;
    QPushButton* commandOK = nullptr;
    QProgressBar* ProgressBar1 = nullptr;

public slots:
    void reject() override;
    void done(int result) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    enum class Leave { No, Ok, Close };

    // SourceScanner::View
    int sourceCount() const override;
    QString source(int index) const override;
    bool isSourceSelected(int index) const override;
    void selectAllSources() override;
    void setSourcesEnabled(bool enabled) override;
    void setProgressMaximum(int maximum) override;
    void setProgressValue(int value) override;
    void setTitle(const QString& title) override;

    void setBusy(bool busy);
    void requestLeave(Leave leave);
    void leaveIfAsked();
    void saveSources();

    WindowHost& m_host;
    ImportedListStore& m_store;
    ImportedListUndo& m_undo;
    std::optional<ImportedListUndo::Before> m_beforeScans; // the list before this opening's scans
    int m_scanned = 0;                                     // proxies they added
    DocumentFetcher& m_fetcher;
    Prompts& m_prompts;
    SourceList m_sources; // what SBList1 shows, entry for entry
    bool m_busy = false;
    Leave m_leave = Leave::No;
};
