// The rows the tree pane shows: every item whose ancestors are all expanded,
// in document order, with its depth. The pane draws indentation and branch
// arrows itself from these, so expanding a branch of a million items is one
// insertion into two arrays rather than a layout of the whole tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "views/tree/core/TreeItems.h"

namespace quorrel {

class CTreeRows {
public:
    static constexpr std::size_t npos = std::size_t(-1);

    // The rows of the items as their expansion states stand.
    static CTreeRows Of(const CTreeItems& items);

    std::size_t Count() const { return m_items.size(); }
    const CTreeItem* ItemAt(std::size_t row) const { return m_items[row]; }
    int DepthAt(std::size_t row) const { return m_depths[row]; }
    // The row of a shown item; npos when an ancestor is collapsed.
    std::size_t RowOf(const CTreeItem* item) const;

    // What expanding the item of a row would show below it.
    struct Shown {
        std::vector<const CTreeItem*> items;
        std::vector<std::uint16_t> depths;
    };
    Shown ShownIfExpanded(std::size_t row) const;
    // Expands the item of the row, showing what ShownIfExpanded gave.
    void ExpandWith(CTreeItems& items, std::size_t row, Shown shown);

    // Expanding the item of a row shows what its expanded branches hold;
    // collapsing hides everything below it. Both return how many rows
    // (after that row) came or went, and set the item's expansion state.
    std::size_t Expand(CTreeItems& items, std::size_t row);
    std::size_t Collapse(CTreeItems& items, std::size_t row);
    // How many rows below this one Collapse would hide.
    std::size_t ShownBelow(std::size_t row) const;

private:
    // Appends the item's shown descendants, parents before children.
    void AppendShownBelow(const CTreeItem& item, int depth, std::vector<const CTreeItem*>& items,
                          std::vector<std::uint16_t>& depths) const;

    std::vector<const CTreeItem*> m_items;
    std::vector<std::uint16_t> m_depths;
};

}  // namespace quorrel
