#pragma once

#include <QColor>
#include <QPalette>

// A dark palette of the kind desktop themes hand to the Fusion style: light text on dark grey,
// a mid-blue highlight with white text on it, greyed text when disabled.
inline QPalette darkPalette()
{
    const QColor window(53, 53, 53);
    const QColor text(232, 232, 232);
    const QColor dim(127, 127, 127);
    QPalette p(text, window, window.lighter(140), window.darker(160), window.darker(120), text,
               QColor(Qt::white), QColor(35, 35, 35), window);
    p.setColor(QPalette::AlternateBase, QColor(45, 45, 45));
    p.setColor(QPalette::ToolTipBase, QColor(25, 25, 25));
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, dim);
    p.setColor(QPalette::Link, QColor(86, 156, 240));
    p.setColor(QPalette::LinkVisited, QColor(170, 130, 240));
    p.setColor(QPalette::Highlight, QColor(42, 130, 218));
    p.setColor(QPalette::HighlightedText, QColor(Qt::white));
    for (const QPalette::ColorRole role :
         {QPalette::WindowText, QPalette::Text, QPalette::ButtonText, QPalette::HighlightedText})
        p.setColor(QPalette::Disabled, role, dim);
    p.setColor(QPalette::Disabled, QPalette::Highlight, QColor(80, 80, 80));
    return p;
}
