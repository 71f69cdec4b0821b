#pragma once

#include <QString>

#include <optional>

namespace SettingsText {
// The whole number a settings text holds, or false when it holds none.
bool toWholeNumber(const QString& text, int& value);
// The number a settings text holds (window place and size are single-precision numbers).
bool toNumber(const QString& text, double& value);
} // namespace SettingsText

// Every key kept under [Settings] in Corvatel.conf, each once: the spelling it is stored under
// (the files users already have hold these), the text an absent key reads as, and what a stored
// text is worth.
namespace Setting {

inline constexpr int MaxParallelTests = 1024;
// What the setup dialog takes as a time-out; a hand-written file may hold any positive number.
inline constexpr int MinTimeoutEntry = 6;
inline constexpr int MaxTimeoutEntry = 60;

struct Name
{
    const char* name;        // matched without regard to case, written in this spelling
    const char* defaultText; // nullptr: the reader works it out (window place, dates)
};

enum class WhenBad {
    ReadsAsDefault, // a text that holds no value reads as the default
    KeepsCurrent,   // the reader keeps the value it has
};

template <typename T> struct Key : Name
{
    std::optional<T> (*parse)(const QString& text);
    WhenBad whenBad;

    // The value text holds, else the default's or nothing, as whenBad says.
    std::optional<T> from(const QString& text) const
    {
        std::optional<T> value = parse(text);
        if (!value && whenBad == WhenBad::ReadsAsDefault)
            value = parse(QString::fromLatin1(defaultText));
        return value;
    }
    T valueOf(const QString& text, T current) const { return from(text).value_or(current); }
};

// The validators.
std::optional<int> wholeNumber(const QString& text);
// A time-out of 0 or less would make every test fail at once, and a fraction is no whole number
// of seconds.
std::optional<int> positiveWholeNumber(const QString& text);
std::optional<int> parallelCount(const QString& text); // 1 ... MaxParallelTests
std::optional<bool> isOne(const QString& text);        // anything but "1" is off
std::optional<double> number(const QString& text);
std::optional<double> length(const QString& text); // not below 0

constexpr WhenBad Default = WhenBad::ReadsAsDefault;
constexpr WhenBad Keep = WhenBad::KeepsCurrent;

// The grid's columns, where the lists come from, start at log-in and the auto-test.
inline constexpr Key<int> chkREFER{{"chkREFER", "0"}, wholeNumber, Keep};
inline constexpr Key<int> chkGET{{"chkGET", "0"}, wholeNumber, Keep};
inline constexpr Key<int> chkPOST{{"chkPOST", "0"}, wholeNumber, Keep};
inline constexpr Key<int> chkSSL{{"chkSSL", "0"}, wholeNumber, Keep};
inline constexpr Key<int> chkCOOKIES{{"chkCOOKIES", "0"}, wholeNumber, Keep};
inline constexpr Key<int> chkCOR{{"chkCOR", "1"}, wholeNumber, Keep};
inline constexpr Key<int> chkIMP{{"chkIMP", "1"}, wholeNumber, Keep};
inline constexpr Key<int> chkWINDOWS{{"chkWINDOWS", "0"}, wholeNumber, Keep};
inline constexpr Key<int> chkTEST{{"chkTEST", "1"}, wholeNumber, Keep};
inline constexpr Key<int> txtTimeout{{"txtTimeout", "60"}, positiveWholeNumber, Default};
inline constexpr Name cboFont{"cboFont", "MS Sans Serif"};
inline constexpr Name cboFontSize{"cboFontSize", "8"}; // the grids read it as a number
// The window's place and size in twips; at a first start the window works them out (a size that
// shows every column, in the middle of the screen).
inline constexpr Key<double> Left{{"Left", nullptr}, number, Keep};
inline constexpr Key<double> Top{{"Top", nullptr}, number, Keep};
inline constexpr Key<double> Width{{"Width", nullptr}, length, Keep};
inline constexpr Key<double> Height{{"Height", nullptr}, length, Keep};
// Each page's column widths in twips, as the grid's columns come, separated by commas.
inline constexpr Name ColumnWidths1{"ColumnWidths1", nullptr}; // the service list's page
inline constexpr Name ColumnWidths2{"ColumnWidths2", nullptr}; // the imported list's page
inline constexpr Key<int> LastTab{{"LastTab", "1"}, wholeNumber, Keep};
inline constexpr Key<int> EMR{{"EMR", "0"}, wholeNumber, Default}; // mailing list offers shown
inline constexpr Name Email{"Email", nullptr};
inline constexpr Name MYIP{"MYIP", ""};
inline constexpr Name LAST_MYIP{"LAST_MYIP", nullptr}; // default: yesterday
inline constexpr Key<int> ParallelTests{{"ParallelTests", "1"}, parallelCount, Default};
inline constexpr Name MmdbFile{"MmdbFile", ""}; // empty: no location database
inline constexpr Key<bool> DetectType{{"DetectType", "0"}, isOne, Default};

inline constexpr const Name* all[] = {
    &chkREFER,      &chkGET,   &chkPOST,    &chkSSL,        &chkCOOKIES,    &chkCOR, &chkIMP,
    &chkWINDOWS,    &chkTEST,  &txtTimeout, &cboFont,       &cboFontSize,   &Left,   &Top,
    &Width,         &Height,   &LastTab,    &EMR,           &Email,         &MYIP,   &LAST_MYIP,
    &ParallelTests, &MmdbFile, &DetectType, &ColumnWidths1, &ColumnWidths2,
};

// The key whose name matches without regard to case, or nullptr.
const Name* find(const QString& name);
// The text an absent key reads as: its default, "" when the reader works it out.
QString defaultText(const Name& key);

} // namespace Setting
