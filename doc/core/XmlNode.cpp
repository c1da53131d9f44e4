// The DOM adapter's nodes: their kinds, names, values and children.
#include "doc/core/XmlDom.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/valid.h>

#include <new>
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
using detail::isAttached;
using detail::linkAttribute;
using detail::markChanged;
using detail::newAttribute;
using detail::requireContent;
using detail::str;
using detail::xstr;

namespace {

bool canHaveChildren(xmlElementType t) {
    return t == XML_ELEMENT_NODE || t == XML_DOCUMENT_NODE || t == XML_DOCUMENT_FRAG_NODE;
}

bool isChildKind(xmlElementType t) {
    switch (t) {
        case XML_ELEMENT_NODE:
        case XML_TEXT_NODE:
        case XML_CDATA_SECTION_NODE:
        case XML_ENTITY_REF_NODE:
        case XML_PI_NODE:
        case XML_COMMENT_NODE:
            return true;
        default:
            return false;
    }
}

bool isAncestorOrSelf(xmlNodePtr candidate, xmlNodePtr node) {
    for (xmlNodePtr n = node; n != nullptr; n = n->parent) {
        if (n == candidate) {
            return true;
        }
    }
    return false;
}

// A child leaves its place (removed, or about to move): the parent's child
// list changed, and its text, if it stood in the text, must go from there.
void noteLeaving(DocState& state, xmlNodePtr node) {
    xmlNodePtr parent = node->parent;
    if (parent == nullptr || !isAttached(parent)) {
        return;
    }
    markChanged(parent, detail::kMarkChildrenChanged);
    if (detail::hasSpan(node) && !detail::hasMark(node, detail::kMarkCopy)) {
        state.removed.push_back(node);
    }
}

// Links a detached node before ref (or last when ref is null) without the
// text merging of xmlAddChild/xmlAddPrevSibling.
void linkChild(xmlNodePtr parent, xmlNodePtr node, xmlNodePtr ref) {
    node->parent = parent;
    if (ref == nullptr) {
        node->prev = parent->last;
        node->next = nullptr;
        if (parent->last != nullptr) {
            parent->last->next = node;
        } else {
            parent->children = node;
        }
        parent->last = node;
        return;
    }
    node->next = ref;
    node->prev = ref->prev;
    if (ref->prev != nullptr) {
        ref->prev->next = node;
    } else {
        parent->children = node;
    }
    ref->prev = node;
}

void setAttributeValue(xmlAttrPtr attr, std::string_view value) {
    if (!detail::hasMark(attr, detail::kMarkDefaulted) && detail::attributeValue(attr) == value) {
        return;  // nothing to write anew
    }
    detail::clearMark(attr, detail::kMarkDefaulted);  // a value a command set is written
    if (attr->parent != nullptr && isAttached(attr->parent)) {
        detail::setMark(attr, detail::kMarkChanged);
        markChanged(attr->parent, detail::kMarkChanged);
    }
    if (attr->atype == XML_ATTRIBUTE_ID && attr->doc != nullptr) {
        xmlRemoveID(attr->doc, attr);
        attr->atype = XML_ATTRIBUTE_CDATA;
    }
    std::string v(value);
    xmlNodePtr text = requireContent(xmlNewDocText(attr->doc, xstr(v.c_str())), v.size());
    if (attr->children != nullptr) {
        xmlFreeNodeList(attr->children);
    }
    text->parent = reinterpret_cast<xmlNodePtr>(attr);
    attr->children = attr->last = text;
}

}  // namespace

// ---------------------------------------------------------------- XmlNode

NodeType XmlNode::nodeType() const {
    if (m_ptr == nullptr) {
        return NodeType::None;
    }
    if (isNamespaceDecl()) {
        return NodeType::Attribute;
    }
    switch (asNode(m_ptr)->type) {
        case XML_ELEMENT_NODE:
            return NodeType::Element;
        case XML_ATTRIBUTE_NODE:
            return NodeType::Attribute;
        case XML_TEXT_NODE:
            return NodeType::Text;
        case XML_CDATA_SECTION_NODE:
            return NodeType::CData;
        case XML_ENTITY_REF_NODE:
            return NodeType::EntityReference;
        case XML_ENTITY_NODE:
            return NodeType::Entity;
        case XML_PI_NODE:
            return NodeType::ProcessingInstruction;
        case XML_COMMENT_NODE:
            return NodeType::Comment;
        case XML_DOCUMENT_NODE:
            return NodeType::Document;
        case XML_DOCUMENT_TYPE_NODE:
        case XML_DTD_NODE:
            return NodeType::DocumentType;
        case XML_DOCUMENT_FRAG_NODE:
            return NodeType::DocumentFragment;
        case XML_NOTATION_NODE:
            return NodeType::Notation;
        default:
            return NodeType::None;
    }
}

std::string XmlNode::nodeName() const {
    if (m_ptr == nullptr) {
        return {};
    }
    if (isNamespaceDecl()) {
        const xmlNs* ns = asNs(m_ptr);
        return ns->prefix ? "xmlns:" + std::string(str(ns->prefix)) : "xmlns";
    }
    xmlNodePtr n = asNode(m_ptr);
    switch (n->type) {
        case XML_ELEMENT_NODE:
            return detail::qualifiedName(n->ns, n->name);
        case XML_ATTRIBUTE_NODE:
            return detail::qualifiedName(asAttr(m_ptr)->ns, n->name);
        case XML_TEXT_NODE:
            return "#text";
        case XML_CDATA_SECTION_NODE:
            return "#cdata-section";
        case XML_COMMENT_NODE:
            return "#comment";
        case XML_DOCUMENT_NODE:
            return "#document";
        case XML_DOCUMENT_FRAG_NODE:
            return "#document-fragment";
        default:
            return n->name ? str(n->name) : "";
    }
}

std::string XmlNode::namespaceURI() const {
    if (m_ptr == nullptr) {
        return {};
    }
    if (isNamespaceDecl()) {
        return "http://www.w3.org/2000/xmlns/";
    }
    xmlNodePtr n = asNode(m_ptr);
    const xmlNs* ns = nullptr;
    if (n->type == XML_ELEMENT_NODE) {
        ns = n->ns;
    } else if (n->type == XML_ATTRIBUTE_NODE) {
        ns = asAttr(m_ptr)->ns;
    }
    return ns != nullptr && ns->href != nullptr ? str(ns->href) : "";
}

bool XmlNode::specified() const {
    if (m_ptr == nullptr) {
        return false;
    }
    if (isNamespaceDecl()) {
        return !detail::hasMark(asNs(m_ptr), detail::kMarkDefaulted);
    }
    xmlNodePtr n = asNode(m_ptr);
    return n->type != XML_ATTRIBUTE_NODE || !detail::hasMark(asAttr(m_ptr), detail::kMarkDefaulted);
}

std::string XmlNode::localName() const {
    if (m_ptr == nullptr) {
        return {};
    }
    if (isNamespaceDecl()) {
        const xmlNs* ns = asNs(m_ptr);
        return ns->prefix ? str(ns->prefix) : "xmlns";
    }
    xmlNodePtr n = asNode(m_ptr);
    if (n->type != XML_ELEMENT_NODE && n->type != XML_ATTRIBUTE_NODE) {
        return {};
    }
    return n->name ? str(n->name) : "";
}

std::string XmlNode::nodeValue() const {
    if (m_ptr == nullptr) {
        return {};
    }
    if (isNamespaceDecl()) {
        const xmlNs* ns = asNs(m_ptr);
        return ns->href ? str(ns->href) : "";
    }
    xmlNodePtr n = asNode(m_ptr);
    switch (n->type) {
        case XML_ATTRIBUTE_NODE:
            return detail::attributeValue(asAttr(m_ptr));
        case XML_TEXT_NODE:
        case XML_CDATA_SECTION_NODE:
        case XML_COMMENT_NODE:
        case XML_PI_NODE:
            return n->content ? str(n->content) : "";
        default:
            return {};
    }
}

void XmlNode::setNodeValue(std::string_view value) {
    if (m_ptr == nullptr) {
        fail(DomErrorCode::InvalidState, "setNodeValue on a null node");
    }
    if (isNamespaceDecl()) {
        xmlNsPtr ns = asNs(m_ptr);
        std::string_view href = ns->href ? str(ns->href) : "";
        if (href == value && !detail::hasMark(ns, detail::kMarkDefaulted)) {
            return;
        }
        xmlFree(const_cast<xmlChar*>(ns->href));
        ns->href = xmlStrndup(xstr(std::string(value).c_str()), int(value.size()));
        detail::clearMark(ns, detail::kMarkDefaulted);
        detail::setMark(ns, detail::kMarkChanged);
        markChanged(asNode(m_nsOwner), detail::kMarkChanged);
        return;
    }
    xmlNodePtr n = asNode(m_ptr);
    switch (n->type) {
        case XML_ATTRIBUTE_NODE:
            setAttributeValue(asAttr(m_ptr), value);
            return;
        case XML_TEXT_NODE:
        case XML_CDATA_SECTION_NODE:
        case XML_COMMENT_NODE:
        case XML_PI_NODE:
            if (std::string_view(n->content ? str(n->content) : "") == value) {
                return;
            }
            xmlNodeSetContent(n, xstr(std::string(value).c_str()));
            markChanged(n, detail::kMarkChanged);
            return;
        default:
            return;  // a node without a value ignores the call
    }
}

XmlNode XmlNode::parentNode() const {
    if (m_ptr == nullptr || isNamespaceDecl() || asNode(m_ptr)->type == XML_ATTRIBUTE_NODE) {
        return {};
    }
    return XmlNode(asNode(m_ptr)->parent, nullptr, m_doc);
}

XmlNode XmlNode::firstChild() const {
    if (m_ptr == nullptr || isNamespaceDecl()) {
        return {};
    }
    xmlNodePtr n = asNode(m_ptr);
    if (n->type == XML_ATTRIBUTE_NODE || !canHaveChildren(n->type)) {
        return {};
    }
    return XmlNode(n->children, nullptr, m_doc);
}

XmlNode XmlNode::lastChild() const {
    if (m_ptr == nullptr || isNamespaceDecl() || !canHaveChildren(asNode(m_ptr)->type)) {
        return {};
    }
    return XmlNode(asNode(m_ptr)->last, nullptr, m_doc);
}

XmlNode XmlNode::nextSibling() const {
    if (m_ptr == nullptr || isNamespaceDecl() || asNode(m_ptr)->type == XML_ATTRIBUTE_NODE) {
        return {};
    }
    return XmlNode(asNode(m_ptr)->next, nullptr, m_doc);
}

XmlNode XmlNode::previousSibling() const {
    if (m_ptr == nullptr || isNamespaceDecl() || asNode(m_ptr)->type == XML_ATTRIBUTE_NODE) {
        return {};
    }
    return XmlNode(asNode(m_ptr)->prev, nullptr, m_doc);
}

std::vector<XmlNode> XmlNode::childNodes() const {
    std::vector<XmlNode> out;
    for (XmlNode c = firstChild(); c; c = c.nextSibling()) {
        out.push_back(c);
    }
    return out;
}

XmlDocument& XmlNode::ownerDocument() const {
    if (m_doc == nullptr) {
        fail(DomErrorCode::InvalidState, "ownerDocument of a null node");
    }
    return *m_doc;
}

XmlNode XmlNode::appendChild(XmlNode newChild) {
    return insertBefore(newChild, XmlNode());
}

XmlNode XmlNode::insertBefore(XmlNode newChild, XmlNode refChild) {
    if (m_ptr == nullptr || isNamespaceDecl() || !canHaveChildren(asNode(m_ptr)->type)) {
        fail(DomErrorCode::HierarchyRequest, "This node cannot have children.");
    }
    if (!newChild || newChild.isNamespaceDecl()) {
        fail(DomErrorCode::HierarchyRequest, "This node cannot be inserted as a child.");
    }
    if (newChild.m_doc != m_doc) {
        fail(DomErrorCode::WrongDocument, "The node belongs to another document.");
    }
    xmlNodePtr parent = asNode(m_ptr);
    xmlNodePtr ref = refChild ? asNode(refChild.m_ptr) : nullptr;
    if (ref != nullptr &&
        (refChild.isNamespaceDecl() || ref->parent != parent || ref->type == XML_ATTRIBUTE_NODE)) {
        fail(DomErrorCode::NotFound, "The reference node is not a child of this node.");
    }
    xmlNodePtr node = asNode(newChild.m_ptr);
    DocState& state = *m_doc->m_state;
    if (node->type == XML_DOCUMENT_FRAG_NODE) {
        if (node == parent) {
            fail(DomErrorCode::HierarchyRequest, "A fragment cannot be inserted into itself.");
        }
        for (XmlNode c : newChild.childNodes()) {
            insertBefore(c, refChild);
        }
        return newChild;
    }
    bool allowed = isChildKind(node->type) ||
                   (parent->type == XML_DOCUMENT_NODE && node->type == XML_DTD_NODE);
    // A node without children can only contain the parent by being it:
    // appending fresh copies stays cheap however deep the parent is.
    bool containsParent =
        node == parent || (node->children != nullptr && isAncestorOrSelf(node, parent));
    if (!allowed || containsParent) {
        fail(DomErrorCode::HierarchyRequest, "This node cannot be inserted here.");
    }
    if (parent->type == XML_DOCUMENT_NODE) {
        if (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE ||
            node->type == XML_ENTITY_REF_NODE) {
            fail(DomErrorCode::HierarchyRequest, "Text cannot stand outside the document element.");
        }
        if (node->type == XML_ELEMENT_NODE) {
            xmlNodePtr root = xmlDocGetRootElement(reinterpret_cast<xmlDocPtr>(parent));
            if (root != nullptr && root != node) {
                fail(DomErrorCode::HierarchyRequest,
                     "The document already has a document element.");
            }
        }
    }
    if (node == ref) {
        return newChild;
    }
    if (node->parent != nullptr) {
        if (isAttached(node->parent)) {
            detail::setMark(node, detail::kMarkMoved);
        }
        noteLeaving(state, node);
        xmlUnlinkNode(node);
    }
    linkChild(parent, node, ref);
    state.orphans.erase(node);
    markChanged(parent, detail::kMarkChildrenChanged);
    return newChild;
}

XmlNode XmlNode::replaceChild(XmlNode newChild, XmlNode oldChild) {
    if (!oldChild || oldChild.isNamespaceDecl() || m_ptr == nullptr ||
        asNode(oldChild.m_ptr)->parent != asNode(m_ptr) ||
        asNode(oldChild.m_ptr)->type == XML_ATTRIBUTE_NODE) {
        fail(DomErrorCode::NotFound, "The node to replace is not a child of this node.");
    }
    if (newChild == oldChild) {
        return oldChild;
    }
    // Out first, so that a new document element does not meet the old one;
    // put back if the new node is refused.
    XmlNode next = oldChild.nextSibling();
    removeChild(oldChild);
    try {
        insertBefore(newChild, next);
    } catch (const DomError&) {
        insertBefore(oldChild, next);
        throw;
    }
    return oldChild;
}

XmlNode XmlNode::removeChild(XmlNode oldChild) {
    if (!oldChild || oldChild.isNamespaceDecl() || m_ptr == nullptr ||
        asNode(oldChild.m_ptr)->parent != asNode(m_ptr) ||
        asNode(oldChild.m_ptr)->type == XML_ATTRIBUTE_NODE) {
        fail(DomErrorCode::NotFound, "The node to remove is not a child of this node.");
    }
    xmlNodePtr node = asNode(oldChild.m_ptr);
    noteLeaving(*m_doc->m_state, node);
    xmlUnlinkNode(node);
    m_doc->m_state->orphans.insert(node);
    return oldChild;
}

XmlNode XmlNode::cloneNode() const {
    if (m_ptr == nullptr) {
        fail(DomErrorCode::InvalidState, "cloneNode on a null node");
    }
    XmlDocument& doc = *m_doc;
    if (isNamespaceDecl()) {
        // A detached xmlns attribute: set on an element it declares the namespace again.
        XmlNode attr = doc.createAttribute(nodeName());
        attr.setValue(nodeValue());
        detail::copyMarks(asNs(m_ptr), asAttr(attr.m_ptr));
        return attr;
    }
    xmlNodePtr n = asNode(m_ptr);
    xmlDocPtr xdoc = doc.m_state->ensureDoc();
    xmlNodePtr copy = nullptr;
    switch (n->type) {
        case XML_ELEMENT_NODE: {
            // The copy keeps the namespace of its original; ancestors'
            // declarations are not repeated on it as xmlDocCopyNode would.
            copy = xmlNewDocNode(xdoc, n->ns, n->name, nullptr);
            if (copy == nullptr) {
                throw std::bad_alloc();
            }
            detail::copyMarks(n, copy);
            copy->psvi = n->psvi;  // where the original ends in the text
            for (xmlNsPtr ns = n->nsDef; ns != nullptr; ns = ns->next) {
                if (xmlNsPtr declared = xmlNewNs(copy, ns->href, ns->prefix)) {
                    detail::copyMarks(ns, declared);
                }
            }
            for (xmlAttrPtr a = n->properties; a != nullptr; a = a->next) {
                xmlAttrPtr attr = newAttribute(xdoc, a->ns, a->name, detail::attributeValue(a));
                detail::copyMarks(a, attr);
                linkAttribute(copy, attr, nullptr);
            }
            break;
        }
        case XML_ATTRIBUTE_NODE: {
            xmlAttrPtr a = asAttr(m_ptr);
            xmlAttrPtr attr = newAttribute(xdoc, a->ns, a->name, detail::attributeValue(a));
            detail::copyMarks(a, attr);
            copy = reinterpret_cast<xmlNodePtr>(attr);
            break;
        }
        case XML_DOCUMENT_FRAG_NODE:
            copy = xmlNewDocFragment(xdoc);
            break;
        case XML_TEXT_NODE:
        case XML_CDATA_SECTION_NODE:
        case XML_COMMENT_NODE:
        case XML_PI_NODE:
            copy = xmlDocCopyNode(n, xdoc, 1);
            if (copy != nullptr) {
                detail::copyMarks(n, copy);
                if (detail::hasMark(copy, detail::kMarkTextCut)) {
                    auto end = doc.m_state->textEnds.find(n);
                    if (end != doc.m_state->textEnds.end()) {
                        doc.m_state->textEnds[copy] = end->second;
                    } else {
                        detail::clearMark(copy, detail::kMarkPlaced | detail::kMarkTextCut);
                    }
                }
            }
            break;
        default:
            fail(DomErrorCode::NotSupported, "This node cannot be copied.");
    }
    if (copy == nullptr) {
        throw std::bad_alloc();
    }
    doc.adopt(copy);
    return XmlNode(copy, nullptr, m_doc);
}

void XmlNode::renameAsCreated(std::string_view qualifiedName) {
    requireElement("renameAsCreated");
    std::string name(qualifiedName);
    if (!IsXmlName(name)) {
        fail(DomErrorCode::InvalidCharacter, "'" + name + "' is not a valid XML name.");
    }
    xmlNodePtr n = asNode(m_ptr);
    if (detail::qualifiedNameEquals(n->ns, n->name, name)) {
        return;  // the same name: the element reads as it did
    }
    xmlNodeSetName(n, xstr(name.c_str()));
    n->ns = nullptr;
    detail::clearMark(n, detail::kMarkParsed);
    markChanged(n, detail::kMarkChanged);
}

void XmlNode::requireElement(const char* operation) const {
    if (m_ptr == nullptr || isNamespaceDecl() || asNode(m_ptr)->type != XML_ELEMENT_NODE) {
        fail(DomErrorCode::NotSupported, std::string(operation) + " needs an element.");
    }
}

std::vector<XmlNode> XmlNode::getElementsByTagName(std::string_view name) const {
    std::vector<XmlNode> out;
    if (m_ptr == nullptr || isNamespaceDecl() || !canHaveChildren(asNode(m_ptr)->type)) {
        return out;
    }
    xmlNodePtr self = asNode(m_ptr);
    bool all = name == "*";
    // Names live in the document's dictionary: one lookup, then pointer
    // comparisons (a name not in it names no element).
    const xmlChar* local = nullptr;
    const xmlChar* whole = nullptr;
    if (xmlDictPtr dict = self->doc != nullptr ? self->doc->dict : nullptr; dict && !all) {
        std::size_t colon = name.find(':');
        std::string_view localName =
            colon == std::string_view::npos ? name : name.substr(colon + 1);
        local = xmlDictExists(dict, xstr(localName.data()), int(localName.size()));
        whole = xmlDictExists(dict, xstr(name.data()), int(name.size()));
        if (local == nullptr && whole == nullptr) {
            return out;
        }
    }
    const bool interned = local != nullptr || whole != nullptr;
    detail::walkTree(
        self,
        [&](xmlNodePtr n) {
            if (n != self && n->type == XML_ELEMENT_NODE) {
                bool candidate = all || !interned || n->name == local || n->name == whole;
                if (candidate && (all || detail::qualifiedNameEquals(n->ns, n->name, name))) {
                    out.push_back(XmlNode(n, nullptr, m_doc));
                }
            }
            return canHaveChildren(n->type);
        },
        [](xmlNodePtr) {});
    return out;
}

}  // namespace quorrel
