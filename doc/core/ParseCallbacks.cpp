// The SAX callbacks the parse hooks put into the parser's handler: each
// calls the saved handler and records what the editor needs of the node.
#include <libxml/SAX2.h>
#include <libxml/parserInternals.h>
#include <libxml/valid.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "doc/core/ParseHooks.h"
#include "doc/core/ParseHooksInternal.h"
#include "doc/core/XmlDomInternal.h"

using quorrel::detail::str;

namespace quorrel {

using hooks_detail::Free;
using hooks_detail::HasDtd;
using hooks_detail::IsSpace;
using hooks_detail::t_hooks;

namespace {

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

}  // namespace

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
