#include "testing/JudgeList.h"

#include "model/AtomicSave.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QUrl>

#include <algorithm>

namespace {

// A line this long is no URL anyone typed; it is named shortened.
constexpr int ShownLength = 80;

} // namespace

QString JudgeList::defaultPath()
{
    // Without a current folder (it was removed) the kernel's alias makes loads miss and saves
    // fail instead of touching "/judges.lst".
    const QString folder = QDir::currentPath();
    return (folder.isEmpty() ? QStringLiteral("/proc/self/cwd") : folder) +
           QStringLiteral("/judges.lst");
}

bool JudgeList::isJudgeUrl(const QString& text)
{
    const bool clean = std::none_of(text.cbegin(), text.cend(), [](QChar c) {
        return c.isSpace() || c.category() == QChar::Other_Control;
    });
    if (text.isEmpty() || !clean)
        return false;
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https")) &&
           !url.host().isEmpty();
}

JudgeList::Loaded JudgeList::load(const QString& path)
{
    Loaded loaded;
    QFile file(path);
    if (!file.exists())
        return loaded;
    if (!file.open(QIODevice::ReadOnly)) {
        loaded.read = Result::failure(QStringLiteral("Could not read %1: %2")
                                          .arg(QFileInfo(path).fileName(), file.errorString()));
        return loaded;
    }
    const QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        loaded.read = Result::failure(QStringLiteral("Could not read %1 to the end: %2")
                                          .arg(QFileInfo(path).fileName(), file.errorString()));
    }
    QSet<QString> seen;
    const QByteArrayList lines = content.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString line = QString::fromUtf8(lines[i]).trimmed();
        if (line.isEmpty())
            continue;
        if (!isJudgeUrl(line)) {
            loaded.refused.append({int(i + 1), line});
        } else if (!seen.contains(line)) {
            seen.insert(line);
            loaded.urls.append(line);
        }
    }
    return loaded;
}

Result JudgeList::save(const QString& path, const QStringList& urls)
{
    QByteArray content;
    for (const QString& url : urls)
        content += url.toUtf8() + '\n';
    return AtomicSave::write(path, content);
}

QString JudgeList::refusedText(const QString& path, const Refused& refused)
{
    QString text = refused.text;
    if (text.size() > ShownLength)
        text = text.left(ShownLength - 1) + QChar(0x2026);
    return QStringLiteral("%1 line %2 is no http(s) URL: %3")
        .arg(QFileInfo(path).fileName())
        .arg(refused.line)
        .arg(text);
}
