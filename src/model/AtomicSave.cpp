#include "model/AtomicSave.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QThreadPool>

#include <chrono>
#include <future>
#include <memory>

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

Result write(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    // Unbuffered: a buffered write that fails only when the file is closed is not always
    // reported by commit(), and a full disk would pass for a save.
    if (file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) && writeAll(file, bytes) &&
        file.flush() && file.commit())
        return Result::success();
    // A path through the alias of a removed current folder fails with a reason nobody reads.
    const QString reason =
        path.startsWith(QLatin1String("/proc/self/cwd/")) && QDir::currentPath().isEmpty()
            ? QStringLiteral("the current folder no longer exists")
            : file.errorString();
    file.cancelWriting();
    return Result::failure(
        QStringLiteral("Could not save %1: %2").arg(QFileInfo(path).fileName(), reason));
}

Result write(const QString& path, std::function<QByteArray()> content,
             const std::function<void()>& serve)
{
    // Saves handed to the worker that have not ended yet: one asked for now must follow them.
    static int inFlight = 0;
    if (!serve && inFlight == 0)
        return write(path, content());
    // One worker, kept between saves: they run one after the other, in the order asked for.
    static QThreadPool worker;
    worker.setMaxThreadCount(1);
    auto result = std::make_shared<std::promise<Result>>();
    std::future<Result> done = result->get_future();
    worker.start([path, content = std::move(content), result] {
        result->set_value(write(path, content()));
    });
    ++inFlight;
    while (done.wait_for(std::chrono::milliseconds(2)) != std::future_status::ready) {
        if (serve)
            serve();
    }
    --inFlight;
    return done.get();
}

} // namespace AtomicSave
