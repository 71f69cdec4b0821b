#pragma once

#include "settings/Autostart.h"
#include "settings/SettingKeys.h"

#include <QDialog>
#include <QStringList>

#include <functional>
#include <optional>
#include <utility>
#include <vector>

class Prompts;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class SettingsStore;

// "Setup": the settings of the lists loaded, the auto-test, the start at log-in, the test
// time-out and parallel tests, the location database, whether tests find a proxy's type, the grid
// font and the column switches. Check boxes write their key when clicked; the time-out, parallel
// tests, location database, font and size are written when the dialog closes by OK or by its
// window frame. Cancel and Esc put back every key, the autostart entry and the columns as they
// were when the dialog opened.
class frmSetup final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmSetup)

public:
    // reloadWindow makes the main window read the settings again and lay itself out ("OK").
    frmSetup(SettingsStore& store, Prompts& prompts, std::function<void()> reloadWindow,
             const Autostart& autostart = Autostart(), QWidget* parent = nullptr);
    ~frmSetup() override;

    // Fills the controls from the settings; run before every opening.
    void Form_Load();
    // Writes what is kept on closing, then has the window read the settings again.
    void chkOK_Click();
    // Puts back what the dialog found on opening.
    void cmdCancel_Click();
    // A close by the window frame keeps the changes; Cancel and Esc do not.
    void done(int result) override;

signals:
    void judgesRequested(); // "Judges…": the main window opens the dialog

public:
    QGroupBox* frmSRC = nullptr;
    QCheckBox* chkCOR = nullptr;
    QCheckBox* chkIMP = nullptr;
    QCheckBox* chkTest = nullptr;
    QCheckBox* chkWINDOWS = nullptr;
    QLabel* lblTimeout = nullptr;
    QLineEdit* txtTimeout = nullptr;
    QLabel* lblParallel = nullptr;
    QLineEdit* txtParallel = nullptr;
    QPushButton* cmdJudges = nullptr;
    QLabel* lblMmdbFile = nullptr;
    QLineEdit* txtMmdbFile = nullptr; // empty: no location database
    QPushButton* cmdMmdbFile = nullptr;
    QCheckBox* chkDetectType = nullptr;
    QLabel* Label1 = nullptr;
    QComboBox* cboFONT = nullptr;
    QLabel* lblFontsize = nullptr;
    QComboBox* cboFontSize = nullptr;
    QGroupBox* Frame1 = nullptr;
    QCheckBox* chkCOOKIES = nullptr;
    QCheckBox* chkREFER = nullptr;
    QCheckBox* chkPOST = nullptr;
    QCheckBox* chkGET = nullptr;
    QCheckBox* chkSSL = nullptr;
    QPushButton* chkOK = nullptr;
    QPushButton* cmdCancel = nullptr;
    QLabel* lblTimeoutRange = nullptr;  // beside its box while the value is out of range
    QLabel* lblParallelRange = nullptr; // likewise
    QStringList SBList1;                // the screen's font names

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    struct Box
    {
        QCheckBox* box;
        const Setting::Name* key;
    };

    void createControls();
    void checkBoxClicked(const Box& box);
    void chkWINDOWS_Click();
    void cmdMmdbFile_Click();
    void checkRanges();
    void Form_Unload();
    void putBack();
    void finish(bool keep);
    static void showText(QComboBox& combo, const QString& text);
    std::vector<const Setting::Name*> keysWritten() const;

    SettingsStore& m_store;
    Prompts& m_prompts;
    std::function<void()> m_reloadWindow;
    Autostart m_autostart;
    std::vector<Box> m_boxes; // in the order Form_Load sets them
    bool m_loaded = false;
    bool m_cancelled = false;
    bool m_fontPicked = false;
    bool m_sizePicked = false;
    // What the dialog found on opening, before anything was written.
    std::vector<std::pair<const Setting::Name*, std::optional<QString>>> m_openedKeys;
    std::optional<QByteArray> m_openedEntry;
};
