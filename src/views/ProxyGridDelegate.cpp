#include "views/ProxyGridDelegate.h"

#include "model/ProxyTableModel.h"

#include <QBrush>
#include <QColor>

namespace {

QBrush brush(const QVariant& colour)
{
    return QBrush(QColor(QRgb(colour.value<ProxyRow::Colour>())));
}

} // namespace

ProxyGridDelegate::ProxyGridDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

void ProxyGridDelegate::initStyleOption(QStyleOptionViewItem* option,
                                        const QModelIndex& index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    const QVariant fore = index.data(ProxyTableModel::ForeColourRole);
    if (fore.isValid())
        option->palette.setBrush(QPalette::Text, brush(fore));
    const QVariant back = index.data(ProxyTableModel::BackColourRole);
    if (back.isValid())
        option->backgroundBrush = brush(back);
}
