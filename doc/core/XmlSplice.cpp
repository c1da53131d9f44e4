// Writing a document that was parsed from text: every node a command did not
// change is copied from that text byte for byte, together with the text
// between the nodes (indentation, blank lines, references to entities with
// markup); only what changed is written anew, in the layout of its neighbours.
#include <libxml/tree.h>

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "doc/core/XmlDom.h"
#include "doc/core/XmlDomInternal.h"
#include "doc/core/XmlSpliceInternal.h"
#include "doc/core/XmlWrite.h"

namespace quorrel {

namespace detail::splice {

SpliceWriter::SpliceWriter(std::string_view text, const DocState& state, std::string& out)
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
    m_cuts.erase(std::unique(m_cuts.begin(), m_cuts.end(),
                             [](const Removal& a, const Removal& b) { return a.node == b.node; }),
                 m_cuts.end());
}

std::optional<Span> SpliceWriter::SpanOf(const xmlNode* n) const {
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

void SpliceWriter::Element(xmlNodePtr e, const Span& span, const std::vector<const xmlNs*>& extra) {
    if (!changed(e) && extra.empty()) {
        Markup(m_text.substr(span.begin, span.end - span.begin));
        return;
    }
    std::optional<StartTag> tag = readStartTag(m_text, span.begin);
    if (!tag || tag->end > span.end) {
        Fresh(e);
        return;
    }
    const std::string_view written = m_text.substr(span.begin + 1, tag->nameEnd - span.begin - 1);
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
    if (writesNothing(e->children) && m_out.size() == open + tail.size() && contentEnd > tag->end) {
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

std::optional<Span> SpliceWriter::Delimited(std::size_t b, std::string_view open,
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

bool changedAnywhere(const xmlNode* root, const DocState& state) {
    return changed(root) || !state.removed.empty();
}

}  // namespace detail::splice

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
    detail::splice::SpliceWriter writer(parsedText, state, out);
    std::optional<detail::splice::Span> span = writer.SpanOf(root);
    if (!span) {
        return xml();
    }
    if (!detail::splice::changedAnywhere(root, state)) {
        return std::string(parsedText);
    }
    out.reserve(parsedText.size() + parsedText.size() / 16 + 64);
    out.append(parsedText.substr(0, span->begin));
    writer.Element(root, *span);
    out.append(parsedText.substr(span->end));
    return out;
}

}  // namespace quorrel
