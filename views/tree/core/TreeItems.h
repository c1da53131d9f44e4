// The tree pane's items without widgets. An item carries no link to its DOM
// node: its label and images are the whole of what the tree commands read.
//
// The items of a tree are built whole and stored together: an item is a few
// words in one array, the children of an item stand side by side in it, and
// the labels share one buffer. Items are named by pointers, valid while their
// CTreeItems holds them (also when the CTreeItems is moved).
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "doc/core/XmlDom.h"

namespace quorrel {

class CDoc;
class CTreeItems;
struct FileDocument;
struct TreeStorage;

enum : int {
    IMG_ROOT = 0,
    IMG_ELEMENT_PARENT = 1,
    IMG_ELEMENT_LEAF = 2,
    IMG_ATTRIBUTE = 3,
    IMG_TEXT = 4,
    IMG_COMMENT = 5,
    IMG_ELEMENT_PARENT_OPEN = 6,
    IMG_CDATA = 7,
};

class CTreeItem {
public:
    std::string_view label() const;
    int image() const { return int(m_image); }
    // An open folder for an element with element children, else the image.
    int selectedImage() const {
        return m_image == IMG_ELEMENT_PARENT ? IMG_ELEMENT_PARENT_OPEN : int(m_image);
    }
    bool expanded() const { return m_expanded != 0; }
    // Null for a top item.
    const CTreeItem* parent() const;
    // The item's position among its parent's children (or among the top items).
    int row() const;
    std::span<const CTreeItem> children() const;
    bool hasChildren() const { return m_childCount != 0; }
    // Where the item's node starts in the text the tree was parsed from, as
    // a byte offset into that UTF-8 text (kNoOffset when the tree was not
    // built from a parse of a text): an element's '<', an attribute's name,
    // a text's first character, a comment's "<!--", a CDATA section's
    // "<![CDATA[". Nodes a DTD's entity put in the tree, and the attributes
    // a DTD supplies, take the place of the item before them.
    static constexpr std::uint32_t kNoOffset = UINT32_MAX;
    std::uint32_t textOffset() const { return m_offset; }
    // Whether the offset is where the item's own node stands, not one it took.
    bool hasOwnPlace() const { return m_ownPlace != 0; }
    // The most children an item holds: more need a gigabyte of text.
    static constexpr std::uint32_t kMaxChildren = (1U << 28) - 1;

private:
    friend class CTreeItems;
    friend class TreeBuilder;
    friend class StreamedTree;
    static constexpr std::uint32_t kNone = UINT32_MAX;

    const TreeStorage* m_store = nullptr;
    std::uint32_t m_parent = kNone;
    std::uint32_t m_firstChild = 0;
    // The image and the expansion share the child count's word: an item is
    // four words.
    std::uint32_t m_childCount : 28 = 0;
    std::uint32_t m_image : 3 = 0;  // IMG_ELEMENT_PARENT_OPEN is never stored
    std::uint32_t m_expanded : 1 = 0;
    std::uint32_t m_label = 0;  // offset and size in the storage's labels
    std::uint32_t m_labelSize : 31 = 0;
    std::uint32_t m_ownPlace : 1 = 0;
    std::uint32_t m_offset = kNoOffset;
};

// The items of the tree pane, as the tree control holds them.
class CTreeItems {
public:
    CTreeItems();
    ~CTreeItems();
    CTreeItems(CTreeItems&&) noexcept;
    CTreeItems& operator=(CTreeItems&&) noexcept;

    void DeleteAllItems();
    const CTreeItem* GetRootItem() const;
    std::span<const CTreeItem> TopItems() const;
    bool IsEmpty() const { return TopItems().empty(); }
    std::size_t Count() const;
    // The view keeps the expansion state in the items.
    void SetExpanded(const CTreeItem* item, bool expanded);

private:
    friend class TreeBuilder;
    friend class StreamedTree;
    std::unique_ptr<TreeStorage> m_store;
};

// `name = " value "`: the attribute item's label.
std::string AttributeLabel(std::string_view name, std::string_view value);

// Fills the (empty) items from the document's current DOM.
void BuildTreeFromDom(CDoc& doc, CTreeItems& items);
// The same from a DOM not yet in the document, whose text is not empty;
// levels below maxDepth (the top item's depth is 0) are left out.
void BuildTreeFromDom(XmlDocument& dom, CTreeItems& items, int maxDepth = -1);
// Re-creates the DOM from the document text (showing a parse error), then fills the items.
void ReparseAndBuildTree(CDoc& doc, CTreeItems& items);

// A text parsed for the tree pane as the document parses its own: its DOM
// and its items, expanded. Without a DTD the items are built as the text is
// read and the DOM is hollow (nothing of it is kept; a command parses the
// text again whole). Reads the document only: any thread, while it stands still.
struct ParsedTree {
    std::unique_ptr<XmlDocument> dom;
    CTreeItems items;
};
ParsedTree ParseForTree(const CDoc& doc, std::string_view text);
// The same for a file being opened: its DOM goes into file.dom.
void ParseFileForTree(FileDocument& file, const LoadOptions& options, CTreeItems& items);
// Expands the item and every element-parent item below it.
void ExpandBranches(CTreeItems& items, const CTreeItem* item);

// The item at "0.2.1": dot-separated 0-based rows from the top items down
// ("0" the top item, "0.2" its third child); null when there is none.
const CTreeItem* FindItemAt(const CTreeItems& items, std::string_view position);

// The innermost item whose node holds the byte offset of text, the text
// the items were parsed from (the attribute item in an attribute, the
// element's in its tags or between its children); null before the top item,
// after it, or when the items have no places. Items with no place of their
// own are never the answer: the text does not hold them. Descends by binary
// search, so it costs the depth times the logarithm of the width, plus the
// text between the node found and the offset.
const CTreeItem* ItemAtOffset(const CTreeItems& items, std::string_view text, std::size_t offset);

// Calls visit(item, depth) for every item in document order (parents before
// their children), without recursion.
template <class Visit>
void VisitItems(const CTreeItems& items, Visit&& visit) {
    struct Pending {
        const CTreeItem* item;
        int depth;
    };
    std::vector<Pending> pending;
    auto push = [&](std::span<const CTreeItem> level, int depth) {
        for (auto it = level.rbegin(); it != level.rend(); ++it) {
            pending.push_back({&*it, depth});
        }
    };
    push(items.TopItems(), 0);
    while (!pending.empty()) {
        Pending p = pending.back();
        pending.pop_back();
        visit(*p.item, p.depth);
        push(p.item->children(), p.depth + 1);
    }
}

}  // namespace quorrel
