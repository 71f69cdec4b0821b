#include "settings/SettingKeys.h"

#include "model/NumberText.h"

#include <QLocale>

#include <cmath>
#include <limits>

namespace {

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

namespace Setting {

std::optional<int> wholeNumber(const QString& text)
{
    int value = 0;
    if (!SettingsText::toWholeNumber(text, value))
        return std::nullopt;
    return value;
}

std::optional<int> positiveWholeNumber(const QString& text)
{
    const QString trimmed = text.trimmed();
    if (!isDecimalText(trimmed))
        return std::nullopt;
    bool ok = false;
    const double value = parseDouble(trimmed, &ok);
    if (!ok || value < 1 || !fitsInt(value) || value != std::floor(value))
        return std::nullopt;
    return int(value);
}

std::optional<int> parallelCount(const QString& text)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    if (!ok || value < 1 || value > MaxParallelTests)
        return std::nullopt;
    return value;
}

std::optional<bool> isOne(const QString& text)
{
    return text.trimmed() == QLatin1String("1");
}

std::optional<double> number(const QString& text)
{
    double value = 0;
    if (!SettingsText::toNumber(text, value))
        return std::nullopt;
    return value;
}

std::optional<double> length(const QString& text)
{
    const std::optional<double> value = number(text);
    return value && *value >= 0 ? value : std::nullopt;
}

const Name* find(const QString& name)
{
    for (const Name* key : all) {
        if (name.compare(QLatin1String(key->name), Qt::CaseInsensitive) == 0)
            return key;
    }
    return nullptr;
}

QString defaultText(const Name& key)
{
    return key.defaultText ? QString::fromLatin1(key.defaultText) : QString();
}

} // namespace Setting
