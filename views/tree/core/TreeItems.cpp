#include "views/tree/core/TreeItems.h"

#include "doc/core/Doc.h"

namespace quorrel {

namespace {

bool HasElementChild(const XmlNode& node) {
    for (XmlNode c = node.firstChild(); c; c = c.nextSibling()) {
        if (c.nodeType() == NodeType::Element) {
            return true;
        }
    }
    return false;
}

// The item for one node, or null for kinds the tree does not show.
CTreeItem* InsertItemFor(const XmlNode& node, CTreeItem* parent, CTreeItems& items) {
    switch (node.nodeType()) {
        case NodeType::Element: {
            CTreeItem* item =
                HasElementChild(node)
                    ? items.InsertItem(node.nodeName(), IMG_ELEMENT_PARENT, IMG_ELEMENT_PARENT_OPEN,
                                       parent)
                    : items.InsertItem(node.nodeName(), IMG_ELEMENT_LEAF, IMG_ELEMENT_LEAF, parent);
            XmlNamedNodeMap attributes = node.attributes();
            if (attributes.length() > 0) {
                InsertAttributeItems(attributes, item, items);
            }
            return item;
        }
        case NodeType::Text:
            return items.InsertItem(node.nodeValue(), IMG_TEXT, IMG_TEXT, parent);
        case NodeType::CData:
            return items.InsertItem(node.nodeValue(), IMG_CDATA, IMG_CDATA, parent);
        case NodeType::Comment:
            return items.InsertItem(node.nodeValue(), IMG_COMMENT, IMG_COMMENT, parent);
        default:
            return nullptr;
    }
}

}  // namespace

CTreeItem::~CTreeItem() {
    std::vector<std::unique_ptr<CTreeItem>> pending = std::move(children);
    while (!pending.empty()) {
        std::unique_ptr<CTreeItem> item = std::move(pending.back());
        pending.pop_back();
        for (auto& child : item->children) {
            pending.push_back(std::move(child));
        }
        item->children.clear();
    }
}

CTreeItem* CTreeItems::InsertItem(std::string label, int image, int selectedImage,
                                  CTreeItem* parent) {
    auto& siblings = parent ? parent->children : m_top;
    auto item = std::make_unique<CTreeItem>();
    item->label = std::move(label);
    item->image = image;
    item->selectedImage = selectedImage;
    item->parent = parent;
    item->row = int(siblings.size());
    siblings.push_back(std::move(item));
    return siblings.back().get();
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

void BuildTreeFromDom(CDoc& doc, CTreeItems& items) {
    if (doc.m_pDomDoc && !doc.m_strText.empty()) {
        BuildTreeFromDom(*doc.m_pDomDoc, items);
    }
}

void BuildTreeFromDom(XmlDocument& dom, CTreeItems& items) {
    try {
        XmlNode root = dom.documentElement();
        if (!root) {
            return;  // no document element: the tree stays empty
        }
        CTreeItem* rootItem = items.InsertItem(root.nodeName(), IMG_ROOT, IMG_ROOT, nullptr);
        InsertNodeItems(root.childNodes(), rootItem, items);
    } catch (const DomError&) {
        // A failing DOM call ends the build; the items made so far stay.
    }
}

void ReparseAndBuildTree(CDoc& doc, CTreeItems& items) {
    doc.ReparseDocument();
    BuildTreeFromDom(doc, items);
}

void InsertNodeItems(const std::vector<XmlNode>& nodes, CTreeItem* parent, CTreeItems& items) {
    // Depth first without recursion: documents edited through the DOM can be
    // deeper than any stack should be.
    struct Level {
        XmlNode next;
        CTreeItem* parent;
    };
    for (const XmlNode& top : nodes) {
        CTreeItem* topItem = InsertItemFor(top, parent, items);
        if (topItem == nullptr || !top.hasChildNodes()) {
            continue;
        }
        std::vector<Level> stack{{top.firstChild(), topItem}};
        while (!stack.empty()) {
            Level& level = stack.back();
            if (!level.next) {
                stack.pop_back();
                continue;
            }
            XmlNode node = level.next;
            level.next = node.nextSibling();
            CTreeItem* item = InsertItemFor(node, level.parent, items);
            if (item != nullptr && node.hasChildNodes()) {
                stack.push_back({node.firstChild(), item});
            }
        }
    }
}

void InsertAttributeItems(const XmlNamedNodeMap& attributes, CTreeItem* element,
                          CTreeItems& items) {
    for (std::size_t i = 0; i < attributes.length(); ++i) {
        XmlNode attr = attributes.item(i);
        if (attr.nodeType() == NodeType::Attribute) {
            items.InsertItem(AttributeLabel(attr.nodeName(), attr.nodeValue()), IMG_ATTRIBUTE,
                             IMG_ATTRIBUTE, element);
        }
    }
}

void ExpandBranches(CTreeItem* item) {
    if (item == nullptr || item->children.empty()) {
        return;
    }
    std::vector<CTreeItem*> pending{item};
    while (!pending.empty()) {
        CTreeItem* current = pending.back();
        pending.pop_back();
        current->expanded = true;
        for (auto it = current->children.rbegin(); it != current->children.rend(); ++it) {
            CTreeItem* child = it->get();
            if ((child->selectedImage == IMG_ROOT ||
                 child->selectedImage == IMG_ELEMENT_PARENT_OPEN) &&
                !child->children.empty()) {
                pending.push_back(child);
            }
        }
    }
}

}  // namespace quorrel
