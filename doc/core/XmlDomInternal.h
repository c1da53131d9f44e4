// Shared between the DOM adapter's source files; not for callers.
#pragma once

#include <libxml/tree.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace quorrel {
class XmlDocument;
class XmlNode;
}  // namespace quorrel

namespace quorrel::detail {

inline const char* str(const xmlChar* s) {
    return reinterpret_cast<const char*>(s);
}
inline const xmlChar* xstr(const char* s) {
    return reinterpret_cast<const xmlChar*>(s);
}

// What the parser learnt about a node beyond libxml2's own fields, and what
// a command did to it, kept in the node's _private word (elements,
// attributes, namespace declarations, text, comments, CDATA, processing
// instructions): the marks in the low half, where the node starts in the
// parsed UTF-8 text (a byte offset) in the high half.
enum NodeMark : std::uint32_t {
    // An attribute or namespace declaration the DTD supplied: shown, never written.
    kMarkDefaulted = 1,
    // The node came from the parsed text (or is a copy of such a node); nodes
    // the commands create have no marks.
    kMarkParsed = 2,
    // The offset is where the node stands in the text: '<' of an element,
    // comment, CDATA section or processing instruction, an attribute's name,
    // a text's first character.
    kMarkPlaced = 4,
    // The node came from a reference to an entity whose replacement text holds
    // markup; the offset is the reference's '&'. All the nodes of one
    // reference share it.
    kMarkFromEntity = 8,
    // A text that a reference to such an entity ends: its end is in
    // DocState::textEnds rather than at the next '<'.
    kMarkTextCut = 16,
    // What a command did since the parse: the node's own text (an element's
    // start tag, a value) must be written anew; its child list changed;
    // something below it changed.
    kMarkChanged = 32,
    kMarkChildrenChanged = 64,
    kMarkBelowChanged = 128,
    // Linked elsewhere than the parse put it.
    kMarkMoved = 256,
    // A copy of a node that stands in the text: it reads as the original does.
    kMarkCopy = 512,
    // Made through the DOM (created or copied), not by the parser.
    kMarkCreated = 1024,
    // An element whose content has text the parser joined across a
    // reference to an entity with markup (the entity's first or last text
    // with the text beside the reference): its texts and that reference's
    // nodes do not stand apart in the text.
    kMarkEntangled = 2048,
};
constexpr std::uint32_t kParseMarks =
    kMarkDefaulted | kMarkParsed | kMarkPlaced | kMarkFromEntity | kMarkTextCut | kMarkEntangled;
constexpr std::uint32_t kChangeMarks = kMarkChanged | kMarkChildrenChanged | kMarkBelowChanged;
constexpr int kOffsetShift = 32;
static_assert(sizeof(void*) == 8, "the marks and the offset share one pointer-sized word");

template <class Node>
std::uintptr_t wordOf(const Node* n) {
    return reinterpret_cast<std::uintptr_t>(n->_private);
}
template <class Node>
std::uint32_t marksOf(const Node* n) {
    return std::uint32_t(wordOf(n));
}
template <class Node>
bool hasMark(const Node* n, std::uint32_t mark) {
    return (marksOf(n) & mark) != 0;
}
template <class Node>
void setMark(Node* n, std::uint32_t mark) {
    n->_private = reinterpret_cast<void*>(wordOf(n) | mark);
}
template <class Node>
void clearMark(Node* n, std::uint32_t mark) {
    n->_private = reinterpret_cast<void*>(wordOf(n) & ~std::uintptr_t(mark));
}
// where: kMarkPlaced, or kMarkFromEntity for the nodes of a reference.
template <class Node>
void setSourceOffset(Node* n, std::size_t offset, std::uint32_t where = kMarkPlaced) {
    std::uintptr_t marks = marksOf(n) & ~std::uint32_t(kMarkPlaced | kMarkFromEntity);
    n->_private = reinterpret_cast<void*>(marks | where | (std::uintptr_t(offset) << kOffsetShift));
}
// Where the node stands in the text; nullopt when the parse did not place it
// (a node of an entity's replacement text has no place of its own).
template <class Node>
std::optional<std::size_t> sourceOffset(const Node* n) {
    if (!hasMark(n, kMarkPlaced)) {
        return std::nullopt;
    }
    return std::size_t(wordOf(n) >> kOffsetShift);
}
// The offset of a placed node or of the reference a node came from.
template <class Node>
std::size_t spanBegin(const Node* n) {
    return std::size_t(wordOf(n) >> kOffsetShift);
}
template <class Node>
bool hasSpan(const Node* n) {
    return hasMark(n, kMarkPlaced | kMarkFromEntity);
}
// An element's end in the text (after its end tag's '>', or its "/>"),
// kept in the word libxml2 leaves to schema processors and never uses for elements.
inline void setElementEnd(xmlNode* element, std::size_t end) {
    element->psvi = reinterpret_cast<void*>(std::uintptr_t(end));
}
inline std::size_t elementEnd(const xmlNode* element) {
    return std::size_t(reinterpret_cast<std::uintptr_t>(element->psvi));
}
// A copy reads as its original: it takes the parse's marks, never the
// changes (a copy of a changed node is written anew).
template <class From, class To>
void copyMarks(const From* from, To* to) {
    std::uintptr_t word = wordOf(from);
    if ((std::uint32_t(word) & kChangeMarks) != 0) {
        word &= ~std::uintptr_t(kMarkPlaced | kMarkFromEntity);
    }
    word &= ~std::uintptr_t(kChangeMarks | kMarkMoved | kMarkCreated);
    if ((std::uint32_t(word) & (kMarkPlaced | kMarkFromEntity)) != 0) {
        word |= kMarkCopy;
    }
    to->_private = reinterpret_cast<void*>(word);
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
    // The parsed UTF-8 text, by its hash: the text the nodes' offsets point
    // into. Zero when the document was not parsed from UTF-8 text.
    std::uint64_t sourceHash = 0;
    // Where the texts marked kMarkTextCut end.
    std::unordered_map<const xmlNode*, std::uint32_t> textEnds;
    // Nodes that stood in the text and were taken out of the document since
    // the parse (they stay allocated until the document goes), in order.
    std::vector<xmlNodePtr> removed;

    ~DocState() { clear(); }
    void clear();
    xmlDocPtr ensureDoc();
    // A handle on a node of the document (nsOwner: the element declaring
    // the namespace node is one of), for the XPath code that finds nodes.
    static XmlNode handle(XmlDocument& document, void* node, void* nsOwner = nullptr);
};

// For the checks of the serialiser: marks every element (and, with texts,
// every text) as a command that rewrote it would, without changing a thing.
void markEverythingChanged(XmlDocument& document, bool texts);

// Tells the text a document was parsed from from any other (not a
// cryptographic hash: the texts compared are the user's own).
std::uint64_t hashText(std::string_view text);

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
