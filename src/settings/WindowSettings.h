#pragma once

#include <QString>

class SettingsStore;

// The main window's copies of the settings, filled by GetSettings.
struct WindowSettings
{
    int chkREFER = 0;
    int chkGET = 0;
    int chkPOST = 0;
    int chkSSL = 0;
    int chkCOOKIES = 0;
    int chkCOR = 0;
    int chkIMP = 0;
    int chkWINDOWS = 0;
    int chkTEST = 0;
    int txtTimeout = 0;
    QString cboFont;
    QString cboFontSize;

    // Reads the twelve keys with their defaults. A number key whose text is not a number keeps
    // the copy's previous value; a time-out that is not a positive whole number reads as 60.
    void readFrom(const SettingsStore& store);
};

namespace SettingsText {
// The whole number a settings text holds, or false when it holds none.
bool toWholeNumber(const QString& text, int& value);
// The number a settings text holds (window place and size are single-precision numbers).
bool toNumber(const QString& text, double& value);
} // namespace SettingsText
