#include "views/PageExport.h"

#include "base/Prompts.h"
#include "base/WindowHost.h"
#include "model/AtomicSave.h"
#include "model/NumberText.h"
#include "model/RowExport.h"
#include "views/ProxyGrid.h"

#include <QFileInfo>
#include <QStringList>

#include <algorithm>
#include <vector>

namespace {

const QStringList& filterList()
{
    static const QStringList filters = {QStringLiteral("Address:port lines (*.txt)"),
                                        QStringLiteral("CSV (*.csv)"),
                                        QStringLiteral("JSON (*.json)")};
    return filters;
}

const char* const suffixes[] = {"txt", "csv", "json"};

} // namespace

const QString PageExport::Filters = filterList().join(QStringLiteral(";;"));

PageExport::Format PageExport::formatOf(const QString& filter)
{
    const int index = int(filterList().indexOf(filter));
    return index < 0 ? Format::Lines : Format(index);
}

std::vector<RowExport::Row> PageExport::rowsOf(const ProxyGrid& grid, int first, int last)
{
    const ProxyTableModel& model = grid.rows();
    std::vector<RowExport::Row> rows;
    for (int row = std::max(1, std::min(first, last)); row <= std::max(first, last); ++row) {
        if (!model.cell(row, ProxyRow::Proxy).isEmpty())
            rows.push_back({model.row(row).cells, QString(), QString()});
    }
    return rows;
}

QByteArray PageExport::content(const std::vector<RowExport::Row>& rows, Format format)
{
    using RowExport::Extras;
    QByteArray out;
    switch (format) {
    case Format::Lines:
        for (const RowExport::Row& row : rows)
            out += RowExport::plainLine(row);
        break;
    case Format::Csv:
        out = RowExport::csvHeader(Extras::Without);
        for (const RowExport::Row& row : rows)
            out += RowExport::csvLine(row, Extras::Without);
        break;
    case Format::Json:
        out = RowExport::jsonArray(rows, Extras::Without);
        break;
    }
    return out;
}

PageExport::PageExport(WindowHost& host, Prompts& prompts) : m_host(host), m_prompts(prompts) {}

void PageExport::exportGrid(const ProxyGrid& grid)
{
    const bool selection = grid.selectionTop() != grid.selectionBottom();
    const int first = selection ? grid.selectionTop() : 1;
    const int last = selection ? grid.selectionBottom() : grid.Rows() - 1;

    QString filter = filterList().front();
    QString path = m_prompts.saveFile(selection ? QStringLiteral("Export the selected proxies")
                                                : QStringLiteral("Export the proxies"),
                                      Filters, &filter);
    if (path.isEmpty())
        return;
    const Format format = formatOf(filter);
    if (QFileInfo(path).suffix().isEmpty())
        path += QLatin1Char('.') + QLatin1String(suffixes[int(format)]);

    const std::vector<RowExport::Row> rows = rowsOf(grid, first, last);
    const Result saved = AtomicSave::write(path, content(rows, format));
    if (!saved.ok()) {
        m_host.setStatusText(saved.message());
        m_prompts.critical(saved.message(), QStringLiteral("Corvatel"));
        return;
    }
    const qint64 count = qint64(rows.size());
    m_host.setStatusText(QStringLiteral("%1 %2 exported to %3")
                             .arg(NumberText::grouped(count),
                                  count == 1 ? QStringLiteral("proxy") : QStringLiteral("proxies"),
                                  QFileInfo(path).fileName()));
}
