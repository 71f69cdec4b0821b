#include "settings/WindowSettings.h"

#include "settings/SettingsStore.h"

void WindowSettings::readFrom(const SettingsStore& store)
{
    chkREFER = store.value(Setting::chkREFER, chkREFER);
    chkGET = store.value(Setting::chkGET, chkGET);
    chkPOST = store.value(Setting::chkPOST, chkPOST);
    chkSSL = store.value(Setting::chkSSL, chkSSL);
    chkCOOKIES = store.value(Setting::chkCOOKIES, chkCOOKIES);
    chkCOR = store.value(Setting::chkCOR, chkCOR);
    chkIMP = store.value(Setting::chkIMP, chkIMP);
    chkWINDOWS = store.value(Setting::chkWINDOWS, chkWINDOWS);
    chkTEST = store.value(Setting::chkTEST, chkTEST);
    txtTimeout = store.value(Setting::txtTimeout);
    cboFont = store.read(Setting::cboFont);
    cboFontSize = store.read(Setting::cboFontSize);
}
