#pragma once

#include "settings/Autostart.h"
#include "settings/SettingKeys.h"

#include <QDialog>
#include <QStringList>

#include <functional>
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
// tests, location database, font and size are written whenever the dialog closes. The main window
// keeps one object for the whole run, so the font notice comes once.
class frmSetup final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmSetup)

public:
    static const QString FontNoticeText; // "Changes to font require restart of program."

    // reloadWindow makes the main window read the settings again and lay itself out ("OK").
    frmSetup(SettingsStore& store, Prompts& prompts, std::function<void()> reloadWindow,
             const Autostart& autostart = Autostart(), QWidget* parent = nullptr);
    ~frmSetup() override;

    // Fills the controls from the settings; run before every opening.
    void Form_Load();
    void chkOK_Click();
    // Every close (OK, Escape, the window frame) writes the values that are kept on closing.
    void done(int result) override;

    bool fontNoticeShown() const { return m_fontNoticeShown; }

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
    QStringList SBList1; // the screen's font names

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

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
    void fontPicked();
    void Form_Unload();
    static void showText(QComboBox& combo, const QString& text);

    SettingsStore& m_store;
    Prompts& m_prompts;
    std::function<void()> m_reloadWindow;
    Autostart m_autostart;
    std::vector<Box> m_boxes; // in the order Form_Load sets them
    bool m_loaded = false;
    bool m_fontNoticeShown = false;
};
