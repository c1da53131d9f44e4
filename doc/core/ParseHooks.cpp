#include "doc/core/ParseHooks.h"

#include <libxml/SAX2.h>
#include <libxml/parserInternals.h>

#include <cstring>

#include "doc/core/XmlDomInternal.h"

namespace quorrel {

namespace {

thread_local ParseHooks* t_hooks = nullptr;

bool IsSpace(xmlChar c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
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

void MarkParsed(xmlNodePtr element, int nbAttributes, int nbDefaulted, int nbNamespaces,
                xmlParserCtxtPtr ctxt) {
    using namespace detail;
    setMark(element, kMarkParsed);
    int index = 0;
    for (xmlAttrPtr a = element->properties; a != nullptr; a = a->next, ++index) {
        setMark(a, kMarkParsed);
        if (index >= nbAttributes - nbDefaulted) {
            setMark(a, kMarkDefaulted);
        }
    }
    for (xmlNsPtr ns = element->nsDef; ns != nullptr; ns = ns->next) {
        setMark(ns, kMarkParsed);
    }
    // Only a DTD can supply namespace declarations, after those of the text.
    xmlDocPtr doc = ctxt->myDoc;
    bool hasDtd = doc != nullptr && (doc->intSubset != nullptr || doc->extSubset != nullptr);
    if (nbNamespaces == 0 || !hasDtd) {
        return;
    }
    int written = DeclarationsInStartTag(ctxt->input);
    if (written < 0) {
        return;
    }
    int i = 0;
    for (xmlNsPtr ns = element->nsDef; ns != nullptr; ns = ns->next, ++i) {
        if (i >= written) {
            setMark(ns, kMarkDefaulted);
        }
    }
}

}  // namespace

ParseHooks::ParseHooks(xmlParserCtxtPtr ctxt, Fail fail)
    : m_ctxt(ctxt),
      m_fail(std::move(fail)),
      m_startDocument(ctxt->sax->startDocument),
      m_startElementNs(ctxt->sax->startElementNs),
      m_cdataBlock(ctxt->sax->cdataBlock),
      m_previous(t_hooks) {
    ctxt->sax->startDocument = OnStartDocument;
    ctxt->sax->startElementNs = OnStartElementNs;
    ctxt->sax->cdataBlock = OnCDataBlock;
    t_hooks = this;
}

ParseHooks::~ParseHooks() {
    m_ctxt->sax->startDocument = m_startDocument;
    m_ctxt->sax->startElementNs = m_startElementNs;
    m_ctxt->sax->cdataBlock = m_cdataBlock;
    t_hooks = m_previous;
}

void ParseHooks::OnStartDocument(void* ctx) {
    ParseHooks* hooks = t_hooks;
    if (hooks != nullptr && hooks->m_startDocument != nullptr) {
        hooks->m_startDocument(ctx);
    }
    // The document's own declaration has been read: its encoding is ignored
    // (the text is UTF-8 already), but external entities that follow must be
    // read in the encoding their text declarations name.
    static_cast<xmlParserCtxtPtr>(ctx)->options &= ~XML_PARSE_IGNORE_ENC;
}

void ParseHooks::OnStartElementNs(void* ctx, const xmlChar* localname, const xmlChar* prefix,
                                  const xmlChar* uri, int nbNamespaces, const xmlChar** namespaces,
                                  int nbAttributes, int nbDefaulted, const xmlChar** attributes) {
    ParseHooks* hooks = t_hooks;
    if (hooks == nullptr || hooks->m_startElementNs == nullptr) {
        return;
    }
    auto ctxt = static_cast<xmlParserCtxtPtr>(ctx);
    xmlNodePtr before = ctxt->node;
    hooks->m_startElementNs(ctx, localname, prefix, uri, nbNamespaces, namespaces, nbAttributes,
                            nbDefaulted, attributes);
    xmlNodePtr element = ctxt->node;
    if (element == nullptr || element == before || element->type != XML_ELEMENT_NODE) {
        return;  // not built (out of memory, or the parse stopped)
    }
    if ((ctxt->loadsubset & XML_COMPLETE_ATTRS) == 0) {
        nbDefaulted = 0;  // defaults were not added
    }
    MarkParsed(element, nbAttributes, nbDefaulted, nbNamespaces, ctxt);
}

void ParseHooks::OnCDataBlock(void* ctx, const xmlChar* value, int len) {
    auto ctxt = static_cast<xmlParserCtxtPtr>(ctx);
    if (ctxt->node == nullptr || ctxt->disableSAX) {
        return;
    }
    // libxml2 appends a section to a CDATA section before it; each one is a node of its own here.
    xmlNodePtr section = xmlNewCDataBlock(ctxt->myDoc, value, len);
    if (section == nullptr) {
        if (ParseHooks* hooks = t_hooks; hooks != nullptr && hooks->m_fail) {
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
}

}  // namespace quorrel
