#pragma once

#include <QStyledItemDelegate>

// Draws the cells of a ProxyGrid. The model keeps its colours as plain numbers; this is the one
// place where they become the text and background brushes of the cells on screen (only the
// visible cells are asked for).
class ProxyGridDelegate final : public QStyledItemDelegate
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ProxyGridDelegate)

public:
    explicit ProxyGridDelegate(QObject* parent = nullptr);

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};
