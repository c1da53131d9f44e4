#include "views/tree/core/TreeRows.h"

#include <algorithm>
#include <limits>

namespace quorrel {

namespace {

std::uint16_t DepthValue(int depth) {
    return std::uint16_t(std::min(depth, int(std::numeric_limits<std::uint16_t>::max())));
}

}  // namespace

void CTreeRows::AppendShownBelow(const CTreeItem& item, int depth,
                                 std::vector<const CTreeItem*>& items,
                                 std::vector<std::uint16_t>& depths) const {
    struct Pending {
        const CTreeItem* item;
        int depth;
    };
    std::vector<Pending> pending;
    auto push = [&](const CTreeItem& parent, int d) {
        if (!parent.expanded()) {
            return;
        }
        std::span<const CTreeItem> children = parent.children();
        for (auto it = children.rbegin(); it != children.rend(); ++it) {
            pending.push_back({&*it, d});
        }
    };
    push(item, depth + 1);
    while (!pending.empty()) {
        Pending p = pending.back();
        pending.pop_back();
        items.push_back(p.item);
        depths.push_back(DepthValue(p.depth));
        push(*p.item, p.depth + 1);
    }
}

CTreeRows CTreeRows::Of(const CTreeItems& items) {
    CTreeRows rows;
    for (const CTreeItem& top : items.TopItems()) {
        rows.m_items.push_back(&top);
        rows.m_depths.push_back(0);
        rows.AppendShownBelow(top, 0, rows.m_items, rows.m_depths);
    }
    return rows;
}

namespace {

// How far from where its place falls a row is looked for before all rows are.
constexpr std::size_t kNear = 64;

std::uint32_t PlaceOf(const CTreeItem* item) {
    return item->textOffset() == CTreeItem::kNoOffset ? 0 : item->textOffset();
}

}  // namespace

std::size_t CTreeRows::RowOf(const CTreeItem* item) const {
    // Rows stand in document order, so their places in the text ascend, but
    // for an element's attributes, which the text may order otherwise: look
    // near the row where the item's place falls, then through all of them.
    if (item != nullptr && item->textOffset() != CTreeItem::kNoOffset) {
        std::size_t low = 0;
        std::size_t high = m_items.size();
        while (low < high) {
            const std::size_t mid = low + (high - low) / 2;
            if (PlaceOf(m_items[mid]) < item->textOffset()) {
                low = mid + 1;
            } else {
                high = mid;
            }
        }
        const std::size_t from = low > kNear ? low - kNear : 0;
        const std::size_t to = std::min(m_items.size(), low + kNear);
        for (std::size_t row = from; row < to; ++row) {
            if (m_items[row] == item) {
                return row;
            }
        }
    }
    auto it = std::find(m_items.begin(), m_items.end(), item);
    return it == m_items.end() ? npos : std::size_t(it - m_items.begin());
}

std::size_t CTreeRows::ShownBelow(std::size_t row) const {
    std::size_t end = row + 1;
    while (end < m_depths.size() && m_depths[end] > m_depths[row]) {
        ++end;
    }
    return end - row - 1;
}

CTreeRows::Shown CTreeRows::ShownIfExpanded(std::size_t row) const {
    Shown shown;
    const CTreeItem* item = m_items[row];
    if (!item->expanded() && item->hasChildren()) {
        // As if expanded: its own children always show.
        std::span<const CTreeItem> children = item->children();
        for (const CTreeItem& child : children) {
            shown.items.push_back(&child);
            shown.depths.push_back(DepthValue(m_depths[row] + 1));
            AppendShownBelow(child, m_depths[row] + 1, shown.items, shown.depths);
        }
    }
    return shown;
}

void CTreeRows::ExpandWith(CTreeItems& items, std::size_t row, Shown shown) {
    items.SetExpanded(m_items[row], true);
    auto at = std::ptrdiff_t(row + 1);
    m_items.insert(m_items.begin() + at, shown.items.begin(), shown.items.end());
    m_depths.insert(m_depths.begin() + at, shown.depths.begin(), shown.depths.end());
}

std::size_t CTreeRows::Expand(CTreeItems& items, std::size_t row) {
    Shown shown = ShownIfExpanded(row);
    std::size_t count = shown.items.size();
    ExpandWith(items, row, std::move(shown));
    return count;
}

std::size_t CTreeRows::Collapse(CTreeItems& items, std::size_t row) {
    items.SetExpanded(m_items[row], false);
    std::size_t hidden = ShownBelow(row);
    auto first = std::ptrdiff_t(row + 1);
    m_items.erase(m_items.begin() + first, m_items.begin() + first + std::ptrdiff_t(hidden));
    m_depths.erase(m_depths.begin() + first, m_depths.begin() + first + std::ptrdiff_t(hidden));
    return hidden;
}

}  // namespace quorrel
