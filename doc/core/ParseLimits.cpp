#include "doc/core/ParseLimits.h"

#include <libxml/parserInternals.h>
#include <libxml/tree.h>

#include <cstring>

#include "doc/core/XmlDomInternal.h"

namespace quorrel {

using detail::str;

namespace {

thread_local ParseGuard* t_guard = nullptr;

bool IsNameStart(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' || c >= 0x80;
}

std::string TagName(std::string_view text, std::size_t at) {
    std::size_t end = at;
    while (end < text.size() && end - at < 64 && text[end] != ' ' && text[end] != '\t' &&
           text[end] != '\r' && text[end] != '\n' && text[end] != '/' && text[end] != '>') {
        ++end;
    }
    return std::string(text.substr(at, end - at));
}

}  // namespace

long LineAt(std::string_view text, std::size_t offset) {
    long line = 1;
    for (std::size_t i = 0; i < offset; ++i) {
        if (text[i] == '\n' || (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n'))) {
            ++line;
        }
    }
    return line;
}

std::optional<LimitBreach> FindCrowdedStartTag(std::string_view text) {
    // Between '<' and '>' every attribute value is one quoted string; a '<'
    // inside a tag starts counting afresh, so each byte is looked at once.
    const char* p = text.data();
    const char* end = p + text.size();
    while (p < end) {
        p = static_cast<const char*>(std::memchr(p, '<', std::size_t(end - p)));
        if (p == nullptr || p + 1 >= end) {
            return std::nullopt;
        }
        ++p;
        if (!IsNameStart(static_cast<unsigned char>(*p))) {
            continue;
        }
        const char* name = p;
        std::size_t count = 0;
        while (p < end && *p != '>' && *p != '<') {
            if (*p == '"' || *p == '\'') {
                if (++count > kMaxAttributesPerElement) {
                    std::size_t at = std::size_t(name - text.data());
                    return LimitBreach{LineAt(text, at - 1),
                                       "The element '" + TagName(text, at) + "' has more than " +
                                           std::to_string(kMaxAttributesPerElement) +
                                           " attributes, more than Quorrel can load"};
                }
                const char* close =
                    static_cast<const char*>(std::memchr(p + 1, *p, std::size_t(end - p - 1)));
                p = close == nullptr ? end : close + 1;
                continue;
            }
            ++p;
        }
    }
    return std::nullopt;
}

std::optional<LimitBreach> FindTooDeepElement(xmlNodePtr root) {
    std::size_t depth = 0;
    xmlNodePtr found = nullptr;
    detail::walkTree(
        root,
        [&](xmlNodePtr n) {
            if (found != nullptr || n->type != XML_ELEMENT_NODE) {
                return false;
            }
            if (depth > kMaxElementDepth) {
                found = n;
                return false;
            }
            ++depth;
            return true;
        },
        [&](xmlNodePtr n) {
            if (found == nullptr && n->type == XML_ELEMENT_NODE) {
                --depth;
            }
        });
    if (found == nullptr) {
        return std::nullopt;
    }
    return LimitBreach{xmlGetLineNo(found),
                       "Excessive depth in document: elements are nested more than " +
                           std::to_string(kMaxElementDepth) + " levels deep"};
}

ParseGuard::ParseGuard(xmlParserCtxtPtr ctxt, Refuse refuse)
    : m_ctxt(ctxt),
      m_refuse(std::move(refuse)),
      m_entityDecl(ctxt->sax->entityDecl),
      m_attributeDecl(ctxt->sax->attributeDecl),
      m_previous(t_guard) {
    ctxt->sax->entityDecl = OnEntityDecl;
    ctxt->sax->attributeDecl = OnAttributeDecl;
    t_guard = this;
}

ParseGuard::~ParseGuard() {
    m_ctxt->sax->entityDecl = m_entityDecl;
    m_ctxt->sax->attributeDecl = m_attributeDecl;
    t_guard = m_previous;
}

void ParseGuard::Stop(xmlParserCtxtPtr ctxt, std::string reason) {
    m_refuse(ctxt->input != nullptr ? ctxt->input->line : 0, std::move(reason));
    xmlStopParser(ctxt);
}

void ParseGuard::OnEntityDecl(void* ctx, const xmlChar* name, int type, const xmlChar* publicId,
                              const xmlChar* systemId, xmlChar* content) {
    ParseGuard* guard = t_guard;
    if (guard == nullptr) {
        return;
    }
    if (guard->m_entityDecl != nullptr) {
        guard->m_entityDecl(ctx, name, type, publicId, systemId, content);
    }
    // The value is the replacement text: character references are expanded already.
    if (content != nullptr) {
        if (auto breach = FindCrowdedStartTag(str(content))) {
            guard->Stop(static_cast<xmlParserCtxtPtr>(ctx),
                        "In the entity '" + std::string(str(name)) + "': " + breach->reason);
        }
    }
}

void ParseGuard::OnAttributeDecl(void* ctx, const xmlChar* element, const xmlChar* name, int type,
                                 int def, const xmlChar* defaultValue, xmlEnumerationPtr tree) {
    ParseGuard* guard = t_guard;
    if (guard == nullptr) {
        xmlFreeEnumeration(tree);
        return;
    }
    if (guard->m_attributeDecl != nullptr) {
        guard->m_attributeDecl(ctx, element, name, type, def, defaultValue,
                               tree);  // takes the tree
    } else {
        xmlFreeEnumeration(tree);
    }
    if (defaultValue == nullptr || element == nullptr || name == nullptr) {
        return;  // only defaults end up in the document
    }
    auto ctxt = static_cast<xmlParserCtxtPtr>(ctx);
    const std::string elementName = str(element);
    if (xmlValidateQName(name, 0) != 0) {
        guard->Stop(ctxt, "The DTD gives the element '" + elementName +
                              "' a default attribute named '" + str(name) +
                              "', which is not a valid qualified name");
    } else if (++guard->m_defaults[elementName] > kMaxAttributesPerElement) {
        guard->Stop(ctxt, "The DTD gives the element '" + elementName + "' more than " +
                              std::to_string(kMaxAttributesPerElement) + " default attributes");
    }
}

}  // namespace quorrel
