// Loading: the parse, the whitespace pass that gives the tree the shape the
// editor expects, and the errors the parser reports. The entity and DTD
// loader is in XmlLoader.cpp, the XML Schema validation in XmlSchemaCheck.cpp.
#include <libxml/catalog.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/uri.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlschemas.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <unordered_map>

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
using parse_detail::initialiseLibxml;
using parse_detail::onStructuredError;
using parse_detail::ParseSession;
using parse_detail::UnreadDtd;
using parse_detail::validateAgainstSchemas;

namespace {

std::string trimmed(const char* message) {
    std::string s = message ? message : "";
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) {
        s.pop_back();
    }
    return s;
}

}  // namespace

namespace parse_detail {

ParseSession*& CurrentSession() {
    static thread_local ParseSession* session = nullptr;
    return session;
}

std::string unescapeUri(const std::string& s) {
    char* raw = xmlURIUnescapeString(s.c_str(), 0, nullptr);
    std::string out = raw ? raw : s;
    xmlFree(raw);
    return out;
}

void onStructuredError(void*, xmlErrorPtr e) {
    ParseSession* session = CurrentSession();
    if (session == nullptr || e == nullptr || e->level < XML_ERR_ERROR) {
        return;  // warnings are not failures
    }
    if (e->code == XML_DTD_NO_DTD) {
        return;  // nothing to validate against
    }
    if (e->domain == XML_FROM_VALID && session->options != nullptr &&
        !session->options->validateOnParse) {
        return;  // validity (duplicate IDs and the like) is what validation off leaves aside
    }
    std::string reason = trimmed(e->message);
    if (reason.starts_with("Excessive depth in document")) {
        // The parser's text names an option the user cannot set.
        reason = "Excessive depth in document: elements are nested more than " +
                 std::to_string(kMaxElementDepth) + " levels deep";
    }
    if ((e->code == XML_WAR_UNDECLARED_ENTITY || e->code == XML_ERR_UNDECLARED_ENTITY) &&
        !session->unreadDtds.empty()) {
        reason += " (the DTD '" + session->unreadDtds.front().location +
                  "', which could declare it, was not read)";
    }
    if (e->file != nullptr && session->baseUrl != e->file) {
        reason += " [in " + unescapeUri(e->file) + "]";
    }
    session->recordError(e->line, e->int2, std::move(reason), e->code);
}

}  // namespace parse_detail

namespace {

// Installs the error handlers for one parse and restores them afterwards.
class SessionScope {
public:
    explicit SessionScope(ParseSession* session) : m_previous(CurrentSession()) {
        CurrentSession() = session;
        xmlSetStructuredErrorFunc(nullptr, onStructuredError);
    }
    ~SessionScope() {
        CurrentSession() = m_previous;
        xmlSetStructuredErrorFunc(nullptr, nullptr);
    }
    SessionScope(const SessionScope&) = delete;
    SessionScope& operator=(const SessionScope&) = delete;

private:
    ParseSession* m_previous;
};

// The base as a URI: libxml2 cannot resolve against a path holding a blank,
// '%' or '#' and would pass relative names on unresolved. The loader unescapes.
std::string absoluteBase(const std::string& baseUrl) {
    if (hasScheme(baseUrl, "http") || hasScheme(baseUrl, "https")) {
        return baseUrl;
    }
    std::string path = baseUrl;
    if (baseUrl.empty()) {
        path = (std::filesystem::current_path() / "").string();
    } else if (!baseUrl.starts_with('/')) {
        path = std::filesystem::absolute(baseUrl).string();
    }
    return escapedPath(path);
}

// The XML declaration's pseudo-attribute, read from the text itself since
// the parser is told to ignore the declared encoding.
std::string declarationValue(std::string_view decl, std::string_view name) {
    std::size_t at = 0;
    while ((at = decl.find(name, at)) != std::string_view::npos) {
        std::size_t p = at + name.size();
        while (p < decl.size() &&
               (decl[p] == ' ' || decl[p] == '\t' || decl[p] == '\r' || decl[p] == '\n')) {
            ++p;
        }
        if (p < decl.size() && decl[p] == '=') {
            ++p;
            while (p < decl.size() &&
                   (decl[p] == ' ' || decl[p] == '\t' || decl[p] == '\r' || decl[p] == '\n')) {
                ++p;
            }
            if (p < decl.size() && (decl[p] == '"' || decl[p] == '\'')) {
                std::size_t end = decl.find(decl[p], p + 1);
                if (end != std::string_view::npos) {
                    return std::string(decl.substr(p + 1, end - p - 1));
                }
            }
        }
        at += name.size();
    }
    return {};
}

std::string declaredEncoding(std::string_view text) {
    if (!text.starts_with("<?xml")) {
        return {};
    }
    std::size_t end = text.find("?>");
    if (end == std::string_view::npos) {
        return {};
    }
    return declarationValue(text.substr(0, end), "encoding");
}

// Drops text nodes made only of blanks, tabs, CR and LF, except in
// xml:space="preserve" scope.
void dropWhitespaceText(xmlNodePtr root) {
    std::vector<bool> preserve{false};
    detail::walkTree(
        root,
        [&](xmlNodePtr n) {
            if (n->type != XML_ELEMENT_NODE) {
                return false;
            }
            int space = detail::xmlSpaceOf(n);
            bool keep = space == 1 || (space == -1 && preserve.back());
            preserve.push_back(keep);
            if (!keep) {
                for (xmlNodePtr c = n->children; c != nullptr;) {
                    xmlNodePtr next = c->next;
                    if (c->type == XML_TEXT_NODE && detail::isBlank(c->content)) {
                        xmlUnlinkNode(c);
                        xmlFreeNode(c);
                    }
                    c = next;
                }
            }
            return true;
        },
        [&](xmlNodePtr n) {
            if (n->type == XML_ELEMENT_NODE) {
                preserve.pop_back();
            }
        });
}

}  // namespace

namespace detail {

std::optional<TextSpan> findDoctype(std::string_view text) {
    auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    std::size_t p = text.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    // The prolog: the declaration, comments, processing instructions, blanks.
    for (;;) {
        while (p < text.size() && isSpace(text[p])) {
            ++p;
        }
        std::string_view rest = text.substr(p);
        std::size_t end = std::string_view::npos;
        if (rest.starts_with("<?")) {
            end = rest.find("?>");
            end = end == std::string_view::npos ? end : end + 2;
        } else if (rest.starts_with("<!--")) {
            end = rest.find("-->", 4);
            end = end == std::string_view::npos ? end : end + 3;
        } else if (rest.starts_with("<!DOCTYPE")) {
            break;
        } else {
            return std::nullopt;
        }
        if (end == std::string_view::npos) {
            return std::nullopt;
        }
        p += end;
    }
    const std::size_t begin = p;
    // Quoted literals may hold '[', ']' and '>'; so may comments and
    // processing instructions inside the internal subset.
    bool inSubset = false;
    for (p += 9; p < text.size(); ++p) {
        char c = text[p];
        std::string_view rest = text.substr(p);
        std::size_t skip = std::string_view::npos;
        if (c == '"' || c == '\'') {
            skip = rest.find(c, 1);
        } else if (inSubset && rest.starts_with("<!--")) {
            skip = rest.find("-->", 4);
            skip = skip == std::string_view::npos ? skip : skip + 2;
        } else if (inSubset && rest.starts_with("<?")) {
            skip = rest.find("?>", 2);
            skip = skip == std::string_view::npos ? skip : skip + 1;
        } else if (c == '[' && !inSubset) {
            inSubset = true;
            continue;
        } else if (c == ']' && inSubset) {
            inSubset = false;
            continue;
        } else if (c == '>' && !inSubset) {
            return TextSpan{begin, p + 1};
        } else {
            continue;
        }
        if (skip == std::string_view::npos) {
            return std::nullopt;
        }
        p += skip;
    }
    return std::nullopt;
}

}  // namespace detail

namespace {

// Hands the text to the parser a chunk at a time.
struct TextReader {
    std::string_view left;
    static int Read(void* context, char* buffer, int size) {
        auto* reader = static_cast<TextReader*>(context);
        std::size_t n = std::min(reader->left.size(), std::size_t(std::max(size, 0)));
        std::memcpy(buffer, reader->left.data(), n);
        reader->left.remove_prefix(n);
        return int(n);
    }
};

struct CtxtDeleter {
    void operator()(xmlParserCtxtPtr c) const { xmlFreeParserCtxt(c); }
};

}  // namespace

bool XmlDocument::loadXML(std::string_view utf8Text, const LoadOptions& options) {
    return parse(utf8Text, true, options);
}

bool XmlDocument::loadBytes(std::string_view bytes, const LoadOptions& options) {
    return parse(bytes, false, options);
}

bool XmlDocument::parse(std::string_view data, bool isUtf8Text, const LoadOptions& options) {
    initialiseLibxml();
    reset();
    ParseSession session;
    session.options = &options;
    session.baseUrl = absoluteBase(options.baseUrl);
    SessionScope scope(&session);

    xmlDocPtr doc = nullptr;
    bool blankTextMayRemain = true;
    bool namesSchemas = false;
    bool told = false;  // the nodes went to options.shownNodes
    std::unordered_map<const xmlNode*, std::uint32_t> textEnds;
    // Wide encodings are looked at as text; the others hold ASCII markup as is.
    std::string decoded;
    if (!isUtf8Text && data.size() > 1 &&
        (data[0] == 0 || data[1] == 0 || data.starts_with("\xFE\xFF") ||
         data.starts_with("\xFF\xFE"))) {
        decoded = DecodeFileBytes(data).text;
    }
    std::optional<LimitBreach> crowded = FindCrowdedStartTag(decoded.empty() ? data : decoded);
    if (data.size() > std::size_t(INT_MAX)) {
        session.recordError(1, 0, "The document is larger than 2 GB.", 0);
    } else if (crowded) {
        session.recordError(crowded->line, 0, crowded->reason, 0);
    } else {
        std::unique_ptr<xmlParserCtxt, CtxtDeleter> ctxt(xmlNewParserCtxt());
        if (!ctxt) {
            throw std::bad_alloc();
        }
        ctxt->sax->serror = onStructuredError;
        // COMPACT keeps short texts inside their nodes: a node and a malloc less each.
        int flags = XML_PARSE_DTDLOAD | XML_PARSE_DTDATTR | XML_PARSE_NOENT | XML_PARSE_BIG_LINES |
                    XML_PARSE_COMPACT;
        if (options.validateOnParse) {
            flags |= XML_PARSE_DTDVALID;
        }
        if (isUtf8Text) {
            flags |= XML_PARSE_IGNORE_ENC;
        }
        ParseGuard guard(ctxt.get(), [&session](long line, std::string reason) {
            session.recordError(line, 0, std::move(reason), 0);
        });
        ParseHooks hooks(
            ctxt.get(),
            [&session](long line, std::string reason) {
                session.recordError(line, 0, std::move(reason), XML_ERR_NO_MEMORY);
            },
            options.dropBlankTextWhileParsing, options.buildTree ? options.shownNodes : nullptr,
            isUtf8Text && options.buildTree ? data : std::string_view());
        if (!options.buildTree) {
            // Content goes nowhere; the declarations still go into the document.
            xmlSAXHandler& sax = *ctxt->sax;
            sax.startElementNs = nullptr;
            sax.endElementNs = nullptr;
            sax.characters = nullptr;
            sax.ignorableWhitespace = nullptr;
            sax.cdataBlock = nullptr;
            sax.comment = nullptr;
            sax.processingInstruction = nullptr;
            sax.reference = nullptr;
        }
        // Read through a callback rather than from memory: libxml2 would copy
        // the whole text into its own buffer first.
        TextReader reader{data};
        doc = xmlCtxtReadIO(ctxt.get(), TextReader::Read, nullptr, &reader, session.baseUrl.c_str(),
                            nullptr, flags);
        if (!session.firstError && (doc == nullptr || !ctxt->wellFormed)) {
            session.recordError(currentLine(ctxt.get()), 0, "The document is not well-formed.", 0);
        }
        blankTextMayRemain = hooks.BlankTextMayRemain();
        namesSchemas = hooks.NamesSchemas();
        told = hooks.Told();
        textEnds = hooks.TakeTextEnds();
    }
    // Only entities can nest elements past the parser's own depth limit, and
    // only a DTD declares entities: without one the walk over the tree is spared.
    bool mayHaveEntities =
        doc != nullptr && (doc->intSubset != nullptr || doc->extSubset != nullptr);
    if (mayHaveEntities && !session.firstError) {
        if (auto deep = FindTooDeepElement(xmlDocGetRootElement(doc))) {
            session.recordError(deep->line, 0, deep->reason, 0);
        }
    }
    if (doc != nullptr && !session.firstError && options.validateOnParse && namesSchemas && !told) {
        validateAgainstSchemas(doc, session);
    }
    if (session.firstError) {
        if (doc != nullptr) {
            xmlFreeDoc(doc);
        }
        const ParseError& first = *session.firstError;
        failLoad(first.line, first.column, first.reason);
        m_parseError.code = first.code;
        return false;
    }
    if (!options.buildTree) {
        xmlFreeDoc(doc);  // the check passed: there was nothing to build
        return true;
    }
    if (told && options.validateOnParse && namesSchemas) {
        // A schema validates the whole tree, which is gone: read it again, whole.
        xmlFreeDoc(doc);
        LoadOptions whole = options;
        whole.shownNodes = nullptr;
        return parse(data, isUtf8Text, whole);
    }
    if (told) {
        xmlFreeDoc(doc);  // the document element's husk: everything else went to the sink
        m_state->hollow = true;
        m_state->sourceBytes = data.size();
        return true;
    }
    for (UnreadDtd& unread : session.unreadDtds) {
        m_unreadDtds.push_back("The DTD '" + unread.location + "' was not read: " + unread.why +
                               ". The document is open without it: the entities and default "
                               "attributes it declares are missing.");
    }
    if (blankTextMayRemain) {
        dropWhitespaceText(xmlDocGetRootElement(doc));
    }
    m_state->doc = doc;
    m_state->hasDeclaration = doc->standalone != -1;
    m_state->declVersion = doc->version ? str(doc->version) : "1.0";
    m_state->standaloneYes = doc->standalone == 1;
    m_state->sourceBytes = data.size();
    m_state->consultsDtdOrSchema =
        doc->intSubset != nullptr || doc->extSubset != nullptr || namesSchemas;
    if (isUtf8Text) {
        m_state->sourceHash = detail::hashText(data);
        m_state->textEnds = std::move(textEnds);
        m_state->declEncoding = declaredEncoding(data);
        if (m_state->hasDeclaration && data.starts_with("<?xml")) {
            m_state->declarationText = std::string(data.substr(0, data.find("?>") + 2));
        }
    } else {
        m_state->declEncoding = doc->encoding ? str(doc->encoding) : declaredEncoding(data);
    }
    if (doc->intSubset != nullptr) {
        // Written back as the user wrote it, not as libxml2 would regenerate it.
        std::string wide;
        if (!isUtf8Text && decoded.empty()) {
            wide = DecodeFileBytes(data).text;
        }
        std::string_view text = isUtf8Text ? data : decoded.empty() ? wide : decoded;
        if (auto span = detail::findDoctype(text)) {
            m_state->doctypeText = std::string(text.substr(span->begin, span->end - span->begin));
        }
    }
    return true;
}

void XmlDocument::failLoad(long line, long column, std::string reason) {
    reset();
    m_parseError.line = std::max(1L, line);
    m_parseError.column = column;
    m_parseError.reason = std::move(reason);
    if (column > 0) {
        m_parseError.reason += " (line " + std::to_string(m_parseError.line) + ", column " +
                               std::to_string(column) + ")";
    } else {
        m_parseError.reason += " (line " + std::to_string(m_parseError.line) + ")";
    }
}

}  // namespace quorrel
