// XML Schema validation against the schemas a document names in its
// xsi:schemaLocation and xsi:noNamespaceSchemaLocation attributes.
#include <libxml/catalog.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/uri.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlschemas.h>

#include <cstring>
#include <string>
#include <vector>

#include "doc/core/FileCodec.h"
#include "doc/core/ParseHooks.h"
#include "doc/core/ParseLimits.h"
#include "doc/core/XmlCatalogs.h"
#include "doc/core/XmlDom.h"
#include "doc/core/XmlDomInternal.h"
#include "doc/core/XmlParseInternal.h"

namespace quorrel {

using detail::str;
using detail::xstr;

using parse_detail::onStructuredError;
using parse_detail::ParseSession;

namespace {

constexpr const char* kXsiNamespace = "http://www.w3.org/2001/XMLSchema-instance";

struct SchemaLocation {
    std::string ns;  // empty for noNamespaceSchemaLocation
    std::string location;
};

std::vector<SchemaLocation> schemaLocations(xmlDocPtr doc) {
    std::vector<SchemaLocation> out;
    auto add = [&](std::string ns, std::string loc) {
        for (const auto& s : out) {
            if (s.ns == ns && s.location == loc) {
                return;
            }
        }
        out.push_back({std::move(ns), std::move(loc)});
    };
    detail::walkTree(
        xmlDocGetRootElement(doc),
        [&](xmlNodePtr n) {
            if (n->type != XML_ELEMENT_NODE) {
                return false;
            }
            for (xmlAttrPtr a = n->properties; a != nullptr; a = a->next) {
                if (a->ns == nullptr || a->ns->href == nullptr ||
                    std::strcmp(str(a->ns->href), kXsiNamespace) != 0) {
                    continue;
                }
                std::string value = detail::attributeValue(a);
                if (std::strcmp(str(a->name), "noNamespaceSchemaLocation") == 0) {
                    add("", value);
                } else if (std::strcmp(str(a->name), "schemaLocation") == 0) {
                    std::vector<std::string> tokens;
                    std::size_t p = 0;
                    while (p < value.size()) {
                        std::size_t start = value.find_first_not_of(" \t\r\n", p);
                        if (start == std::string::npos) {
                            break;
                        }
                        std::size_t end = value.find_first_of(" \t\r\n", start);
                        tokens.push_back(value.substr(start, end - start));
                        p = end == std::string::npos ? value.size() : end;
                    }
                    for (std::size_t i = 0; i + 1 < tokens.size(); i += 2) {
                        add(tokens[i], tokens[i + 1]);
                    }
                }
            }
            return true;
        },
        [](xmlNodePtr) {});
    return out;
}

std::string resolveAgainst(const std::string& location, const xmlChar* base) {
    xmlChar* built = xmlBuildURI(xstr(location.c_str()), base);
    std::string out = built ? str(built) : location;
    xmlFree(built);
    return out;
}

std::string escapeAttribute(const std::string& s) {
    std::string out;
    for (char c : s) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

}  // namespace

namespace parse_detail {

// Validates against the schemas the document names; records the first failure.
void validateAgainstSchemas(xmlDocPtr doc, ParseSession& session) {
    std::vector<SchemaLocation> locations = schemaLocations(doc);
    if (locations.empty()) {
        return;
    }
    xmlSchemaParserCtxtPtr parserCtxt = nullptr;
    std::string wrapper;
    if (locations.size() == 1 && locations[0].ns.empty()) {
        parserCtxt =
            xmlSchemaNewParserCtxt(resolveAgainst(locations[0].location, doc->URL).c_str());
    } else {
        // Several schemas (or a namespaced one) are combined by a small schema of our own.
        wrapper = "<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\">";
        for (const auto& l : locations) {
            std::string url = escapeAttribute(resolveAgainst(l.location, doc->URL));
            if (l.ns.empty()) {
                wrapper += "<xs:include schemaLocation=\"" + url + "\"/>";
            } else {
                wrapper += "<xs:import namespace=\"" + escapeAttribute(l.ns) +
                           "\" schemaLocation=\"" + url + "\"/>";
            }
        }
        wrapper += "</xs:schema>";
        parserCtxt = xmlSchemaNewMemParserCtxt(wrapper.data(), int(wrapper.size()));
    }
    if (parserCtxt == nullptr) {
        session.recordError(1, 0, "Cannot read the XML Schema named by the document.", 0);
        return;
    }
    xmlSchemaSetParserStructuredErrors(parserCtxt, onStructuredError, nullptr);
    xmlSchemaPtr schema = xmlSchemaParse(parserCtxt);
    xmlSchemaFreeParserCtxt(parserCtxt);
    if (schema == nullptr || session.firstError) {
        session.recordError(1, 0, "Cannot load the XML Schema '" + locations[0].location + "'.", 0);
        if (schema != nullptr) {
            xmlSchemaFree(schema);
        }
        return;
    }
    xmlSchemaValidCtxtPtr validCtxt = xmlSchemaNewValidCtxt(schema);
    xmlSchemaSetValidStructuredErrors(validCtxt, onStructuredError, nullptr);
    int rc = xmlSchemaValidateDoc(validCtxt, doc);
    xmlSchemaFreeValidCtxt(validCtxt);
    xmlSchemaFree(schema);
    if (rc != 0) {
        session.recordError(1, 0, "The document is not valid against its XML Schema.", rc);
    }
}

}  // namespace parse_detail

}  // namespace quorrel
