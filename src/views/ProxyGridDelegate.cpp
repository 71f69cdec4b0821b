#include "views/ProxyGridDelegate.h"

#include "model/ProxyTableModel.h"

#include <QColor>
#include <QPalette>

#include <algorithm>
#include <array>
#include <cmath>

namespace {

// What WCAG 2 asks of body text against its background.
constexpr double MinContrast = 4.5;

// WCAG 2 relative luminance of an sRGB colour.
double luminance(const QColor& c)
{
    const auto linear = [](double v) {
        return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
}

double contrast(const QColor& a, const QColor& b)
{
    const auto [dark, light] = std::minmax({luminance(a), luminance(b)});
    return (light + 0.05) / (dark + 0.05);
}

// Chroma (what the eye reads as colourfulness) kept while the HSL lightness changes, so a pale
// tint stays a tint at the other end of the scale.
QColor withLightness(const QColor& c, double lightness, double maxChroma = 1.0)
{
    const QColor hsl = c.toHsl();
    const auto spread = [](double l) { return 1.0 - std::abs(2.0 * l - 1.0); };
    const double chroma = std::min(maxChroma, spread(hsl.lightnessF()) * hsl.hslSaturationF());
    const double room = spread(lightness);
    const double saturation = room > 0 ? std::min(1.0, chroma / room) : 0.0;
    return QColor::fromHslF(hsl.hslHueF(), saturation, lightness);
}

// The colour of c's hue nearest to it that reads on back and on other alike. The lightness moves
// towards whichever end, black or white, stands further from back.
QColor readableOn(const QColor& c, const QColor& back, const QColor& other)
{
    const auto reads = [&](const QColor& ink) {
        return std::min(contrast(ink, back), contrast(ink, other)) >= MinContrast;
    };
    if (reads(c))
        return c;
    const bool darker = contrast(Qt::black, back) >= contrast(Qt::white, back);
    const double start = c.toHsl().lightnessF();
    for (int step = 1; step <= 255; ++step) {
        const double l = std::clamp(start + (darker ? -step : step) / 255.0, 0.0, 1.0);
        if (const QColor candidate = withLightness(c, l); reads(candidate))
            return candidate;
    }
    return darker ? QColor(Qt::black) : QColor(Qt::white);
}

// A background picked on white, moved onto base: as far below white's lightness as it was, on a
// light base. On a dark one it is as far above base's, and a tint that looks pale on white would
// glare on grey, so its chroma is held to half that step.
QColor onBase(QRgb colour, const QColor& base)
{
    if (colour == ProxyRow::White)
        return base;
    const QColor c = QColor::fromRgb(colour);
    const double depth = 1.0 - c.toHsl().lightnessF();
    const double l = base.toHsl().lightnessF();
    if (l >= 0.5)
        return withLightness(c, std::max(0.0, l - depth));
    return withLightness(c, std::min(1.0, l + depth), depth / 2);
}

} // namespace

ProxyGridDelegate::ProxyGridDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

QRgb ProxyGridDelegate::readable(QRgb colour, QRgb back, QRgb other) const
{
    const std::array<QRgb, 3> key = {colour, back, other};
    auto it = m_readable.find(key);
    if (it == m_readable.end())
        it = m_readable
                 .emplace(key, readableOn(QColor::fromRgba(colour), QColor::fromRgba(back),
                                          QColor::fromRgba(other))
                                   .rgba())
                 .first;
    return it->second;
}

QRgb ProxyGridDelegate::background(QRgb colour, QRgb base) const
{
    const std::array<QRgb, 2> key = {colour, base};
    auto it = m_background.find(key);
    if (it == m_background.end())
        it = m_background.emplace(key, onBase(colour, QColor::fromRgba(base)).rgba()).first;
    return it->second;
}

void ProxyGridDelegate::initStyleOption(QStyleOptionViewItem* option,
                                        const QModelIndex& index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    QPalette& palette = option->palette;
    const QPalette::ColorGroup group = !(option->state & QStyle::State_Enabled) ? QPalette::Disabled
                                       : option->state & QStyle::State_Active   ? QPalette::Active
                                                                              : QPalette::Inactive;

    if (option->state & QStyle::State_Selected) {
        const QRgb text = palette.color(group, QPalette::HighlightedText).rgba();
        palette.setColor(group, QPalette::Highlight,
                         QColor::fromRgba(readable(palette.color(group, QPalette::Highlight).rgba(),
                                                   text, text)));
        return;
    }

    const QRgb base = palette.color(group, QPalette::Base).rgba();
    const auto backOf = [&](const QModelIndex& cell) {
        const QVariant colour = cell.data(ProxyTableModel::BackColourRole);
        return colour.isValid() ? background(colour.value<ProxyRow::Colour>(), base) : base;
    };
    const QRgb back = backOf(index);
    if (back != base)
        option->backgroundBrush = QColor::fromRgba(back);
    // The text must read on the neighbouring row's background too, so that a white row and a
    // band show one green and one red.
    const int row = index.row();
    const QModelIndex neighbour =
        index.siblingAtRow(row + 1 < index.model()->rowCount() ? row + 1 : row - 1);
    const QRgb other = neighbour.isValid() ? backOf(neighbour) : base;
    const QVariant foreColour = index.data(ProxyTableModel::ForeColourRole);
    const QRgb fore = foreColour.isValid() ? QRgb(foreColour.value<ProxyRow::Colour>())
                                           : palette.color(group, QPalette::Text).rgba();
    palette.setColor(group, QPalette::Text, QColor::fromRgba(readable(fore, back, other)));
}
