#include "model/AtomicSave.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <chrono>
#include <future>

namespace {

// write() may stop short (a file size limit, a disk that fills up) without saying why; asking
// for the rest brings the reason.
bool writeAll(QFileDevice& file, const QByteArray& bytes)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const qint64 n = file.write(bytes.constData() + done, bytes.size() - done);
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

} // namespace

namespace AtomicSave {

QString write(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    // Unbuffered: a buffered write that fails only when the file is closed is not always
    // reported by commit(), and a full disk would pass for a save.
    if (file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) && writeAll(file, bytes) &&
        file.flush() && file.commit())
        return QString();
    // A path through the alias of a removed current folder fails with a reason nobody reads.
    const QString reason =
        path.startsWith(QLatin1String("/proc/self/cwd/")) && QDir::currentPath().isEmpty()
            ? QStringLiteral("the current folder no longer exists")
            : file.errorString();
    file.cancelWriting();
    return QStringLiteral("Could not save %1: %2").arg(QFileInfo(path).fileName(), reason);
}

QString write(const QString& path, const QByteArray& bytes, const std::function<void()>& serve)
{
    if (!serve)
        return write(path, bytes);
    // The save handed out last: the next one starts writing only once it has ended.
    static std::shared_future<QString> previous;
    std::shared_future<QString> done =
        std::async(std::launch::async, [path, content = bytes, before = previous]() mutable {
            if (before.valid())
                before.wait();
            before = {}; // no chain of finished saves kept alive behind this one
            QString problem = write(path, content);
            content = QByteArray();
            return problem;
        }).share();
    previous = done;
    while (done.wait_for(std::chrono::milliseconds(2)) != std::future_status::ready)
        serve();
    return done.get();
}

} // namespace AtomicSave
