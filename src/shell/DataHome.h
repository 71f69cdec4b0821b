#pragma once

#include "base/Result.h"

#include <QString>

// The folder a start from the desktop menu works in: $XDG_DATA_HOME/Corvatel
// (~/.local/share/Corvatel by default), where proxy.lst and proxysources.lst then live.
namespace DataHome {

QString path();

// Creates the folder if needed and makes it the current directory.
Result enter();

} // namespace DataHome
