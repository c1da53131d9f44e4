// Building the tree items: from a DOM, breadth first, or from a parse as it
// tells its nodes; and the parses the tree pane asks for.
#include <libxml/tree.h>

#include <algorithm>
#include <charconv>
#include <stdexcept>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "doc/core/Doc.h"
#include "doc/core/ParseHooks.h"
// The builder walks libxml2's nodes itself: millions of items must not cost
// a string copy per name and value on the way.
#include "doc/core/XmlDomInternal.h"
#include "views/tree/core/TreeItems.h"
#include "views/tree/core/TreeStorage.h"

namespace quorrel {

using detail::str;

namespace {

// An item's offset: its node's own, else the one it takes the place of.
struct Place {
    std::uint32_t offset;
    bool own;
};
template <class Node>
Place PlaceOf(const Node* node, std::uint32_t fallback) {
    std::optional<std::size_t> offset = detail::sourceOffset(node);
    if (offset && *offset < CTreeItem::kNoOffset) {
        return {std::uint32_t(*offset), true};
    }
    return {fallback, false};
}

// A label's size shares its word with a flag.
std::uint32_t LabelSize(std::size_t size) {
    if (size >= (std::size_t(1) << 31)) {
        throw std::length_error("a tree item's label is too long");
    }
    return std::uint32_t(size);
}

std::uint32_t ChildCount(std::size_t count) {
    if (count > CTreeItem::kMaxChildren) {
        throw std::length_error("too many children of one tree item");
    }
    return std::uint32_t(count);
}

}  // namespace

// Breadth first, so that every item's children are appended side by side.
class TreeBuilder {
public:
    explicit TreeBuilder(std::size_t textBytes) : m_store(std::make_unique<TreeStorage>()) {
        // Virtual room for the largest tree a text of this size holds: pages
        // not used are never touched, and the arrays do not move while growing.
        m_store->items.reserve(textBytes / 4 + 16);
        m_nodes.reserve(textBytes / 4 + 16);
        m_store->labels.reserve(textBytes + textBytes / 2 + 64);
    }

    void Build(xmlNodePtr root, int maxDepth) {
        Add(root, IMG_ROOT, CTreeItem::kNoOffset);
        m_store->topCount = 1;
        // Breadth first: each level ends where the one before it stopped adding.
        std::size_t levelEnd = 1;
        int depth = 0;
        for (std::size_t i = 0; i < m_store->items.size(); ++i) {
            if (i == levelEnd) {
                levelEnd = m_store->items.size();
                ++depth;
            }
            if (maxDepth >= 0 && depth >= maxDepth) {
                break;
            }
            if (xmlNodePtr node = m_nodes[i]) {
                AddChildrenOf(i, node);
            }
        }
    }

    void Install(CTreeItems& items) {
        for (CTreeItem& item : m_store->items) {
            item.m_store = m_store.get();
        }
        items.m_store = std::move(m_store);
    }

private:
    std::uint32_t Begin() {
        if (m_store->items.size() >= CTreeItem::kNone - 1 ||
            m_store->labels.size() > std::size_t(UINT32_MAX) / 2) {
            throw std::length_error("too many tree items");
        }
        return std::uint32_t(m_store->labels.size());
    }

    CTreeItem& Push(std::uint32_t labelStart, int image, xmlNodePtr element, Place place) {
        CTreeItem& item = m_store->items.emplace_back();
        item.m_offset = place.offset;
        item.m_ownPlace = place.own;
        item.m_label = labelStart;
        item.m_labelSize = LabelSize(m_store->labels.size() - labelStart);
        item.m_image = std::uint32_t(image);
        item.m_parent = m_parent;
        m_nodes.push_back(element);
        return item;
    }

    void AppendQualified(const xmlNs* ns, const xmlChar* name) {
        if (ns != nullptr && ns->prefix != nullptr) {
            m_store->labels += str(ns->prefix);
            m_store->labels += ':';
        }
        if (name != nullptr) {
            m_store->labels += str(name);
        }
    }

    void AppendContent(const xmlChar* content) {
        if (content != nullptr) {
            m_store->labels += str(content);
        }
    }

    // An element's image is settled once its children have been seen.
    void Add(xmlNodePtr element, int image, std::uint32_t fallback) {
        std::uint32_t start = Begin();
        AppendQualified(element->ns, element->name);
        Push(start, image, element, PlaceOf(element, fallback));
    }

    // The offset of the last item added under the current parent, or the parent's.
    std::uint32_t Before(std::size_t first) const {
        return m_store->items.size() > first ? m_store->items.back().m_offset
                                             : m_store->items[m_parent].m_offset;
    }

    void AddAttribute(std::string_view prefix, const xmlChar* name, const xmlNs* ns,
                      const xmlAttr* attr) {
        std::uint32_t start = Begin();
        std::string& labels = m_store->labels;
        labels += prefix;
        AppendQualified(ns, name);
        labels += " = \" ";
        if (attr->children != nullptr && attr->children->next == nullptr) {
            AppendContent(attr->children->content);
        } else {
            labels += detail::attributeValue(attr);
        }
        labels += " \"";
        Push(start, IMG_ATTRIBUTE, nullptr, PlaceOf(attr, m_store->items[m_parent].m_offset));
    }

    void AddChildrenOf(std::size_t index, xmlNodePtr element) {
        m_parent = std::uint32_t(index);
        const std::size_t first = m_store->items.size();
        if (index != 0) {  // the document element's own attributes get no items
            for (const xmlNs* ns = element->nsDef; ns != nullptr; ns = ns->next) {
                std::uint32_t start = Begin();
                m_store->labels += ns->prefix ? "xmlns:" : "xmlns";
                AppendContent(ns->prefix);
                m_store->labels += " = \" ";
                AppendContent(ns->href);
                m_store->labels += " \"";
                Push(start, IMG_ATTRIBUTE, nullptr, PlaceOf(ns, m_store->items[index].m_offset));
            }
            for (const xmlAttr* a = element->properties; a != nullptr; a = a->next) {
                AddAttribute({}, a->name, a->ns, a);
            }
        }
        bool elementChild = false;
        for (xmlNodePtr c = element->children; c != nullptr; c = c->next) {
            switch (c->type) {
                case XML_ELEMENT_NODE:
                    elementChild = true;
                    Add(c, IMG_ELEMENT_LEAF, Before(first));
                    break;
                case XML_TEXT_NODE:
                case XML_CDATA_SECTION_NODE:
                case XML_COMMENT_NODE: {
                    std::uint32_t start = Begin();
                    AppendContent(c->content);
                    int image = c->type == XML_TEXT_NODE      ? IMG_TEXT
                                : c->type == XML_COMMENT_NODE ? IMG_COMMENT
                                                              : IMG_CDATA;
                    Push(start, image, nullptr, PlaceOf(c, Before(first)));
                    break;
                }
                default:
                    break;  // processing instructions, entity references: no item
            }
        }
        CTreeItem& item = m_store->items[index];
        item.m_firstChild = std::uint32_t(first);
        item.m_childCount = ChildCount(m_store->items.size() - first);
        if (index != 0 && elementChild) {
            item.m_image = IMG_ELEMENT_PARENT;
        }
    }

    std::unique_ptr<TreeStorage> m_store;
    std::vector<xmlNodePtr> m_nodes;  // the element each item stands for, else null
    std::uint32_t m_parent = CTreeItem::kNone;
};

// The items of a text as its parse tells its nodes, in document order; laid
// out at the end so that every item's children stand side by side.
class StreamedTree : public ShownNodeSink {
public:
    explicit StreamedTree(std::size_t textBytes) {
        m_items.reserve(textBytes / 4 + 16);
        m_store->labels.reserve(textBytes + textBytes / 2 + 64);
    }

    void StartElement(const xmlNode* element) override {
        bool root = m_open.empty();
        std::uint32_t index = Add(root ? IMG_ROOT : IMG_ELEMENT_LEAF, element);
        AppendQualified(element->ns, element->name);
        Close(index);
        if (!root) {
            m_open.back().elementChild = true;
        }
        m_open.push_back({index, false});
        if (root) {
            return;  // the document element's own attributes get no items
        }
        for (const xmlNs* ns = element->nsDef; ns != nullptr; ns = ns->next) {
            std::uint32_t at = Add(IMG_ATTRIBUTE, ns);
            Labels() += ns->prefix ? "xmlns:" : "xmlns";
            AppendContent(ns->prefix);
            Labels() += " = \" ";
            AppendContent(ns->href);
            Labels() += " \"";
            Close(at);
        }
        for (const xmlAttr* a = element->properties; a != nullptr; a = a->next) {
            std::uint32_t at = Add(IMG_ATTRIBUTE, a);
            AppendQualified(a->ns, a->name);
            Labels() += " = \" ";
            if (a->children != nullptr && a->children->next == nullptr) {
                AppendContent(a->children->content);
            } else {
                Labels() += detail::attributeValue(a);
            }
            Labels() += " \"";
            Close(at);
        }
    }

    void EndElement() override {
        Open closed = m_open.back();
        m_open.pop_back();
        if (!m_open.empty() && closed.elementChild) {
            m_items[closed.item].m_image = IMG_ELEMENT_PARENT;
        }
    }

    void Leaf(const xmlNode* node) override {
        int image = node->type == XML_TEXT_NODE      ? IMG_TEXT
                    : node->type == XML_COMMENT_NODE ? IMG_COMMENT
                                                     : IMG_CDATA;
        std::uint32_t index = Add(image, node);
        AppendContent(node->content);
        Close(index);
    }

    // Lays the items out: each item's children in one block, the blocks in
    // document order of their parents.
    void Install(CTreeItems& items) {
        const std::size_t count = m_items.size();
        std::vector<std::uint32_t> start(count, 0), place(count, 0);
        std::uint32_t next = count > 0 ? 1 : 0;
        for (std::size_t i = 0; i < count; ++i) {
            start[i] = next;
            next += m_items[i].m_childCount;
        }
        std::vector<std::uint32_t> filled(count, 0);
        for (std::size_t i = 1; i < count; ++i) {
            std::uint32_t parent = m_items[i].m_parent;
            place[i] = start[parent] + filled[parent]++;
        }
        filled = {};
        std::vector<CTreeItem>& out = m_store->items;
        out.resize(count);
        for (std::size_t i = 0; i < count; ++i) {
            CTreeItem item = m_items[i];
            item.m_firstChild = start[i];
            item.m_parent = i == 0 ? CTreeItem::kNone : place[item.m_parent];
            item.m_store = m_store.get();
            out[place[i]] = item;
        }
        m_items = {};
        m_store->topCount = count > 0 ? 1 : 0;
        items.m_store = std::move(m_store);
    }

private:
    struct Open {
        std::uint32_t item;
        bool elementChild;
    };

    std::string& Labels() { return m_store->labels; }

    // Items come in document order: one the text did not place takes the
    // place of the item before it.
    template <class Node>
    std::uint32_t Add(int image, const Node* node) {
        if (m_items.size() >= CTreeItem::kNone - 1 ||
            Labels().size() > std::size_t(UINT32_MAX) / 2) {
            throw std::length_error("too many tree items");
        }
        std::uint32_t before = m_items.empty() ? CTreeItem::kNoOffset : m_items.back().m_offset;
        CTreeItem& item = m_items.emplace_back();
        Place place = PlaceOf(node, before);
        item.m_offset = place.offset;
        item.m_ownPlace = place.own;
        item.m_label = std::uint32_t(Labels().size());
        item.m_image = std::uint32_t(image);
        if (!m_open.empty()) {
            item.m_parent = m_open.back().item;
            CTreeItem& parent = m_items[m_open.back().item];
            parent.m_childCount = ChildCount(parent.m_childCount + 1U);
        }
        return std::uint32_t(m_items.size() - 1);
    }

    void Close(std::uint32_t index) {
        m_items[index].m_labelSize = LabelSize(Labels().size() - m_items[index].m_label);
    }

    void AppendQualified(const xmlNs* ns, const xmlChar* name) {
        if (ns != nullptr && ns->prefix != nullptr) {
            Labels() += str(ns->prefix);
            Labels() += ':';
        }
        AppendContent(name);
    }

    void AppendContent(const xmlChar* content) {
        if (content != nullptr) {
            Labels() += str(content);
        }
    }

    std::unique_ptr<TreeStorage> m_store = std::make_unique<TreeStorage>();
    std::vector<CTreeItem> m_items;  // in document order, m_parent as an index into it
    std::vector<Open> m_open;
};

ParsedTree ParseForTree(const CDoc& doc, std::string_view text) {
    ParsedTree parsed;
    parsed.dom = std::make_unique<XmlDocument>();
    if (text.empty()) {
        return parsed;
    }
    StreamedTree streamed(text.size());
    if (!doc.ParseText(*parsed.dom, text, &streamed)) {
        return parsed;  // a parse error shows no tree
    }
    if (parsed.dom->hollow()) {
        streamed.Install(parsed.items);
    } else {
        BuildTreeFromDom(*parsed.dom, parsed.items);
    }
    ExpandBranches(parsed.items, parsed.items.GetRootItem());
    return parsed;
}

void ParseFileForTree(FileDocument& file, const LoadOptions& options, CTreeItems& items) {
    StreamedTree streamed(file.decoded.text.size());
    CDoc::ParseFileDocument(file, options, &streamed);
    if (file.decoded.text.empty() || file.dom->parseError().line > 0) {
        return;
    }
    if (file.dom->hollow()) {
        streamed.Install(items);
    } else {
        BuildTreeFromDom(*file.dom, items);
    }
    ExpandBranches(items, items.GetRootItem());
}

void BuildTreeFromDom(CDoc& doc, CTreeItems& items) {
    if (doc.HasDom() && !doc.Text().empty()) {
        BuildTreeFromDom(doc.WholeDom(), items);  // a hollow DOM is parsed whole first
    }
}

void BuildTreeFromDom(XmlDocument& dom, CTreeItems& items, int maxDepth) {
    XmlNode root = dom.documentElement();
    if (!root) {
        return;  // no document element: the tree stays empty
    }
    TreeBuilder builder(dom.sourceSize());
    builder.Build(static_cast<xmlNodePtr>(root.raw()), maxDepth);
    builder.Install(items);
}

void ReparseAndBuildTree(CDoc& doc, CTreeItems& items) {
    doc.ReparseDocument();
    BuildTreeFromDom(doc, items);
}

}  // namespace quorrel
