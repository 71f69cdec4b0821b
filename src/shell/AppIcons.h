#pragma once

#include <QIcon>

class QColor;
class QString;

namespace AppIcons {

// The program's icon, as drawn for the desktop, for the window, its dialogs and the tray.
QIcon application();
// A round badge of the given colour with one white letter, for the social buttons.
QIcon letter(const QColor& fill, const QString& letter);

} // namespace AppIcons
