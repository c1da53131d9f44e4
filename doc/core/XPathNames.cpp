// Around the evaluation: the prefixes an expression may use, the kinds'
// names, an error described, and where a node stands (its absolute XPath,
// its item path and its tree item) and the node at a tree item.
#include <libxml/tree.h>

#include <charconv>
#include <unordered_set>

#include "doc/core/XPath.h"
#include "doc/core/XPathAddress.h"
#include "doc/core/XmlDomInternal.h"

namespace quorrel {

using detail::str;

namespace {

xmlDocPtr DocOf(XmlDocument& dom) {
    return reinterpret_cast<xmlDocPtr>(dom.documentNode().raw());
}

}  // namespace

std::vector<NamespaceBinding> DocumentNamespaces(XmlDocument& dom) {
    std::vector<NamespaceBinding> found;
    xmlNodePtr root = reinterpret_cast<xmlNodePtr>(DocOf(dom));
    std::unordered_set<std::string> seen;
    detail::walkTree(
        root,
        [&](xmlNodePtr n) {
            if (n->type != XML_ELEMENT_NODE) {
                return n == root;
            }
            for (const xmlNs* ns = n->nsDef; ns != nullptr; ns = ns->next) {
                NamespaceBinding b{ns->prefix ? str(ns->prefix) : "",
                                   ns->href ? str(ns->href) : ""};
                if (seen.insert(b.prefix + '\n' + b.uri).second) {
                    found.push_back(std::move(b));
                }
            }
            return true;
        },
        [](xmlNodePtr) {});
    return found;
}

std::vector<NamespaceBinding> MergeNamespaces(const std::vector<NamespaceBinding>& document,
                                              const std::vector<NamespaceBinding>& given) {
    std::vector<NamespaceBinding> merged;
    auto put = [&](const NamespaceBinding& b, bool replace) {
        if (b.prefix.empty()) {
            return;
        }
        for (NamespaceBinding& m : merged) {
            if (m.prefix == b.prefix) {
                if (replace) {
                    m.uri = b.uri;
                }
                return;
            }
        }
        merged.push_back(b);
    };
    for (const NamespaceBinding& b : document) {
        put(b, false);
    }
    for (const NamespaceBinding& b : given) {
        put(b, true);
    }
    return merged;
}

std::optional<NamespaceBinding> ParseNamespaceBinding(std::string_view text) {
    std::size_t equals = text.find('=');
    if (equals == std::string_view::npos) {
        return std::nullopt;
    }
    NamespaceBinding b{std::string(text.substr(0, equals)), std::string(text.substr(equals + 1))};
    if (!IsXmlName(b.prefix) || b.prefix.find(':') != std::string::npos) {
        return std::nullopt;
    }
    return b;
}

std::string_view XPathNodeKindName(XPathNodeKind kind) {
    switch (kind) {
        case XPathNodeKind::Element:
            return "element";
        case XPathNodeKind::Attribute:
            return "attribute";
        case XPathNodeKind::Text:
            return "text";
        case XPathNodeKind::CData:
            return "CDATA";
        case XPathNodeKind::Comment:
            return "comment";
        case XPathNodeKind::ProcessingInstruction:
            return "processing instruction";
        case XPathNodeKind::Document:
            return "document";
        case XPathNodeKind::Namespace:
            return "namespace";
        case XPathNodeKind::Other:
            break;
    }
    return "other";
}

std::string DescribeXPathError(const XPathError& error, std::string_view expression) {
    if (!error.compiling) {
        return error.reason + " (while evaluating)";
    }
    std::size_t characters = 1;
    for (std::size_t i = 0; i < error.offset && i < expression.size(); ++i) {
        characters += (static_cast<unsigned char>(expression[i]) & 0xC0) != 0x80 ? 1 : 0;
    }
    return error.reason + " at character " + std::to_string(characters);
}

namespace {

// A namespace declaration has no XPath node of its own.
bool IsNamespaceDeclaration(XmlNode node) {
    return node.nodeType() == NodeType::Attribute &&
           node.namespaceURI() == "http://www.w3.org/2000/xmlns/";
}

}  // namespace

std::string AbsoluteXPath(XmlNode node, const std::vector<NamespaceBinding>& namespaces) {
    if (!node || IsNamespaceDeclaration(node)) {
        return {};
    }
    detail::NodeAddresses addresses(namespaces);
    return addresses.Of(static_cast<const xmlNode*>(node.raw())).xpath;
}

std::string ShownItemPathOf(XmlNode node) {
    if (!node || IsNamespaceDeclaration(node)) {
        return {};
    }
    detail::NodeAddresses addresses({});
    return addresses.Of(static_cast<const xmlNode*>(node.raw())).itemPath;
}

std::string TreeItemOf(XmlNode node) {
    if (!node || IsNamespaceDeclaration(node)) {
        return {};
    }
    detail::NodeAddresses addresses({});
    return addresses.Of(static_cast<const xmlNode*>(node.raw())).treeItem;
}

XmlNode OwnerElementOf(XmlNode attribute) {
    if (!attribute || attribute.nodeType() != NodeType::Attribute ||
        IsNamespaceDeclaration(attribute)) {
        return {};
    }
    xmlNodePtr owner = static_cast<xmlAttrPtr>(attribute.raw())->parent;
    return owner ? detail::DocState::handle(attribute.ownerDocument(), owner) : XmlNode();
}

XmlNode NodeAtTreeItem(XmlDocument& dom, std::string_view position) {
    std::vector<std::size_t> rows;
    for (std::string_view rest = position; !rest.empty();) {
        std::size_t dot = rest.find('.');
        std::string_view part = rest.substr(0, dot);
        std::size_t row = 0;
        auto [end, ec] = std::from_chars(part.data(), part.data() + part.size(), row);
        if (part.empty() || ec != std::errc() || end != part.data() + part.size()) {
            return {};
        }
        rows.push_back(row);
        rest = dot == std::string_view::npos ? std::string_view() : rest.substr(dot + 1);
        if (dot != std::string_view::npos && rest.empty()) {
            return {};
        }
    }
    xmlNodePtr element = xmlDocGetRootElement(DocOf(dom));
    if (rows.empty() || rows[0] != 0 || element == nullptr) {
        return {};
    }
    for (std::size_t level = 1; level < rows.size(); ++level) {
        std::size_t row = rows[level];
        if (level > 1) {  // attribute items come first, but not under the top item
            for (xmlNsPtr ns = element->nsDef; ns != nullptr; ns = ns->next, --row) {
                if (row == 0) {
                    return level + 1 == rows.size() ? detail::DocState::handle(dom, ns, element)
                                                    : XmlNode();
                }
            }
            for (xmlAttrPtr a = element->properties; a != nullptr; a = a->next, --row) {
                if (row == 0) {
                    return level + 1 == rows.size() ? detail::DocState::handle(dom, a) : XmlNode();
                }
            }
        }
        xmlNodePtr found = nullptr;
        for (xmlNodePtr c = element->children; c != nullptr && found == nullptr; c = c->next) {
            const bool shown = c->type == XML_ELEMENT_NODE || c->type == XML_TEXT_NODE ||
                               c->type == XML_CDATA_SECTION_NODE || c->type == XML_COMMENT_NODE;
            if (shown && row-- == 0) {
                found = c;
            }
        }
        if (found == nullptr || (level + 1 < rows.size() && found->type != XML_ELEMENT_NODE)) {
            return {};
        }
        element = found;
    }
    return detail::DocState::handle(dom, element);
}

}  // namespace quorrel
