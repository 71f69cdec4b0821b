// Settings texts as numbers: whatever the configuration file holds, a conversion either refuses
// it or gives the number the text spells.
#include "FuzzCheck.h"

#include "model/NumberText.h"
#include "settings/SettingKeys.h"

#include <QLocale>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

namespace {

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

void checkNumberPrefix(QStringView text)
{
    const qsizetype n = NumberText::numberPrefix(text);
    FUZZ_CHECK(n >= 0 && n <= text.size());
    if (n == 0)
        return;
    QStringView number = text.first(n);
    if (number.startsWith(u'+') || number.startsWith(u'-'))
        number = number.sliced(1);
    FUZZ_CHECK(number.count(u'.') <= 1);
    FUZZ_CHECK(std::any_of(number.begin(), number.end(), isDigit));
    for (QChar c : number)
        FUZZ_CHECK(isDigit(c) || c == u'.');
    // The longest such prefix: the next character could not have continued it.
    if (n < text.size()) {
        const QChar next = text[n];
        FUZZ_CHECK(!isDigit(next) && !(next == u'.' && !number.contains(u'.')));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    checkNumberPrefix(text);

    int whole = 12345;
    if (SettingsText::toWholeNumber(text, whole)) {
        const QString trimmed = text.trimmed();
        FUZZ_CHECK(NumberText::numberPrefix(trimmed) == trimmed.size());
        bool ok = false;
        const double spelled = QLocale::c().toDouble(trimmed, &ok);
        FUZZ_CHECK(ok && std::abs(spelled - whole) <= 0.5);
    } else {
        FUZZ_CHECK(whole == 12345); // a refused text leaves the value alone
    }

    double number = 0.5;
    if (SettingsText::toNumber(text, number)) {
        FUZZ_CHECK(std::isfinite(number));
    } else {
        FUZZ_CHECK(number == 0.5);
    }

    // Whatever the fuzzer's bytes make of a number, its own text reads back as that number.
    if (size >= sizeof(int)) {
        int value = 0;
        std::memcpy(&value, data, sizeof value);
        int read = 0;
        FUZZ_CHECK(SettingsText::toWholeNumber(QString::number(value), read) && read == value);
        double readDouble = 0;
        FUZZ_CHECK(SettingsText::toNumber(QString::number(value), readDouble) &&
                   readDouble == value);
    }
    if (size >= sizeof(double)) {
        double value = 0;
        std::memcpy(&value, data, sizeof value);
        double read = 0;
        const QString spelled = QString::number(value, 'g', 17);
        FUZZ_CHECK(SettingsText::toNumber(spelled, read) == std::isfinite(value));
        if (std::isfinite(value))
            FUZZ_CHECK(read == value);
    }
    return 0;
}
