#include "shell/AppIcons.h"

#include <QColor>
#include <QFont>
#include <QPainter>
#include <QPixmap>

namespace AppIcons {

QIcon application()
{
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/%1x%1/apps/corvatel.png").arg(size),
                     QSize(size, size));
    return icon;
}

QIcon letter(const QColor& fill, const QString& letter)
{
    QPixmap pixmap(64, 64);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(fill);
    p.setPen(Qt::NoPen);
    p.drawEllipse(2, 2, 60, 60);
    p.setPen(Qt::white);
    QFont f = p.font();
    f.setBold(true);
    f.setPixelSize(38);
    p.setFont(f);
    p.drawText(pixmap.rect(), Qt::AlignCenter, letter);
    return QIcon(pixmap);
}

} // namespace AppIcons
