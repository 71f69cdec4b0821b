#include "model/RowExport.h"

namespace RowExport {

namespace {

constexpr char hexDigits[] = "0123456789abcdef";

bool needsQuotes(const QString& text)
{
    for (const QChar c : text) {
        if (c == u',' || c == u'"' || c == u'\r' || c == u'\n')
            return true;
    }
    return false;
}

template <typename F> void forEachField(const Row& row, Extras extras, F f)
{
    for (const QString& cell : row.cells)
        f(cell);
    if (extras == Extras::With) {
        f(row.exitAddress);
        f(row.judge);
    }
}

} // namespace

QByteArray plainLine(const Row& row)
{
    return row.cells[ProxyRow::Proxy].toUtf8() + '\n';
}

QString csvField(const QString& text)
{
    if (!needsQuotes(text))
        return text;
    QString quoted = text;
    quoted.replace(u'"', QStringLiteral("\"\""));
    return u'"' + quoted + u'"';
}

QByteArray csvHeader(Extras extras)
{
    QStringList names = ProxyRow::columnHeaders();
    if (extras == Extras::With)
        names << QStringLiteral("Exit") << QStringLiteral("Judge");
    return names.join(u',').toUtf8() + '\n';
}

QByteArray csvLine(const Row& row, Extras extras)
{
    QString line;
    bool first = true;
    forEachField(row, extras, [&](const QString& field) {
        if (!first)
            line += u',';
        first = false;
        line += csvField(field);
    });
    return line.toUtf8() + '\n';
}

QByteArray jsonString(const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    QByteArray out;
    out.reserve(utf8.size() + 2);
    out += '"';
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            out += "\\u00";
            out += hexDigits[byte >> 4];
            out += hexDigits[byte & 0xF];
        } else {
            out += c;
        }
    }
    out += '"';
    return out;
}

const QStringList& jsonKeys(Extras extras)
{
    static const QStringList columns = [] {
        QStringList keys;
        for (const QString& header : ProxyRow::columnHeaders())
            keys << header.toLower();
        return keys;
    }();
    static const QStringList withExtras =
        columns + QStringList{QStringLiteral("exit"), QStringLiteral("judge")};
    return extras == Extras::With ? withExtras : columns;
}

QByteArray jsonObject(const Row& row, Extras extras)
{
    const QStringList& keys = jsonKeys(extras);
    QByteArray out = "{";
    int i = 0;
    forEachField(row, extras, [&](const QString& field) {
        if (i > 0)
            out += ',';
        out += '"' + keys[i++].toLatin1() + "\":";
        out += jsonString(field);
    });
    out += '}';
    return out;
}

QByteArray jsonLine(const Row& row, Extras extras)
{
    return jsonObject(row, extras) + '\n';
}

QByteArray jsonArray(const std::vector<Row>& rows, Extras extras)
{
    QByteArray out = "[\n";
    for (size_t i = 0; i < rows.size(); ++i) {
        out += jsonObject(rows[i], extras);
        out += i + 1 < rows.size() ? ",\n" : "\n";
    }
    out += "]\n";
    return out;
}

} // namespace RowExport
