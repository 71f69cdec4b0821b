#include "views/ImportedListEditor.h"

#include "base/Prompts.h"
#include "base/WindowHost.h"
#include "base/YieldClock.h"
#include "model/ImportedListStore.h"
#include "model/NumberText.h"
#include "model/ProxyEndpoint.h"
#include "model/ProxyTableModel.h"

#include <QHash>
#include <QSet>

#include <algorithm>
#include <vector>

namespace {

// The Proxy field of a stored line, counted only when a '|' ends it (as the store's lookup does).
QStringView storedProxy(QStringView line)
{
    const qsizetype first = line.indexOf(u'|');
    if (first < 0)
        return {};
    const qsizetype second = line.indexOf(u'|', first + 1);
    return second < 0 ? QStringView() : line.sliced(first + 1, second - first - 1);
}

bool rowIsEmpty(const ProxyTableModel& rows, int row)
{
    for (int c = 0; c < rows.Cols(); ++c) {
        if (!rows.cell(row, c).isEmpty())
            return false;
    }
    return true;
}

} // namespace

ImportedListEditor::ImportedListEditor(ProxyTableModel& rows, ImportedListStore& store,
                                       WindowHost& host, Prompts& prompts)
    : m_rows(rows), m_store(store), m_host(host), m_prompts(prompts), m_undo(rows, store)
{}

bool ImportedListEditor::IsIP(QStringView TestAddress)
{
    return ProxyEndpoint::isDottedQuad(TestAddress);
}

QList<QStringView> ImportedListEditor::clipboardLines(QStringView text)
{
    QList<QStringView> lines;
    qsizetype start = 0;
    const qsizetype size = text.size();
    for (qsizetype i = 0; i <= size; ++i) {
        if (i < size && text[i] != u'\n' && text[i] != u'\r')
            continue;
        if (i > start)
            lines.append(text.sliced(start, i - start));
        if (i + 1 < size && text[i] == u'\r' && text[i + 1] == u'\n')
            ++i;
        start = i + 1;
    }
    return lines;
}

QString ImportedListEditor::proxyText(QStringView line)
{
    QString proxy = line.toString();
    proxy.remove(QStringLiteral("http://"));
    proxy.remove(QStringLiteral("https://"));
    return proxy;
}

// A dotted quad, a colon and a port of 1 to 65535; a "|" would split the stored line into other
// fields than the row shows.
bool ImportedListEditor::isAddressAndPort(const QString& proxy)
{
    const qsizetype colon = proxy.indexOf(u':');
    if (colon < 0 || proxy.contains(u'|') || !IsIP(QStringView(proxy).first(colon)))
        return false;
    const QStringView port = QStringView(proxy).sliced(colon + 1);
    bool ok = false;
    const uint number = port.toUInt(&ok);
    return ok && !port.isEmpty() && port.front().isDigit() && number >= 1 && number <= 65535;
}

int ImportedListEditor::pasteProxies(const QString& text)
{
    const QList<QStringView> lines = clipboardLines(text);
    // A proxy pasted alone shows Speed "0" in its row; one of several shows an empty Speed.
    const bool alone = lines.size() == 1;
    QSet<QString> pasted;
    int added = 0;
    int listed = 0;
    int refused = 0;
    ImportedListUndo::Before before = m_undo.before();
    YieldClock clock;
    for (const QStringView line : lines) {
        clock.maybeYield();
        const QString proxy = proxyText(line);
        if (!isAddressAndPort(proxy)) {
            ++refused;
            continue;
        }
        if (pasted.contains(proxy) || m_store.find(proxy) >= 0) {
            ++listed;
            continue;
        }
        pasted.insert(proxy);
        // Each new row goes into an empty last row: never over a row that holds a proxy.
        if (added == 0 && (m_rows.Rows() < 2 || !rowIsEmpty(m_rows, m_rows.Rows() - 1)))
            m_rows.setRows(m_rows.Rows() + 1);
        const QString stored = ProxyRow::newImportedRowText(proxy);
        m_store.add(stored);
        m_rows.addImportedRow(
            alone ? stored : QStringLiteral("?|") + proxy + QStringLiteral("||||||||||||"));
        ++added;
    }
    // "12 added, 3 already listed, 2 not address:port"
    QStringList said{NumberText::grouped(added) + QStringLiteral(" added")};
    if (listed > 0)
        said << NumberText::grouped(listed) + QStringLiteral(" already listed");
    if (refused > 0)
        said << NumberText::grouped(refused) + QStringLiteral(" not address:port");
    if (!lines.isEmpty())
        m_host.setStatusText(said.join(QStringLiteral(", ")));
    if (added > 0) {
        m_undo.keep(std::move(before), ImportedListUndo::change(QStringLiteral("paste"), added));
        saveList();
        showCount();
    }
    return added;
}

bool ImportedListEditor::deleteImportedRows(int first, int last)
{
    if (first > last)
        std::swap(first, last);
    first = std::max(first, 1);
    last = std::min(last, m_rows.Rows() - 1);
    QHash<QString, int> wanted;
    int proxies = 0;
    for (int r = first; r <= last; ++r) {
        const QString proxy = m_rows.TextMatrix(r, ProxyRow::Proxy);
        if (!proxy.isEmpty()) {
            ++wanted[proxy];
            ++proxies;
        }
    }
    if (proxies > 0 && proxies == m_rows.proxyCount()) {
        const QString question = proxies == 1
                                     ? QStringLiteral("Delete the only proxy of the imported list?")
                                     : QStringLiteral("Delete all %1 proxies of the imported list?")
                                           .arg(NumberText::grouped(proxies));
        if (!m_prompts.question(question, QStringLiteral("Corvatel")))
            return false;
    }
    m_host.setStatusText(QStringLiteral("Deleting rows.."));
    YieldClock clock;

    if (first <= last) {
        ImportedListUndo::Before before = m_undo.before();
        // Each row takes the first stored line of its proxy that an earlier row has not taken.
        std::vector<int> lines;
        for (int i = 0; i < m_store.count() && !wanted.isEmpty(); ++i) {
            const QStringView proxy = storedProxy(m_store.lines().at(i));
            if (proxy.isEmpty())
                continue;
            const auto it = wanted.find(proxy.toString());
            if (it == wanted.end())
                continue;
            lines.push_back(i);
            if (--it.value() == 0)
                wanted.erase(it);
        }
        clock.maybeYield();
        m_store.removeMany(std::move(lines));
        clock.maybeYield();
        m_rows.removeRowRange(first, last - first + 1);
        m_undo.keep(std::move(before), ImportedListUndo::change(QStringLiteral("delete"), proxies));
        clock.maybeYield();
    }

    m_host.setStatusText(QString());
    saveList();
    showCount();
    return true;
}

bool ImportedListEditor::undoLastChange()
{
    const QString undone = m_undo.undo();
    if (undone.isEmpty())
        return false;
    m_host.setStatusText(QStringLiteral("Undone: ") + undone);
    saveList();
    showCount();
    return true;
}

void ImportedListEditor::saveList()
{
    YieldClock clock;
    clock.yieldNow(); // what came before may have used up the allowance
    const Result saved = m_store.saveToFile(ImportedListStore::defaultPath(), clock.server());
    if (!saved.ok())
        m_host.setStatusText(saved.message());
}

void ImportedListEditor::showCount()
{
    m_host.setPanelText(2, QString::number(m_rows.proxyCount()) + QStringLiteral(" Imported"));
}
