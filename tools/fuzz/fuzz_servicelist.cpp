// A service list body: the lines it loads and each line as row cells.
#include "FuzzCheck.h"

#include "model/ProxyRow.h"
#include "service/ServiceList.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString body = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::vector<QStringView> lines = ServiceList::linesToLoad(body);

    const qsizetype separators = body.count(QStringLiteral("<BR>"));
    FUZZ_CHECK(lines.size() == (separators >= 2 ? size_t(separators) : 0));

    // Joined again with their separators, the lines are the body up to its last separator.
    QString joined;
    for (QStringView line : lines) {
        FUZZ_CHECK(line.data() >= body.constData() &&
                   line.data() + line.size() <= body.constData() + body.size());
        FUZZ_CHECK(!line.contains(u"<BR>"));
        joined += line;
        joined += u"<BR>";
    }
    if (!lines.empty())
        FUZZ_CHECK(joined == body.first(body.lastIndexOf(QStringLiteral("<BR>")) + 4));

    ProxyRow::Cells cells;
    for (QStringView line : lines) {
        cells.fill(QStringLiteral("old"));
        const bool loaded = ProxyRow::serviceLineToCells(line, cells);
        const bool refused = line.startsWith(u"127.") || line.startsWith(u"0.");
        FUZZ_CHECK(loaded == !refused);
        if (!loaded) {
            for (const QString& cell : cells)
                FUZZ_CHECK(cell == QLatin1String("old"));
            continue;
        }
        FUZZ_CHECK(cells[ProxyRow::Active] == QLatin1String("Y"));
        const QList<QStringView> pieces = line.split(u'|');
        for (int col = 1; col < ProxyRow::ColumnCount; ++col) {
            const QString& cell = cells[col];
            // A cell comes from a piece that a '|' ends, and nothing else ends up in it.
            FUZZ_CHECK(!cell.contains(u'|'));
            const bool terminated = col < pieces.size();
            const QStringView piece = terminated ? pieces[col - 1] : QStringView();
            if (col == ProxyRow::Reliable && terminated && !piece.isEmpty()) {
                FUZZ_CHECK(cell == QLatin1String("?") || cell == piece);
            } else if (col == ProxyRow::Tested) {
                // The time loses its last ":" and what follows.
                FUZZ_CHECK(piece.startsWith(cell));
                const QStringView rest = piece.sliced(cell.size());
                FUZZ_CHECK(rest.isEmpty()
                               ? !piece.contains(u':')
                               : rest.startsWith(u':') && !rest.sliced(1).contains(u':'));
            } else {
                FUZZ_CHECK(cell == piece);
            }
        }
        // A loaded row survives the stored form it is saved in, cell for cell.
        ProxyRow::Cells back;
        ProxyRow::readStoredRowText(ProxyRow::storedRowText(cells), back);
        FUZZ_CHECK(back == cells);
    }
    return 0;
}
