#include "model/ImportedListStore.h"

#include "model/AtomicSave.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <algorithm>

namespace {

// The kernel's name for the current folder; it stays valid when the folder's path cannot be
// learnt any more (the folder was removed).
const QString currentFolderAlias = QStringLiteral("/proc/self/cwd");

QString failureReason(const QString& path, const QFileDevice& file)
{
    if (path.startsWith(currentFolderAlias + u'/') && QDir::currentPath().isEmpty())
        return QStringLiteral("the current folder no longer exists");
    return file.errorString();
}

// Piece 1 of a stored row text, counted only when a '|' ends it (the text after the last '|' is
// never a cell).
QStringView proxyFieldOf(QStringView line)
{
    const qsizetype first = line.indexOf(u'|');
    if (first < 0)
        return {};
    const qsizetype second = line.indexOf(u'|', first + 1);
    if (second < 0)
        return {};
    return line.sliced(first + 1, second - first - 1);
}

// Length of the well-formed UTF-8 sequence at p, 0 when p does not start one.
int utf8SequenceLength(const uchar* p, qsizetype available)
{
    const uchar lead = p[0];
    int length = 0;
    uchar low = 0x80;
    uchar high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0; // overlong below
        else if (lead == 0xED)
            high = 0x9F; // encoded surrogates above
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F; // beyond U+10FFFF above
    } else {
        return 0;
    }
    if (available < length || p[1] < low || p[1] > high)
        return 0;
    for (int k = 2; k < length; ++k) {
        if (p[k] < 0x80 || p[k] > 0xBF)
            return 0;
    }
    return length;
}

// Decodes a line that is not valid UTF-8: well-formed sequences become their characters, every
// other byte b >= 0x80 becomes the lone surrogate U+DC00 + b, so encodeLine() gives the bytes back.
QString decodeEscaped(QByteArrayView bytes)
{
    const auto* p = reinterpret_cast<const uchar*>(bytes.data());
    const qsizetype size = bytes.size();
    QString text;
    text.reserve(size);
    qsizetype i = 0;
    while (i < size) {
        const uchar lead = p[i];
        if (lead < 0x80) {
            text += QChar(lead);
            ++i;
            continue;
        }
        const int length = utf8SequenceLength(p + i, size - i);
        if (length == 0) {
            text += QChar(char16_t(0xDC00 + lead));
            ++i;
            continue;
        }
        char32_t code = lead & (0xFF >> (length + 1));
        for (int k = 1; k < length; ++k)
            code = (code << 6) | (p[i + k] & 0x3F);
        if (QChar::requiresSurrogates(code)) {
            text += QChar(QChar::highSurrogate(code));
            text += QChar(QChar::lowSurrogate(code));
        } else {
            text += QChar(char16_t(code));
        }
        i += length;
    }
    return text;
}

QString decodeLine(QByteArrayView bytes, QStringDecoder& utf8)
{
    if (bytes.isValidUtf8())
        return utf8(bytes);
    return decodeEscaped(bytes);
}

void appendUtf8(QByteArray& out, char32_t code)
{
    if (code < 0x80) {
        out += char(code);
    } else if (code < 0x800) {
        out += char(0xC0 | (code >> 6));
        out += char(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += char(0xE0 | (code >> 12));
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    } else {
        out += char(0xF0 | (code >> 18));
        out += char(0x80 | ((code >> 12) & 0x3F));
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    }
}

void encodeLine(QByteArray& out, QStringView line)
{
    const auto isSurrogate = [](QChar c) { return c.isSurrogate(); };
    if (std::none_of(line.begin(), line.end(), isSurrogate)) {
        out += line.toUtf8();
        return;
    }
    const qsizetype size = line.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t unit = line[i].unicode();
        if (QChar::isHighSurrogate(unit) && i + 1 < size && line[i + 1].isLowSurrogate()) {
            appendUtf8(out, QChar::surrogateToUcs4(unit, line[i + 1].unicode()));
            ++i;
        } else if (unit >= 0xDC80 && unit <= 0xDCFF) {
            out += char(unit - 0xDC00);
        } else if (QChar::isSurrogate(unit)) {
            appendUtf8(out, QChar::ReplacementCharacter);
        } else {
            appendUtf8(out, unit);
        }
    }
}

// The file's bytes: every line, LF-terminated.
QByteArray encodeLines(const QStringList& lines)
{
    qsizetype length = 0;
    for (const QString& line : lines)
        length += line.size() + 1;
    QByteArray content;
    content.reserve(length);
    for (const QString& line : lines) {
        encodeLine(content, line);
        // Loading takes the CR of a CR LF as part of the line break: a line's own last CR
        // needs one more to come back.
        if (line.endsWith(u'\r'))
            content += '\r';
        content += '\n';
    }
    return content;
}

} // namespace

QString ImportedListStore::defaultPath()
{
    // QDir::currentPath() is empty once the current folder was removed; "/proxy.lst" would then
    // be the wrong file, so the alias makes the load miss and the save fail instead.
    const QString folder = QDir::currentPath();
    return (folder.isEmpty() ? currentFolderAlias : folder) + QStringLiteral("/proxy.lst");
}

Result ImportedListStore::loadFromFile(const QString& path)
{
    QFile file(path);
    QByteArray data;
    if (file.open(QIODevice::ReadOnly))
        data = file.readAll();
    if (!file.isOpen() || file.error() != QFileDevice::NoError) {
        return Result::failure(QStringLiteral("Could not read %1: %2")
                                   .arg(QFileInfo(path).fileName(), failureReason(path, file)));
    }

    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QStringList lines;
    const QByteArrayView bytes(data);
    const qsizetype size = bytes.size();
    qsizetype start = 0;
    while (start < size) {
        qsizetype end = data.indexOf('\n', start);
        if (end < 0)
            end = size;
        const qsizetype next = end + 1;
        if (end > start && bytes[end - 1] == '\r')
            --end;
        lines.append(decodeLine(bytes.sliced(start, end - start), utf8));
        start = next;
    }

    m_lines = std::move(lines);
    m_savedChanges = ++m_changes; // what is on disk now
    clearIndex();
    m_indexValid = false;
    return Result::success();
}

Result ImportedListStore::saveToFile(const QString& path, const std::function<void()>& serve) const
{
    // A short list is saved at once; a long one on a worker thread, the window served meanwhile.
    const qint64 changes = m_changes;
    Result saved = AtomicSave::write(
        path, [lines = m_lines] { return encodeLines(lines); },
        count() >= s_longList ? serve : std::function<void()>());
    // A later save may have landed while this one waited; what it wrote is newer.
    if (saved.ok())
        m_savedChanges = std::max(m_savedChanges, changes);
    return saved;
}

QString ImportedListStore::item(int index) const
{
    if (index < 0 || index >= count())
        return QString();
    return m_lines.at(index);
}

void ImportedListStore::setItem(int index, const QString& text)
{
    if (index < 0 || index >= count())
        return;
    ++m_changes;
    if (m_indexValid && proxyFieldOf(m_lines.at(index)) != proxyFieldOf(text)) {
        unindexLine(index);
        m_lines[index] = text;
        if (m_indexValid)
            indexLine(index);
        return;
    }
    m_lines[index] = text;
}

void ImportedListStore::add(const QString& text)
{
    ++m_changes;
    m_lines.append(text);
    if (m_indexValid)
        indexLine(count() - 1);
}

int ImportedListStore::find(const QString& proxy) const
{
    if (proxy.isEmpty())
        return -1;
    ensureIndex();
    return indexPart(proxy).value(proxy, -1);
}

void ImportedListStore::addMany(const QStringList& texts)
{
    ++m_changes;
    m_lines.reserve(m_lines.size() + texts.size());
    for (const QString& text : texts)
        add(text);
}

void ImportedListStore::remove(int index)
{
    ++m_changes;
    removeMany({index});
}

void ImportedListStore::removeMany(std::vector<int> indices)
{
    ++m_changes;
    std::sort(indices.begin(), indices.end());
    const auto begin = std::lower_bound(indices.begin(), indices.end(), 0);
    const auto end = std::lower_bound(begin, indices.end(), count());
    const std::vector<int> doomed(begin, std::unique(begin, end));
    if (doomed.empty())
        return;

    if (m_indexValid) {
        for (const int index : doomed)
            unindexLine(index);
    }
    // A line keeps its entry, moved down by the number of lines removed before it: far cheaper
    // than hashing every field again. Lines cut from the end move nothing.
    const bool onlyTail = doomed.front() + qsizetype(doomed.size()) == m_lines.size();
    if (m_indexValid && !onlyTail) {
        for (QHash<QString, int>& part : m_index) {
            for (auto it = part.begin(); it != part.end(); ++it) {
                const int index = it.value();
                if (index > doomed.front())
                    it.value() -=
                        int(std::lower_bound(doomed.begin(), doomed.end(), index) - doomed.begin());
            }
        }
    }

    qsizetype kept = doomed.front();
    auto next = doomed.begin();
    for (qsizetype i = kept; i < m_lines.size(); ++i) {
        if (next != doomed.end() && *next == i) {
            ++next;
            continue;
        }
        m_lines[kept++].swap(m_lines[i]);
    }
    m_lines.resize(kept);
}

void ImportedListStore::clear()
{
    ++m_changes;
    m_lines.clear();
    clearIndex();
    m_indexValid = true;
}

void ImportedListStore::replaceLines(const QStringList& lines)
{
    ++m_changes;
    m_lines = lines;
    clearIndex();
    m_indexValid = false;
}

QHash<QString, int>& ImportedListStore::indexPart(QStringView key) const
{
    // The top bits: the hash's own buckets are picked by its low ones.
    return m_index[size_t(qHash(key) >> (8 * sizeof(size_t) - 4)) % IndexParts];
}

void ImportedListStore::clearIndex() const
{
    for (QHash<QString, int>& part : m_index)
        part.clear();
    m_duplicates = 0;
}

void ImportedListStore::indexLine(int index) const
{
    const QStringView field = proxyFieldOf(m_lines.at(index));
    if (field.isEmpty())
        return;
    QHash<QString, int>& part = indexPart(field);
    const QString key = field.toString();
    const auto it = part.find(key);
    if (it == part.end()) {
        part.insert(key, index);
        return;
    }
    ++m_duplicates;
    if (it.value() > index)
        it.value() = index;
}

// Takes line index out of the index before it is replaced or removed.
void ImportedListStore::unindexLine(int index)
{
    const QStringView field = proxyFieldOf(m_lines.at(index));
    if (field.isEmpty())
        return;
    QHash<QString, int>& part = indexPart(field);
    const auto it = part.find(field.toString());
    if (it == part.end()) {
        m_indexValid = false;
    } else if (it.value() != index) {
        --m_duplicates; // a later copy of a field that stays indexed
    } else if (m_duplicates > 0) {
        m_indexValid = false; // a later copy may have to take its place: rebuild on the next find
    } else {
        part.erase(it);
    }
}

void ImportedListStore::ensureIndex() const
{
    if (m_indexValid)
        return;
    clearIndex();
    for (QHash<QString, int>& part : m_index)
        part.reserve(count() / IndexParts + 1);
    for (int i = 0; i < count(); ++i)
        indexLine(i);
    m_indexValid = true;
}
