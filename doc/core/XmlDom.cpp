// The DOM adapter's shared part: the document's bookkeeping, names and values
// read from libxml2, and how nodes are linked and marked. The nodes, the
// attributes and the document are in XmlNode.cpp, XmlAttributes.cpp and
// XmlDocument.cpp.
#include "doc/core/XmlDom.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/valid.h>

#include <charconv>
#include <cstring>
#include <new>

#include "doc/core/XmlDomInternal.h"
#include "doc/core/XmlDomLinks.h"

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

}  // namespace detail

bool IsXmlName(std::string_view name) {
    if (name.empty() || name.find('\0') != std::string_view::npos) {
        return false;
    }
    return xmlValidateName(xstr(std::string(name).c_str()), 0) == 0;
}

}  // namespace quorrel
