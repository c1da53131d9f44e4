// What the parser must refuse so that loading stays quick, no walk over the
// tree can exhaust the stack, and every loaded document can be written back
// as text that parses again. libxml2 2.9 spends quadratic time on the
// attributes of one element, and limits nesting only within one entity.
#pragma once

#include <libxml/parser.h>

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace quorrel {

constexpr std::size_t kMaxAttributesPerElement = 10000;
// Below the document element, as libxml2 counts within one entity.
constexpr std::size_t kMaxElementDepth = 256;

struct LimitBreach {
    long line = 0;
    std::string reason;
};

// The first start tag in the text with more than kMaxAttributesPerElement
// attributes. One pass, whatever the text holds.
std::optional<LimitBreach> FindCrowdedStartTag(std::string_view text);

// The first element nested more than kMaxElementDepth levels below root,
// which entities can build past the parser's own limit.
std::optional<LimitBreach> FindTooDeepElement(xmlNodePtr root);

// Watches the DTD declarations of one parse (internal and external subsets)
// and stops the parser at an entity value with a crowded start tag, an
// element with too many default attributes, or a default attribute whose
// name is not a qualified name (it could not be written back). The hooks go
// into the context's own SAX handler and are taken out again on destruction.
class ParseGuard {
public:
    using Refuse = std::function<void(long line, std::string reason)>;
    ParseGuard(xmlParserCtxtPtr ctxt, Refuse refuse);
    ~ParseGuard();
    ParseGuard(const ParseGuard&) = delete;
    ParseGuard& operator=(const ParseGuard&) = delete;

private:
    static void OnEntityDecl(void* ctx, const xmlChar* name, int type, const xmlChar* publicId,
                             const xmlChar* systemId, xmlChar* content);
    static void OnAttributeDecl(void* ctx, const xmlChar* element, const xmlChar* name, int type,
                                int def, const xmlChar* defaultValue, xmlEnumerationPtr tree);
    void Stop(xmlParserCtxtPtr ctxt, std::string reason);

    xmlParserCtxtPtr m_ctxt;
    Refuse m_refuse;
    entityDeclSAXFunc m_entityDecl;
    attributeDeclSAXFunc m_attributeDecl;
    ParseGuard* m_previous;
    std::unordered_map<std::string, std::size_t>
        m_defaults;  // element name -> defaulted attributes
};

}  // namespace quorrel
