#pragma once

#include <QLayout>
#include <QStringList>
#include <QWidget>

// The names of visible controls placed by a layout that cover part of a sibling, and of those
// the layout of their parent left out; "" when there are none. A control put into a cell that
// another already holds, or never put into one, shows up here.
inline QString overlappingControls(const QWidget& window)
{
    QList<QWidget*> placed;
    QStringList found;
    for (QWidget* w : window.findChildren<QWidget*>()) {
        const QWidget* parent = w->parentWidget();
        if (!w->isVisible() || !parent || w->isWindow())
            continue;
        bool inLayout = false;
        for (const QLayout* layout : parent->findChildren<QLayout*>())
            inLayout = inLayout || layout->indexOf(w) >= 0;
        if (inLayout)
            placed << w;
        else if (parent->layout())
            found << w->metaObject()->className() + (u' ' + w->objectName()) +
                         QStringLiteral(" unplaced");
    }
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
