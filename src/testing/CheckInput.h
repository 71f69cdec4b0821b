#pragma once

#include <QString>
#include <QStringList>

class QIODevice;

// The proxies corvatel-check is given: text files or standard input, read with the file import's
// line rules. A line counts when it is host:port once a leading "http://" or "https://" is
// dropped; each proxy is tested once, in the order it first appears.
namespace CheckInput {

struct Read
{
    QStringList proxies;
    QStringList notes; // lines skipped, said per file
    QString error;     // "" when the input can be tested
};

// inputs are file paths, "-" standing for in (standard input); none reads in. A file that cannot
// be read, is no file, or holds lines but no proxy is an error naming it (and the line, where one
// is to blame); so is input without any proxy at all.
Read read(const QStringList& inputs, QIODevice& in);

// The proxy a line names, "" when it names none.
QString proxyOfLine(const QString& line);

// Every count-th proxy from the k-th on (k from 1).
QStringList shard(const QStringList& proxies, int k, int count);

} // namespace CheckInput
