// The tree pane's model: the shown rows of the core tree items as a flat
// list. The view draws the indentation and the branch arrows from each row's
// depth, so Qt never lays out the tree itself.
#pragma once

#include <QAbstractListModel>
#include <QIcon>
#include <array>

#include "views/tree/core/TreeItems.h"
#include "views/tree/core/TreeRows.h"

namespace quorrel {

class TreeModel : public QAbstractListModel {
    Q_OBJECT
public:
    explicit TreeModel(CTreeItems& items, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QModelIndex index(int row, int column = 0, const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    static const CTreeItem* ItemOf(const QModelIndex& index);
    // The index of a shown item; invalid when an ancestor is collapsed.
    QModelIndex IndexOf(const CTreeItem* item) const;
    int DepthOf(const QModelIndex& index) const;

    // The items have been replaced; rows: theirs, as their expansion states stand.
    void Reset(CTreeRows rows);
    void SetExpanded(const QModelIndex& index, bool expanded);
    // Expands the item's ancestors so that it is shown.
    QModelIndex Reveal(const CTreeItem* item);

    // The image list: index 0 to 7.
    static const QPixmap& Image(int index);

private:
    CTreeItems& m_items;
    CTreeRows m_rows;
    mutable std::array<QIcon, 8 * 8> m_icons;  // by image and selected image
};

}  // namespace quorrel
