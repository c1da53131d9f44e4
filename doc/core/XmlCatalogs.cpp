#include "doc/core/XmlCatalogs.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/uri.h>

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <memory>
#include <set>
#include <vector>

#include "doc/core/FileCodec.h"

namespace quorrel {

namespace {

namespace fs = std::filesystem;

constexpr const char* kCatalogNamespace = "urn:oasis:names:tc:entity:xmlns:xml:catalog";
constexpr std::size_t kMaxCatalogs = 256;  // a loop of delegations ends somewhere

std::string Unescaped(const std::string& text) {
    char* raw = xmlURIUnescapeString(text.c_str(), 0, nullptr);
    std::string out = raw ? raw : text;
    xmlFree(raw);
    return out;
}

// RFC 3986 5.2.4: "." and ".." segments go; ".." never climbs above the root.
std::string RemoveDotSegments(std::string_view path) {
    if (path.empty()) {
        return {};
    }
    const bool absolute = path.starts_with('/');
    std::vector<std::string_view> kept;
    bool trailingSlash = false;
    std::size_t start = absolute ? 1 : 0;
    while (start <= path.size()) {
        std::size_t end = std::min(path.find('/', start), path.size());
        std::string_view segment = path.substr(start, end - start);
        bool last = end == path.size();
        if (segment == "..") {
            if (!kept.empty()) {
                kept.pop_back();
            }
        } else if (segment != "." && !(last && segment.empty())) {
            kept.push_back(segment);
        }
        trailingSlash = last && (segment.empty() || segment == "." || segment == "..");
        start = end + 1;
    }
    std::string out = absolute ? "/" : "";
    for (std::size_t i = 0; i < kept.size(); ++i) {
        out += (i ? "/" : "") + std::string(kept[i]);
    }
    if (trailingSlash && !out.ends_with('/')) {
        out += '/';
    }
    return out;
}

// The length of a leading "scheme:", or 0.
std::size_t SchemeLength(std::string_view s) {
    if (s.empty() || !std::isalpha(static_cast<unsigned char>(s[0]))) {
        return 0;
    }
    for (std::size_t i = 1; i < s.size(); ++i) {
        char c = s[i];
        if (c == ':') {
            return i + 1;
        }
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') {
            return 0;
        }
    }
    return 0;
}

// A file: URI or a path as a path of this machine; empty for other URLs.
std::string LocalPath(const std::string& location) {
    std::size_t scheme = SchemeLength(location);
    if (scheme == 0) {
        return location;
    }
    if (scheme != 5 || strncasecmp(location.c_str(), "file:", 5) != 0) {
        return {};
    }
    std::string path = location.substr(5);
    if (path.starts_with("//")) {
        path = path.substr(std::min(path.find('/', 2), path.size()));  // only the local host
    }
    return Unescaped(path);
}

// The path with symbolic links and dot segments resolved, or empty when it is not there.
std::string RealPath(const std::string& path) {
    std::error_code ec;
    fs::path real = fs::canonical(path, ec);
    return ec ? std::string() : real.string();
}

struct CatalogTargets {
    std::set<std::string> files;       // named by exact entries
    std::vector<std::string> folders;  // that rewrites map into
};

std::string Attribute(xmlNodePtr node, const char* name) {
    xmlChar* value = xmlGetProp(node, reinterpret_cast<const xmlChar*>(name));
    std::string out = value ? reinterpret_cast<const char*>(value) : "";
    xmlFree(value);
    return out;
}

// The attribute resolved against the entry's base (xml:base or the catalog's location).
std::string ResolvedAttribute(xmlDocPtr doc, xmlNodePtr node, const char* name) {
    std::string value = Attribute(node, name);
    if (value.empty()) {
        return {};
    }
    xmlChar* base = xmlNodeGetBase(doc, node);
    xmlChar* built = xmlBuildURI(reinterpret_cast<const xmlChar*>(value.c_str()), base);
    std::string out = built ? reinterpret_cast<const char*>(built) : value;
    xmlFree(built);
    xmlFree(base);
    return out;
}

void AddEntry(xmlDocPtr doc, xmlNodePtr node, CatalogTargets& targets,
              std::deque<std::string>& pending) {
    const std::string_view name = reinterpret_cast<const char*>(node->name);
    if (name == "system" || name == "public" || name == "uri" || name == "systemSuffix" ||
        name == "uriSuffix") {
        if (std::string real = RealPath(LocalPath(ResolvedAttribute(doc, node, "uri")));
            !real.empty()) {
            targets.files.insert(real);
        }
    } else if (name == "rewriteSystem" || name == "rewriteURI") {
        std::string prefix = LocalPath(ResolvedAttribute(doc, node, "rewritePrefix"));
        if (prefix.empty()) {
            return;
        }
        // A prefix that ends inside a file name keeps the names in its folder.
        std::string folder =
            prefix.ends_with('/') ? prefix : fs::path(prefix).parent_path().string();
        if (std::string real = RealPath(folder); !real.empty()) {
            targets.folders.push_back(real);
        }
    } else if (name == "delegatePublic" || name == "delegateSystem" || name == "delegateURI" ||
               name == "nextCatalog") {
        if (std::string catalog = ResolvedAttribute(doc, node, "catalog"); !catalog.empty()) {
            pending.push_back(catalog);
        }
    }
}

void ReadCatalog(const std::string& location, CatalogTargets& targets,
                 std::deque<std::string>& pending) {
    std::string path = LocalPath(location);
    std::string bytes;
    if (path.empty() || !ReadWholeFile(path, bytes).empty()) {
        return;  // one that cannot be read adds nothing, as for libxml2
    }
    std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)> doc(
        xmlReadMemory(bytes.data(), int(bytes.size()), location.c_str(), nullptr,
                      XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING),
        xmlFreeDoc);
    if (!doc) {
        return;
    }
    std::vector<xmlNodePtr> nodes{xmlDocGetRootElement(doc.get())};
    while (!nodes.empty()) {
        xmlNodePtr node = nodes.back();
        nodes.pop_back();
        if (node == nullptr || node->type != XML_ELEMENT_NODE || node->ns == nullptr ||
            std::strcmp(reinterpret_cast<const char*>(node->ns->href), kCatalogNamespace) != 0) {
            continue;
        }
        AddEntry(doc.get(), node, targets, pending);
        for (xmlNodePtr child = node->children; child != nullptr; child = child->next) {
            nodes.push_back(child);  // entries inside group
        }
    }
}

CatalogTargets ReadCatalogs() {
    CatalogTargets targets;
    const char* list = std::getenv("XML_CATALOG_FILES");
    std::deque<std::string> pending;
    std::string all = list ? list : "file:///etc/xml/catalog";
    for (std::size_t at = 0; at < all.size();) {
        std::size_t start = all.find_first_not_of(" \t\r\n", at);
        if (start == std::string::npos) {
            break;
        }
        std::size_t end = std::min(all.find_first_of(" \t\r\n", start), all.size());
        pending.push_back(all.substr(start, end - start));
        at = end;
    }
    std::set<std::string> seen;
    while (!pending.empty() && seen.size() < kMaxCatalogs) {
        std::string next = std::move(pending.front());
        pending.pop_front();
        if (seen.insert(next).second) {
            ReadCatalog(next, targets, pending);
        }
    }
    return targets;
}

bool Inside(const std::string& path, const std::string& folder) {
    return path.starts_with(folder) &&
           (folder.ends_with('/') || (path.size() > folder.size() && path[folder.size()] == '/'));
}

}  // namespace

std::string NormalisedIdentifier(std::string_view identifier) {
    std::string id(identifier);
    std::size_t scheme = SchemeLength(id);
    if (scheme == 0 ? !id.starts_with('/') : id.compare(scheme, 1, "/") != 0) {
        return id;  // a public identifier, a URN, a relative name
    }
    std::string decoded = Unescaped(id);
    std::size_t path = scheme;
    if (decoded.compare(scheme, 2, "//") == 0) {
        path = std::min(decoded.find_first_of("/?#", scheme + 2), decoded.size());
    }
    std::size_t end = std::min(decoded.find_first_of("?#", path), decoded.size());
    return decoded.substr(0, path) + RemoveDotSegments(decoded.substr(path, end - path)) +
           decoded.substr(end);
}

bool CatalogsAllowLocalFile(const std::string& path) {
    static const CatalogTargets targets = ReadCatalogs();
    std::string real = RealPath(path);
    if (real.empty()) {
        return false;
    }
    if (targets.files.contains(real)) {
        return true;
    }
    for (const std::string& folder : targets.folders) {
        if (Inside(real, folder)) {
            return true;
        }
    }
    return false;
}

}  // namespace quorrel
