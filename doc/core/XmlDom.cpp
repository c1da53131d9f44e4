#include "doc/core/XmlDom.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/valid.h>

#include <charconv>
#include <cstring>
#include <new>

#include "doc/core/XmlDomInternal.h"

namespace quorrel {

using detail::str;
using detail::xstr;

namespace detail {

void DocState::clear() {
    // Free detached subtrees first: their names may live in the document's dictionary.
    std::vector<xmlNodePtr> roots;
    for (xmlNodePtr n : orphans) {
        if (n->parent == nullptr) {
            roots.push_back(n);
        }
    }
    for (xmlNodePtr n : roots) {
        xmlFreeNode(n);
    }
    orphans.clear();
    for (xmlNsPtr ns : orphanNamespaces) {
        xmlFreeNs(ns);
    }
    orphanNamespaces.clear();
    if (doc != nullptr) {
        xmlFreeDoc(doc);
        doc = nullptr;
    }
    hasDeclaration = false;
    consultsDtdOrSchema = false;
    hollow = false;
    declarationText.clear();
    doctypeText.clear();
    sourceHash = 0;
    textEnds.clear();
    removed.clear();
    declVersion = "1.0";
    declEncoding.clear();
    standaloneYes = false;
    ++attrGeneration;
}

void markEverythingChanged(XmlDocument& document, bool texts) {
    xmlDocPtr doc = document.m_state->doc;
    if (doc == nullptr) {
        return;
    }
    walkTree(
        xmlDocGetRootElement(doc),
        [&](xmlNodePtr n) {
            if (hasMark(n, kMarkFromEntity)) {
                return false;  // changed, it would be written out instead of its reference
            }
            if (n->type == XML_ELEMENT_NODE) {
                setMark(n, kMarkChanged | kMarkChildrenChanged | kMarkBelowChanged);
                return true;
            }
            if (texts && n->type == XML_TEXT_NODE) {
                setMark(n, kMarkChanged);
            }
            return false;
        },
        [](xmlNodePtr) {});
}

xmlDocPtr DocState::ensureDoc() {
    if (doc == nullptr) {
        doc = xmlNewDoc(xstr("1.0"));
    }
    return doc;
}

std::string qualifiedName(const xmlNs* ns, const xmlChar* name) {
    std::string out;
    if (ns != nullptr && ns->prefix != nullptr) {
        out = str(ns->prefix);
        out += ':';
    }
    if (name != nullptr) {
        out += str(name);
    }
    return out;
}

bool qualifiedNameEquals(const xmlNs* ns, const xmlChar* name, std::string_view qname) {
    std::string_view local = name ? std::string_view(str(name)) : std::string_view();
    if (ns != nullptr && ns->prefix != nullptr) {
        std::string_view prefix = str(ns->prefix);
        return qname.size() == prefix.size() + 1 + local.size() && qname.starts_with(prefix) &&
               qname[prefix.size()] == ':' && qname.substr(prefix.size() + 1) == local;
    }
    return qname == local;
}

int xmlSpaceOf(const xmlNode* element) {
    for (const xmlAttr* a = element->properties; a != nullptr; a = a->next) {
        bool isXmlSpace = false;
        if (a->ns != nullptr && a->ns->prefix != nullptr) {
            isXmlSpace = std::strcmp(str(a->ns->prefix), "xml") == 0 &&
                         std::strcmp(str(a->name), "space") == 0;
        } else {
            isXmlSpace = std::strcmp(str(a->name), "xml:space") == 0;
        }
        if (isXmlSpace) {
            std::string v = attributeValue(a);
            if (v == "preserve") {
                return 1;
            }
            if (v == "default") {
                return 0;
            }
        }
    }
    return -1;
}

std::string attributeValue(const xmlAttr* attr) {
    const xmlNode* c = attr->children;
    if (c == nullptr) {
        return {};
    }
    if (c->next == nullptr && c->type == XML_TEXT_NODE) {
        return c->content ? str(c->content) : "";
    }
    std::string out;
    for (; c != nullptr; c = c->next) {
        if (c->content != nullptr) {
            out += str(c->content);
        }
    }
    return out;
}

std::uint64_t hashText(std::string_view text) {
    // Four lanes of multiply-xor over eight bytes at a time, then the tail.
    constexpr std::uint64_t kPrime = 0x9E3779B97F4A7C15ull;
    std::uint64_t lanes[4] = {text.size(), kPrime, ~kPrime, kPrime >> 1};
    const char* p = text.data();
    std::size_t left = text.size();
    auto mix = [](std::uint64_t h, std::uint64_t word) {
        h ^= word;
        h *= kPrime;
        return h ^ (h >> 29);
    };
    while (left >= 32) {
        for (std::uint64_t& lane : lanes) {
            std::uint64_t word;
            std::memcpy(&word, p, 8);
            lane = mix(lane, word);
            p += 8;
        }
        left -= 32;
    }
    std::uint64_t h = lanes[0] ^ (lanes[1] << 1) ^ (lanes[2] << 2) ^ (lanes[3] << 3);
    while (left > 0) {
        std::uint64_t word = 0;
        std::size_t n = std::min<std::size_t>(left, 8);
        std::memcpy(&word, p, n);
        h = mix(h, word + n);
        p += n;
        left -= n;
    }
    return mix(h, text.size());
}

bool isBlank(const xmlChar* text) {
    if (text == nullptr) {
        return true;
    }
    for (; *text; ++text) {
        if (*text != ' ' && *text != '\t' && *text != '\r' && *text != '\n') {
            return false;
        }
    }
    return true;
}

}  // namespace detail

namespace {

using detail::DocState;

xmlNodePtr asNode(void* p) {
    return static_cast<xmlNodePtr>(p);
}
xmlAttrPtr asAttr(void* p) {
    return static_cast<xmlAttrPtr>(p);
}
xmlNsPtr asNs(void* p) {
    return static_cast<xmlNsPtr>(p);
}

[[noreturn]] void fail(DomErrorCode code, const std::string& what) {
    throw DomError(code, what);
}

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

// Whether the node is in the document's tree, not in a fragment or a subtree
// being built: only changes there reach the text.
bool isAttached(const xmlNode* n) {
    for (; n != nullptr; n = n->parent) {
        if (n->type == XML_DOCUMENT_NODE) {
            return true;
        }
    }
    return false;
}

// The serialiser finds what changed by these marks: the node's own, and
// kMarkBelowChanged on every element above it.
void markChanged(xmlNodePtr n, std::uint32_t mark) {
    if (n == nullptr || !isAttached(n)) {
        return;
    }
    detail::setMark(n, mark);
    for (xmlNodePtr p = n->parent; p != nullptr && p->type != XML_DOCUMENT_NODE; p = p->parent) {
        if (detail::hasMark(p, detail::kMarkBelowChanged)) {
            break;
        }
        detail::setMark(p, detail::kMarkBelowChanged);
    }
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

void linkAttribute(xmlNodePtr element, xmlAttrPtr attr, xmlAttrPtr replaced) {
    attr->parent = element;
    if (replaced != nullptr) {
        attr->prev = replaced->prev;
        attr->next = replaced->next;
        if (replaced->prev != nullptr) {
            replaced->prev->next = attr;
        } else {
            element->properties = attr;
        }
        if (replaced->next != nullptr) {
            replaced->next->prev = attr;
        }
        replaced->parent = nullptr;
        replaced->prev = replaced->next = nullptr;
        return;
    }
    attr->next = nullptr;
    attr->prev = nullptr;
    if (element->properties == nullptr) {
        element->properties = attr;
        return;
    }
    xmlAttrPtr last = element->properties;
    while (last->next != nullptr) {
        last = last->next;
    }
    last->next = attr;
    attr->prev = last;
}

xmlAttrPtr newAttribute(xmlDocPtr doc, xmlNsPtr ns, const xmlChar* name, std::string_view value) {
    std::string v(value);
    // Without an element xmlNewNsProp neither interns nor registers IDs.
    xmlAttrPtr attr = xmlNewNsProp(nullptr, ns, name, xstr(v.c_str()));
    if (attr == nullptr) {
        throw std::bad_alloc();
    }
    attr->doc = doc;
    for (xmlNodePtr c = attr->children; c != nullptr; c = c->next) {
        c->doc = doc;
    }
    return attr;
}

// libxml2 leaves a node's text out, without a word, when it cannot copy it:
// that is an allocation failure here, not an empty text.
xmlNodePtr requireContent(xmlNodePtr node, std::size_t textSize) {
    if (node == nullptr || (textSize > 0 && node->content == nullptr)) {
        if (node != nullptr) {
            xmlFreeNode(node);
        }
        throw std::bad_alloc();
    }
    return node;
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

bool isNamespaceDeclarationName(const xmlChar* name) {
    return xmlStrEqual(name, xstr("xmlns")) || xmlStrncmp(name, xstr("xmlns:"), 6) == 0;
}

bool parseIndex(std::string_view s, std::size_t& out) {
    if (s.empty() || (s.size() > 1 && s[0] == '0')) {
        return false;
    }
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return ec == std::errc() && p == s.data() + s.size();
}

}  // namespace

bool IsXmlName(std::string_view name) {
    if (name.empty() || name.find('\0') != std::string_view::npos) {
        return false;
    }
    return xmlValidateName(xstr(std::string(name).c_str()), 0) == 0;
}

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

// ------------------------------------------------------------ XmlDocument

XmlDocument::XmlDocument() : m_state(std::make_unique<DocState>()) {}

XmlDocument::~XmlDocument() = default;

void XmlDocument::reset() {
    m_state->clear();
    m_parseError = ParseError();
    m_unreadDtds.clear();
}

XmlNode XmlDocument::wrap(void* node) {
    return XmlNode(node, nullptr, this);
}

void XmlDocument::adopt(void* node) {
    detail::setMark(asNode(node), detail::kMarkCreated);
    m_state->orphans.insert(asNode(node));
}

std::size_t XmlDocument::sourceSize() const {
    return m_state->sourceBytes;
}

bool XmlDocument::hollow() const {
    return m_state->hollow;
}

bool XmlDocument::consultsDtdOrSchema() const {
    return m_state->consultsDtdOrSchema;
}

XmlNode XmlDocument::documentNode() {
    return wrap(m_state->ensureDoc());
}

XmlNode XmlDocument::documentElement() {
    if (m_state->doc == nullptr) {
        return {};
    }
    return wrap(xmlDocGetRootElement(m_state->doc));
}

std::optional<std::vector<XmlNode>> XmlDocument::selectNodes(std::string_view path) {
    struct Step {
        std::string_view name;
        std::size_t index;
    };
    std::vector<Step> steps;
    std::string_view rest = path;
    while (!rest.empty()) {
        if (rest[0] != '/') {
            return std::nullopt;
        }
        std::size_t open = rest.find('[');
        std::size_t close = rest.find(']');
        if (open == std::string_view::npos || close == std::string_view::npos || close < open ||
            open == 1) {
            return std::nullopt;
        }
        std::string_view name = rest.substr(1, open - 1);
        if (name.find('/') != std::string_view::npos) {
            return std::nullopt;
        }
        std::size_t index = 0;
        if (!parseIndex(rest.substr(open + 1, close - open - 1), index)) {
            return std::nullopt;
        }
        steps.push_back({name, index});
        rest = rest.substr(close + 1);
    }
    if (steps.empty()) {
        return std::nullopt;
    }
    std::vector<XmlNode> result;
    if (m_state->doc == nullptr) {
        return result;
    }
    xmlNodePtr current = reinterpret_cast<xmlNodePtr>(m_state->doc);
    for (const Step& step : steps) {
        xmlNodePtr found = nullptr;
        std::size_t seen = 0;
        for (xmlNodePtr c = current->children; c != nullptr; c = c->next) {
            if (c->type == XML_ELEMENT_NODE &&
                detail::qualifiedNameEquals(c->ns, c->name, step.name) && seen++ == step.index) {
                found = c;
                break;
            }
        }
        if (found == nullptr) {
            return result;
        }
        current = found;
    }
    result.push_back(wrap(current));
    return result;
}

XmlNode XmlDocument::createElement(std::string_view name) {
    std::string n(name);
    if (!IsXmlName(n)) {
        fail(DomErrorCode::InvalidCharacter, "'" + n + "' is not a valid XML name.");
    }
    xmlNodePtr node = xmlNewDocNode(m_state->ensureDoc(), nullptr, xstr(n.c_str()), nullptr);
    adopt(node);
    return wrap(node);
}

XmlNode XmlDocument::createTextNode(std::string_view text) {
    // The length is given, so no terminated copy of a long text is needed.
    xmlNodePtr node = requireContent(
        xmlNewDocTextLen(m_state->ensureDoc(), xstr(text.data()), int(text.size())), text.size());
    adopt(node);
    return wrap(node);
}

XmlNode XmlDocument::createAttribute(std::string_view name) {
    std::string n(name);
    if (!IsXmlName(n)) {
        fail(DomErrorCode::InvalidCharacter, "'" + n + "' is not a valid XML name.");
    }
    xmlAttrPtr attr = newAttribute(m_state->ensureDoc(), nullptr, xstr(n.c_str()), "");
    adopt(attr);
    return wrap(attr);
}

XmlNode XmlDocument::createComment(std::string_view text) {
    xmlNodePtr node = requireContent(
        xmlNewDocComment(m_state->ensureDoc(), xstr(std::string(text).c_str())), text.size());
    adopt(node);
    return wrap(node);
}

XmlNode XmlDocument::createCDATASection(std::string_view text) {
    xmlNodePtr node = requireContent(
        xmlNewCDataBlock(m_state->ensureDoc(), xstr(text.data()), int(text.size())), text.size());
    adopt(node);
    return wrap(node);
}

XmlNode XmlDocument::createProcessingInstruction(std::string_view target, std::string_view data) {
    std::string t(target);
    if (xmlValidateName(xstr(t.c_str()), 0) != 0) {
        fail(DomErrorCode::InvalidCharacter,
             "'" + t + "' is not a valid processing instruction target.");
    }
    xmlNodePtr node =
        xmlNewDocPI(m_state->ensureDoc(), xstr(t.c_str()), xstr(std::string(data).c_str()));
    adopt(node);
    return wrap(node);
}

XmlNode XmlDocument::createDocumentFragment() {
    xmlNodePtr node = xmlNewDocFragment(m_state->ensureDoc());
    adopt(node);
    return wrap(node);
}

}  // namespace quorrel
