// The tree pane's items without widgets. An item carries no link to its DOM
// node: its label and images are the whole of what the tree commands read.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "doc/core/XmlDom.h"

namespace quorrel {

class CDoc;

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

struct CTreeItem {
    std::string label;
    int image = 0;
    int selectedImage = 0;
    CTreeItem* parent = nullptr;
    int row = 0;  // position among its parent's children
    bool expanded = false;
    std::vector<std::unique_ptr<CTreeItem>> children;

    CTreeItem() = default;
    ~CTreeItem();  // takes the subtree apart without one stack frame per level
    CTreeItem(const CTreeItem&) = delete;
    CTreeItem& operator=(const CTreeItem&) = delete;
};

// The items of the tree pane, as the tree control holds them.
class CTreeItems {
public:
    void DeleteAllItems() { m_top.clear(); }
    // Inserts as the last child of parent (null: at the top level).
    CTreeItem* InsertItem(std::string label, int image, int selectedImage, CTreeItem* parent);
    CTreeItem* GetRootItem() const { return m_top.empty() ? nullptr : m_top.front().get(); }
    const std::vector<std::unique_ptr<CTreeItem>>& TopItems() const { return m_top; }
    bool IsEmpty() const { return m_top.empty(); }

private:
    std::vector<std::unique_ptr<CTreeItem>> m_top;
};

// `name = " value "`: the attribute item's label.
std::string AttributeLabel(std::string_view name, std::string_view value);

// Fills the (empty) items from the document's current DOM.
void BuildTreeFromDom(CDoc& doc, CTreeItems& items);
// The same from a DOM not yet in the document, whose text is not empty.
void BuildTreeFromDom(XmlDocument& dom, CTreeItems& items);
// Re-creates the DOM from the document text (showing a parse error), then fills the items.
void ReparseAndBuildTree(CDoc& doc, CTreeItems& items);
// Items for a node list under parent, depth first, in document order.
void InsertNodeItems(const std::vector<XmlNode>& nodes, CTreeItem* parent, CTreeItems& items);
// Attribute items under an element item, in the map's order.
void InsertAttributeItems(const XmlNamedNodeMap& attributes, CTreeItem* element, CTreeItems& items);
// Expands the item and every element-parent item below it.
void ExpandBranches(CTreeItem* item);

}  // namespace quorrel
