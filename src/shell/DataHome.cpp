#include "shell/DataHome.h"

#include <QDir>
#include <QStandardPaths>

namespace DataHome {

QString path()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Corvatel");
}

Result enter()
{
    const QString folder = path();
    if (!QDir().mkpath(folder))
        return Result::failure(QStringLiteral("Cannot create %1").arg(folder));
    if (!QDir::setCurrent(folder))
        return Result::failure(QStringLiteral("Cannot change to %1").arg(folder));
    return Result::success();
}

} // namespace DataHome
