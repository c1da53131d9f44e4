// The splice writer's copying: content taken from the text as it stands,
// the text between nodes, and what nodes left behind when they went.
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

namespace quorrel::detail::splice {

void SpliceWriter::Markup(std::string_view s) {
    if (s.empty()) {
        return;
    }
    m_out.append(s);
    m_nodeEnd = m_out.size();
    m_lastWasText = false;
    m_blanksAt = npos;
}

void SpliceWriter::Text(std::string_view s) {
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

void SpliceWriter::TextAnew(const xmlChar* content) {
    std::string escaped;
    Writer(escaped).text(content);
    Text(escaped);
}

std::size_t SpliceWriter::LeaveOut(std::size_t end, std::size_t limit) {
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

void SpliceWriter::Gap(std::size_t from, std::size_t to) {
    if (from >= to) {
        return;
    }
    std::size_t start = m_out.size();
    std::size_t at = from;
    auto it = std::lower_bound(m_cuts.begin(), m_cuts.end(), from,
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
        const bool layout = !m_mixed && std::string_view(m_out).substr(start).find('\n') != npos;
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

const struct Removal* SpliceWriter::RemovedAround(const Span& span, std::size_t from,
                                                  std::size_t to) const {
    auto it = std::lower_bound(m_cuts.begin(), m_cuts.end(), from,
                               [](const struct Removal& c, std::size_t v) { return c.begin < v; });
    for (; it != m_cuts.end() && it->begin <= span.begin; ++it) {
        if (it->detached && it->node->type == XML_ELEMENT_NODE && it->end >= span.end &&
            it->end <= to && (it->begin < span.begin || it->end > span.end)) {
            return &*it;
        }
    }
    return nullptr;
}

bool SpliceWriter::EntanglementTouched(const xmlNode* e) const {
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

bool SpliceWriter::ChildrenExplained(const xmlNode* e) const {
    for (const xmlNode* c = e->children; c != nullptr; c = c->next) {
        if (!hasMark(c, kMarkCreated | kMarkMoved) && !SpanOf(c)) {
            return false;
        }
    }
    return true;
}

void SpliceWriter::Content(xmlNodePtr e, std::size_t from, std::size_t to, Layout& layout) {
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

xmlNodePtr SpliceWriter::Region(xmlNodePtr e, std::size_t from, std::size_t to,
                                const xmlNode* ghost, xmlNodePtr child, Layout& layout) {
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

bool SpliceWriter::IsCopyOf(const xmlNode* copy, const xmlNode* original, const Span& span) const {
    if (copy->type != XML_ELEMENT_NODE || original == nullptr || !hasMark(copy, kMarkCopy) ||
        changed(copy) || hasMark(original, kMarkCopy | kMarkMoved | kMarkFromEntity) ||
        original->type != XML_ELEMENT_NODE) {
        return false;
    }
    std::optional<Span> own = SpanOf(original);
    return own && own->begin == span.begin && own->end == span.end;
}

bool SpliceWriter::HoldsText(const xmlNode* child, std::size_t from, std::size_t to,
                             bool ghost) const {
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

xmlNodePtr SpliceWriter::Ghost(xmlNodePtr e, const struct Removal& removed, std::size_t& cursor,
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

xmlNodePtr SpliceWriter::EntityGroup(xmlNodePtr first, std::size_t& cursor, bool inGhost) {
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
    auto it = std::lower_bound(m_cuts.begin(), m_cuts.end(), ref,
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

void SpliceWriter::Anchor(xmlNodePtr e, xmlNodePtr child, const Span& span, const xmlNode* ghost,
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

}  // namespace quorrel::detail::splice
