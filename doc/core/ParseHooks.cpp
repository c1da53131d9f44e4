#include "doc/core/ParseHooks.h"

#include <libxml/SAX2.h>
#include <libxml/parserInternals.h>
#include <libxml/valid.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "doc/core/XmlDomInternal.h"

using quorrel::detail::str;

namespace quorrel {

namespace {

thread_local ParseHooks* t_hooks = nullptr;

bool IsSpace(xmlChar c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool IsBlank(const xmlChar* ch, int len) {
    for (int i = 0; i < len; ++i) {
        if (!IsSpace(ch[i])) {
            return false;
        }
    }
    return true;
}

// The namespace declarations written in the start tag that ends at the
// input's current position. A start tag holds no '<' of its own (attribute
// values cannot), so the last one before the position opens it.
int DeclarationsInStartTag(xmlParserInputPtr input) {
    if (input == nullptr || input->base == nullptr || input->cur == nullptr) {
        return -1;
    }
    const xmlChar* lt = input->cur;
    while (lt > input->base && *lt != '<') {
        --lt;
    }
    if (*lt != '<') {
        return -1;
    }
    int count = 0;
    char quote = 0;
    bool atName = false;
    for (const xmlChar* p = lt + 1; p < input->cur; ++p) {
        if (quote != 0) {
            quote = *p == quote ? 0 : quote;
            continue;
        }
        if (*p == '"' || *p == '\'') {
            quote = char(*p);
        } else if (IsSpace(*p)) {
            atName = true;
        } else if (atName) {
            // An attribute name starts here.
            std::size_t left = std::size_t(input->cur - p);
            if (left >= 5 && std::memcmp(p, "xmlns", 5) == 0 &&
                (left == 5 || p[5] == ':' || p[5] == '=' || IsSpace(p[5]))) {
                ++count;
            }
            atName = false;
        }
    }
    return count;
}

bool HasDtd(xmlParserCtxtPtr ctxt) {
    xmlDocPtr doc = ctxt->myDoc;
    return doc != nullptr && (doc->intSubset != nullptr || doc->extSubset != nullptr);
}

constexpr const char* kXsiNamespace = "http://www.w3.org/2001/XMLSchema-instance";

// Returns whether the element names a schema.
bool MarkParsed(xmlNodePtr element, int nbAttributes, int nbDefaulted, int nbNamespaces,
                xmlParserCtxtPtr ctxt) {
    using namespace detail;
    setMark(element, kMarkParsed);
    int index = 0;
    bool namesSchema = false;
    for (xmlAttrPtr a = element->properties; a != nullptr; a = a->next, ++index) {
        if (a->ns != nullptr && a->ns->href != nullptr &&
            std::strcmp(str(a->ns->href), kXsiNamespace) == 0) {
            namesSchema = namesSchema || std::strcmp(str(a->name), "schemaLocation") == 0 ||
                          std::strcmp(str(a->name), "noNamespaceSchemaLocation") == 0;
        }
        setMark(a, kMarkParsed);
        if (index >= nbAttributes - nbDefaulted) {
            setMark(a, kMarkDefaulted);
        }
    }
    for (xmlNsPtr ns = element->nsDef; ns != nullptr; ns = ns->next) {
        setMark(ns, kMarkParsed);
    }
    // Only a DTD can supply namespace declarations, after those of the text.
    if (nbNamespaces == 0 || !HasDtd(ctxt)) {
        return namesSchema;
    }
    int written = DeclarationsInStartTag(ctxt->input);
    if (written < 0) {
        return namesSchema;
    }
    int i = 0;
    for (xmlNsPtr ns = element->nsDef; ns != nullptr; ns = ns->next, ++i) {
        if (i >= written) {
            setMark(ns, kMarkDefaulted);
        }
    }
    return namesSchema;
}

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

namespace {

void Free(xmlNodePtr node) {
    xmlUnlinkNode(node);
    xmlFreeNode(node);
}

}  // namespace

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

void ParseHooks::OnStartDocument(void* ctx) {
    ParseHooks* hooks = t_hooks;
    if (hooks == nullptr) {
        return;
    }
    if (hooks->m_saved.startDocument != nullptr) {
        hooks->m_saved.startDocument(ctx);
    }
    // The document's own declaration has been read: its encoding is ignored
    // (the text is UTF-8 already), but external entities that follow must be
    // read in the encoding their text declarations name.
    static_cast<xmlParserCtxtPtr>(ctx)->options &= ~XML_PARSE_IGNORE_ENC;
}

void ParseHooks::OnEndDocument(void* ctx) {
    ParseHooks* hooks = t_hooks;
    if (hooks == nullptr) {
        return;
    }
    hooks->EndOfText(static_cast<xmlParserCtxtPtr>(ctx));
    if (hooks->m_saved.endDocument != nullptr) {
        hooks->m_saved.endDocument(ctx);
    }
}

void ParseHooks::OnStartElementNs(void* ctx, const xmlChar* localname, const xmlChar* prefix,
                                  const xmlChar* uri, int nbNamespaces, const xmlChar** namespaces,
                                  int nbAttributes, int nbDefaulted, const xmlChar** attributes) {
    ParseHooks* hooks = t_hooks;
    if (hooks == nullptr || hooks->m_saved.startElementNs == nullptr) {
        return;
    }
    auto ctxt = static_cast<xmlParserCtxtPtr>(ctx);
    hooks->EndOfText(ctxt);
    xmlNodePtr before = ctxt->node;
    hooks->m_saved.startElementNs(ctx, localname, prefix, uri, nbNamespaces, namespaces,
                                  nbAttributes, nbDefaulted, attributes);
    xmlNodePtr element = ctxt->node;
    if (element == nullptr || element == before || element->type != XML_ELEMENT_NODE) {
        return;  // not built (out of memory, or the parse stopped)
    }
    if ((ctxt->loadsubset & XML_COMPLETE_ATTRS) == 0) {
        nbDefaulted = 0;  // defaults were not added
    }
    if (MarkParsed(element, nbAttributes, nbDefaulted, nbNamespaces, ctxt)) {
        hooks->m_namesSchemas = true;
    }
    if (ctxt == hooks->m_ctxt) {
        int space = detail::xmlSpaceOf(element);
        bool inherited = !hooks->m_preserve.empty() && hooks->m_preserve.back() != 0;
        hooks->m_preserve.push_back(space == 1 || (space == -1 && inherited) ? 1 : 0);
        if (hooks->m_depth++ == 0 && hooks->m_shown != nullptr) {
            // Without a DTD nothing comes back to a node once it is complete.
            hooks->m_telling = !HasDtd(ctxt);
        }
        if (hooks->Placing(ctxt)) {
            hooks->PlaceElement(ctxt, element);
        }
        if (hooks->m_telling) {
            hooks->m_shown->StartElement(element);
        }
    }
}

void ParseHooks::OnEndElementNs(void* ctx, const xmlChar* localname, const xmlChar* prefix,
                                const xmlChar* uri) {
    ParseHooks* hooks = t_hooks;
    if (hooks == nullptr) {
        return;
    }
    auto ctxt = static_cast<xmlParserCtxtPtr>(ctx);
    hooks->EndOfText(ctxt);
    xmlNodePtr element = ctxt->node;
    if (hooks->m_saved.endElementNs != nullptr) {
        hooks->m_saved.endElementNs(ctx, localname, prefix, uri);
    }
    if (ctxt != hooks->m_ctxt) {
        return;
    }
    if (!hooks->m_preserve.empty()) {
        hooks->m_preserve.pop_back();
    }
    if (hooks->Placing(ctxt) && element != nullptr) {
        hooks->PlaceElementEnd(ctxt, element);
    }
    --hooks->m_depth;
    if (hooks->m_telling && element != nullptr) {
        hooks->m_shown->EndElement();
        if (hooks->m_depth > 0) {
            Free(element);  // the document element stays, a husk, till the end
        }
    }
}

void ParseHooks::OnCharacters(void* ctx, const xmlChar* ch, int len) {
    ParseHooks* hooks = t_hooks;
    if (hooks == nullptr) {
        return;
    }
    auto ctxt = static_cast<xmlParserCtxtPtr>(ctx);
    if (ctxt != hooks->m_ctxt) {
        hooks->m_blankTextMayRemain = true;  // entity content, parsed apart
    } else {
        hooks->ResolveReference(ctxt);
        hooks->StartRun();
        hooks->PutBackHeldBlanks(ctxt);
        xmlNodePtr parent = ctxt->node;
        if (parent != nullptr && parent->last != nullptr && parent->last->type == XML_TEXT_NODE &&
            detail::hasMark(parent->last, detail::kMarkFromEntity)) {
            // The entity's last text takes this text in.
            detail::setMark(parent, detail::kMarkEntangled);
        }
        if (IsBlank(ch, len) && hooks->MayHoldBack(ctxt, parent)) {
            if (hooks->m_held.empty()) {
                hooks->m_heldParent = parent;
                hooks->m_heldAfter = parent->last;
            }
            hooks->m_held.append(reinterpret_cast<const char*>(ch), std::size_t(len));
            return;
        }
        hooks->FlushHeldBlanks(ctxt);
        if (IsBlank(ch, len)) {
            hooks->m_blankTextMayRemain = true;  // kept where it may not be dropped yet
        }
    }
    if (hooks->m_saved.characters != nullptr) {
        hooks->m_saved.characters(ctx, ch, len);
    }
    hooks->PlaceNewText(ctxt);
    if (hooks->m_telling && ctxt == hooks->m_ctxt && ctxt->node != nullptr &&
        ctxt->node->last != nullptr && ctxt->node->last->type == XML_TEXT_NODE) {
        hooks->m_openText = ctxt->node->last;  // told once the run ends
    }
}

void ParseHooks::OnCDataBlock(void* ctx, const xmlChar* value, int len) {
    ParseHooks* hooks = t_hooks;
    auto ctxt = static_cast<xmlParserCtxtPtr>(ctx);
    if (hooks != nullptr) {
        hooks->EndOfText(ctxt);
    }
    if (ctxt->node == nullptr || ctxt->disableSAX) {
        return;
    }
    // libxml2 appends a section to a CDATA section before it; each one is a node of its own here.
    xmlNodePtr section = xmlNewCDataBlock(ctxt->myDoc, value, len);
    if (section == nullptr) {
        if (hooks != nullptr && hooks->m_fail) {
            hooks->m_fail(ctxt->input ? ctxt->input->line : 0,
                          "Out of memory while reading a CDATA section");
        }
        xmlStopParser(ctxt);
        return;
    }
    detail::setMark(section, detail::kMarkParsed);
    xmlNodePtr parent = ctxt->node;
    section->parent = parent;
    section->prev = parent->last;
    if (parent->last != nullptr) {
        parent->last->next = section;
    } else {
        parent->children = section;
    }
    parent->last = section;
    // The text that follows starts a node of its own.
    ctxt->nodelen = 0;
    ctxt->nodemem = 0;
    if (hooks != nullptr) {
        hooks->PlaceLast(ctxt, XML_CDATA_SECTION_NODE, 9, "]]>");
        hooks->TellLast(ctxt, XML_CDATA_SECTION_NODE, true);
    }
}

void ParseHooks::OnComment(void* ctx, const xmlChar* value) {
    ParseHooks* hooks = t_hooks;
    if (hooks == nullptr) {
        return;
    }
    auto ctxt = static_cast<xmlParserCtxtPtr>(ctx);
    hooks->EndOfText(ctxt);
    if (hooks->m_saved.comment != nullptr) {
        hooks->m_saved.comment(ctx, value);
    }
    hooks->PlaceLast(ctxt, XML_COMMENT_NODE, 4, "-->");
    hooks->TellLast(ctxt, XML_COMMENT_NODE, true);
}

void ParseHooks::OnProcessingInstruction(void* ctx, const xmlChar* target, const xmlChar* data) {
    ParseHooks* hooks = t_hooks;
    if (hooks == nullptr) {
        return;
    }
    auto ctxt = static_cast<xmlParserCtxtPtr>(ctx);
    hooks->EndOfText(ctxt);
    if (hooks->m_saved.processingInstruction != nullptr) {
        hooks->m_saved.processingInstruction(ctx, target, data);
    }
    hooks->PlaceLast(ctxt, XML_PI_NODE, 2, "?>");
    hooks->TellLast(ctxt, XML_PI_NODE, false);  // no item: freed untold
}

}  // namespace quorrel

namespace quorrel {

xmlEntityPtr ParseHooks::OnGetEntity(void* ctx, const xmlChar* name) {
    ParseHooks* hooks = t_hooks;
    xmlEntityPtr entity = nullptr;
    if (hooks == nullptr) {
        return xmlSAX2GetEntity(ctx, name);
    }
    auto ctxt = static_cast<xmlParserCtxtPtr>(ctx);
    if (ctxt == hooks->m_ctxt) {
        hooks->ResolveReference(ctxt);
    }
    entity = hooks->m_saved.getEntity != nullptr ? hooks->m_saved.getEntity(ctx, name)
                                                 : xmlSAX2GetEntity(ctx, name);
    if (ctxt == hooks->m_ctxt && entity != nullptr) {
        hooks->NoteReference(ctxt);
    }
    return entity;
}

}  // namespace quorrel
