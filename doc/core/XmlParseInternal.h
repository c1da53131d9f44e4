// Shared by the loading code (XmlParse.cpp, XmlLoader.cpp,
// XmlSchemaCheck.cpp); not for callers.
#pragma once

#include <libxml/parser.h>
#include <libxml/xmlerror.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "doc/core/XmlDom.h"

namespace quorrel::parse_detail {

// A DTD the parse went on without (validation off).
struct UnreadDtd {
    std::string location;
    std::string why;
};

// What one parse needs to know inside libxml2's callbacks.
struct ParseSession {
    const LoadOptions* options = nullptr;
    std::string baseUrl;
    std::optional<ParseError> firstError;
    std::vector<UnreadDtd> unreadDtds;

    void recordError(long line, long column, std::string reason, int code) {
        if (!firstError) {
            firstError = ParseError{line, column, std::move(reason), code};
        }
    }
};

// The parse under way on this thread, for libxml2's callbacks.
ParseSession*& CurrentSession();

std::string unescapeUri(const std::string& s);
// Records libxml2's errors in the session (warnings are not failures).
void onStructuredError(void*, xmlErrorPtr e);

long currentLine(xmlParserCtxtPtr ctxt);
bool hasScheme(std::string_view url, std::string_view scheme);
// An absolute path as a URI path: a blank, '%' or '#' in a folder name would
// otherwise break the resolution of relative names against it.
std::string escapedPath(const std::string& path);
// Sets libxml2 up once, with the entity loader.
void initialiseLibxml();

// Validates against the schemas the document names; records the first failure.
void validateAgainstSchemas(xmlDocPtr doc, ParseSession& session);

}  // namespace quorrel::parse_detail
