#pragma once

#include "model/RowExport.h"

#include <QByteArray>
#include <QString>

#include <vector>

class Prompts;
class ProxyGrid;
class WindowHost;

// File → Export: the rows of a grid, or its selected rows when more than one row is selected, as
// address:port lines, CSV or JSON, in the order shown. The save dialog's filter picks the form, and
// a file name without an ending gets the form's. The file is written whole or not at all.
class PageExport final
{
public:
    enum class Format { Lines, Csv, Json };
    static const QString Filters; // the save dialog's filters, in Format's order
    static Format formatOf(const QString& filter);

    // Grid rows first..last (either order) that hold a proxy, and their text in a form.
    static std::vector<RowExport::Row> rowsOf(const ProxyGrid& grid, int first, int last);
    static QByteArray content(const std::vector<RowExport::Row>& rows, Format format);

    PageExport(WindowHost& host, Prompts& prompts);
    PageExport(const PageExport&) = delete;
    PageExport& operator=(const PageExport&) = delete;

    // Asks for the file and writes it. The status text says how many proxies went where; a file
    // that cannot be written is said in an error box.
    void exportGrid(const ProxyGrid& grid);

private:
    WindowHost& m_host;
    Prompts& m_prompts;
};
