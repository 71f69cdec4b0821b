#pragma once

#include "model/ProxyRow.h"

#include <QByteArray>
#include <QString>

#include <vector>

// The text forms a list of rows is handed out in: plain address:port lines, CSV and JSON. All of
// them are UTF-8 with LF line ends. What each form holds is kept stable, for scripts that read it:
//
// - lines: the Proxy cell alone.
// - CSV: a header line, then one line a row; the fields are the thirteen grid columns in grid order
//   under the grid's header texts ("Active", "Proxy", ... "Class"), then "Exit" and "Judge" when
//   asked for. A field holding a comma, a double quote, a CR or an LF is quoted, its quotes doubled
//   (RFC 4180); any other field is written as it is.
// - JSON: one object a row with the keys "active", "proxy", "speed", "reliable", "tested", "type",
//   "cookies", "get", "refer", "post", "ssl", "location", "class" (the grid's headers in lower
//   case, in grid order), then "exit" and "judge" when asked for. Every value is the cell's text
//   as a string. JSON lines put one object on each line; a JSON array holds them all.
namespace RowExport {

// One row and what its test found beyond the grid: the address the judge saw the proxy come from
// and the judge's URL ("" when unknown).
struct Row
{
    ProxyRow::Cells cells;
    QString exitAddress;
    QString judge;
};

// Whether CSV and JSON carry "Exit" and "Judge" after the grid's columns.
enum class Extras { Without, With };

QByteArray plainLine(const Row& row);

QByteArray csvHeader(Extras extras);
QByteArray csvLine(const Row& row, Extras extras);
// text as one CSV field.
QString csvField(const QString& text);

// One object, no line break.
QByteArray jsonObject(const Row& row, Extras extras);
// The object and "\n".
QByteArray jsonLine(const Row& row, Extras extras);
// "[\n" + the objects, one a line, separated by ",\n" + "\n]\n".
QByteArray jsonArray(const std::vector<Row>& rows, Extras extras);
// text as a JSON string literal, quotes included.
QByteArray jsonString(const QString& text);

// The JSON keys of the columns, in order ("active" ... "class", then "exit", "judge").
const QStringList& jsonKeys(Extras extras);

} // namespace RowExport
