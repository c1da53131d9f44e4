#include "views/tree/ui/TreeModel.h"

#include <QPixmap>

#include "framework/ui/Artwork.h"

namespace quorrel {

TreeModel::TreeModel(CTreeItems& items, QObject* parent)
    : QAbstractListModel(parent), m_items(items) {}

const CTreeItem* TreeModel::ItemOf(const QModelIndex& index) {
    return index.isValid() ? static_cast<const CTreeItem*>(index.constInternalPointer()) : nullptr;
}

int TreeModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_rows.Count());
}

QModelIndex TreeModel::index(int row, int column, const QModelIndex& parent) const {
    if (parent.isValid() || column != 0 || row < 0 || std::size_t(row) >= m_rows.Count()) {
        return {};
    }
    return createIndex(row, 0, m_rows.ItemAt(std::size_t(row)));
}

QModelIndex TreeModel::IndexOf(const CTreeItem* item) const {
    std::size_t row = item != nullptr ? m_rows.RowOf(item) : CTreeRows::npos;
    return row == CTreeRows::npos ? QModelIndex() : createIndex(int(row), 0, item);
}

int TreeModel::DepthOf(const QModelIndex& index) const {
    return index.isValid() ? m_rows.DepthAt(std::size_t(index.row())) : 0;
}

void TreeModel::Reset(CTreeRows rows) {
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
}

void TreeModel::SetExpanded(const QModelIndex& index, bool expanded) {
    const CTreeItem* item = ItemOf(index);
    if (item == nullptr || item->expanded() == expanded || !item->hasChildren()) {
        if (item != nullptr) {
            m_items.SetExpanded(item, expanded);
        }
        return;
    }
    std::size_t row = std::size_t(index.row());
    if (expanded) {
        CTreeRows::Shown shown = m_rows.ShownIfExpanded(row);
        if (shown.items.empty()) {
            m_items.SetExpanded(item, true);
            emit dataChanged(index, index);
            return;
        }
        beginInsertRows({}, int(row + 1), int(row + shown.items.size()));
        m_rows.ExpandWith(m_items, row, std::move(shown));
        endInsertRows();
    } else {
        std::size_t hidden = m_rows.ShownBelow(row);
        if (hidden == 0) {
            m_items.SetExpanded(item, false);
            emit dataChanged(index, index);
            return;
        }
        beginRemoveRows({}, int(row + 1), int(row + hidden));
        m_rows.Collapse(m_items, row);
        endRemoveRows();
    }
    emit dataChanged(index, index);
}

QModelIndex TreeModel::Reveal(const CTreeItem* item) {
    std::vector<const CTreeItem*> ancestors;
    for (const CTreeItem* a = item != nullptr ? item->parent() : nullptr; a != nullptr;
         a = a->parent()) {
        ancestors.push_back(a);
    }
    for (auto it = ancestors.rbegin(); it != ancestors.rend(); ++it) {
        SetExpanded(IndexOf(*it), true);
    }
    return IndexOf(item);
}

Qt::ItemFlags TreeModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren
                           : Qt::NoItemFlags;
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
        case Qt::DisplayRole: {
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
