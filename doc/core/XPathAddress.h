// Shared between the XPath source files; not for callers. Works out where a
// libxml2 node stands for the tree and for XPath: its item path, its tree
// item's position and an absolute XPath. Nodes asked in document order cost
// a walk over each level's children once, whatever their number.
#pragma once

#include <libxml/tree.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "doc/core/XPath.h"

namespace quorrel::detail {

struct NodeAddress {
    std::string itemPath;  // empty: no tree item
    std::string treeItem;  // empty: no tree item
    std::string xpath;     // empty: none
};

class NodeAddresses {
public:
    explicit NodeAddresses(const std::vector<NamespaceBinding>& namespaces);

    // node: any node of a document (a namespace node is an xmlNs whose next
    // points to its element, as XPath's node-sets hold them).
    NodeAddress Of(const xmlNode* node);

private:
    // Children of one node counted up to a point: the counts are those of
    // the children before `next`.
    struct Scan {
        const xmlNode* next = nullptr;
        std::size_t shown = 0;                                  // tree items
        std::size_t texts = 0;                                  // text and CDATA
        std::size_t comments = 0;                               // comments
        std::unordered_map<std::string, std::size_t> labels;    // shown labels that are names
        std::unordered_map<std::string, std::size_t> elements;  // by namespace and local name
        std::unordered_map<std::string, std::size_t> pis;       // by target
    };
    struct Level {
        const xmlNode* node = nullptr;
        NodeAddress address;
        bool shown = false;                                       // has a tree item
        std::size_t attributeItems = 0;                           // items before the children's
        Scan before;                                              // up to the child last asked
        Scan totals;                                              // all the children
        std::unordered_map<std::string, std::size_t> localNames;  // elements by local name
        bool totalled = false;
    };

    void Count(Scan& scan, const xmlNode* child, Level* level) const;
    void Advance(Level& level, const xmlNode* child);
    void Total(Level& level);
    NodeAddress StepTo(Level& parent, const xmlNode* child);
    NodeAddress AttributeOf(Level& owner, const xmlAttr* attr) const;
    NodeAddress NamespaceOf(Level& owner, const xmlNs* ns) const;
    bool Chain(const xmlNode* parent);
    std::string ElementTest(Level& parent, const xmlNode* element);
    std::string Literal(std::string_view text) const;

    std::unordered_map<std::string, std::string> m_prefixOf;  // namespace -> prefix
    std::vector<Level> m_levels;  // the document node, then the chain down to the last parent
    std::vector<const xmlNode*> m_chain;
};

// The first characters of the node's string value (at most maxCharacters).
std::string StringValuePrefix(const xmlNode* node, std::size_t maxCharacters);

}  // namespace quorrel::detail
