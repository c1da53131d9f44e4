#include "doc/core/XPathAddress.h"

#include <libxml/xmlstring.h>

#include <algorithm>

#include "doc/core/XmlDomInternal.h"

namespace quorrel::detail {

namespace {

constexpr const char* kXmlNamespace = "http://www.w3.org/XML/1998/namespace";

bool IsDocument(const xmlNode* node) {
    return node->type == XML_DOCUMENT_NODE || node->type == XML_HTML_DOCUMENT_NODE;
}

std::string ElementKey(const xmlNode* element) {
    std::string key;
    if (element->ns != nullptr && element->ns->href != nullptr) {
        key = str(element->ns->href);
    }
    key += '\x01';
    key += str(element->name);
    return key;
}

std::string Position(std::size_t before, std::size_t total) {
    return total > 1 ? "[" + std::to_string(before + 1) + "]" : std::string();
}

std::string Child(const std::string& parent, std::size_t row) {
    return parent.empty() ? std::string() : parent + "." + std::to_string(row);
}

std::size_t CountNamespaces(const xmlNode* element) {
    std::size_t count = 0;
    for (const xmlNs* ns = element->nsDef; ns != nullptr; ns = ns->next) {
        ++count;
    }
    return count;
}

std::size_t CountAttributes(const xmlNode* element) {
    std::size_t count = 0;
    for (const xmlAttr* a = element->properties; a != nullptr; a = a->next) {
        ++count;
    }
    return count;
}

// Cuts UTF-8 text after maxCharacters characters.
void Truncate(std::string& text, std::size_t maxCharacters) {
    std::size_t characters = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && characters++ == maxCharacters) {
            text.resize(i);
            return;
        }
    }
}

std::size_t Characters(std::string_view text) {
    return std::size_t(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

}  // namespace

std::string StringValuePrefix(const xmlNode* node, std::size_t maxCharacters) {
    std::string value;
    switch (node->type) {
        case XML_NAMESPACE_DECL: {
            const xmlNs* ns = reinterpret_cast<const xmlNs*>(node);
            value = ns->href ? str(ns->href) : "";
            break;
        }
        case XML_ATTRIBUTE_NODE:
            value = attributeValue(reinterpret_cast<const xmlAttr*>(node));
            break;
        case XML_ELEMENT_NODE:
        case XML_DOCUMENT_NODE:
        case XML_HTML_DOCUMENT_NODE: {
            // The texts below, in document order, until there are enough.
            std::size_t characters = 0;
            const xmlNode* n = node->children;
            while (n != nullptr && characters <= maxCharacters) {
                if ((n->type == XML_TEXT_NODE || n->type == XML_CDATA_SECTION_NODE) &&
                    n->content != nullptr) {
                    value += str(n->content);
                    characters += Characters(str(n->content));
                }
                if (n->type == XML_ELEMENT_NODE && n->children != nullptr) {
                    n = n->children;
                    continue;
                }
                while (n != nullptr && n != node && n->next == nullptr) {
                    n = n->parent;
                }
                n = (n == nullptr || n == node) ? nullptr : n->next;
            }
            break;
        }
        default:
            value = node->content ? str(node->content) : "";
            break;
    }
    Truncate(value, maxCharacters);
    return value;
}

NodeAddresses::NodeAddresses(const std::vector<NamespaceBinding>& namespaces) {
    for (const NamespaceBinding& b : namespaces) {
        if (!b.prefix.empty()) {
            m_prefixOf.emplace(b.uri, b.prefix);  // the first prefix of a namespace
        }
    }
    m_prefixOf.emplace(kXmlNamespace, "xml");
}

void NodeAddresses::Count(Scan& scan, const xmlNode* child, Level* level) const {
    auto label = [&](std::string name) {
        if (IsXmlName(name)) {
            ++scan.labels[std::move(name)];
        }
    };
    switch (child->type) {
        case XML_ELEMENT_NODE:
            ++scan.shown;
            ++scan.labels[qualifiedName(child->ns, child->name)];
            ++scan.elements[ElementKey(child)];
            if (level != nullptr) {
                ++level->localNames[str(child->name)];
            }
            break;
        case XML_TEXT_NODE:
        case XML_CDATA_SECTION_NODE:
            ++scan.shown;
            ++scan.texts;
            label(child->content ? str(child->content) : "");
            break;
        case XML_COMMENT_NODE:
            ++scan.shown;
            ++scan.comments;
            label(child->content ? str(child->content) : "");
            break;
        case XML_PI_NODE:
            ++scan.pis[str(child->name)];
            break;
        default:
            break;
    }
}

void NodeAddresses::Advance(Level& level, const xmlNode* child) {
    bool restarted = false;
    while (level.before.next != child) {
        if (level.before.next == nullptr) {
            if (restarted) {
                return;  // not a child: the counts stay those of all
            }
            // Asked out of document order: count again from the first.
            level.before = Scan{};
            level.before.next = level.node->children;
            restarted = true;
            continue;
        }
        Count(level.before, level.before.next, nullptr);
        level.before.next = level.before.next->next;
    }
}

void NodeAddresses::Total(Level& level) {
    if (level.totalled) {
        return;
    }
    for (const xmlNode* c = level.node->children; c != nullptr; c = c->next) {
        Count(level.totals, c, &level);
    }
    level.totalled = true;
}

std::string NodeAddresses::Literal(std::string_view text) const {
    if (text.find('\'') == std::string_view::npos) {
        return "'" + std::string(text) + "'";
    }
    if (text.find('"') == std::string_view::npos) {
        return "\"" + std::string(text) + "\"";
    }
    // Both quotes: concat() of the pieces between the apostrophes.
    std::string out = "concat(";
    std::size_t start = 0;
    for (;;) {
        std::size_t quote = text.find('\'', start);
        out += "'" + std::string(text.substr(start, quote - start)) + "'";
        if (quote == std::string_view::npos) {
            break;
        }
        out += ", \"'\", ";
        start = quote + 1;
    }
    return out + ")";
}

std::string NodeAddresses::ElementTest(Level& parent, const xmlNode* element) {
    Total(parent);
    const std::string key = ElementKey(element);
    const std::size_t total = parent.totals.elements[key];
    const std::size_t before = parent.before.elements[key];
    std::string test;
    const std::string local = str(element->name);
    if (element->ns == nullptr || element->ns->href == nullptr) {
        test = local;
    } else if (auto p = m_prefixOf.find(str(element->ns->href)); p != m_prefixOf.end()) {
        test = p->second + ":" + local;
    } else if (parent.localNames[local] == total) {
        test = "*[local-name()=" + Literal(local) + "]";
    } else {
        test = "*[local-name()=" + Literal(local) +
               " and namespace-uri()=" + Literal(str(element->ns->href)) + "]";
    }
    return test + Position(before, total);
}

NodeAddress NodeAddresses::StepTo(Level& parent, const xmlNode* child) {
    Advance(parent, child);
    const Scan& b = parent.before;
    NodeAddress a;
    const bool top = IsDocument(parent.node);
    const std::size_t row = parent.attributeItems + b.shown;
    switch (child->type) {
        case XML_ELEMENT_NODE: {
            std::string label = qualifiedName(child->ns, child->name);
            if (top) {
                a.itemPath = "/" + label + "[0]";
                a.treeItem = "0";
            } else if (parent.shown) {
                auto same = b.labels.find(label);
                a.itemPath = parent.address.itemPath + "/" + label + "[" +
                             std::to_string(same == b.labels.end() ? 0 : same->second) + "]";
                a.treeItem = Child(parent.address.treeItem, row);
            }
            a.xpath = parent.address.xpath + "/" + ElementTest(parent, child);
            break;
        }
        case XML_TEXT_NODE:
        case XML_CDATA_SECTION_NODE:
        case XML_COMMENT_NODE: {
            Total(parent);
            const bool comment = child->type == XML_COMMENT_NODE;
            const std::size_t before = comment ? b.comments : b.texts;
            const std::size_t total = comment ? parent.totals.comments : parent.totals.texts;
            if (!top && parent.shown) {
                a.itemPath = parent.address.itemPath + (comment ? "/comment()[" : "/text()[") +
                             std::to_string(before + 1) + "]";
                a.treeItem = Child(parent.address.treeItem, row);
            }
            a.xpath = parent.address.xpath + (comment ? "/comment()" : "/text()") +
                      Position(before, total);
            break;
        }
        case XML_PI_NODE: {
            Total(parent);
            const std::string target = str(child->name);
            auto before = b.pis.find(target);
            a.xpath =
                parent.address.xpath + "/processing-instruction(" + Literal(target) + ")" +
                Position(before == b.pis.end() ? 0 : before->second, parent.totals.pis[target]);
            break;
        }
        default:
            break;  // entity references and the like: nothing names them
    }
    return a;
}

NodeAddress NodeAddresses::AttributeOf(Level& owner, const xmlAttr* attr) const {
    NodeAddress a;
    const bool root = owner.node->parent != nullptr && IsDocument(owner.node->parent);
    const std::string name = qualifiedName(attr->ns, attr->name);
    if (owner.shown && !root) {
        std::size_t row = CountNamespaces(owner.node);
        for (const xmlAttr* p = owner.node->properties; p != nullptr && p != attr; p = p->next) {
            ++row;
        }
        a.itemPath = owner.address.itemPath + "/@" + name;
        a.treeItem = Child(owner.address.treeItem, row);
    }
    std::string test;
    if (attr->ns == nullptr || attr->ns->href == nullptr) {
        test = str(attr->name);
    } else if (auto p = m_prefixOf.find(str(attr->ns->href)); p != m_prefixOf.end()) {
        test = p->second + ":" + str(attr->name);
    } else {
        std::size_t sameLocal = 0;
        for (const xmlAttr* p = owner.node->properties; p != nullptr; p = p->next) {
            sameLocal += xmlStrEqual(p->name, attr->name) ? 1 : 0;
        }
        test = "*[local-name()=" + Literal(str(attr->name));
        if (sameLocal > 1) {
            test += " and namespace-uri()=" + Literal(str(attr->ns->href));
        }
        test += "]";
    }
    a.xpath = owner.address.xpath + "/@" + test;
    return a;
}

NodeAddress NodeAddresses::NamespaceOf(Level& owner, const xmlNs* ns) const {
    NodeAddress a;
    a.xpath = owner.address.xpath + "/namespace::" +
              (ns->prefix ? std::string(str(ns->prefix)) : std::string("*[name()='']"));
    return a;
}

bool NodeAddresses::Chain(const xmlNode* target) {
    m_chain.clear();
    for (const xmlNode* n = target; n != nullptr; n = n->parent) {
        if (n->type != XML_ELEMENT_NODE && !IsDocument(n)) {
            return false;  // inside an entity's content, or not in a document
        }
        m_chain.push_back(n);
        if (IsDocument(n)) {
            break;
        }
    }
    if (m_chain.empty() || !IsDocument(m_chain.back())) {
        return false;
    }
    std::reverse(m_chain.begin(), m_chain.end());
    std::size_t k = 0;
    while (k < m_levels.size() && k < m_chain.size() && m_levels[k].node == m_chain[k]) {
        ++k;
    }
    m_levels.resize(k);
    for (; k < m_chain.size(); ++k) {
        Level level;
        level.node = m_chain[k];
        level.before.next = level.node->children;
        if (k > 0) {
            level.address = StepTo(m_levels[k - 1], level.node);
            level.shown = !level.address.itemPath.empty();
            if (k > 1) {  // the document element's attributes get no items
                level.attributeItems = CountNamespaces(level.node) + CountAttributes(level.node);
            }
        }
        m_levels.push_back(std::move(level));
    }
    return true;
}

NodeAddress NodeAddresses::Of(const xmlNode* node) {
    if (node == nullptr) {
        return {};
    }
    if (IsDocument(node)) {
        NodeAddress a;
        a.xpath = "/";
        return a;
    }
    if (node->type == XML_NAMESPACE_DECL) {
        // XPath keeps a namespace node's element in its next word.
        const xmlNs* ns = reinterpret_cast<const xmlNs*>(node);
        const xmlNode* owner = reinterpret_cast<const xmlNode*>(ns->next);
        if (owner == nullptr || owner->type != XML_ELEMENT_NODE || !Chain(owner)) {
            return {};
        }
        return NamespaceOf(m_levels.back(), ns);
    }
    if (node->type == XML_ATTRIBUTE_NODE) {
        if (!Chain(node->parent)) {
            return {};
        }
        return AttributeOf(m_levels.back(), reinterpret_cast<const xmlAttr*>(node));
    }
    if (!Chain(node->parent)) {
        return {};
    }
    return StepTo(m_levels.back(), node);
}

}  // namespace quorrel::detail
