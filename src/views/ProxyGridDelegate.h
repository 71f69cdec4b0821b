#pragma once

#include <QStyledItemDelegate>

#include <array>
#include <map>

// Draws the cells of a ProxyGrid. The model keeps its colours as plain numbers chosen for a light
// window; this is the one place where they become the text and background brushes of the cells
// on screen (only the visible cells are asked for), fitted to the palette in use:
// - a background keeps its distance from white as a distance from the palette's base, lighter on
//   a dark base, so white rows are the base and the bands stay bands;
// - a text colour keeps its hue and moves away from the background until it reads at 4.5:1 (the
//   WCAG 2 threshold for body text) on its row and the next alike, so a white row and a band show
//   the same green; so does the style's own text;
// - a selected cell shows the highlighted text, on a highlight made dark or light enough for it.
class ProxyGridDelegate final : public QStyledItemDelegate
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ProxyGridDelegate)

public:
    explicit ProxyGridDelegate(QObject* parent = nullptr);

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;

private:
    // Fitting a colour takes a search; the few combinations a palette and the model's colours
    // make are kept.
    QRgb readable(QRgb colour, QRgb back, QRgb other) const;
    QRgb background(QRgb colour, QRgb base) const;

    mutable std::map<std::array<QRgb, 3>, QRgb> m_readable;
    mutable std::map<std::array<QRgb, 2>, QRgb> m_background;
};
