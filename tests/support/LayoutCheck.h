#pragma once

#include <QLayout>
#include <QStringList>
#include <QWidget>

// The names of visible controls placed by a layout that cover part of a sibling; "" when none
// do. A control put into a cell that another already holds shows up here.
inline QString overlappingControls(const QWidget& window)
{
    QList<QWidget*> placed;
    for (QWidget* w : window.findChildren<QWidget*>()) {
        const QWidget* parent = w->parentWidget();
        if (!w->isVisible() || !parent)
            continue;
        for (const QLayout* layout : parent->findChildren<QLayout*>()) {
            if (layout->indexOf(w) >= 0) {
                placed << w;
                break;
            }
        }
    }
    QStringList found;
    for (int i = 0; i < placed.size(); ++i) {
        for (int j = i + 1; j < placed.size(); ++j) {
            const QWidget* a = placed[i];
            const QWidget* b = placed[j];
            if (a->parentWidget() == b->parentWidget() && a->geometry().intersects(b->geometry()))
                found << a->metaObject()->className() + (u' ' + a->objectName()) + u'/' +
                             b->metaObject()->className() + u' ' + b->objectName();
        }
    }
    return found.join(u", ");
}
