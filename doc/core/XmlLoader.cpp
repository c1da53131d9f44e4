// The entity loader: every external DTD, entity and schema a parse names
// comes through it, resolved through the system's XML catalogs, read from a
// file or fetched, or refused with the reason.
#include <libxml/catalog.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/uri.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlschemas.h>

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

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

using parse_detail::currentLine;
using parse_detail::CurrentSession;
using parse_detail::escapedPath;
using parse_detail::hasScheme;
using parse_detail::ParseSession;
using parse_detail::unescapeUri;

namespace {

// An external resource as the document names it, and where it was looked for.
struct Resource {
    std::string location;  // after the catalogs
    std::string named;     // as the document names it, when a catalog mapped it elsewhere
    bool viaCatalog = false;
};

// The parse goes on without a DTD (or a part of one) only while validation
// is off; an entity of the content, a schema, or a DTD while validating
// fails the parse.
xmlParserInputPtr refuse(xmlParserCtxtPtr ctxt, const Resource& resource, std::string reason) {
    ParseSession* session = CurrentSession();
    if (session == nullptr) {
        return nullptr;
    }
    bool dtdPart = ctxt != nullptr && ctxt->inSubset != 0;
    if (resource.viaCatalog) {
        reason += " (the XML catalog's entry for '" + resource.named + "')";
    }
    if (dtdPart && !session->options->validateOnParse) {
        session->unreadDtds.push_back(
            {resource.viaCatalog ? resource.named : resource.location, std::move(reason)});
        return nullptr;
    }
    if (!dtdPart) {
        reason += ".";
    } else if (resource.viaCatalog) {
        reason += ". With validation off the document opens without it.";
    } else {
        reason +=
            ". It is neither beside the document nor in an XML catalog; with validation off "
            "the document opens without it.";
    }
    session->recordError(currentLine(ctxt), 0, std::move(reason), XML_IO_LOAD_ERROR);
    return nullptr;
}

xmlParserInputPtr inputFromMemory(xmlParserCtxtPtr ctxt, const std::string& url,
                                  const std::string& body) {
    xmlParserInputBufferPtr buffer =
        xmlParserInputBufferCreateMem(body.data(), int(body.size()), XML_CHAR_ENCODING_NONE);
    if (buffer == nullptr) {
        return nullptr;
    }
    xmlParserInputPtr input = xmlNewIOInputStream(ctxt, buffer, XML_CHAR_ENCODING_NONE);
    if (input == nullptr) {
        xmlFreeParserInputBuffer(buffer);
        return nullptr;
    }
    input->filename = reinterpret_cast<const char*>(xmlStrdup(xstr(url.c_str())));
    return input;
}

xmlParserInputPtr loadFromNetwork(const Resource& resource, xmlParserCtxtPtr ctxt) {
    const std::string& url = resource.location;
    const LoadOptions* options = CurrentSession() ? CurrentSession()->options : nullptr;
    if (options == nullptr || !options->fetcher) {
        return refuse(
            ctxt, resource,
            "Not loading '" + url +
                "': a document that does not come from a URL never fetches from the network");
    }
    std::string body, error;
    if (!options->fetcher(url, body, error)) {
        return refuse(ctxt, resource, "Cannot load '" + url + "': " + error);
    }
    return inputFromMemory(ctxt, url, body);
}

bool catalogsAllow(const std::string& path) {
    // The catalogs' own errors are not the document's.
    ParseSession* session = CurrentSession();
    CurrentSession() = nullptr;
    bool allowed = CatalogsAllowLocalFile(path);
    CurrentSession() = session;
    return allowed;
}

xmlParserInputPtr loadFromFile(std::string path, const Resource& resource, xmlParserCtxtPtr ctxt) {
    const LoadOptions* options = CurrentSession() ? CurrentSession()->options : nullptr;
    // What the system's catalogs name are the system's DTDs: a document from
    // a URL may read those, and nothing else of this machine (checked below
    // on the file actually read).
    if (options != nullptr && options->fetcher && !resource.viaCatalog) {
        return refuse(ctxt, resource,
                      "Not loading '" + path + "': a document from a URL cannot read local files");
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        std::string unescaped = unescapeUri(path);
        if (unescaped == path || ::stat(unescaped.c_str(), &st) != 0) {
            return refuse(ctxt, resource,
                          "Cannot load '" + unescaped + "': " + std::strerror(errno));
        }
        path = unescaped;
    }
    if (options != nullptr && options->fetcher && !catalogsAllow(path)) {
        // Mapped here, but by no entry that names this file, and by no
        // rewrite that keeps it in the folder it maps to.
        return refuse(ctxt, resource,
                      "Not loading '" + path + "': a document from a URL cannot read local files");
    }
    if (S_ISDIR(st.st_mode)) {
        return refuse(ctxt, resource, "Cannot load '" + path + "': it is a directory");
    }
    if (!S_ISREG(st.st_mode)) {
        return refuse(ctxt, resource, "Cannot load '" + path + "': it is not a regular file");
    }
    // Read here rather than by libxml2, which would inflate a compressed file
    // past any limit and keep reading a file that grows.
    std::string body;
    std::string error = ReadWholeFile(path, body);
    if (!error.empty()) {
        while (!error.empty() && error.back() == '.') {
            error.pop_back();
        }
        return refuse(ctxt, resource, error);
    }
    // Named as a URI, so that relative names in it resolve beside it.
    return inputFromMemory(ctxt, escapedPath(path), body);
}

// What the system's XML catalogs (XML_CATALOG_FILES, else /etc/xml/catalog)
// map the identifiers to, as the Linux XML tools resolve them.
std::optional<std::string> resolveInCatalogs(const char* publicId, const char* url) {
    // Catalogs are read when first needed; their own errors are not the document's.
    ParseSession* session = CurrentSession();
    CurrentSession() = nullptr;
    xmlChar* mapped = xmlCatalogResolve(xstr(publicId), xstr(url));
    if (mapped == nullptr && url != nullptr) {
        mapped = xmlCatalogResolveURI(xstr(url));
    }
    CurrentSession() = session;
    if (mapped == nullptr) {
        return std::nullopt;
    }
    std::string out = str(mapped);
    xmlFree(mapped);
    return out;
}

// Every external DTD, entity and schema comes through here.
xmlParserInputPtr entityLoader(const char* url, const char* publicId, xmlParserCtxtPtr ctxt) {
    Resource resource;
    resource.named = url != nullptr ? url : "";
    resource.location = resource.named;
    // Asked with dot segments resolved, so that a rewrite's prefix matches
    // only names that stay under it.
    std::string normalised = NormalisedIdentifier(resource.named);
    if (auto mapped = resolveInCatalogs(publicId, url ? normalised.c_str() : nullptr)) {
        resource.viaCatalog = *mapped != resource.location;
        resource.location = *mapped;
        if (resource.named.empty() && publicId != nullptr) {
            resource.named = publicId;
        }
    }
    std::string location = resource.location;
    if (location.empty()) {
        return refuse(ctxt, resource, "Cannot load an external resource without a location");
    }
    if (hasScheme(location, "http") || hasScheme(location, "https")) {
        return loadFromNetwork(resource, ctxt);
    }
    if (const LoadOptions* options = CurrentSession() ? CurrentSession()->options : nullptr;
        options && options->fetcher && !resource.viaCatalog) {
        // Only http and https leave this machine; file:, a drive letter and the like would read it.
        return refuse(
            ctxt, resource,
            "Not loading '" + location + "': a document from a URL cannot read local files");
    }
    if (hasScheme(location, "file")) {
        std::string path = location.substr(5);
        if (path.starts_with("//")) {
            path = path.substr(2);  // file://host/path: only the local host is meant
            path = path.substr(std::min(path.find('/'), path.size()));
        }
        return loadFromFile(unescapeUri(path), resource, ctxt);
    }
    std::size_t colon = location.find(':');
    std::size_t slash = location.find('/');
    if (colon != std::string::npos && colon > 1 && (slash == std::string::npos || colon < slash)) {
        return refuse(ctxt, resource,
                      "Not loading '" + location + "': only files and http or https URLs are read");
    }
    if (!location.starts_with('/')) {
        location = (std::filesystem::current_path() / location).string();
    }
    return loadFromFile(location, resource, ctxt);
}

}  // namespace

namespace parse_detail {

long currentLine(xmlParserCtxtPtr ctxt) {
    return (ctxt != nullptr && ctxt->input != nullptr) ? ctxt->input->line : 0;
}

bool hasScheme(std::string_view url, std::string_view scheme) {
    if (url.size() <= scheme.size() || url[scheme.size()] != ':') {
        return false;
    }
    for (std::size_t i = 0; i < scheme.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(url[i])) != scheme[i]) {
            return false;
        }
    }
    return true;
}

// An absolute path as a URI path: a blank, '%' or '#' in a folder name would
// otherwise break the resolution of relative names against it.
std::string escapedPath(const std::string& path) {
    xmlChar* escaped = xmlURIEscapeStr(xstr(path.c_str()), xstr("/"));
    std::string out = escaped ? str(escaped) : path;
    xmlFree(escaped);
    return out;
}

void initialiseLibxml() {
    static std::once_flag once;
    std::call_once(once, [] {
        xmlInitParser();
        xmlInitializeCatalog();
        xmlSetExternalEntityLoader(entityLoader);
    });
}

}  // namespace parse_detail

}  // namespace quorrel
