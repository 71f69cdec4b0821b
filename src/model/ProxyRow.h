#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

#include <array>

// One proxy as the thirteen text cells of a list row, and the two text forms it travels in:
// the stored row text of proxy.lst ("cell|" thirteen times) and a line of the service list.
namespace ProxyRow {

inline constexpr int ColumnCount = 13;

enum Column : int {
    Active = 0,
    Proxy = 1,
    Speed = 2,
    Reliable = 3,
    Tested = 4,
    Type = 5,
    Cookies = 6,
    Get = 7,
    Refer = 8,
    Post = 9,
    SSL = 10,
    Location = 11,
    Class = 12,
};

using Cells = std::array<QString, ColumnCount>;

// "Active", "Proxy", ... "Class".
const QStringList& columnHeaders();

// Colours are 0xAARRGGBB; 0 (alpha 0) means "not set, use the view's default". The views turn
// them into brushes.
using Colour = quint32;
inline constexpr Colour NoColour = 0;
inline constexpr Colour PassedColour = 0xFF00C000; // green text of a working proxy
inline constexpr Colour FailedColour = 0xFFFF0000; // red text of a failed proxy
inline constexpr Colour White = 0xFFFFFFFF;

// The text colour a row gets from its state mark: green for "Y", red for "N", none otherwise.
Colour markColour(QStringView mark);

// The thirteen cells each followed by "|".
QString storedRowText(const Cells& cells);

// "?|" + address + "|0|||||||||||": a proxy just imported, never tested.
QString newImportedRowText(const QString& address);

// Writes piece k of the stored text into cell k for k up to the last "|" (the text after the last
// "|" is never a cell); empty pieces and pieces past column 12 leave the cell as it was.
void readStoredRowText(QStringView text, Cells& cells);

// The Proxy field (piece 1) of a stored row text; empty when there is none.
QStringView proxyField(QStringView storedText);

// A service list line ("addr:port|speed|reliable|tested|type|...|location|class|") mapped onto
// cells 1..12, with "Y" in cell 0. Lines that start with "127." or "0." are refused (returns
// false). "Tested" loses the text from its last ":" on; a "Reliable" value that is 0 or not a
// number becomes "?". Cells the line does not fill are left empty; a refused line leaves cells
// alone.
bool serviceLineToCells(QStringView line, Cells& cells);

} // namespace ProxyRow
