#include "views/tree/ui/TreeModel.h"

#include <QColor>
#include <QPixmap>

#include "app/ui/Artwork.h"

namespace quorrel {

TreeModel::TreeModel(CTreeItems& items, QObject* parent)
    : QAbstractItemModel(parent), m_items(items) {}

const CTreeItem* TreeModel::ItemOf(const QModelIndex& index) {
    return index.isValid() ? static_cast<const CTreeItem*>(index.constInternalPointer()) : nullptr;
}

QModelIndex TreeModel::IndexOf(const CTreeItem* item) const {
    return item ? createIndex(item->row(), 0, item) : QModelIndex();
}

QModelIndex TreeModel::index(int row, int column, const QModelIndex& parent) const {
    if (column != 0 || row < 0) {
        return {};
    }
    std::span<const CTreeItem> siblings =
        parent.isValid() ? ItemOf(parent)->children() : m_items.TopItems();
    if (std::size_t(row) >= siblings.size()) {
        return {};
    }
    return createIndex(row, 0, &siblings[std::size_t(row)]);
}

QModelIndex TreeModel::parent(const QModelIndex& child) const {
    const CTreeItem* item = ItemOf(child);
    return item ? IndexOf(item->parent()) : QModelIndex();
}

int TreeModel::rowCount(const QModelIndex& parent) const {
    if (parent.column() > 0) {
        return 0;
    }
    return int(parent.isValid() ? ItemOf(parent)->children().size() : m_items.TopItems().size());
}

int TreeModel::columnCount(const QModelIndex&) const {
    return 1;
}

bool TreeModel::hasChildren(const QModelIndex& parent) const {
    return rowCount(parent) > 0;
}

Qt::ItemFlags TreeModel::flags(const QModelIndex& index) const {
    const CTreeItem* item = ItemOf(index);
    if (item == nullptr) {
        return Qt::NoItemFlags;
    }
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (!item->hasChildren()) {
        flags |= Qt::ItemNeverHasChildren;  // lets the view skip asking
    }
    return flags;
}

const QPixmap& TreeModel::Image(int index) {
    static std::array<QPixmap, 8> images;
    index = std::clamp(index, 0, 7);
    if (images[std::size_t(index)].isNull()) {
        images[std::size_t(index)] = TreeImage(index);
    }
    return images[std::size_t(index)];
}

QVariant TreeModel::data(const QModelIndex& index, int role) const {
    const CTreeItem* item = ItemOf(index);
    if (item == nullptr) {
        return {};
    }
    switch (role) {
        case Qt::DisplayRole:
        case Qt::ToolTipRole: {
            std::string_view label = item->label();
            return QString::fromUtf8(label.data(), qsizetype(label.size()));
        }
        case Qt::DecorationRole: {
            // The tree shows the selected image while the item is selected.
            int normal = std::clamp(item->image(), 0, 7);
            int selected = std::clamp(item->selectedImage(), 0, 7);
            QIcon& icon = m_icons[std::size_t(normal * 8 + selected)];
            if (icon.isNull()) {
                icon.addPixmap(Image(normal), QIcon::Normal);
                icon.addPixmap(Image(selected), QIcon::Selected);
            }
            return icon;
        }
        default:
            return {};
    }
}

}  // namespace quorrel
