// The parse hooks' own work: where each node starts in the text, the blanks
// held back until it is known whether they are dropped, and the references
// to entities. The SAX callbacks that call it are in ParseCallbacks.cpp.
#include "doc/core/ParseHooks.h"

#include <libxml/SAX2.h>
#include <libxml/parserInternals.h>
#include <libxml/valid.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "doc/core/ParseHooksInternal.h"
#include "doc/core/XmlDomInternal.h"

using quorrel::detail::str;

namespace quorrel {

using hooks_detail::Free;
using hooks_detail::HasDtd;
using hooks_detail::IsSpace;
using hooks_detail::t_hooks;

namespace hooks_detail {

thread_local ParseHooks* t_hooks = nullptr;

bool IsSpace(xmlChar c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool HasDtd(xmlParserCtxtPtr ctxt) {
    xmlDocPtr doc = ctxt->myDoc;
    return doc != nullptr && (doc->intSubset != nullptr || doc->extSubset != nullptr);
}

}  // namespace hooks_detail

namespace {

// Whether the DTD declares the element EMPTY: a blank in it is then invalid,
// and the validator must see it.
bool DeclaredEmpty(xmlParserCtxtPtr ctxt, xmlNodePtr element) {
    const xmlChar* prefix = element->ns != nullptr ? element->ns->prefix : nullptr;
    for (xmlDtdPtr dtd : {ctxt->myDoc->intSubset, ctxt->myDoc->extSubset}) {
        if (dtd == nullptr) {
            continue;
        }
        xmlElementPtr decl = xmlGetDtdQElementDesc(dtd, element->name, prefix);
        if (decl != nullptr) {
            return decl->etype == XML_ELEMENT_TYPE_EMPTY;
        }
    }
    return false;
}

}  // namespace

ParseHooks::ParseHooks(xmlParserCtxtPtr ctxt, Fail fail, bool dropBlankText, ShownNodeSink* shown,
                       std::string_view text)
    : m_ctxt(ctxt),
      m_fail(std::move(fail)),
      m_text(text),
      m_saved(*ctxt->sax),
      m_dropBlankText(dropBlankText),
      m_blankTextMayRemain(!dropBlankText),
      m_shown(shown),
      m_previous(t_hooks) {
    xmlSAXHandler& sax = *ctxt->sax;
    sax.startDocument = OnStartDocument;
    sax.endDocument = OnEndDocument;
    sax.startElementNs = OnStartElementNs;
    sax.endElementNs = OnEndElementNs;
    sax.characters = OnCharacters;
    sax.ignorableWhitespace = OnCharacters;
    sax.cdataBlock = OnCDataBlock;
    sax.comment = OnComment;
    sax.processingInstruction = OnProcessingInstruction;
    sax.getEntity = OnGetEntity;
    t_hooks = this;
}

ParseHooks::~ParseHooks() {
    *m_ctxt->sax = m_saved;
    t_hooks = m_previous;
}

bool ParseHooks::MayHoldBack(xmlParserCtxtPtr ctxt, xmlNodePtr parent) const {
    if (!m_dropBlankText || ctxt != m_ctxt || parent == nullptr || m_preserve.empty() ||
        m_preserve.back() != 0) {
        return false;
    }
    // Only blanks that would start a text node of their own.
    bool startsText = parent->last == nullptr || parent->last->type != XML_TEXT_NODE;
    bool heldHere = !m_held.empty() && m_heldParent == parent && m_heldAfter == parent->last;
    if (!startsText && !heldHere) {
        return false;
    }
    return !(ctxt->validate && HasDtd(ctxt) && DeclaredEmpty(ctxt, parent));
}

void ParseHooks::PutBackHeldBlanks(xmlParserCtxtPtr ctxt) {
    if (m_held.empty() || m_heldParent == nullptr || m_heldParent->last == m_heldAfter) {
        return;
    }
    // Entity content was copied in without a callback: the blanks stood in front of it.
    xmlNodePtr next = m_heldAfter != nullptr ? m_heldAfter->next : m_heldParent->children;
    const xmlChar* held = reinterpret_cast<const xmlChar*>(m_held.data());
    auto outOfMemory = [&] {
        m_fail(ctxt->input ? ctxt->input->line : 0, "Out of memory while reading text");
        xmlStopParser(ctxt);
    };
    if (next != nullptr && next->type == XML_TEXT_NODE) {
        if (xmlChar* joined = xmlStrncatNew(held, next->content, -1)) {
            xmlNodeSetContent(next, joined);
            xmlFree(joined);
        } else {
            outOfMemory();
        }
    } else if (xmlNodePtr text = xmlNewDocTextLen(ctxt->myDoc, held, int(m_held.size()))) {
        if (next != nullptr) {
            xmlAddPrevSibling(next, text);
        } else {
            xmlAddChild(m_heldParent, text);
        }
    } else {
        outOfMemory();
    }
    m_blankTextMayRemain = true;  // it may be blanks alone, between elements
    DropHeldBlanks();
}

void ParseHooks::FlushHeldBlanks(xmlParserCtxtPtr ctxt) {
    PutBackHeldBlanks(ctxt);
    if (m_held.empty()) {
        return;
    }
    std::string held = std::move(m_held);
    DropHeldBlanks();
    if (m_saved.characters != nullptr) {
        m_saved.characters(ctxt, reinterpret_cast<const xmlChar*>(held.data()), int(held.size()));
    }
    PlaceNewText(ctxt);
}

namespace hooks_detail {

void Free(xmlNodePtr node) {
    xmlUnlinkNode(node);
    xmlFreeNode(node);
}

}  // namespace hooks_detail

void ParseHooks::EndOfText(xmlParserCtxtPtr ctxt) {
    if (ctxt != m_ctxt) {
        return;
    }
    ResolveReference(ctxt);
    m_runOpen = false;
    PutBackHeldBlanks(ctxt);
    DropHeldBlanks();  // a run of blanks alone: no node
    if (m_openText != nullptr) {
        m_shown->Leaf(m_openText);
        Free(std::exchange(m_openText, nullptr));
    }
}

void ParseHooks::TellLast(xmlParserCtxtPtr ctxt, xmlElementType type, bool shown) {
    if (!m_telling || ctxt != m_ctxt || ctxt->node == nullptr) {
        return;
    }
    xmlNodePtr last = ctxt->node->last;
    if (last != nullptr && last->type == type) {
        if (shown) {
            m_shown->Leaf(last);
        }
        Free(last);
    }
}

std::size_t ParseHooks::InputOffset(xmlParserCtxtPtr ctxt) const {
    xmlParserInputPtr in = ctxt->input;
    if (in == nullptr || in->cur == nullptr || in->base == nullptr) {
        return m_text.size();
    }
    return std::min(std::size_t(in->consumed) + std::size_t(in->cur - in->base), m_text.size());
}

void ParseHooks::PlaceElement(xmlParserCtxtPtr ctxt, xmlNodePtr element) {
    // The input stands at the '>' or "/>" that ends the start tag, which holds
    // no '<' of its own.
    const std::size_t end = InputOffset(ctxt);
    const std::size_t lt = m_text.rfind('<', end);
    if (lt == std::string_view::npos) {
        return;
    }
    detail::setSourceOffset(element, lt);
    m_selfClosed = end < m_text.size() && m_text[end] == '/';
    m_pos = std::min(m_text.size(), end + (m_selfClosed ? 2 : 1));
    // The names in the order written: declarations are the element's nsDef
    // in that order, the others its properties (those the DTD supplied come
    // last and are not in the text).
    xmlNsPtr ns = element->nsDef;
    xmlAttrPtr attr = element->properties;
    auto nameChar = [&](std::size_t p) {
        return !IsSpace(xmlChar(m_text[p])) && m_text[p] != '=' && m_text[p] != '/' &&
               m_text[p] != '>';
    };
    std::size_t p = lt + 1;
    while (p < end && nameChar(p)) {
        ++p;
    }
    while (p < end) {
        while (p < end && IsSpace(xmlChar(m_text[p]))) {
            ++p;
        }
        if (p >= end || !nameChar(p)) {
            return;
        }
        const std::size_t name = p;
        while (p < end && nameChar(p)) {
            ++p;
        }
        std::string_view written = m_text.substr(name, p - name);
        if (written == "xmlns" || written.starts_with("xmlns:")) {
            if (ns != nullptr) {
                detail::setSourceOffset(ns, name);
                ns = ns->next;
            }
        } else if (attr != nullptr) {
            detail::setSourceOffset(attr, name);
            attr = attr->next;
        }
        while (p < end && m_text[p] != '"' && m_text[p] != '\'') {
            ++p;
        }
        std::size_t close = p < end ? m_text.find(m_text[p], p + 1) : std::string_view::npos;
        if (close == std::string_view::npos || close >= end) {
            return;
        }
        p = close + 1;
    }
}

void ParseHooks::PlaceElementEnd(xmlParserCtxtPtr ctxt, xmlNodePtr element) {
    // The input stands after the end tag's '>', or after "/>".
    const std::size_t end = m_selfClosed ? m_pos : InputOffset(ctxt);
    m_selfClosed = false;
    m_pos = end;
    if (detail::hasMark(element, detail::kMarkPlaced)) {
        detail::setElementEnd(element, end);
    }
}

void ParseHooks::PlaceNewText(xmlParserCtxtPtr ctxt) {
    if (!Placing(ctxt) || ctxt->node == nullptr) {
        return;
    }
    // A text starts where its run did: after the markup (or the reference to
    // an entity with markup) before it; text and other references hold no '<'.
    xmlNodePtr last = ctxt->node->last;
    if (last != nullptr && last->type == XML_TEXT_NODE && !detail::hasSpan(last)) {
        detail::setMark(last, detail::kMarkParsed);
        detail::setSourceOffset(last, m_runBegin);
    }
}

std::size_t ParseHooks::PlaceMarkup(std::size_t openSize, std::string_view close) {
    // Text and references hold no '<': the next one opens this markup.
    const std::size_t start = std::min(m_text.find('<', m_pos), m_text.size());
    const std::size_t end = m_text.find(close, std::min(start + openSize, m_text.size()));
    m_pos = end == std::string_view::npos ? m_text.size() : end + close.size();
    m_selfClosed = false;
    return start;
}

void ParseHooks::PlaceLast(xmlParserCtxtPtr ctxt, xmlElementType type, std::size_t openSize,
                           std::string_view close) {
    if (!Placing(ctxt)) {
        return;
    }
    std::size_t start = PlaceMarkup(openSize, close);
    xmlNodePtr last = ctxt->node != nullptr ? ctxt->node->last : nullptr;
    if (last != nullptr && last->type == type && !detail::hasSpan(last)) {
        detail::setMark(last, detail::kMarkParsed);
        detail::setSourceOffset(last, start);
    }
}

void ParseHooks::NoteReference(xmlParserCtxtPtr ctxt) {
    if (!Placing(ctxt) || ctxt->inSubset != 0 || ctxt->node == nullptr) {
        return;
    }
    // The input stands after the ';'. A '<' since the last markup means the
    // reference is in an attribute value of the start tag being read.
    const std::size_t end = InputOffset(ctxt);
    const std::size_t amp = end > 0 ? m_text.rfind('&', end - 1) : std::string_view::npos;
    if (amp == std::string_view::npos || amp < m_pos ||
        m_text.substr(m_pos, amp - m_pos).find('<') != std::string_view::npos) {
        return;
    }
    xmlNodePtr last = ctxt->node->last;
    std::size_t length = last != nullptr && last->type == XML_TEXT_NODE && last->content != nullptr
                             ? std::size_t(xmlStrlen(last->content))
                             : 0;
    m_reference = {true, amp, end, ctxt->node, last, length};
}

void ParseHooks::ResolveReference(xmlParserCtxtPtr ctxt) {
    if (!m_reference.pending || ctxt != m_ctxt) {
        return;
    }
    Reference ref = std::exchange(m_reference, Reference{});
    xmlNodePtr parent = ref.parent;
    xmlNodePtr first = ref.lastBefore != nullptr ? ref.lastBefore->next : parent->children;
    const bool afterEntityText = ref.lastBefore != nullptr &&
                                 ref.lastBefore->type == XML_TEXT_NODE &&
                                 detail::hasMark(ref.lastBefore, detail::kMarkFromEntity);
    if (first == nullptr) {
        // Merged into the text under way, or nothing: the reference is part
        // of the text, or of the blanks between nodes.
        if (afterEntityText) {
            detail::setMark(parent, detail::kMarkEntangled);
        }
        if (!m_runOpen) {
            m_pos = ref.end;
        }
        return;
    }
    if (first == parent->last && first->type == XML_TEXT_NODE && first->name == xmlStringText) {
        // An entity of text alone started a text: the run starts with it.
        if (!m_runOpen) {
            m_runOpen = true;
            m_runBegin = ref.begin;
        }
        detail::setMark(first, detail::kMarkParsed);
        detail::setSourceOffset(first, m_runBegin);
        return;
    }
    // Markup: the text before ends at the reference, and the nodes the
    // reference added all stand for it. libxml2 joins the entity's first
    // text to a text (or held blanks) before it.
    xmlNodePtr before = ref.lastBefore;
    const bool joined = (before != nullptr && before->type == XML_TEXT_NODE &&
                         (before->content != nullptr ? std::size_t(xmlStrlen(before->content))
                                                     : 0) != ref.textBefore) ||
                        (!m_held.empty() && first->type == XML_TEXT_NODE) || afterEntityText;
    if (joined) {
        detail::setMark(parent, detail::kMarkEntangled);
    }
    if (m_runOpen && before != nullptr && before->type == XML_TEXT_NODE &&
        detail::hasMark(before, detail::kMarkPlaced) && !m_telling) {
        detail::setMark(before, detail::kMarkTextCut);
        m_textEnds[before] = std::uint32_t(ref.begin);
    }
    for (xmlNodePtr n = first; n != nullptr; n = n->next) {
        detail::setSourceOffset(n, ref.begin, detail::kMarkFromEntity);
    }
    m_runOpen = false;
    m_pos = ref.end;
}

}  // namespace quorrel
