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

    // Reads the twelve keys; a number key whose text is not a number keeps the copy's value.
    void readFrom(const SettingsStore& store);
};
