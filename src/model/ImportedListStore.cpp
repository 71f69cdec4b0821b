#include "model/ImportedListStore.h"

#include "model/AtomicSave.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLockFile>
#include <QScopeGuard>
#include <QSet>
#include <QStringDecoder>
#include <QThread>

#include <algorithm>

#include <sys/stat.h>

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

// The file's identity and state: a write by anyone (an atomic one makes a new file) changes it.
// Empty when there is no file.
QByteArray fileStamp(const QString& path)
{
    struct stat st = {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return QByteArray::number(qulonglong(st.st_dev)) + ':' +
           QByteArray::number(qulonglong(st.st_ino)) + ':' +
           QByteArray::number(qlonglong(st.st_size)) + ':' +
           QByteArray::number(qlonglong(st.st_mtim.tv_sec)) + '.' +
           QByteArray::number(qlonglong(st.st_mtim.tv_nsec));
}

Result readLines(const QString& path, QStringList& lines)
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
    return Result::success();
}

// Files whose lock this process holds, with how many saves hold it: a save asked for while
// another one serves the window goes ahead under the lock the first one took.
QHash<QString, int>& locksHeld()
{
    static QHash<QString, int> held;
    return held;
}

// Takes path's lock, waiting at most waitMs for another writer (serving the window meanwhile
// when serve is given). A lock file that cannot be made at all (a read-only folder) is no reason
// to fail here: the save itself says what is wrong.
Result takeLock(QLockFile& lock, const QString& path, int waitMs,
                const std::function<void()>& serve)
{
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        if (lock.tryLock(serve ? 0 : 20))
            return Result::success();
        if (lock.error() != QLockFile::LockFailedError)
            return Result::success();
        if (waited.elapsed() >= waitMs) {
            qint64 pid = 0;
            QString host;
            QString program;
            const QString name = QFileInfo(path).fileName();
            if (!lock.getLockInfo(&pid, &host, &program))
                return Result::failure(QStringLiteral("Could not save %1: another program is "
                                                      "writing it.")
                                           .arg(name));
            return Result::failure(
                QStringLiteral("Could not save %1: %2 (process %3 on %4) is writing it.")
                    .arg(name, program.isEmpty() ? QStringLiteral("another program") : program)
                    .arg(pid)
                    .arg(host));
        }
        if (serve) {
            serve();
            QThread::msleep(5);
        }
    }
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
    const QByteArray stamp = fileStamp(path);
    QStringList lines;
    const Result read = readLines(path, lines);
    if (!read.ok())
        return read;
    m_lines = std::move(lines);
    m_savedChanges = ++m_changes; // what is on disk now
    m_disk = {path, m_lines, m_lines, stamp, 0};
    clearIndex();
    m_indexValid = false;
    return Result::success();
}

Result ImportedListStore::saveToFile(const QString& path, const std::function<void()>& serve) const
{
    // A short list is saved at once; a long one on a worker thread, the window served meanwhile.
    const std::function<void()> longServe = count() >= s_longList ? serve : std::function<void()>();
    QLockFile lock(path + QStringLiteral(".lock"));
    if (!locksHeld().contains(path)) {
        const Result locked = takeLock(lock, path, s_lockWaitMs, longServe);
        if (!locked.ok())
            return locked;
    }
    ++locksHeld()[path];
    const auto release = qScopeGuard([&path] {
        if (--locksHeld()[path] == 0)
            locksHeld().remove(path);
    });

    const qint64 changes = m_changes;
    const QStringList ours = m_lines;
    QStringList content = ours;
    const bool known = m_disk.path == path;
    if (known && m_disk.stamp.isEmpty() && m_disk.generation > 0) {
        // A save of ours is under way (this one was asked for while it served the window): the
        // file is about to hold what it writes.
        content = merge(m_disk.base, ours, m_disk.written);
    } else {
        const QByteArray stamp = fileStamp(path);
        if (!stamp.isEmpty() && (!known || stamp != m_disk.stamp)) {
            // Someone else wrote the file since: what they wrote is merged in.
            QStringList theirs;
            if (readLines(path, theirs).ok())
                content = merge(known ? m_disk.base : QStringList(), ours, theirs);
        } else if (!stamp.isEmpty() && !m_disk.written.isSharedWith(m_disk.base)) {
            // The file holds what the last save merged in; it stays.
            content = merge(m_disk.base, ours, m_disk.written);
        }
    }
    const DiskState before = m_disk;
    const quint64 generation = ++s_generation;
    m_disk = {path, ours, content.isSharedWith(ours) ? ours : content, QByteArray(), generation};
    Result saved = AtomicSave::write(
        path, [content] { return encodeLines(content); }, longServe);
    // A later save may have landed while this one waited; what it wrote is newer.
    if (saved.ok() && changes >= m_savedChanges)
        m_savedChanges = changes;
    if (m_disk.generation == generation) {
        if (saved.ok())
            m_disk.stamp = fileStamp(path);
        else
            m_disk = before; // the file still holds what it held
    }
    return saved;
}

QStringList ImportedListStore::merge(const QStringList& base, const QStringList& ours,
                                     const QStringList& theirs)
{
    QHash<QString, QString> baseLine; // proxy -> its first line
    QSet<QString> baseKeyless;        // lines without a proxy field
    for (const QString& line : base) {
        const QStringView key = proxyFieldOf(line);
        if (key.isEmpty())
            baseKeyless.insert(line);
        else if (!baseLine.contains(key.toString()))
            baseLine.insert(key.toString(), line);
    }
    QHash<QString, QString> theirLine;
    for (const QString& line : theirs) {
        const QStringView key = proxyFieldOf(line);
        if (!key.isEmpty() && !theirLine.contains(key.toString()))
            theirLine.insert(key.toString(), line);
    }

    QStringList merged;
    merged.reserve(std::max(ours.size(), theirs.size()));
    QSet<QString> ourKeys;
    QSet<QString> ourKeyless;
    for (const QString& line : ours) {
        const QString key = proxyFieldOf(line).toString();
        if (key.isEmpty()) {
            ourKeyless.insert(line);
            merged.append(line);
            continue;
        }
        if (ourKeys.contains(key)) {
            merged.append(line);
            continue;
        }
        ourKeys.insert(key);
        const auto before = baseLine.constFind(key);
        if (before == baseLine.constEnd() || *before != line) {
            merged.append(line); // changed or added here
            continue;
        }
        const auto now = theirLine.constFind(key);
        if (now != theirLine.constEnd())
            merged.append(*now);
        // else the other writer removed it
    }
    for (const QString& line : theirs) {
        const QString key = proxyFieldOf(line).toString();
        if (key.isEmpty()) {
            if (!baseKeyless.contains(line) && !ourKeyless.contains(line))
                merged.append(line);
            continue;
        }
        // Known here (kept above) or known before and removed here: not added again.
        if (ourKeys.contains(key) || baseLine.contains(key))
            continue;
        ourKeys.insert(key);
        merged.append(line);
    }
    return merged;
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
