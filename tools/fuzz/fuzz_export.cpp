// The CSV and JSON forms of a row: the input, split at NUL bytes, fills the cells. Read back by a
// plain RFC 4180 reader and by Qt's JSON parser, every field must be the text that went in.
#include "FuzzCheck.h"

#include "model/RowExport.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cstddef>
#include <cstdint>

namespace {

// One CSV record ending in LF; false when the text is no such record.
bool readCsvRecord(const QString& text, QStringList& fields)
{
    QString field;
    qsizetype i = 0;
    bool quoted = false;
    bool wasQuoted = false;
    while (i < text.size()) {
        const QChar c = text[i++];
        if (quoted) {
            if (c != u'"') {
                field += c;
            } else if (i < text.size() && text[i] == u'"') {
                field += c;
                ++i;
            } else {
                quoted = false;
            }
        } else if (c == u'"' && field.isEmpty() && !wasQuoted) {
            quoted = wasQuoted = true;
        } else if (c == u',' || c == u'\n') {
            fields.append(field);
            field.clear();
            wasQuoted = false;
            if (c == u'\n')
                return i == text.size();
        } else if (wasQuoted || c == u'"' || c == u'\r') {
            return false; // text after a closing quote, or a bare quote or CR
        } else {
            field += c;
        }
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QList<QByteArray> parts =
        QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)).split('\0');
    RowExport::Row row;
    QStringList expected;
    for (int k = 0; k < ProxyRow::ColumnCount + 2; ++k) {
        // What the UTF-8 writer makes of the text: a lone surrogate cannot travel.
        const QString text =
            QString::fromUtf8(QString::fromUtf8(parts.value(k % parts.size())).toUtf8());
        (k < ProxyRow::ColumnCount ? row.cells[size_t(k)]
                                   : (k == ProxyRow::ColumnCount ? row.exitAddress : row.judge)) =
            text;
        expected.append(text);
    }

    QStringList fields;
    FUZZ_CHECK(
        readCsvRecord(QString::fromUtf8(RowExport::csvLine(row, RowExport::Extras::With)), fields));
    FUZZ_CHECK(fields == expected);

    const QByteArray line = RowExport::jsonLine(row, RowExport::Extras::With);
    FUZZ_CHECK(line.indexOf('\n') == line.size() - 1);
    QJsonParseError error;
    const QJsonObject object = QJsonDocument::fromJson(line, &error).object();
    FUZZ_CHECK(error.error == QJsonParseError::NoError);
    const QStringList& keys = RowExport::jsonKeys(RowExport::Extras::With);
    FUZZ_CHECK(object.size() == keys.size());
    for (qsizetype k = 0; k < keys.size(); ++k)
        FUZZ_CHECK(object.value(keys[k]).toString() == expected[k]);
    return 0;
}
