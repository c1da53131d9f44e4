// The tree items and their storage, found by position and expanded. They are
// built in TreeBuild.cpp; the item at a text offset is found in TreeLookup.cpp.
#include "views/tree/core/TreeItems.h"

#include <charconv>
#include <string>
#include <vector>

#include "views/tree/core/TreeStorage.h"

namespace quorrel {

static_assert(sizeof(CTreeItem) <= 40, "tree items stay five words");

// Four words, as the memory of a large document's tree assumes.
static_assert(sizeof(CTreeItem) == 32);

std::string_view CTreeItem::label() const {
    return std::string_view(m_store->labels).substr(m_label, m_labelSize);
}

const CTreeItem* CTreeItem::parent() const {
    return m_parent == kNone ? nullptr : &m_store->items[m_parent];
}

int CTreeItem::row() const {
    const CTreeItem* first = m_parent == kNone
                                 ? m_store->items.data()
                                 : &m_store->items[m_store->items[m_parent].m_firstChild];
    return int(this - first);
}

std::span<const CTreeItem> CTreeItem::children() const {
    if (m_childCount == 0) {
        return {};
    }
    return std::span<const CTreeItem>(&m_store->items[m_firstChild], m_childCount);
}

CTreeItems::CTreeItems() = default;
CTreeItems::~CTreeItems() = default;
CTreeItems::CTreeItems(CTreeItems&&) noexcept = default;
CTreeItems& CTreeItems::operator=(CTreeItems&&) noexcept = default;

void CTreeItems::DeleteAllItems() {
    m_store.reset();
}

const CTreeItem* CTreeItems::GetRootItem() const {
    return IsEmpty() ? nullptr : &m_store->items.front();
}

std::span<const CTreeItem> CTreeItems::TopItems() const {
    if (!m_store) {
        return {};
    }
    return std::span<const CTreeItem>(m_store->items.data(), m_store->topCount);
}

std::size_t CTreeItems::Count() const {
    return m_store ? m_store->items.size() : 0;
}

void CTreeItems::SetExpanded(const CTreeItem* item, bool expanded) {
    if (m_store && item != nullptr && item->m_store == m_store.get()) {
        m_store->items[std::size_t(item - m_store->items.data())].m_expanded = expanded;
    }
}

std::string AttributeLabel(std::string_view name, std::string_view value) {
    std::string label;
    label.reserve(name.size() + value.size() + 6);
    label += name;
    label += " = \" ";
    label += value;
    label += " \"";
    return label;
}

const CTreeItem* FindItemAt(const CTreeItems& items, std::string_view position) {
    std::span<const CTreeItem> level = items.TopItems();
    const CTreeItem* item = nullptr;
    while (!position.empty()) {
        std::size_t dot = position.find('.');
        std::string_view part = position.substr(0, dot);
        std::size_t index = 0;
        auto [end, ec] = std::from_chars(part.data(), part.data() + part.size(), index);
        if (part.empty() || ec != std::errc() || end != part.data() + part.size() ||
            index >= level.size()) {
            return nullptr;
        }
        item = &level[index];
        level = item->children();
        position = dot == std::string_view::npos ? std::string_view() : position.substr(dot + 1);
        if (dot != std::string_view::npos && position.empty()) {
            return nullptr;
        }
    }
    return item;
}

void ExpandBranches(CTreeItems& items, const CTreeItem* item) {
    if (item == nullptr || !item->hasChildren()) {
        return;
    }
    std::vector<const CTreeItem*> pending{item};
    while (!pending.empty()) {
        const CTreeItem* current = pending.back();
        pending.pop_back();
        items.SetExpanded(current, true);
        for (const CTreeItem& child : current->children()) {
            if ((child.selectedImage() == IMG_ROOT ||
                 child.selectedImage() == IMG_ELEMENT_PARENT_OPEN) &&
                child.hasChildren()) {
                pending.push_back(&child);
            }
        }
    }
}

}  // namespace quorrel
