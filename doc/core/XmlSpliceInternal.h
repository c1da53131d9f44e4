// The splice writer, shared by its files: XmlSplice.cpp (the entry, and an
// element at its place in the text), SpliceText.cpp (reading what the text
// holds), SpliceCopy.cpp (content copied from the text) and SpliceInsert.cpp
// (nodes not where the text had them); not for callers.
#pragma once

#include <libxml/tree.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "doc/core/XmlDomInternal.h"
#include "doc/core/XmlWrite.h"

namespace quorrel::detail::splice {

inline constexpr std::size_t npos = std::string_view::npos;

bool isBlankChar(char c);
bool isIndentChar(char c);
bool allBlank(std::string_view s);
std::string_view trimTrailingIndent(std::string_view s);

struct Span {
    std::size_t begin = 0, end = 0;
};

// A start tag as written: its name, each attribute with the blanks before
// it, and the blanks and "/>" or ">" that close it.
struct StartTag {
    std::size_t nameEnd = 0;
    struct Attribute {
        std::size_t lead;   // the blanks before its name
        std::size_t name;   // where its name starts: the offset its node keeps
        std::size_t quote;  // the opening quote
        std::size_t end;    // after the closing quote
    };
    std::vector<Attribute> attributes;
    std::size_t tail = 0;  // the blanks before the close
    std::size_t end = 0;   // after the close
    bool selfClosed = false;
};

std::optional<StartTag> readStartTag(std::string_view s, std::size_t begin);

// An attribute value for a start tag, in the quote it stands in.
void appendAttributeValue(std::string& out, std::string_view value, char quote);

bool isAttachedNode(const xmlNode* n);

bool changed(const xmlNode* n);

// Children that leave no trace in the text: none, or empty texts.
bool writesNothing(const xmlNode* child);

bool preserveSpaceAt(const xmlNode* element);

inline const xmlNs kNoNamespace{nullptr, XML_NAMESPACE_DECL, BAD_CAST "", nullptr, nullptr,
                                nullptr};

// The declarations a node moved out of its element needs where it stands
// now, so that every name in it keeps its namespace: written on the node, a
// declaration reaches all that stands in it, so the names that rely on the
// scope outside must all want the same of each prefix. Nullopt when they do
// not (the node is then written anew, declaring where each name needs it).
std::optional<std::vector<const xmlNs*>> missingDeclarations(xmlNodePtr moved,
                                                             const NamespaceScope& outer);

// A node taken out of (or moved away from) its place in the text.
struct Removal {
    std::size_t begin, end;
    const xmlNode* node;
    bool detached;  // taken out of the document, not moved elsewhere in it
};

// How a new element goes among its siblings.
struct Layout {
    bool known = false;
    bool inlineOnly = true;  // mixed content, preserved space, or siblings on one line
    std::string newline = "\n";
    std::string indent;
};

class SpliceWriter {
public:
    SpliceWriter(std::string_view text, const DocState& state, std::string& out);

    // Where the node stands in the text, when it has a place that reads right.
    std::optional<Span> SpanOf(const xmlNode* n) const;

    // The element at its place in the text; extra: declarations it needs
    // that its start tag does not hold.
    void Element(xmlNodePtr e, const Span& span, const std::vector<const xmlNs*>& extra = {});

private:
    std::optional<Span> Delimited(std::size_t b, std::string_view open,
                                  std::string_view close) const;

    // Output of three kinds: markup (tags, comments, what the text held
    // between nodes that is not only blanks), text, and blanks between
    // nodes. Blanks next to a text become part of it when the text is read
    // again: in element content, where they were layout, blanks that come to
    // stand next to a text are left out; in mixed content they are the
    // text's own and stay.
    void Markup(std::string_view s);
    void Text(std::string_view s);
    void TextAnew(const xmlChar* content);

    // What was written up to a part of the text left out that ends at end: a
    // line the part leaves blank goes with it. Returns where the text goes on.
    std::size_t LeaveOut(std::size_t end, std::size_t limit);

    // The text between nodes in [from, to), without what left it.
    void Gap(std::size_t from, std::size_t to);

    // The outermost element taken out of the document around span, within [from, to).
    const struct Removal* RemovedAround(const Span& span, std::size_t from, std::size_t to) const;

    // Whether a change reaches the content's texts or a reference's nodes,
    // which the parser joined.
    bool EntanglementTouched(const xmlNode* e) const;

    // Every child has a place in the text or was made by a command: the
    // text between them can be trusted.
    bool ChildrenExplained(const xmlNode* e) const;

    void Content(xmlNodePtr e, std::size_t from, std::size_t to, Layout& layout);

    // The text of [from, to) with the children from child on that stand in
    // it; ghost: the element taken out whose content it is (its children
    // were moved into e). Returns the first child that does not belong.
    xmlNodePtr Region(xmlNodePtr e, std::size_t from, std::size_t to, const xmlNode* ghost,
                      xmlNodePtr child, Layout& layout);

    // Whether copy is a copy of original that reads as the original does.
    bool IsCopyOf(const xmlNode* copy, const xmlNode* original, const Span& span) const;

    // Whether the content held text where the parse read it: mixed content.
    bool HoldsText(const xmlNode* child, std::size_t from, std::size_t to, bool ghost) const;

    // An element whose children now stand in its place: its content as it
    // was written, without its tags.
    xmlNodePtr Ghost(xmlNodePtr e, const struct Removal& removed, std::size_t& cursor,
                     std::size_t to, xmlNodePtr child, Layout& layout);

    // The nodes of one reference to an entity with markup: the reference
    // when they are all there and unchanged, else each written out.
    xmlNodePtr EntityGroup(xmlNodePtr first, std::size_t& cursor, bool inGhost);

    void Anchor(xmlNodePtr e, xmlNodePtr child, const Span& span, const xmlNode* ghost,
                Layout& layout);

    // The namespaces in force inside the element: its and its ancestors'
    // declarations, with those written on moved elements.
    NamespaceScope ScopeAt(const xmlNode* element) const;

    // A node that is not where the text had it: a copy, a node moved here, or a new one.
    void Inserted(xmlNodePtr e, xmlNodePtr child, std::size_t from, std::size_t to, Layout& layout);

    // A node written as the text holds it.
    void Copy(const xmlNode* n, const Span& span);

    // A node written anew, with no white space added inside it.
    void Fresh(xmlNodePtr n);

    void StartTagAnew(const xmlNode* e, const StartTag& tag, const std::string& name,
                      const std::vector<const xmlNs*>& extra);

    // The blanks before the node when it stands first on its line.
    std::optional<std::string> IndentOf(std::size_t begin) const;

    Layout LayoutOf(const xmlNode* e, std::size_t from, std::size_t to) const;

    std::string_view m_text;
    const DocState& m_state;
    std::string& m_out;
    std::vector<Removal> m_cuts;
    // Declarations written on elements that had to have them where they moved.
    std::unordered_map<const xmlNode*, std::vector<const xmlNs*>> m_declared;
    bool m_lastWasText = false;
    std::size_t m_blanksAt = npos;  // where blanks between nodes start at the output's end
    bool m_blanksDroppable = false;
    bool m_mixed = false;     // the content being written held text
    bool m_inCopy = false;    // it is a copy's
    bool m_preserve = false;  // xml:space="preserve" is in force there
    std::size_t m_nodeEnd =
        0;  // where what the output ends with that is not blanks between nodes ends
};

bool changedAnywhere(const xmlNode* root, const DocState& state);

}  // namespace quorrel::detail::splice
