#include "settings/WindowSettings.h"

#include "model/NumberText.h"
#include "settings/SettingsStore.h"

#include <QLocale>

#include <cmath>
#include <limits>

namespace {

constexpr int defaultTimeout = 60;

// An optional sign, then digits with at most one decimal point among them.
bool isDecimalText(QStringView text)
{
    return !text.isEmpty() && NumberText::numberPrefix(text) == text.size();
}

double parseDouble(const QString& text, bool* ok)
{
    QLocale c = QLocale::c();
    c.setNumberOptions(QLocale::RejectGroupSeparator);
    return c.toDouble(text, ok);
}

bool fitsInt(double value)
{
    return value >= double(std::numeric_limits<int>::min()) &&
           value <= double(std::numeric_limits<int>::max());
}

// A time-out of 0 or less would make every test fail at once, and a fraction is no whole
// number of seconds: both fall back to the default.
int timeoutFrom(const QString& text)
{
    const QString trimmed = text.trimmed();
    if (!isDecimalText(trimmed))
        return defaultTimeout;
    bool ok = false;
    const double value = parseDouble(trimmed, &ok);
    if (!ok || value < 1 || !fitsInt(value) || value != std::floor(value))
        return defaultTimeout;
    return int(value);
}

} // namespace

namespace SettingsText {

bool toWholeNumber(const QString& text, int& value)
{
    const QString trimmed = text.trimmed();
    if (!isDecimalText(trimmed))
        return false;
    bool ok = false;
    const double rounded = std::round(parseDouble(trimmed, &ok));
    if (!ok || !fitsInt(rounded))
        return false;
    value = int(rounded);
    return true;
}

bool toNumber(const QString& text, double& value)
{
    bool ok = false;
    const double parsed = parseDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(parsed))
        return false;
    value = parsed;
    return true;
}

} // namespace SettingsText

void WindowSettings::readFrom(const SettingsStore& store)
{
    const auto readWhole = [&store](const QString& key, int& copy) {
        int value = 0;
        if (SettingsText::toWholeNumber(store.read(key), value))
            copy = value;
    };
    readWhole(QStringLiteral("chkREFER"), chkREFER);
    readWhole(QStringLiteral("chkGET"), chkGET);
    readWhole(QStringLiteral("chkPOST"), chkPOST);
    readWhole(QStringLiteral("chkSSL"), chkSSL);
    readWhole(QStringLiteral("chkCOOKIES"), chkCOOKIES);
    readWhole(QStringLiteral("chkCOR"), chkCOR);
    readWhole(QStringLiteral("chkIMP"), chkIMP);
    readWhole(QStringLiteral("chkWINDOWS"), chkWINDOWS);
    readWhole(QStringLiteral("chkTEST"), chkTEST);
    txtTimeout = timeoutFrom(store.read(QStringLiteral("txtTimeout")));
    cboFont = store.read(QStringLiteral("cboFont"));
    cboFontSize = store.read(QStringLiteral("cboFontSize"));
}
