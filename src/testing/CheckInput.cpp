#include "testing/CheckInput.h"

#include "import/TextLineReader.h"
#include "model/ProxyEndpoint.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>

namespace CheckInput {

namespace {

const QString StandardInput = QStringLiteral("standard input");

QString skippedText(int count)
{
    return count == 1 ? QStringLiteral("1 line") : QStringLiteral("%1 lines").arg(count);
}

// Reads one source into read; false when it is an error.
bool readSource(const QString& name, QIODevice& device, Read& read, QSet<QString>& seen)
{
    TextLineReader reader(device);
    QString line;
    int proxies = 0;
    int notProxies = 0;
    int firstNotProxy = 0;
    while (reader.next(line)) {
        const QString proxy = proxyOfLine(line);
        if (proxy.isEmpty()) {
            if (notProxies++ == 0)
                firstNotProxy = reader.lineNumber();
            continue;
        }
        ++proxies;
        if (!seen.contains(proxy)) {
            seen.insert(proxy);
            read.proxies.append(proxy);
        }
    }
    if (reader.failed()) {
        read.error = QStringLiteral("%1: line %2: %3")
                         .arg(name)
                         .arg(reader.lineNumber() + 1)
                         .arg(device.errorString());
        return false;
    }
    const int unreadable = reader.skippedLines();
    if (proxies == 0 && unreadable + notProxies > 0) {
        // Either a file of some other kind or a list of something else: nothing in it is
        // tested, and a script had better hear of it.
        const bool blameReader =
            unreadable > 0 && (notProxies == 0 || reader.firstSkippedLine() < firstNotProxy);
        const QString why =
            !blameReader ? QStringLiteral("no host:port in it")
            : reader.firstSkippedOverlong()
                ? QStringLiteral("a line longer than %1 bytes").arg(TextLineReader::MaxLineBytes)
                : QStringLiteral("binary data, not a text file");
        read.error = QStringLiteral("%1: line %2: %3")
                         .arg(name)
                         .arg(blameReader ? reader.firstSkippedLine() : firstNotProxy)
                         .arg(why);
        return false;
    }
    if (unreadable + notProxies > 0) {
        const int first = unreadable == 0   ? firstNotProxy
                          : notProxies == 0 ? reader.firstSkippedLine()
                                            : std::min(firstNotProxy, reader.firstSkippedLine());
        read.notes << QStringLiteral("%1: %2 skipped (the first is line %3): no host:port, "
                                     "binary data or longer than %4 bytes")
                          .arg(name, skippedText(unreadable + notProxies))
                          .arg(first)
                          .arg(TextLineReader::MaxLineBytes);
    }
    return true;
}

} // namespace

QString proxyOfLine(const QString& line)
{
    QString text = line.trimmed();
    for (const QLatin1String prefix : {QLatin1String("http://"), QLatin1String("https://")}) {
        if (text.startsWith(prefix, Qt::CaseInsensitive)) {
            text.remove(0, prefix.size());
            break;
        }
    }
    return ProxyEndpoint::parse(text) ? text : QString();
}

Read read(const QStringList& inputs, QIODevice& in)
{
    Read read;
    QSet<QString> seen;
    const QStringList sources = inputs.isEmpty() ? QStringList{QStringLiteral("-")} : inputs;
    bool stdinRead = false;
    for (const QString& path : sources) {
        if (path == u"-") {
            // A second "-" would find standard input at its end: nothing more to read.
            if (!stdinRead && !readSource(StandardInput, in, read, seen))
                return read;
            stdinRead = true;
            continue;
        }
        const QFileInfo info(path);
        if (info.exists() && info.isDir()) {
            read.error = QStringLiteral("%1: is a folder, not a list of proxies").arg(path);
            return read;
        }
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            read.error = QStringLiteral("%1: %2").arg(path, file.errorString());
            return read;
        }
        if (!readSource(path, file, read, seen))
            return read;
    }
    if (read.proxies.isEmpty()) {
        read.error = QStringLiteral("%1: no proxy to test")
                         .arg(inputs.isEmpty() ? StandardInput : inputs.join(QStringLiteral(", ")));
    }
    return read;
}

QStringList shard(const QStringList& proxies, int k, int count)
{
    QStringList part;
    for (qsizetype i = k - 1; i >= 0 && i < proxies.size(); i += count)
        part.append(proxies[i]);
    return part;
}

} // namespace CheckInput
