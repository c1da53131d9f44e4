// Shared between the DOM adapter's source files; not for callers.
#pragma once

#include <libxml/tree.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace quorrel::detail {

inline const char* str(const xmlChar* s) {
    return reinterpret_cast<const char*>(s);
}
inline const xmlChar* xstr(const char* s) {
    return reinterpret_cast<const xmlChar*>(s);
}

// What the parser learnt about a node beyond libxml2's own fields, kept in
// the node's _private word (elements, attributes, namespace declarations,
// text, comments, CDATA). Copies of a node carry its marks.
enum NodeMark : std::uintptr_t {
    // An attribute or namespace declaration the DTD supplied: shown, never written.
    kMarkDefaulted = 1,
    // The node came from the parsed text (or is a copy of such a node); nodes
    // the commands create have no marks.
    kMarkParsed = 2,
    // The bits above kMarkPlaced hold where the node starts in the parsed
    // UTF-8 text (a byte offset): '<' of an element, comment or CDATA section,
    // an attribute's name, a text's first character.
    kMarkPlaced = 4,
};
constexpr int kOffsetShift = 3;

template <class Node>
std::uintptr_t marksOf(const Node* n) {
    return reinterpret_cast<std::uintptr_t>(n->_private);
}
template <class Node>
bool hasMark(const Node* n, NodeMark mark) {
    return (marksOf(n) & mark) != 0;
}
template <class Node>
void setMark(Node* n, NodeMark mark) {
    n->_private = reinterpret_cast<void*>(marksOf(n) | mark);
}
template <class Node>
void clearMark(Node* n, NodeMark mark) {
    n->_private = reinterpret_cast<void*>(marksOf(n) & ~std::uintptr_t(mark));
}
template <class Node>
void setSourceOffset(Node* n, std::size_t offset) {
    n->_private = reinterpret_cast<void*>((marksOf(n) & (kMarkPlaced - 1)) | kMarkPlaced |
                                          (std::uintptr_t(offset) << kOffsetShift));
}
// Where the parse found the node in its text; nullopt when it did not place it.
template <class Node>
std::optional<std::size_t> sourceOffset(const Node* n) {
    if (!hasMark(n, kMarkPlaced)) {
        return std::nullopt;
    }
    return std::size_t(marksOf(n) >> kOffsetShift);
}
template <class From, class To>
void copyMarks(const From* from, To* to) {
    to->_private = from->_private;
}

struct DocState {
    xmlDocPtr doc = nullptr;
    // Nodes created for the document or removed from it; those still without
    // a parent are freed with the document.
    std::unordered_set<xmlNodePtr> orphans;
    std::vector<xmlNsPtr> orphanNamespaces;
    unsigned long attrGeneration = 0;  // bumped on every attribute-list change

    // The XML declaration of the parsed text, written back by the serialiser.
    bool hasDeclaration = false;
    std::string declVersion = "1.0";
    std::string declEncoding;
    bool standaloneYes = false;
    // The declaration exactly as the parsed UTF-8 text held it, when it did.
    std::string declarationText;
    // The size of the parsed text: the serialisation is about as long.
    std::size_t sourceBytes = 0;
    bool consultsDtdOrSchema = false;
    bool hollow = false;
    // The document type declaration exactly as the parsed text held it
    // (internal subset included); written back in place of the DTD node.
    std::string doctypeText;

    ~DocState() { clear(); }
    void clear();
    xmlDocPtr ensureDoc();
};

// Where the document type declaration stands in the text ("<!DOCTYPE" up to
// and including its closing '>'); nullopt when the prolog holds none.
struct TextSpan {
    std::size_t begin = 0, end = 0;
};
std::optional<TextSpan> findDoctype(std::string_view text);

// "prefix:name" as the DOM shows it.
std::string qualifiedName(const xmlNs* ns, const xmlChar* name);
// Compares prefix:name with a qualified name without building a string.
bool qualifiedNameEquals(const xmlNs* ns, const xmlChar* name, std::string_view qname);
// -1: no xml:space on the element, 0: default, 1: preserve.
int xmlSpaceOf(const xmlNode* element);
// The attribute's value as one string.
std::string attributeValue(const xmlAttr* attr);
bool isBlank(const xmlChar* text);

// Visits the subtree below root (root included) in document order without
// recursion. enter(n) returns whether to descend into n's children;
// leave(n) runs after n's children (for every entered node).
template <class Enter, class Leave>
void walkTree(xmlNodePtr root, Enter&& enter, Leave&& leave) {
    if (root == nullptr) {
        return;
    }
    xmlNodePtr n = root;
    for (;;) {
        if (enter(n) && n->children != nullptr) {
            n = n->children;
            continue;
        }
        leave(n);
        while (n != root && n->next == nullptr) {
            n = n->parent;
            leave(n);
        }
        if (n == root) {
            return;
        }
        n = n->next;
    }
}

}  // namespace quorrel::detail
