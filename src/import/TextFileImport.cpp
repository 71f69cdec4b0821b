#include "import/TextFileImport.h"

#include "base/Prompts.h"
#include "base/WindowHost.h"
#include "base/YieldClock.h"
#include "import/TextLineReader.h"
#include "model/ImportedListStore.h"
#include "model/ImportedListUndo.h"
#include "model/NumberText.h"
#include "model/ProxyTableModel.h"
#include "views/FilterPass.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <utility>
#include <vector>

namespace {

// New rows reach the grid in batches; the store takes each line at once, so a line that comes
// twice in the file is found the second time.
constexpr std::size_t Batch = 1024;

bool lastRowIsEmpty(const ProxyTableModel& rows)
{
    const int last = rows.Rows() - 1;
    if (last < 1)
        return false;
    for (int c = 0; c < rows.Cols(); ++c) {
        if (!rows.cell(last, c).isEmpty())
            return false;
    }
    return true;
}

QString newProxies(int count)
{
    return QString::number(count) +
           (count == 1 ? QStringLiteral(" new proxy") : QStringLiteral(" new proxies"));
}

} // namespace

TextFileImport::TextFileImport(ProxyTableModel& rows, ImportedListStore& store,
                               ImportedListUndo& undo, WindowHost& host, Prompts& prompts)
    : m_rows(rows), m_store(store), m_undo(undo), m_host(host), m_prompts(prompts)
{}

TextFileImport::Outcome TextFileImport::menuImpProxList_Click()
{
    return importFile(m_prompts.openFile(QStringLiteral("Open"), QStringLiteral("Text (*.txt)")));
}

TextFileImport::Outcome TextFileImport::importFile(const QString& path)
{
    Outcome outcome;
    outcome.cancelled = path.isEmpty();
    QStringList status;
    if (!outcome.cancelled) {
        m_host.enableControls(false);
        const bool redraw = m_rows.Redraw();
        m_rows.setRedraw(false);
        ImportedListUndo::Before before = m_undo.before();
        readLines(path, outcome, status);
        if (outcome.added > 0)
            m_undo.keep(std::move(before),
                        ImportedListUndo::change(QStringLiteral("import"), outcome.added));
        // Each of the steps below walks the whole list; the window is served between them.
        YieldClock::serveNow();
        if (!outcome.stopped)
            m_rows.paintRowBands(FilterPass::ImportedBand);
        YieldClock::serveNow();
        m_rows.setRedraw(redraw);
        YieldClock::serveNow();
        m_host.enableControls(true);
        if (outcome.stopped) {
            m_host.clearStopRequested();
            return outcome;
        }
    }

    YieldClock clock;
    const Result saved = m_store.saveToFile(ImportedListStore::defaultPath(), clock.server());
    if (!saved.ok())
        status << saved.message();
    YieldClock::serveNow();
    m_host.setPanelText(2, QString::number(m_rows.proxyCount()) + QStringLiteral(" Imported"));
    if (!status.isEmpty()) {
        outcome.status = status.join(u' ');
        m_host.setStatusText(outcome.status);
    }
    m_host.clearStopRequested();
    return outcome;
}

void TextFileImport::readLines(const QString& path, Outcome& outcome, QStringList& status)
{
    const QFileInfo info(path);
    QFile file(path);
    if (info.exists() && !info.isFile()) {
        status << QStringLiteral("Could not read %1: not a file.").arg(info.fileName());
        return;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        status << QStringLiteral("Could not read %1: %2.").arg(info.fileName(), file.errorString());
        return;
    }

    TextLineReader reader(file);
    YieldClock clock;
    std::vector<ProxyTableModel::Row> batch;
    bool spareChecked = false;
    const auto flush = [&] {
        if (batch.empty())
            return;
        // The empty row that an empty or freshly pasted-into grid ends with would otherwise stay
        // between the proxies.
        if (!spareChecked) {
            spareChecked = true;
            if (lastRowIsEmpty(m_rows))
                m_rows.removeRowRange(m_rows.Rows() - 1, 1);
        }
        m_rows.appendRows(std::exchange(batch, {}));
    };

    QString line;
    for (;;) {
        if (m_host.isStopRequested()) {
            outcome.stopped = true;
            break;
        }
        clock.maybeYield();
        if (!reader.next(line))
            break;
        // A "|" would cut the stored line into other cells than the row shows.
        if (line.contains(u'|')) {
            ++outcome.skipped;
            continue;
        }
        if (m_store.find(line) >= 0) {
            ++outcome.listed;
            continue;
        }
        m_store.add(ProxyRow::newImportedRowText(line));
        ProxyTableModel::Row row;
        row.cells[ProxyRow::Active] = QStringLiteral("?");
        row.cells[ProxyRow::Proxy] = line;
        batch.push_back(std::move(row));
        ++outcome.added;
        if (batch.size() >= Batch)
            flush();
    }
    flush();
    outcome.skipped += reader.skippedLines();

    if (reader.failed()) {
        status << QStringLiteral("Could not read %1 to the end: %2.")
                      .arg(info.fileName(), file.errorString());
    }
    status << newProxies(outcome.added) + QStringLiteral(" imported from ") + info.fileName() +
                  (outcome.listed > 0 ? QStringLiteral(", %1 already listed.")
                                            .arg(NumberText::grouped(outcome.listed))
                                      : QStringLiteral("."));
    if (outcome.skipped > 0) {
        status << QStringLiteral("%1 line(s) skipped: binary data, longer than %2 bytes or "
                                 "holding \"|\".")
                      .arg(outcome.skipped)
                      .arg(TextLineReader::MaxLineBytes);
    }
}
