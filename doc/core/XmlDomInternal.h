// Shared between the DOM adapter's source files; not for callers.
#pragma once

#include <libxml/tree.h>

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
    // The size of the parsed text: the serialisation is about as long.
    std::size_t sourceBytes = 0;

    ~DocState() { clear(); }
    void clear();
    xmlDocPtr ensureDoc();
};

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
