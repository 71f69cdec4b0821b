#include "system/DesktopProxyBackend.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace {

constexpr int toolTimeoutMs = 10000;

QString firstLine(const QByteArray& text)
{
    const QStringList lines = QString::fromLocal8Bit(text).split(u'\n', Qt::SkipEmptyParts);
    for (const QString& line : lines) {
        if (!line.trimmed().isEmpty())
            return line.trimmed();
    }
    return {};
}

} // namespace

DesktopProxyBackend::Tool DesktopProxyBackend::findTool(const QStringList& names)
{
    for (const QString& name : names) {
        const QString path = QStandardPaths::findExecutable(name);
        if (!path.isEmpty())
            return {path, name};
    }
    return {QString(), names.value(0)};
}

DesktopProxyBackend::Tool DesktopProxyBackend::toolAt(const QString& path)
{
    return {path, QFileInfo(path).fileName()};
}

Result DesktopProxyBackend::run(const Tool& tool, const QStringList& args, QString* output)
{
    const QFileInfo info(tool.path);
    if (tool.path.isEmpty() || !info.isFile() || !info.isExecutable()) {
        return Result::failure(tool.name + QStringLiteral(" not found"));
    }

    QProcess process;
    process.setProgram(tool.path);
    process.setArguments(args);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start();
    if (!process.waitForStarted(toolTimeoutMs)) {
        return Result::failure(tool.name + QStringLiteral(" could not be started: ") +
                               process.errorString());
    }
    if (!process.waitForFinished(toolTimeoutMs)) {
        process.kill();
        process.waitForFinished(1000);
        return Result::failure(tool.name + QStringLiteral(" timed out"));
    }
    if (process.exitStatus() != QProcess::NormalExit) {
        return Result::failure(tool.name + QStringLiteral(" crashed"));
    }
    if (process.exitCode() != 0) {
        QString reason = firstLine(process.readAllStandardError());
        if (reason.isEmpty())
            reason = QStringLiteral("exit code %1").arg(process.exitCode());
        return Result::failure(tool.name + QStringLiteral(" failed: ") + reason);
    }
    if (output) {
        *output = QString::fromUtf8(process.readAllStandardOutput());
        if (output->endsWith(u'\n'))
            output->chop(1);
    }
    return Result::success();
}
