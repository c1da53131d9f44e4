// Writing a document that was parsed from text: every node a command did not
// change is copied from that text byte for byte, together with the text
// between the nodes (indentation, blank lines, references to entities with
// markup); only what changed is written anew, in the layout of its neighbours.
#include <libxml/tree.h>

#include <algorithm>
#include <optional>
#include <unordered_map>

#include "doc/core/XmlDom.h"
#include "doc/core/XmlDomInternal.h"
#include "doc/core/XmlWrite.h"

namespace quorrel {

namespace detail {

namespace {

constexpr std::size_t npos = std::string_view::npos;

bool isBlankChar(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
bool isIndentChar(char c) {
    return c == ' ' || c == '\t';
}
bool allBlank(std::string_view s) {
    return std::all_of(s.begin(), s.end(), isBlankChar);
}
std::string_view trimTrailingIndent(std::string_view s) {
    while (!s.empty() && isIndentChar(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

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

std::optional<StartTag> readStartTag(std::string_view s, std::size_t begin) {
    if (begin >= s.size() || s[begin] != '<') {
        return std::nullopt;
    }
    auto nameChar = [&](std::size_t i) {
        char c = s[i];
        return !isBlankChar(c) && c != '=' && c != '/' && c != '>';
    };
    StartTag tag;
    std::size_t p = begin + 1;
    while (p < s.size() && nameChar(p)) {
        ++p;
    }
    tag.nameEnd = p;
    for (;;) {
        const std::size_t lead = p;
        while (p < s.size() && isBlankChar(s[p])) {
            ++p;
        }
        if (p >= s.size()) {
            return std::nullopt;
        }
        if (s[p] == '>' || (s[p] == '/' && p + 1 < s.size() && s[p + 1] == '>')) {
            tag.tail = lead;
            tag.selfClosed = s[p] == '/';
            tag.end = p + (tag.selfClosed ? 2 : 1);
            return tag;
        }
        const std::size_t name = p;
        while (p < s.size() && nameChar(p)) {
            ++p;
        }
        while (p < s.size() && s[p] != '"' && s[p] != '\'') {
            if (s[p] == '<' || s[p] == '>' || (s[p] != '=' && !isBlankChar(s[p]))) {
                return std::nullopt;
            }
            ++p;
        }
        if (p >= s.size() || p == name) {
            return std::nullopt;
        }
        const std::size_t quote = p;
        const std::size_t close = s.find(s[quote], quote + 1);
        if (close == npos) {
            return std::nullopt;
        }
        p = close + 1;
        tag.attributes.push_back({lead, name, quote, p});
    }
}

// An attribute value for a start tag, in the quote it stands in.
void appendAttributeValue(std::string& out, std::string_view value, char quote) {
    for (char c : value) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '\t':
                out += "&#9;";
                break;
            case '\n':
                out += "&#10;";
                break;
            case '\r':
                out += "&#13;";
                break;
            default:
                if (c == quote) {
                    out += quote == '"' ? "&quot;" : "&apos;";
                } else {
                    out += c;
                }
        }
    }
}

bool isAttachedNode(const xmlNode* n) {
    for (; n != nullptr; n = n->parent) {
        if (n->type == XML_DOCUMENT_NODE) {
            return true;
        }
    }
    return false;
}

bool changed(const xmlNode* n) {
    return hasMark(n, kChangeMarks);
}

// Children that leave no trace in the text: none, or empty texts.
bool writesNothing(const xmlNode* child) {
    for (; child != nullptr; child = child->next) {
        if (child->type != XML_TEXT_NODE || (child->content != nullptr && child->content[0] != 0)) {
            return false;
        }
    }
    return true;
}

bool preserveSpaceAt(const xmlNode* element) {
    for (const xmlNode* p = element; p != nullptr && p->type == XML_ELEMENT_NODE; p = p->parent) {
        int space = xmlSpaceOf(p);
        if (space != -1) {
            return space == 1;
        }
    }
    return false;
}

const xmlNs kNoNamespace{nullptr, XML_NAMESPACE_DECL, BAD_CAST "", nullptr, nullptr, nullptr};

// The declarations a node moved out of its element needs where it stands
// now, so that every name in it keeps its namespace: written on the node, a
// declaration reaches all that stands in it, so the names that rely on the
// scope outside must all want the same of each prefix. Nullopt when they do
// not (the node is then written anew, declaring where each name needs it).
std::optional<std::vector<const xmlNs*>> missingDeclarations(xmlNodePtr moved,
                                                             const NamespaceScope& outer) {
    struct Want {
        std::string prefix;
        const xmlNs* ns;  // what the names want it to stand for (kNoNamespace: none)
    };
    std::vector<Want> wants;
    bool conflict = false;
    auto want = [&](const xmlChar* prefix, const xmlNs* ns) {
        std::string_view p = prefix ? str(prefix) : "";
        std::string_view href = ns->href ? str(ns->href) : "";
        for (const Want& w : wants) {
            if (w.prefix == p) {
                conflict = conflict || (w.ns->href ? str(w.ns->href) : "") != href;
                return;
            }
        }
        wants.push_back({std::string(p), ns});
    };
    NamespaceScope local;
    std::vector<std::size_t> marks;
    walkTree(
        moved,
        [&](xmlNodePtr n) {
            if (n->type != XML_ELEMENT_NODE) {
                return false;
            }
            marks.push_back(local.Mark());
            for (const xmlNs* ns = n->nsDef; ns != nullptr; ns = ns->next) {
                local.Bind(ns);
            }
            if (n->ns != nullptr) {
                if (local.Lookup(n->ns->prefix) == nullptr &&
                    !(n->ns->prefix != nullptr && xmlStrEqual(n->ns->prefix, BAD_CAST "xml"))) {
                    want(n->ns->prefix, n->ns);
                }
            } else if (hasMark(n, kMarkParsed) && local.Lookup(nullptr) == nullptr) {
                want(nullptr, &kNoNamespace);  // a made one takes the default where it stands
            }
            for (const xmlAttr* a = n->properties; a != nullptr; a = a->next) {
                if (a->ns != nullptr && a->ns->prefix != nullptr &&
                    !xmlStrEqual(a->ns->prefix, BAD_CAST "xml") &&
                    local.Lookup(a->ns->prefix) == nullptr) {
                    want(a->ns->prefix, a->ns);
                }
            }
            return true;
        },
        [&](xmlNodePtr n) {
            if (n->type == XML_ELEMENT_NODE) {
                local.Release(marks.back());
                marks.pop_back();
            }
        });
    if (conflict) {
        return std::nullopt;
    }
    std::vector<const xmlNs*> needed;
    for (const Want& w : wants) {
        const xmlChar* bound = outer.Lookup(w.prefix.empty() ? nullptr : BAD_CAST w.prefix.c_str());
        std::string_view now = bound ? str(bound) : "";
        std::string_view wanted = w.ns->href ? str(w.ns->href) : "";
        if (now != wanted) {
            needed.push_back(w.ns);
        }
    }
    return needed;
}

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
    SpliceWriter(std::string_view text, const DocState& state, std::string& out)
        : m_text(text), m_state(state), m_out(out) {
        for (const xmlNode* n : state.removed) {
            if (std::optional<Span> span = SpanOf(n)) {
                m_cuts.push_back({span->begin, span->end, n, !isAttachedNode(n)});
            }
        }
        std::sort(m_cuts.begin(), m_cuts.end(), [](const Removal& a, const Removal& b) {
            if (a.begin != b.begin) {
                return a.begin < b.begin;
            }
            if (a.end != b.end) {
                return a.end > b.end;
            }
            return a.node < b.node;
        });
        m_cuts.erase(
            std::unique(m_cuts.begin(), m_cuts.end(),
                        [](const Removal& a, const Removal& b) { return a.node == b.node; }),
            m_cuts.end());
    }

    // Where the node stands in the text, when it has a place that reads right.
    std::optional<Span> SpanOf(const xmlNode* n) const {
        if (!hasSpan(n)) {
            return std::nullopt;
        }
        const std::size_t b = spanBegin(n);
        if (b >= m_text.size()) {
            return std::nullopt;
        }
        if (hasMark(n, kMarkFromEntity)) {
            std::size_t semicolon = m_text.find(';', b);
            if (m_text[b] != '&' || semicolon == npos) {
                return std::nullopt;
            }
            return Span{b, semicolon + 1};
        }
        switch (n->type) {
            case XML_ELEMENT_NODE: {
                std::size_t e = elementEnd(n);
                if (m_text[b] != '<' || e <= b + 2 || e > m_text.size() || m_text[e - 1] != '>') {
                    return std::nullopt;
                }
                return Span{b, e};
            }
            case XML_TEXT_NODE: {
                std::size_t e = m_text.find('<', b);
                if (hasMark(n, kMarkTextCut)) {
                    auto cut = m_state.textEnds.find(n);
                    if (cut == m_state.textEnds.end()) {
                        return std::nullopt;
                    }
                    e = cut->second;
                }
                e = std::min(e, m_text.size());
                if (e <= b) {
                    return std::nullopt;
                }
                return Span{b, e};
            }
            case XML_COMMENT_NODE:
                return Delimited(b, "<!--", "-->");
            case XML_PI_NODE:
                return Delimited(b, "<?", "?>");
            case XML_CDATA_SECTION_NODE:
                return Delimited(b, "<![CDATA[", "]]>");
            default:
                return std::nullopt;
        }
    }

    // The element at its place in the text; extra: declarations it needs
    // that its start tag does not hold.
    void Element(xmlNodePtr e, const Span& span, const std::vector<const xmlNs*>& extra = {}) {
        if (!changed(e) && extra.empty()) {
            Markup(m_text.substr(span.begin, span.end - span.begin));
            return;
        }
        std::optional<StartTag> tag = readStartTag(m_text, span.begin);
        if (!tag || tag->end > span.end) {
            Fresh(e);
            return;
        }
        const std::string_view written =
            m_text.substr(span.begin + 1, tag->nameEnd - span.begin - 1);
        const std::string name = qualifiedName(e->ns, e->name);
        if (hasMark(e, kMarkChanged) || !extra.empty()) {
            StartTagAnew(e, *tag, name, extra);
            if (!extra.empty()) {
                m_declared[e] = extra;  // in force for what is written inside
            }
        } else {
            Markup(m_text.substr(span.begin, tag->tail - span.begin));
        }
        const std::string_view tail = m_text.substr(tag->tail, tag->end - tag->tail);
        if (tag->selfClosed) {
            if (writesNothing(e->children)) {
                Markup(tail);
                return;
            }
            // Children where there were none: the tag opens, and closes after them.
            Markup(trimTrailingIndent(tail.substr(0, tail.size() - 2)));
            Markup(">");
            Layout layout;
            Content(e, tag->end, tag->end, layout);
            Markup("</" + name + ">");
            return;
        }
        const std::size_t open = m_out.size();
        Markup(tail);
        const std::size_t contentEnd = m_text.rfind('<', span.end - 1);
        if (contentEnd == npos || contentEnd < tag->end) {
            m_out.resize(open);
            Fresh(e);
            return;
        }
        if (hasMark(e, kMarkChildrenChanged | kMarkBelowChanged)) {
            Layout layout;
            Content(e, tag->end, contentEnd, layout);
        } else {
            Markup(m_text.substr(tag->end, contentEnd - tag->end));
        }
        if (writesNothing(e->children) && m_out.size() == open + tail.size() &&
            contentEnd > tag->end) {
            // Nothing is left inside: the empty-element form.
            m_out.resize(open);
            Markup(trimTrailingIndent(tail.substr(0, tail.size() - 1)));
            Markup("/>");
            return;
        }
        if (written == name) {
            Markup(m_text.substr(contentEnd, span.end - contentEnd));
        } else {
            Markup("</" + name);
            Markup(m_text.substr(contentEnd + 2 + written.size(),
                                 span.end - contentEnd - 2 - written.size()));
        }
    }

private:
    std::optional<Span> Delimited(std::size_t b, std::string_view open,
                                  std::string_view close) const {
        if (m_text.compare(b, open.size(), open) != 0) {
            return std::nullopt;
        }
        std::size_t e = m_text.find(close, b + open.size());
        if (e == npos) {
            return std::nullopt;
        }
        return Span{b, e + close.size()};
    }

    // Output of three kinds: markup (tags, comments, what the text held
    // between nodes that is not only blanks), text, and blanks between
    // nodes. Blanks next to a text become part of it when the text is read
    // again: in element content, where they were layout, blanks that come to
    // stand next to a text are left out; in mixed content they are the
    // text's own and stay.
    void Markup(std::string_view s) {
        if (s.empty()) {
            return;
        }
        m_out.append(s);
        m_nodeEnd = m_out.size();
        m_lastWasText = false;
        m_blanksAt = npos;
    }
    void Text(std::string_view s) {
        if (s.empty()) {
            return;
        }
        if (m_blanksAt != npos && m_blanksDroppable) {
            m_out.resize(std::min(m_blanksAt, m_out.size()));
        }
        m_out.append(s);
        m_nodeEnd = m_out.size();
        m_lastWasText = true;
        m_blanksAt = npos;
    }
    void TextAnew(const xmlChar* content) {
        std::string escaped;
        Writer(escaped).text(content);
        Text(escaped);
    }

    // What was written up to a part of the text left out that ends at end: a
    // line the part leaves blank goes with it. Returns where the text goes on.
    std::size_t LeaveOut(std::size_t end, std::size_t limit) {
        if (m_preserve) {
            return end;  // blanks are text there
        }
        // The blanks that go must be between nodes, not the end of a text
        // written before.
        const std::size_t nl = m_out.rfind('\n');
        if (nl == npos || nl + 1 < m_nodeEnd ||
            !std::all_of(m_out.begin() + std::ptrdiff_t(nl) + 1, m_out.end(), isIndentChar)) {
            return end;
        }
        const std::size_t eol = m_text.find('\n', end);
        if (eol == npos || !allBlank(m_text.substr(end, eol - end))) {
            return end;
        }
        const std::size_t next = m_text.find_first_not_of(" \t\r\n", end);
        if (next == npos || m_text[next] == '<') {
            if (eol >= limit) {
                return end;
            }
            m_out.resize(nl + 1);
            return eol + 1;
        }
        // A text follows that starts with the line's end: it ends the line,
        // in place of the one written before the part left out.
        if (nl >= m_nodeEnd) {
            m_out.resize(nl > m_nodeEnd && m_out[nl - 1] == '\r' ? nl - 1 : nl);
        }
        return end;
    }

    // The text between nodes in [from, to), without what left it.
    void Gap(std::size_t from, std::size_t to) {
        if (from >= to) {
            return;
        }
        std::size_t start = m_out.size();
        std::size_t at = from;
        auto it =
            std::lower_bound(m_cuts.begin(), m_cuts.end(), from,
                             [](const struct Removal& c, std::size_t v) { return c.begin < v; });
        if (m_inCopy) {
            it = m_cuts.end();  // nothing was taken out of a copy: its original's may be
        }
        for (; it != m_cuts.end() && it->begin < to; ++it) {
            if (it->begin < at) {
                continue;  // inside one left out already
            }
            if (it->end > to) {
                break;
            }
            m_out.append(m_text.substr(at, it->begin - at));
            at = LeaveOut(it->end, to);
        }
        m_out.append(m_text.substr(at, to - at));
        start = std::min(start, m_out.size());
        if (m_out.size() == start) {
            return;
        }
        if (!allBlank(std::string_view(m_out).substr(start))) {
            m_nodeEnd = m_out.find_last_not_of(" \t\r\n") + 1;
            m_lastWasText = false;
            m_blanksAt = npos;
        } else {
            // Blanks that end a line are layout; blanks within a line may
            // part two words.
            const bool layout =
                !m_mixed && std::string_view(m_out).substr(start).find('\n') != npos;
            if (m_lastWasText) {
                if (layout) {
                    m_out.resize(start);
                }
            } else if (m_blanksAt == npos) {
                m_blanksAt = start;
                m_blanksDroppable = layout;
            }
        }
    }

    // The outermost element taken out of the document around span, within [from, to).
    const struct Removal* RemovedAround(const Span& span, std::size_t from, std::size_t to) const {
        auto it =
            std::lower_bound(m_cuts.begin(), m_cuts.end(), from,
                             [](const struct Removal& c, std::size_t v) { return c.begin < v; });
        for (; it != m_cuts.end() && it->begin <= span.begin; ++it) {
            if (it->detached && it->node->type == XML_ELEMENT_NODE && it->end >= span.end &&
                it->end <= to && (it->begin < span.begin || it->end > span.end)) {
                return &*it;
            }
        }
        return nullptr;
    }

    // Whether a change reaches the content's texts or a reference's nodes,
    // which the parser joined.
    bool EntanglementTouched(const xmlNode* e) const {
        if (hasMark(e, kMarkChildrenChanged)) {
            return true;
        }
        for (const xmlNode* c = e->children; c != nullptr; c = c->next) {
            if (changed(c) && (c->type != XML_ELEMENT_NODE || hasMark(c, kMarkFromEntity))) {
                return true;
            }
        }
        return false;
    }

    // Every child has a place in the text or was made by a command: the
    // text between them can be trusted.
    bool ChildrenExplained(const xmlNode* e) const {
        for (const xmlNode* c = e->children; c != nullptr; c = c->next) {
            if (!hasMark(c, kMarkCreated | kMarkMoved) && !SpanOf(c)) {
                return false;
            }
        }
        return true;
    }

    void Content(xmlNodePtr e, std::size_t from, std::size_t to, Layout& layout) {
        if (!ChildrenExplained(e) || (hasMark(e, kMarkEntangled) && EntanglementTouched(e))) {
            // Nodes that do not stand apart in the text: write each child
            // on its own, an element that does as the text has it.
            for (xmlNodePtr c = e->children; c != nullptr; c = c->next) {
                std::optional<Span> span = SpanOf(c);
                if (span && c->type == XML_ELEMENT_NODE && !hasMark(c, kMarkFromEntity)) {
                    Element(c, *span);
                } else {
                    Fresh(c);
                }
            }
            return;
        }
        Region(e, from, to, nullptr, e->children, layout);
    }

    // The text of [from, to) with the children from child on that stand in
    // it; ghost: the element taken out whose content it is (its children
    // were moved into e). Returns the first child that does not belong.
    xmlNodePtr Region(xmlNodePtr e, std::size_t from, std::size_t to, const xmlNode* ghost,
                      xmlNodePtr child, Layout& layout) {
        const bool outerMixed = m_mixed, outerCopy = m_inCopy, outerPreserve = m_preserve;
        m_preserve = preserveSpaceAt(e);
        // A copy's children are copies of the original's: they stand where those did.
        m_inCopy = hasMark(e, kMarkCopy);
        m_mixed = HoldsText(ghost != nullptr ? child : e->children, from, to, ghost != nullptr);
        std::size_t cursor = from;
        while (child != nullptr) {
            std::optional<Span> span = SpanOf(child);
            const bool moved = hasMark(child, kMarkMoved);
            if (span && hasMark(child, kMarkCopy) == m_inCopy && span->begin >= cursor &&
                span->end <= to) {
                // Only a node moved out of an element taken out stands inside it.
                const struct Removal* removed = moved ? RemovedAround(*span, cursor, to) : nullptr;
                if (removed != nullptr) {
                    child = Ghost(e, *removed, cursor, to, child, layout);
                    continue;
                }
                if (ghost != nullptr ? moved : !moved) {
                    if (hasMark(child, kMarkFromEntity)) {
                        child = EntityGroup(child, cursor, ghost != nullptr);
                        continue;
                    }
                    Gap(cursor, span->begin);
                    Anchor(e, child, *span, ghost, layout);
                    cursor = span->end;
                    child = child->next;
                    continue;
                }
            }
            if (ghost != nullptr) {
                break;  // not of the content taken out
            }
            if (span && IsCopyOf(child, child->next, *span) && span->begin >= cursor &&
                span->end <= to) {
                // A copy just before its original: written as it, after the
                // same blanks as the original.
                const std::size_t gapFrom = cursor;  // blanks of a text before are its own
                Gap(cursor, span->begin);
                cursor = span->begin;
                Element(child, *span);
                std::size_t blanks = span->begin;
                while (blanks > gapFrom && isBlankChar(m_text[blanks - 1])) {
                    --blanks;
                }
                Gap(blanks, span->begin);
                child = child->next;
                continue;
            }
            Inserted(e, child, from, to, layout);
            child = child->next;
        }
        Gap(cursor, to);
        m_mixed = outerMixed;
        m_inCopy = outerCopy;
        m_preserve = outerPreserve;
        return child;
    }

    // Whether copy is a copy of original that reads as the original does.
    bool IsCopyOf(const xmlNode* copy, const xmlNode* original, const Span& span) const {
        if (copy->type != XML_ELEMENT_NODE || original == nullptr || !hasMark(copy, kMarkCopy) ||
            changed(copy) || hasMark(original, kMarkCopy | kMarkMoved | kMarkFromEntity) ||
            original->type != XML_ELEMENT_NODE) {
            return false;
        }
        std::optional<Span> own = SpanOf(original);
        return own && own->begin == span.begin && own->end == span.end;
    }

    // Whether the content held text where the parse read it: mixed content.
    bool HoldsText(const xmlNode* child, std::size_t from, std::size_t to, bool ghost) const {
        for (; child != nullptr; child = child->next) {
            if (child->type != XML_TEXT_NODE || !hasMark(child, kMarkPlaced) ||
                hasMark(child, kMarkCopy) != m_inCopy || hasMark(child, kMarkMoved) != ghost) {
                continue;
            }
            std::size_t at = spanBegin(child);
            if (at >= from && at < to) {
                return true;
            }
            if (ghost && at >= to) {
                break;
            }
        }
        return false;
    }

    // An element whose children now stand in its place: its content as it
    // was written, without its tags.
    xmlNodePtr Ghost(xmlNodePtr e, const struct Removal& removed, std::size_t& cursor,
                     std::size_t to, xmlNodePtr child, Layout& layout) {
        std::optional<StartTag> tag = readStartTag(m_text, removed.begin);
        const std::size_t contentEnd = m_text.rfind('<', removed.end - 1);
        if (!tag || tag->selfClosed || contentEnd == npos || contentEnd < tag->end) {
            Inserted(e, child, cursor, to, layout);
            return child->next;
        }
        Gap(cursor, removed.begin);
        const std::size_t from = LeaveOut(tag->end, contentEnd);
        xmlNodePtr next = Region(e, from, contentEnd, removed.node, child, layout);
        cursor = LeaveOut(removed.end, to);
        return next;
    }

    // The nodes of one reference to an entity with markup: the reference
    // when they are all there and unchanged, else each written out.
    xmlNodePtr EntityGroup(xmlNodePtr first, std::size_t& cursor, bool inGhost) {
        const std::size_t ref = spanBegin(first);
        std::vector<xmlNodePtr> members;
        xmlNodePtr next = first;
        auto member = [&](const xmlNode* n) {
            return hasMark(n, kMarkFromEntity) && spanBegin(n) == ref && !hasMark(n, kMarkCopy) &&
                   hasMark(n, kMarkMoved) == inGhost;
        };
        for (; next != nullptr && member(next); next = next->next) {
            members.push_back(next);
        }
        bool intact = std::none_of(members.begin(), members.end(), changed);
        // Nodes of the same reference further on (with new ones between) cannot share it.
        for (const xmlNode* n = next; intact && n != nullptr; n = n->next) {
            if (member(n)) {
                intact = false;
            } else if (SpanOf(n) && !hasMark(n, kMarkCopy)) {
                break;
            }
        }
        auto it =
            std::lower_bound(m_cuts.begin(), m_cuts.end(), ref,
                             [](const struct Removal& c, std::size_t v) { return c.begin < v; });
        for (; intact && it != m_cuts.end() && it->begin == ref; ++it) {
            if (hasMark(it->node, kMarkFromEntity) &&
                std::find(members.begin(), members.end(), it->node) == members.end()) {
                intact = false;
            }
        }
        const Span span = *SpanOf(first);
        Gap(cursor, span.begin);
        cursor = span.end;
        if (intact) {
            Markup(m_text.substr(span.begin, span.end - span.begin));
        } else {
            for (xmlNodePtr n : members) {
                Fresh(n);
            }
        }
        return next;
    }

    void Anchor(xmlNodePtr e, xmlNodePtr child, const Span& span, const xmlNode* ghost,
                Layout& layout) {
        switch (child->type) {
            case XML_ELEMENT_NODE: {
                // Moved out of elements taken out (libxml2 declares a namespace
                // the DTD gives again on the outermost of them only).
                std::optional<std::vector<const xmlNs*>> extra;
                if (ghost != nullptr) {
                    extra = missingDeclarations(child, ScopeAt(e));
                }
                if (extra) {
                    Element(child, span, *extra);
                } else if (ghost != nullptr) {
                    Fresh(child);
                } else {
                    Element(child, span);
                }
                if (std::optional<std::string> indent = IndentOf(span.begin)) {
                    layout.indent = *indent;
                }
                break;
            }
            case XML_TEXT_NODE:
                if (hasMark(child, kMarkChanged)) {
                    TextAnew(child->content);
                } else {
                    Text(m_text.substr(span.begin, span.end - span.begin));
                }
                break;
            default:
                if (changed(child)) {
                    Fresh(child);
                } else {
                    Copy(child, span);
                }
        }
    }

    // The namespaces in force inside the element: its and its ancestors'
    // declarations, with those written on moved elements.
    NamespaceScope ScopeAt(const xmlNode* element) const {
        std::vector<const xmlNode*> chain;
        for (const xmlNode* p = element; p != nullptr && p->type == XML_ELEMENT_NODE;
             p = p->parent) {
            chain.push_back(p);
        }
        NamespaceScope scope;
        for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
            for (const xmlNs* ns = (*it)->nsDef; ns != nullptr; ns = ns->next) {
                scope.Bind(ns);
            }
            if (auto declared = m_declared.find(*it); declared != m_declared.end()) {
                for (const xmlNs* ns : declared->second) {
                    scope.Bind(ns);
                }
            }
        }
        return scope;
    }

    // A node that is not where the text had it: a copy, a node moved here, or a new one.
    void Inserted(xmlNodePtr e, xmlNodePtr child, std::size_t from, std::size_t to,
                  Layout& layout) {
        if (child->type != XML_TEXT_NODE && child->type != XML_CDATA_SECTION_NODE) {
            if (!layout.known) {
                layout = LayoutOf(e, from, to);
            }
            if (!layout.inlineOnly) {
                Markup(layout.newline + layout.indent);
            }
        }
        std::optional<Span> span = SpanOf(child);
        if (!span || hasMark(child, kMarkFromEntity)) {
            Fresh(child);
        } else if (child->type == XML_ELEMENT_NODE && hasMark(child, kMarkMoved)) {
            if (std::optional<std::vector<const xmlNs*>> extra =
                    missingDeclarations(child, ScopeAt(e))) {
                Element(child, *span, *extra);
            } else {
                Fresh(child);
            }
        } else if (child->type == XML_ELEMENT_NODE) {
            Element(child, *span);
        } else if (changed(child)) {
            Fresh(child);
        } else {
            Copy(child, *span);
        }
    }

    // A node written as the text holds it.
    void Copy(const xmlNode* n, const Span& span) {
        std::string_view s = m_text.substr(span.begin, span.end - span.begin);
        if (n->type == XML_TEXT_NODE) {
            Text(s);
        } else {
            Markup(s);
        }
    }

    // A node written anew, with no white space added inside it.
    void Fresh(xmlNodePtr n) {
        if (n->type == XML_TEXT_NODE) {
            TextAnew(n->content);
            return;
        }
        std::string written;
        Writer w(written);
        if (n->type == XML_ELEMENT_NODE) {
            NamespaceScope scope = ScopeAt(n->parent);
            writeElement(w, n, 0, scope, true);
        } else {
            writeLeaf(w, n);
        }
        Markup(written);
    }

    void StartTagAnew(const xmlNode* e, const StartTag& tag, const std::string& name,
                      const std::vector<const xmlNs*>& extra) {
        std::string out = "<" + name;
        const char quote = tag.attributes.empty() ? '"' : m_text[tag.attributes.front().quote];
        auto declare = [&](const xmlNs* ns) {
            out += ns->prefix ? " xmlns:" : " xmlns";
            if (ns->prefix) {
                out += str(ns->prefix);
            }
            out += '=';
            out += quote;
            appendAttributeValue(out, ns->href ? str(ns->href) : "", quote);
            out += quote;
        };
        // What the tag holds now, by where it was written.
        struct Held {
            std::size_t at;
            const xmlNs* ns;
            const xmlAttr* attr;
            bool written = false;
        };
        std::vector<Held> held;
        for (const xmlNs* ns = e->nsDef; ns != nullptr; ns = ns->next) {
            held.push_back({hasMark(ns, kMarkPlaced) ? spanBegin(ns) : npos, ns, nullptr});
        }
        for (const xmlAttr* a = e->properties; a != nullptr; a = a->next) {
            held.push_back({hasMark(a, kMarkPlaced) ? spanBegin(a) : npos, nullptr, a});
        }
        // Declarations a moved element needs go after its own, as the DOM
        // would list them: after the last written, else the name.
        auto placedAt = [&](std::size_t at) {
            return std::find_if(held.begin(), held.end(),
                                [&](const Held& h) { return h.at == at; });
        };
        std::size_t lastDeclaration = npos;
        bool newDeclarations = false;
        for (std::size_t i = 0; i < tag.attributes.size(); ++i) {
            auto found = placedAt(tag.attributes[i].name);
            if (found != held.end() && found->ns != nullptr) {
                lastDeclaration = i;
            }
        }
        for (const Held& h : held) {
            if (h.ns != nullptr && !hasMark(h.ns, kMarkDefaulted) &&
                std::none_of(tag.attributes.begin(), tag.attributes.end(),
                             [&](const StartTag::Attribute& a) { return a.name == h.at; })) {
                newDeclarations = true;
            }
        }
        auto declareExtra = [&] {
            for (const xmlNs* ns : extra) {
                declare(ns);
            }
        };
        if (lastDeclaration == npos && !newDeclarations) {
            declareExtra();
        }
        for (std::size_t i = 0; i < tag.attributes.size(); ++i) {
            const StartTag::Attribute& written = tag.attributes[i];
            if (i == lastDeclaration + 1 && lastDeclaration != npos && !newDeclarations) {
                declareExtra();
            }
            auto found = std::find_if(held.begin(), held.end(), [&](const Held& h) {
                return !h.written && h.at == written.name;
            });
            if (found == held.end()) {
                continue;  // taken out, with the blanks before it
            }
            found->written = true;
            const bool valueChanged =
                found->ns ? hasMark(found->ns, kMarkChanged) : hasMark(found->attr, kMarkChanged);
            if (!valueChanged) {
                out.append(m_text.substr(written.lead, written.end - written.lead));
                continue;
            }
            const char q = m_text[written.quote];
            out.append(m_text.substr(written.lead, written.quote + 1 - written.lead));
            appendAttributeValue(out,
                                 found->ns ? (found->ns->href ? str(found->ns->href) : "")
                                           : std::string_view(attributeValue(found->attr)),
                                 q);
            out += q;
        }
        if (lastDeclaration != npos && lastDeclaration + 1 == tag.attributes.size() &&
            !newDeclarations) {
            declareExtra();
        }
        // New ones after the last, one blank before each.
        for (const Held& h : held) {
            if (h.written || h.ns == nullptr || hasMark(h.ns, kMarkDefaulted)) {
                continue;
            }
            declare(h.ns);
        }
        if (newDeclarations) {
            declareExtra();
        }
        for (const Held& h : held) {
            if (h.written) {
                continue;
            }
            if (h.ns != nullptr) {
                continue;  // written above
            } else if (h.attr != nullptr && !hasMark(h.attr, kMarkDefaulted)) {
                out += ' ';
                out += qualifiedName(h.attr->ns, h.attr->name);
                out += '=';
                out += quote;
                appendAttributeValue(out, attributeValue(h.attr), quote);
                out += quote;
            }
        }
        Markup(out);
    }

    // The blanks before the node when it stands first on its line.
    std::optional<std::string> IndentOf(std::size_t begin) const {
        std::size_t lineStart = begin;
        while (lineStart > 0 && isIndentChar(m_text[lineStart - 1])) {
            --lineStart;
        }
        if (lineStart == 0 || m_text[lineStart - 1] != '\n') {
            return std::nullopt;
        }
        return std::string(m_text.substr(lineStart, begin - lineStart));
    }

    Layout LayoutOf(const xmlNode* e, std::size_t from, std::size_t to) const {
        Layout layout;
        layout.known = true;
        if (preserveSpaceAt(e)) {
            return layout;
        }
        for (const xmlNode* c = e->children; c != nullptr; c = c->next) {
            if (c->type == XML_TEXT_NODE || c->type == XML_CDATA_SECTION_NODE) {
                return layout;  // mixed content: blanks would be text
            }
        }
        for (const xmlNode* c = e->children; c != nullptr; c = c->next) {
            std::optional<Span> span = SpanOf(c);
            if (c->type != XML_ELEMENT_NODE || !span || hasMark(c, kMarkCopy) != m_inCopy ||
                span->begin < from || span->end > to) {
                continue;
            }
            if (std::optional<std::string> indent = IndentOf(span->begin)) {
                layout.inlineOnly = false;
                layout.indent = *indent;
                std::size_t lineStart = span->begin - indent->size();
                layout.newline = lineStart >= 2 && m_text[lineStart - 2] == '\r' ? "\r\n" : "\n";
                return layout;
            }
        }
        return layout;
    }

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

bool changedAnywhere(const xmlNode* root, const DocState& state) {
    return changed(root) || !state.removed.empty();
}

}  // namespace

}  // namespace detail

bool XmlDocument::parsedFrom(std::string_view text) const {
    const detail::DocState& state = *m_state;
    return state.doc != nullptr && state.sourceHash != 0 && text.size() == state.sourceBytes &&
           detail::hashText(text) == state.sourceHash;
}

std::string XmlDocument::xml(std::string_view parsedText) const {
    const detail::DocState& state = *m_state;
    if (!parsedFrom(parsedText)) {
        return xml();
    }
    xmlNodePtr root = xmlDocGetRootElement(state.doc);
    if (root == nullptr) {
        return xml();
    }
    std::string out;
    detail::SpliceWriter writer(parsedText, state, out);
    std::optional<detail::Span> span = writer.SpanOf(root);
    if (!span) {
        return xml();
    }
    if (!detail::changedAnywhere(root, state)) {
        return std::string(parsedText);
    }
    out.reserve(parsedText.size() + parsedText.size() / 16 + 64);
    out.append(parsedText.substr(0, span->begin));
    writer.Element(root, *span);
    out.append(parsedText.substr(span->end));
    return out;
}

}  // namespace quorrel
