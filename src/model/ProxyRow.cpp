#include "model/ProxyRow.h"

#include <cmath>

namespace ProxyRow {

namespace {

// Calls f(j, piece) for every piece of text that is followed by a '|', j counting from 0, while f
// returns true. The text after the last '|' is never handed out.
template <typename F> void forEachTerminatedPiece(QStringView text, F f)
{
    qsizetype start = 0;
    for (int j = 0;; ++j) {
        const qsizetype bar = text.indexOf(u'|', start);
        if (bar < 0)
            return;
        if (!f(j, text.sliced(start, bar - start)))
            return;
        start = bar + 1;
    }
}

bool isZeroOrNotANumber(QStringView text)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    // toDouble() also takes "inf" and "nan", which are no reliability figure either.
    return !ok || !std::isfinite(value) || value == 0.0;
}

} // namespace

const QStringList& columnHeaders()
{
    static const QStringList headers{
        QStringLiteral("Active"),   QStringLiteral("Proxy"),  QStringLiteral("Speed"),
        QStringLiteral("Reliable"), QStringLiteral("Tested"), QStringLiteral("Type"),
        QStringLiteral("Cookies"),  QStringLiteral("Get"),    QStringLiteral("Refer"),
        QStringLiteral("Post"),     QStringLiteral("SSL"),    QStringLiteral("Location"),
        QStringLiteral("Class"),
    };
    return headers;
}

Colour markColour(QStringView mark)
{
    if (mark == u"Y")
        return PassedColour;
    if (mark == u"N")
        return FailedColour;
    return NoColour;
}

QString storedRowText(const Cells& cells)
{
    qsizetype length = ColumnCount;
    for (const QString& cell : cells)
        length += cell.size();
    QString text;
    text.reserve(length);
    for (const QString& cell : cells) {
        text += cell;
        text += u'|';
    }
    return text;
}

QString newImportedRowText(const QString& address)
{
    return QStringLiteral("?|") + address + QStringLiteral("|0|||||||||||");
}

void readStoredRowText(QStringView text, Cells& cells)
{
    forEachTerminatedPiece(text, [&cells](int j, QStringView piece) {
        if (j >= ColumnCount)
            return false;
        if (!piece.isEmpty())
            cells[j] = piece.toString();
        return true;
    });
}

QStringView proxyField(QStringView storedText)
{
    const qsizetype first = storedText.indexOf(u'|');
    if (first < 0)
        return {};
    const qsizetype start = first + 1;
    const qsizetype second = storedText.indexOf(u'|', start);
    return second < 0 ? storedText.sliced(start) : storedText.sliced(start, second - start);
}

bool serviceLineToCells(QStringView line, Cells& cells)
{
    if (line.startsWith(u"127.") || line.startsWith(u"0."))
        return false;

    for (QString& cell : cells)
        cell.clear();
    cells[Active] = QStringLiteral("Y");

    forEachTerminatedPiece(line, [&cells](int j, QStringView piece) {
        const int col = j + 1;
        if (col >= ColumnCount)
            return false;
        if (piece.isEmpty())
            return true;
        if (col == Tested) {
            const qsizetype colon = piece.lastIndexOf(u':');
            if (colon >= 0)
                piece = piece.first(colon);
        } else if (col == Reliable && isZeroOrNotANumber(piece)) {
            cells[col] = QStringLiteral("?");
            return true;
        }
        cells[col] = piece.toString();
        return true;
    });
    return true;
}

} // namespace ProxyRow
