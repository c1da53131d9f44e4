// What the editor needs from a parse beyond libxml2's own tree: which
// attributes and namespace declarations the DTD supplied, adjacent CDATA
// sections kept apart, and external entities read in the encoding they
// declare. The hooks go into the context's own SAX handler and are taken out
// again on destruction.
#pragma once

#include <libxml/parser.h>

#include <functional>
#include <string>

namespace quorrel {

class ParseHooks {
public:
    // fail: how the parse reports what ends it here (out of memory).
    using Fail = std::function<void(long line, std::string reason)>;
    ParseHooks(xmlParserCtxtPtr ctxt, Fail fail);
    ~ParseHooks();
    ParseHooks(const ParseHooks&) = delete;
    ParseHooks& operator=(const ParseHooks&) = delete;

private:
    static void OnStartDocument(void* ctx);
    static void OnStartElementNs(void* ctx, const xmlChar* localname, const xmlChar* prefix,
                                 const xmlChar* uri, int nbNamespaces, const xmlChar** namespaces,
                                 int nbAttributes, int nbDefaulted, const xmlChar** attributes);
    static void OnCDataBlock(void* ctx, const xmlChar* value, int len);

    xmlParserCtxtPtr m_ctxt;
    Fail m_fail;
    startDocumentSAXFunc m_startDocument;
    startElementNsSAX2Func m_startElementNs;
    cdataBlockSAXFunc m_cdataBlock;
    ParseHooks* m_previous;
};

}  // namespace quorrel
