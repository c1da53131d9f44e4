// The DOM adapter's attributes: an element's attribute accessors, its
// namespace declarations and its attribute map.
#include "doc/core/XmlDom.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/valid.h>

#include <string>
#include <vector>

#include "doc/core/XmlDomInternal.h"
#include "doc/core/XmlDomLinks.h"

namespace quorrel {

using detail::asAttr;
using detail::asNode;
using detail::asNs;
using detail::DocState;
using detail::fail;
using detail::linkAttribute;
using detail::markChanged;
using detail::str;
using detail::xstr;

namespace {

bool isNamespaceDeclarationName(const xmlChar* name) {
    return xmlStrEqual(name, xstr("xmlns")) || xmlStrncmp(name, xstr("xmlns:"), 6) == 0;
}

}  // namespace

XmlNamedNodeMap XmlNode::attributes() const {
    if (m_ptr == nullptr || isNamespaceDecl() || asNode(m_ptr)->type != XML_ELEMENT_NODE) {
        return XmlNamedNodeMap();
    }
    return XmlNamedNodeMap(*this);
}

std::string XmlNode::getAttribute(std::string_view name) const {
    requireElement("getAttribute");
    return attributes().getNamedItem(name).nodeValue();
}

void XmlNode::setAttribute(std::string_view name, std::string_view value) {
    requireElement("setAttribute");
    XmlNode existing = attributes().getNamedItem(name);
    if (existing) {
        existing.setNodeValue(value);
        return;
    }
    XmlNode attr = m_doc->createAttribute(name);
    attr.setNodeValue(value);
    attributes().setNamedItem(attr);
}

XmlNode XmlNode::setAttributeNode(XmlNode attr) {
    requireElement("setAttributeNode");
    return attributes().setNamedItem(attr);
}

std::vector<XmlNode> XmlNode::namespaceDeclarations() const {
    std::vector<XmlNode> out;
    if (m_ptr == nullptr || isNamespaceDecl() || asNode(m_ptr)->type != XML_ELEMENT_NODE) {
        return out;
    }
    xmlNodePtr el = asNode(m_ptr);
    for (xmlNsPtr ns = el->nsDef; ns != nullptr; ns = ns->next) {
        out.push_back(XmlNode(ns, el, m_doc));
    }
    return out;
}

std::string XmlNode::lookupNamespaceURI(std::string_view prefix) const {
    if (m_ptr == nullptr || isNamespaceDecl()) {
        return {};
    }
    for (xmlNodePtr n = asNode(m_ptr); n != nullptr && n->type == XML_ELEMENT_NODE; n = n->parent) {
        for (const xmlNs* ns = n->nsDef; ns != nullptr; ns = ns->next) {
            if ((ns->prefix ? std::string_view(str(ns->prefix)) : std::string_view()) == prefix) {
                return ns->href ? str(ns->href) : "";
            }
        }
    }
    return {};
}

// -------------------------------------------------------- XmlNamedNodeMap

const std::vector<XmlNode>& XmlNamedNodeMap::items() const {
    static const std::vector<XmlNode> none;
    if (!m_element) {
        return none;
    }
    DocState& state = *m_element.m_doc->m_state;
    if (!m_cache || m_cacheGeneration != state.attrGeneration) {
        auto items = std::make_shared<std::vector<XmlNode>>();
        xmlNodePtr el = asNode(m_element.m_ptr);
        for (xmlNsPtr ns = el->nsDef; ns != nullptr; ns = ns->next) {
            items->push_back(XmlNode(ns, el, m_element.m_doc));
        }
        for (xmlAttrPtr a = el->properties; a != nullptr; a = a->next) {
            items->push_back(XmlNode(a, nullptr, m_element.m_doc));
        }
        m_cache = std::move(items);
        m_cacheGeneration = state.attrGeneration;
    }
    return *m_cache;
}

std::size_t XmlNamedNodeMap::length() const {
    return items().size();
}

XmlNode XmlNamedNodeMap::item(std::size_t index) const {
    const auto& all = items();
    return index < all.size() ? all[index] : XmlNode();
}

XmlNode XmlNamedNodeMap::getNamedItem(std::string_view name) const {
    if (!m_element) {
        return {};
    }
    xmlNodePtr el = asNode(m_element.m_ptr);
    if (name == "xmlns" || name.starts_with("xmlns:")) {
        std::string_view prefix = name == "xmlns" ? std::string_view() : name.substr(6);
        for (xmlNsPtr ns = el->nsDef; ns != nullptr; ns = ns->next) {
            std::string_view p = ns->prefix ? str(ns->prefix) : "";
            if (p == prefix) {
                return XmlNode(ns, el, m_element.m_doc);
            }
        }
    }
    for (xmlAttrPtr a = el->properties; a != nullptr; a = a->next) {
        if (detail::qualifiedNameEquals(a->ns, a->name, name)) {
            return XmlNode(a, nullptr, m_element.m_doc);
        }
    }
    return {};
}

XmlNode XmlNamedNodeMap::setNamedItem(XmlNode attr) {
    if (!m_element) {
        fail(DomErrorCode::HierarchyRequest, "Only elements have attributes.");
    }
    if (attr.nodeType() != NodeType::Attribute) {
        fail(DomErrorCode::HierarchyRequest, "Only attributes can be set in an attribute map.");
    }
    if (attr.m_doc != m_element.m_doc) {
        fail(DomErrorCode::WrongDocument, "The attribute belongs to another document.");
    }
    DocState& state = *m_element.m_doc->m_state;
    xmlNodePtr el = asNode(m_element.m_ptr);
    XmlNode existing = getNamedItem(attr.nodeName());
    if (existing == attr) {
        return attr;
    }
    if (attr.isNamespaceDecl() || asAttr(attr.m_ptr)->parent != nullptr) {
        fail(DomErrorCode::InUseAttribute, "The attribute is in use by another element.");
    }
    ++state.attrGeneration;
    markChanged(asNode(m_element.m_ptr), detail::kMarkChanged);
    xmlAttrPtr a = asAttr(attr.m_ptr);
    if (existing && existing.isNamespaceDecl()) {
        // A declaration keeps its place; only its value changes.
        existing.setNodeValue(attr.nodeValue());
        if (detail::hasMark(a, detail::kMarkDefaulted)) {
            detail::setMark(asNs(existing.m_ptr), detail::kMarkDefaulted);
        }
        return XmlNode();
    }
    if (a->ns == nullptr && isNamespaceDeclarationName(a->name)) {
        // xmlns and xmlns:p declare a namespace, whether copied or typed as a name.
        const xmlChar* prefix = a->name[5] == ':' ? a->name + 6 : nullptr;
        std::string href = detail::attributeValue(a);
        xmlNsPtr ns = xmlNewNs(el, xstr(href.c_str()), prefix);
        if (ns == nullptr) {
            fail(DomErrorCode::InvalidCharacter,
                 "'" + attr.nodeName() + "' cannot declare this namespace.");
        }
        detail::copyMarks(a, ns);
        return XmlNode();
    }
    xmlAttrPtr replaced = existing ? asAttr(existing.m_ptr) : nullptr;
    linkAttribute(el, a, replaced);
    state.orphans.erase(reinterpret_cast<xmlNodePtr>(a));
    if (replaced != nullptr) {
        state.orphans.insert(reinterpret_cast<xmlNodePtr>(replaced));
        if (detail::hasMark(replaced, detail::kMarkPlaced)) {
            // It takes the place of the one of its name, in the text too.
            detail::setSourceOffset(a, detail::spanBegin(replaced));
            detail::setMark(a, detail::kMarkChanged);
        }
    }
    return existing;
}

XmlNode XmlNamedNodeMap::removeNamedItem(std::string_view name) {
    XmlNode existing = getNamedItem(name);
    if (!existing) {
        fail(DomErrorCode::NotFound, "There is no attribute named " + std::string(name) + ".");
    }
    DocState& state = *m_element.m_doc->m_state;
    ++state.attrGeneration;
    markChanged(asNode(m_element.m_ptr), detail::kMarkChanged);
    xmlNodePtr el = asNode(m_element.m_ptr);
    if (existing.isNamespaceDecl()) {
        xmlNsPtr ns = asNs(existing.m_ptr);
        xmlNsPtr* link = &el->nsDef;
        while (*link != ns) {
            link = &(*link)->next;
        }
        *link = ns->next;
        ns->next = nullptr;
        state.orphanNamespaces.push_back(ns);
        return existing;
    }
    xmlNodePtr node = asNode(existing.m_ptr);
    xmlUnlinkNode(node);
    state.orphans.insert(node);
    return existing;
}

}  // namespace quorrel
