// How the DOM adapter's nodes are linked and marked: shared by its node,
// attribute and document code (XmlDom*.cpp); not for callers.
#pragma once

#include <libxml/tree.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "doc/core/XmlDom.h"

namespace quorrel::detail {

inline xmlNodePtr asNode(void* p) {
    return static_cast<xmlNodePtr>(p);
}
inline xmlAttrPtr asAttr(void* p) {
    return static_cast<xmlAttrPtr>(p);
}
inline xmlNsPtr asNs(void* p) {
    return static_cast<xmlNsPtr>(p);
}

[[noreturn]] inline void fail(DomErrorCode code, const std::string& what) {
    throw DomError(code, what);
}

// Whether the node is in the document's tree, not in a fragment or a subtree
// being built: only changes there reach the text.
bool isAttached(const xmlNode* n);
// The serialiser finds what changed by these marks: the node's own, and
// kMarkBelowChanged on every element above it.
void markChanged(xmlNodePtr n, std::uint32_t mark);
// Links attr into the element's attributes, in replaced's place or last.
void linkAttribute(xmlNodePtr element, xmlAttrPtr attr, xmlAttrPtr replaced);
xmlAttrPtr newAttribute(xmlDocPtr doc, xmlNsPtr ns, const xmlChar* name, std::string_view value);
// libxml2 leaves a node's text out, without a word, when it cannot copy it:
// that is an allocation failure here, not an empty text.
xmlNodePtr requireContent(xmlNodePtr node, std::size_t textSize);

}  // namespace quorrel::detail
