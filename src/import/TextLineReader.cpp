#include "import/TextLineReader.h"

#include <QIODevice>

#include <algorithm>

namespace {

constexpr qint64 ChunkBytes = 1 << 20;

bool isText(QByteArrayView bytes)
{
    for (const char c : bytes) {
        const auto u = uchar(c);
        if ((u < 0x20 && u != '\t') || u == 0x7F)
            return false;
    }
    return true;
}

} // namespace

TextLineReader::TextLineReader(QIODevice& device) : m_device(device) {}

bool TextLineReader::next(QString& line)
{
    for (;;) {
        const char* data = m_buffer.constData();
        const qsizetype size = m_buffer.size();
        if (m_skipLf && m_pos < size) {
            if (data[m_pos] == '\n')
                ++m_pos;
            m_skipLf = false;
        }
        qsizetype end = m_pos + m_scanned;
        while (end < size && data[end] != '\n' && data[end] != '\r')
            ++end;

        if (end < size) {
            m_skipLf = data[end] == '\r';
            const QByteArrayView bytes(data + m_pos, end - m_pos);
            m_pos = end + 1;
            m_scanned = 0;
            ++m_lines;
            if (m_discarding) {
                m_discarding = false;
                skip(true);
                continue;
            }
            if (take(bytes, line))
                return true;
            continue;
        }

        m_scanned = size - m_pos;
        if (m_atEnd) {
            const QByteArrayView bytes(data + m_pos, size - m_pos);
            m_pos = size;
            m_scanned = 0;
            // An overlong last line has streamed past already: nothing of it is left to see.
            if (m_discarding) {
                m_discarding = false;
                ++m_lines;
                skip(true);
                return false;
            }
            // A line cut short by a read error is not taken.
            if (m_failed || bytes.isEmpty())
                return false;
            ++m_lines;
            return take(bytes, line);
        }
        // An overlong line is dropped as it streams past instead of being collected.
        if (m_scanned > MaxLineBytes) {
            m_discarding = true;
            m_first = false;
            m_pos = size;
            m_scanned = 0;
        }
        refill();
    }
}

bool TextLineReader::take(QByteArrayView bytes, QString& line)
{
    if (m_first) {
        m_first = false;
        if (bytes.startsWith("\xEF\xBB\xBF"))
            bytes = bytes.sliced(3);
    }
    if (bytes.isEmpty())
        return false;
    if (bytes.size() > MaxLineBytes || !isText(bytes)) {
        skip(bytes.size() > MaxLineBytes);
        return false;
    }
    line = bytes.isValidUtf8() ? QString::fromUtf8(bytes) : QString::fromLatin1(bytes);
    return true;
}

void TextLineReader::skip(bool overlong)
{
    if (m_skipped++ == 0) {
        m_firstSkipped = m_lines;
        m_firstSkippedOverlong = overlong;
    }
}

void TextLineReader::refill()
{
    if (m_pos > 0) {
        m_buffer.remove(0, m_pos);
        m_pos = 0;
    }
    const qsizetype kept = m_buffer.size();
    m_buffer.resize(kept + ChunkBytes);
    const qint64 got = m_device.read(m_buffer.data() + kept, ChunkBytes);
    m_buffer.resize(kept + qsizetype(std::max<qint64>(got, 0)));
    if (got > 0)
        return;
    m_atEnd = true;
    m_failed = got < 0;
}
