// A Qt model over the core tree items, read in place (no copy of the tree).
#pragma once

#include <QAbstractItemModel>
#include <QIcon>
#include <array>

#include "views/tree/core/TreeItems.h"

namespace quorrel {

class TreeModel : public QAbstractItemModel {
    Q_OBJECT
public:
    explicit TreeModel(CTreeItems& items, QObject* parent = nullptr);

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    static const CTreeItem* ItemOf(const QModelIndex& index);
    QModelIndex IndexOf(const CTreeItem* item) const;

    // The items are about to be rebuilt / have been rebuilt.
    void BeginRebuild() { beginResetModel(); }
    void EndRebuild() { endResetModel(); }

    // The image list: index 0 to 7.
    static const QPixmap& Image(int index);

private:
    CTreeItems& m_items;
    mutable std::array<QIcon, 8 * 8> m_icons;  // by image and selected image
};

}  // namespace quorrel
