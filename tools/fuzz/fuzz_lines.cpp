// Line splitting of imported text: a text file read in chunks of any size, clipboard text, and
// the address check each pasted line goes through. Each is held against a plain model of the rule.
#include "FuzzCheck.h"

#include "import/TextLineReader.h"
#include "views/ImportedListEditor.h"

#include <QIODevice>
#include <QStringList>

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace {

// Hands out at most `step` bytes per read, so lines and CR LF pairs straddle the reader's chunks.
class Trickle final : public QIODevice
{
public:
    Trickle(QByteArrayView bytes, qint64 step) : m_bytes(bytes), m_step(step)
    {
        open(QIODevice::ReadOnly);
    }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        const qint64 n = std::min({maxSize, m_step, qint64(m_bytes.size()) - m_pos});
        std::copy_n(m_bytes.data() + m_pos, n, data);
        m_pos += n;
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }
    bool isSequential() const override { return true; }

private:
    QByteArrayView m_bytes;
    qint64 m_step;
    qint64 m_pos = 0;
};

// Pieces between LF, CR LF and CR.
template <typename Text> QList<Text> splitLines(Text text)
{
    QList<Text> lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != '\n' && text[i] != '\r')
            continue;
        lines.append(text.sliced(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        lines.append(text.sliced(start));
    return lines;
}

bool isTextLine(QByteArrayView bytes)
{
    return std::none_of(bytes.begin(), bytes.end(),
                        [](char c) { return (uchar(c) < 0x20 && c != '\t') || uchar(c) == 0x7F; });
}

bool isIpModel(QStringView text)
{
    const QList<QStringView> parts = text.split(u'.');
    if (parts.size() != 4 || parts.first().isEmpty() || parts.last().isEmpty())
        return false;
    for (QStringView part : parts) {
        if (!std::all_of(part.begin(), part.end(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
            return false;
        while (part.startsWith(u'0'))
            part = part.sliced(1);
        if (part.size() > 3 || (!part.isEmpty() && part.toInt() > 255))
            return false;
    }
    return true;
}

void checkFileLines(QByteArrayView bytes, qint64 step)
{
    QStringList expected;
    int expectedSkipped = 0;
    int firstSkipped = 0;
    bool startsWithBom = false;
    const QList<QByteArrayView> raw = splitLines(bytes);
    for (qsizetype k = 0; k < raw.size(); ++k) {
        QByteArrayView line = raw[k];
        if (k == 0 && line.startsWith("\xEF\xBB\xBF")) {
            line = line.sliced(3);
            startsWithBom = true;
        }
        if (line.isEmpty())
            continue;
        if (line.size() > TextLineReader::MaxLineBytes || !isTextLine(line)) {
            if (expectedSkipped++ == 0)
                firstSkipped = int(k) + 1;
            continue;
        }
        expected.append(line.isValidUtf8() ? QString::fromUtf8(line) : QString::fromLatin1(line));
    }

    Trickle device(bytes, step);
    TextLineReader reader(device);
    QStringList read;
    QString line;
    while (reader.next(line))
        read.append(line);
    FUZZ_CHECK(!reader.failed());
    // A first line just over the limit may or may not count its byte-order mark, depending on
    // whether it streamed past in pieces; any other difference is a fault.
    const bool borderline = startsWithBom && raw.first().size() > TextLineReader::MaxLineBytes &&
                            raw.first().size() <= TextLineReader::MaxLineBytes + 3;
    if (!borderline) {
        FUZZ_CHECK(read == expected);
        FUZZ_CHECK(reader.skippedLines() == expectedSkipped);
        FUZZ_CHECK(reader.firstSkippedLine() == firstSkipped);
    }
    FUZZ_CHECK(reader.lineNumber() == raw.size());
    FUZZ_CHECK(!reader.next(line)); // stays at its end
}

void checkClipboard(const QString& text)
{
    const QList<QStringView> lines = ImportedListEditor::clipboardLines(text);
    QList<QStringView> expected = splitLines(QStringView(text));
    expected.removeIf([](QStringView l) { return l.isEmpty(); });
    FUZZ_CHECK(lines == expected);
    for (QStringView l : lines) {
        FUZZ_CHECK(l.data() >= text.constData() &&
                   l.data() + l.size() <= text.constData() + text.size());
        FUZZ_CHECK(ImportedListEditor::IsIP(l) == isIpModel(l));
        const qsizetype colon = l.indexOf(u':');
        if (colon >= 0)
            FUZZ_CHECK(ImportedListEditor::IsIP(l.first(colon)) == isIpModel(l.first(colon)));
        const QString proxy = ImportedListEditor::proxyText(l);
        FUZZ_CHECK(proxy.size() <= l.size());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    // The first byte picks the read size: 0 reads everything at once, small sizes (tried on a
    // short text only, as each read costs the reader a chunk) split CR LF pairs, large ones
    // split overlong lines.
    const uint8_t pick = data[0];
    QByteArrayView bytes(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    qint64 step = qMax<qint64>(1, bytes.size());
    if (pick > 0 && pick < 32) {
        step = pick;
        bytes = bytes.first(qMin<qsizetype>(bytes.size(), 512));
    } else if (pick >= 32) {
        step = qint64(pick - 31) * 48;
    }
    checkFileLines(bytes, step);
    checkClipboard(QString::fromUtf8(bytes));
    // A lone address, so the address check sees short inputs directly.
    const QString whole = QString::fromLatin1(bytes);
    FUZZ_CHECK(ImportedListEditor::IsIP(whole) == isIpModel(whole));
    return 0;
}
