#include "shell/DataHome.h"

#include <QDir>
#include <QStandardPaths>

namespace DataHome {

QString path()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Corvatel");
}

bool enter(QString* error)
{
    const QString folder = path();
    if (!QDir().mkpath(folder)) {
        *error = QStringLiteral("Cannot create %1").arg(folder);
        return false;
    }
    if (!QDir::setCurrent(folder)) {
        *error = QStringLiteral("Cannot change to %1").arg(folder);
        return false;
    }
    return true;
}

} // namespace DataHome
