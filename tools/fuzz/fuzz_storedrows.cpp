// A stored row text and a whole proxy.lst: the row's cells survive their stored form, and a file
// loaded and saved again keeps every byte of every line.
#include "FuzzCheck.h"

#include "model/ImportedListStore.h"
#include "model/ProxyRow.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cstddef>
#include <cstdint>
#include <unistd.h>

namespace {

QString tempPath(const char* name)
{
    // Saving syncs the file: on a RAM disk that costs nothing.
    const QString folder =
        QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    return folder + QStringLiteral("/fuzz_storedrows.%1.%2")
                        .arg(qint64(::getpid()))
                        .arg(QLatin1String(name));
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::ReadOnly));
    return file.readAll();
}

void writeAll(const QString& path, QByteArrayView bytes)
{
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    FUZZ_CHECK(file.write(bytes.data(), bytes.size()) == bytes.size());
}

// What saving must write for a file holding bytes: each line (LF ends it, a CR before the LF
// goes) followed by an LF, with a CR before it when the line itself ends in one.
QByteArray normalised(QByteArrayView bytes)
{
    QByteArray out;
    qsizetype start = 0;
    while (start < bytes.size()) {
        qsizetype end = bytes.indexOf('\n', start);
        if (end < 0)
            end = bytes.size();
        qsizetype stop = end;
        if (stop > start && bytes[stop - 1] == '\r')
            --stop;
        out += bytes.sliced(start, stop - start);
        if (stop > start && bytes[stop - 1] == '\r')
            out += '\r';
        out += '\n';
        start = end + 1;
    }
    return out;
}

void checkRow(const QString& text)
{
    ProxyRow::Cells stored;
    ProxyRow::readStoredRowText(text, stored);
    ProxyRow::Cells back;
    ProxyRow::readStoredRowText(ProxyRow::storedRowText(stored), back);
    FUZZ_CHECK(back == stored);
    for (const QString& cell : stored)
        FUZZ_CHECK(!cell.contains(u'|'));

    const QStringView proxy = ProxyRow::proxyField(text);
    FUZZ_CHECK(!proxy.contains(u'|'));
    if (!stored[ProxyRow::Proxy].isEmpty())
        FUZZ_CHECK(proxy == stored[ProxyRow::Proxy]);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    checkRow(QString::fromUtf8(bytes));

    static const QString input = tempPath("in");
    static const QString output = tempPath("out");
    writeAll(input, bytes);

    ImportedListStore store;
    FUZZ_CHECK(store.loadFromFile(input).ok());
    FUZZ_CHECK(store.saveToFile(output).ok());
    FUZZ_CHECK(readAll(output) == normalised(bytes));

    ImportedListStore again;
    FUZZ_CHECK(again.loadFromFile(output).ok());
    FUZZ_CHECK(again.lines() == store.lines());

    // The index finds each line's proxy at its first line, whatever the file holds.
    for (int i = 0; i < store.count(); ++i) {
        const QString& line = store.lines().at(i);
        const qsizetype first = line.indexOf(u'|');
        const qsizetype second = first < 0 ? -1 : line.indexOf(u'|', first + 1);
        if (second < 0 || second == first + 1)
            continue;
        const QString proxy = line.sliced(first + 1, second - first - 1);
        const int found = store.find(proxy);
        FUZZ_CHECK(found >= 0 && found <= i);
        FUZZ_CHECK(ProxyRow::proxyField(store.lines().at(found)) == proxy);
        checkRow(line);
    }
    QFile::remove(input);
    QFile::remove(output);
    return 0;
}
