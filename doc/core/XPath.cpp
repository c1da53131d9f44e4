#include "doc/core/XPath.h"

#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <array>
#include <atomic>
#include <climits>

#include "doc/core/TextPlaces.h"
#include "doc/core/XPathAddress.h"
#include "doc/core/XmlDomInternal.h"

namespace quorrel {

using detail::str;
using detail::xstr;

XmlNode detail::DocState::handle(XmlDocument& document, void* node, void* nsOwner) {
    return XmlNode(node, nsOwner, &document);
}

namespace {

constexpr std::size_t kRowTextCharacters = 80;
constexpr std::size_t kKinds = std::size_t(XPathNodeKind::Other) + 1;

struct ContextDeleter {
    void operator()(xmlXPathContext* c) const { xmlXPathFreeContext(c); }
};
struct CompiledDeleter {
    void operator()(xmlXPathCompExpr* c) const { xmlXPathFreeCompExpr(c); }
};
struct ObjectDeleter {
    void operator()(xmlXPathObject* o) const { xmlXPathFreeObject(o); }
};
struct XmlCharDeleter {
    void operator()(xmlChar* s) const { xmlFree(s); }
};
using Context = std::unique_ptr<xmlXPathContext, ContextDeleter>;
using Compiled = std::unique_ptr<xmlXPathCompExpr, CompiledDeleter>;
using Object = std::unique_ptr<xmlXPathObject, ObjectDeleter>;
using XmlString = std::unique_ptr<xmlChar, XmlCharDeleter>;

// The first XPath error of a compile or an evaluation. libxml2 writes its
// reason only where no handler of the context's own is set, so the
// thread's handlers catch it, and its other complaints, which it would
// otherwise print.
struct ErrorCapture {
    bool caught = false;
    std::string reason;
    int offset = 0;
};

void OnStructuredError(void* context, xmlErrorPtr e) {
    auto* capture = static_cast<ErrorCapture*>(context);
    if (!capture->caught && e != nullptr && e->domain == XML_FROM_XPATH) {
        capture->caught = true;
        capture->reason = e->message ? e->message : "";
        capture->offset = e->int1;
    }
}

void OnGenericError(void*, const char*, ...) {}

class ErrorScope {
public:
    explicit ErrorScope(ErrorCapture& capture)
        : m_structured(xmlStructuredError),
          m_structuredContext(xmlStructuredErrorContext),
          m_generic(xmlGenericError),
          m_genericContext(xmlGenericErrorContext) {
        xmlSetStructuredErrorFunc(&capture, OnStructuredError);
        xmlSetGenericErrorFunc(nullptr, OnGenericError);
    }
    ~ErrorScope() {
        xmlSetStructuredErrorFunc(m_structuredContext, m_structured);
        xmlSetGenericErrorFunc(m_genericContext, m_generic);
    }
    ErrorScope(const ErrorScope&) = delete;
    ErrorScope& operator=(const ErrorScope&) = delete;

private:
    xmlStructuredErrorFunc m_structured;
    void* m_structuredContext;
    xmlGenericErrorFunc m_generic;
    void* m_genericContext;
};

xmlDocPtr DocOf(XmlDocument& dom) {
    return reinterpret_cast<xmlDocPtr>(dom.documentNode().raw());
}

XPathNodeKind KindOf(const xmlNode* node) {
    switch (node->type) {
        case XML_ELEMENT_NODE:
            return XPathNodeKind::Element;
        case XML_ATTRIBUTE_NODE:
            return XPathNodeKind::Attribute;
        case XML_TEXT_NODE:
            return XPathNodeKind::Text;
        case XML_CDATA_SECTION_NODE:
            return XPathNodeKind::CData;
        case XML_COMMENT_NODE:
            return XPathNodeKind::Comment;
        case XML_PI_NODE:
            return XPathNodeKind::ProcessingInstruction;
        case XML_DOCUMENT_NODE:
        case XML_HTML_DOCUMENT_NODE:
            return XPathNodeKind::Document;
        case XML_NAMESPACE_DECL:
            return XPathNodeKind::Namespace;
        default:
            return XPathNodeKind::Other;
    }
}

std::string NameOf(const xmlNode* node) {
    switch (node->type) {
        case XML_ELEMENT_NODE:
            return detail::qualifiedName(node->ns, node->name);
        case XML_ATTRIBUTE_NODE:
            return detail::qualifiedName(reinterpret_cast<const xmlAttr*>(node)->ns, node->name);
        case XML_PI_NODE:
            return str(node->name);
        case XML_NAMESPACE_DECL: {
            const xmlNs* ns = reinterpret_cast<const xmlNs*>(node);
            return ns->prefix ? str(ns->prefix) : "";
        }
        default:
            return {};
    }
}

// Where a node before or after the document element stands: the parse
// places only what is inside it, so the text is read from the start, past
// the document type declaration and the document element, for the
// prolog's and the epilogue's comments and processing instructions in turn.
std::optional<std::size_t> TopLevelPlace(const xmlNode* node, std::string_view text) {
    std::size_t cursor = 0;
    for (const xmlNode* c = node->parent->children; c != nullptr; c = c->next) {
        std::size_t at = std::string_view::npos;
        if (c->type == XML_DTD_NODE) {
            if (std::optional<detail::TextSpan> doctype = detail::findDoctype(text)) {
                cursor = doctype->end;
            }
            continue;
        }
        if (c->type == XML_ELEMENT_NODE) {
            if (detail::hasSpan(c)) {
                cursor = std::max(detail::spanBegin(c), detail::elementEnd(c));
            }
            continue;
        }
        if (c->type == XML_COMMENT_NODE) {
            at = text.find("<!--", cursor);
        } else if (c->type == XML_PI_NODE) {
            const std::string open = std::string("<?") + str(c->name);
            for (at = text.find(open, cursor); at != std::string_view::npos;
                 at = text.find(open, at + 1)) {
                const std::size_t after = at + open.size();
                if (after >= text.size() || text[after] == '?' || text[after] == ' ' ||
                    text[after] == '\t' || text[after] == '\n' || text[after] == '\r') {
                    break;
                }
            }
        } else {
            continue;
        }
        if (at == std::string_view::npos) {
            return std::nullopt;
        }
        if (c == node) {
            return at;
        }
        cursor = at + 2;
    }
    return std::nullopt;
}

// Where the node stands in the parsed text: its own place, the reference
// it came from, else its parent's (an attribute's element's).
std::optional<std::size_t> PlaceOf(const xmlNode* node, std::string_view text, bool& own) {
    own = true;
    if (node->type == XML_NAMESPACE_DECL) {
        own = false;
        node = reinterpret_cast<const xmlNode*>(reinterpret_cast<const xmlNs*>(node)->next);
    }
    if (node != nullptr && node->parent != nullptr && node->type != XML_ATTRIBUTE_NODE &&
        (node->parent->type == XML_DOCUMENT_NODE || node->parent->type == XML_HTML_DOCUMENT_NODE) &&
        !detail::hasSpan(node)) {
        if (std::optional<std::size_t> place = TopLevelPlace(node, text)) {
            return place;
        }
    }
    for (; node != nullptr; node = node->parent, own = false) {
        if (node->type == XML_DOCUMENT_NODE || node->type == XML_HTML_DOCUMENT_NODE) {
            return 0;
        }
        if (node->type == XML_ATTRIBUTE_NODE) {
            const xmlAttr* attr = reinterpret_cast<const xmlAttr*>(node);
            if (detail::hasSpan(attr)) {
                own = own && detail::hasMark(attr, detail::kMarkPlaced);
                return detail::spanBegin(attr);
            }
        } else if (node->type != XML_ENTITY_DECL && detail::hasSpan(node)) {
            own = own && detail::hasMark(node, detail::kMarkPlaced);
            return detail::spanBegin(node);
        }
    }
    return std::nullopt;
}

XPathError ErrorOf(const ErrorCapture& capture, std::string_view expression, bool compiling) {
    XPathError error;
    error.compiling = compiling;
    error.reason = capture.reason;
    while (!error.reason.empty() && (error.reason.back() == '\n' || error.reason.back() == ' ')) {
        error.reason.pop_back();
    }
    if (error.reason.empty()) {
        error.reason = compiling ? "Invalid expression" : "The expression could not be evaluated";
    }
    // Only a compile knows where in the expression it stopped.
    error.offset =
        compiling ? std::min(std::size_t(std::max(capture.offset, 0)), expression.size()) : 0;
    return error;
}

XPathError Refused(std::string reason) {
    XPathError error;
    error.reason = std::move(reason);
    return error;
}

// A context over the document with the prefixes registered.
Context NewContext(xmlDocPtr doc, const std::vector<NamespaceBinding>& namespaces,
                   XPathError& error) {
    Context context(xmlXPathNewContext(doc));
    if (!context) {
        error = Refused("Out of memory");
        return context;
    }
    context->node = reinterpret_cast<xmlNodePtr>(doc);
    for (const NamespaceBinding& b : namespaces) {
        if (!b.prefix.empty() &&
            xmlXPathRegisterNs(context.get(), xstr(b.prefix.c_str()), xstr(b.uri.c_str())) != 0) {
            error = Refused("The prefix " + b.prefix + " could not be registered");
            return nullptr;
        }
    }
    return context;
}

}  // namespace

// Registers the running evaluation's operation limit with its canceller.
// libxml2 has no way to stop an evaluation from outside, but it compares
// its operation count with that limit at every step of every axis:
// lowering the limit makes the evaluation fail at its next step. The limit
// is written as an atomic store; libxml2 reads it as a plain aligned word.
class RunningEvaluation {
public:
    RunningEvaluation(XPathCancel* cancel, xmlXPathContext& context) : m_cancel(cancel) {
        context.opLimit = ULONG_MAX;  // counts, never stops on its own
        if (m_cancel != nullptr) {
            std::lock_guard lock(m_cancel->m_mutex);
            m_cancel->m_opLimit = &context.opLimit;
            if (m_cancel->m_cancelled) {
                context.opLimit = 1;
            }
        }
    }
    ~RunningEvaluation() {
        if (m_cancel != nullptr) {
            std::lock_guard lock(m_cancel->m_mutex);
            m_cancel->m_opLimit = nullptr;
        }
    }
    RunningEvaluation(const RunningEvaluation&) = delete;
    RunningEvaluation& operator=(const RunningEvaluation&) = delete;

private:
    XPathCancel* m_cancel;
};

void XPathCancel::cancel() {
    std::lock_guard lock(m_mutex);
    m_cancelled = true;
    if (m_opLimit != nullptr) {
        std::atomic_ref<unsigned long>(*m_opLimit).store(1, std::memory_order_relaxed);
    }
}

bool XPathCancel::cancelled() const {
    std::lock_guard lock(m_mutex);
    return m_cancelled;
}

struct XPathResult::Storage {
    struct Record {
        XPathNodeKind kind;
        bool ownPlace;
        std::uint32_t line, column;
        std::size_t offset;
        std::size_t at;                      // where its strings start in the arena
        std::array<std::uint32_t, 5> sizes;  // name, item path, tree item, XPath, text
    };
    std::string arena;
    std::vector<Record> rows;
    std::array<std::size_t, kKinds> kinds{};
};

XPathResult::XPathResult() = default;
XPathResult::~XPathResult() = default;
XPathResult::XPathResult(XPathResult&&) noexcept = default;
XPathResult& XPathResult::operator=(XPathResult&&) noexcept = default;

std::size_t XPathResult::size() const {
    return m_rows ? m_rows->rows.size() : 0;
}

XPathRow XPathResult::row(std::size_t index) const {
    XPathRow row;
    if (index >= size()) {
        return row;
    }
    const Storage::Record& r = m_rows->rows[index];
    row.kind = r.kind;
    row.ownPlace = r.ownPlace;
    row.offset = r.offset;
    row.line = r.line;
    row.column = r.column;
    std::string_view arena = m_rows->arena;
    std::size_t at = r.at;
    std::string_view* fields[] = {&row.name, &row.itemPath, &row.treeItem, &row.xpath, &row.text};
    for (std::size_t i = 0; i < r.sizes.size(); ++i) {
        *fields[i] = arena.substr(at, r.sizes[i]);
        at += r.sizes[i];
    }
    return row;
}

std::size_t XPathResult::count(XPathNodeKind kind) const {
    return m_rows ? m_rows->kinds[std::size_t(kind)] : 0;
}

std::optional<XPathNodeKind> XPathResult::singleKind() const {
    for (std::size_t k = 0; k < kKinds; ++k) {
        if (count(XPathNodeKind(k)) != 0) {
            return count(XPathNodeKind(k)) == size() ? std::optional(XPathNodeKind(k))
                                                     : std::nullopt;
        }
    }
    return std::nullopt;
}

// Turns libxml2's value into the result's values.
class XPathResultBuilder {
public:
    XPathResultBuilder(XmlDocument& dom, std::string_view text,
                       const std::vector<NamespaceBinding>& namespaces)
        : m_dom(dom), m_addresses(namespaces), m_text(text), m_places(text) {}

    // False when cancelled part-way.
    bool Build(const xmlXPathObject& value, XPathResult& result, XPathCancel* cancel) {
        switch (value.type) {
            case XPATH_BOOLEAN:
                result.m_type = XPathValueType::Boolean;
                result.m_boolean = value.boolval != 0;
                result.m_string = result.m_boolean ? "true" : "false";
                return true;
            case XPATH_NUMBER: {
                result.m_type = XPathValueType::Number;
                result.m_number = value.floatval;
                XmlString s(xmlXPathCastNumberToString(value.floatval));
                result.m_string = s ? str(s.get()) : "";
                return true;
            }
            case XPATH_STRING:
                result.m_type = XPathValueType::String;
                result.m_string = value.stringval ? str(value.stringval) : "";
                return true;
            default:
                break;
        }
        result.m_type = XPathValueType::NodeSet;
        result.m_rows = std::make_unique<XPathResult::Storage>();
        const xmlNodeSet* set = value.nodesetval;
        const int count = set != nullptr ? set->nodeNr : 0;
        result.m_rows->rows.reserve(std::size_t(count));
        for (int i = 0; i < count; ++i) {
            if ((i & 0xFFF) == 0xFFF && cancel != nullptr && cancel->cancelled()) {
                return false;
            }
            Add(set->nodeTab[i], *result.m_rows);
        }
        return true;
    }

private:
    void Add(const xmlNode* node, XPathResult::Storage& storage) {
        XPathResult::Storage::Record r{};
        r.kind = KindOf(node);
        ++storage.kinds[std::size_t(r.kind)];
        r.offset = XPathRow::kNoOffset;
        if (!m_placed) {
            // Hashing the text costs a pass over it: only a node-set needs it.
            m_placed = m_dom.parsedFrom(m_text);
        }
        if (*m_placed) {
            bool own = false;
            if (std::optional<std::size_t> place = PlaceOf(node, m_text, own)) {
                r.offset = *place;
                r.ownPlace = own;
                const TextPlace at = m_places.At(*place);
                r.line = std::uint32_t(at.line);
                r.column = std::uint32_t(at.column);
            }
        }
        detail::NodeAddress address = m_addresses.Of(node);
        r.at = storage.arena.size();
        const std::string fields[] = {NameOf(node), address.itemPath, address.treeItem,
                                      address.xpath,
                                      detail::StringValuePrefix(node, kRowTextCharacters)};
        for (std::size_t i = 0; i < r.sizes.size(); ++i) {
            r.sizes[i] = std::uint32_t(fields[i].size());
            storage.arena += fields[i];
        }
        storage.rows.push_back(r);
    }

    XmlDocument& m_dom;
    detail::NodeAddresses m_addresses;
    std::string_view m_text;
    LineColumns m_places;
    std::optional<bool> m_placed;
};

namespace {

// Compiles and evaluates; null with the error on failure.
Object Evaluate(xmlDocPtr doc, const XPathQuery& query, XPathCancel* cancel, XPathError& error,
                bool& cancelled) {
    cancelled = false;
    if (query.expression.find('\0') != std::string::npos) {
        error = Refused("The expression holds a NUL character");
        return nullptr;
    }
    ErrorCapture capture;
    ErrorScope scope(capture);
    Context context = NewContext(doc, query.namespaces, error);
    if (!context) {
        return nullptr;
    }
    Compiled compiled(xmlXPathCtxtCompile(context.get(), xstr(query.expression.c_str())));
    if (!compiled) {
        error = ErrorOf(capture, query.expression, true);
        return nullptr;
    }
    Object value;
    {
        RunningEvaluation running(cancel, *context);
        value.reset(xmlXPathCompiledEval(compiled.get(), context.get()));
    }
    if (cancel != nullptr && cancel->cancelled()) {
        cancelled = true;
        return nullptr;
    }
    if (!value) {
        error = ErrorOf(capture, query.expression, false);
        return nullptr;
    }
    if (value->type != XPATH_NODESET && value->type != XPATH_BOOLEAN &&
        value->type != XPATH_NUMBER && value->type != XPATH_STRING) {
        error = Refused("The expression gives a value XPath 1.0 does not have");
        error.compiling = false;
        return nullptr;
    }
    return value;
}

}  // namespace

XPathOutcome EvaluateXPath(XmlDocument& dom, std::string_view text, const XPathQuery& query,
                           XPathCancel* cancel) {
    XPathOutcome outcome;
    bool cancelled = false;
    Object value = Evaluate(DocOf(dom), query, cancel, outcome.error, cancelled);
    if (cancelled) {
        outcome.status = XPathStatus::Cancelled;
        return outcome;
    }
    if (!value) {
        outcome.status = XPathStatus::Failed;
        return outcome;
    }
    XPathResultBuilder builder(dom, text, query.namespaces);
    if (!builder.Build(*value, outcome.result, cancel)) {
        outcome.result = XPathResult();
        outcome.status = XPathStatus::Cancelled;
        return outcome;
    }
    outcome.status = XPathStatus::Done;
    return outcome;
}

XPathNodes SelectXPathNodes(XmlDocument& dom, const XPathQuery& query) {
    XPathNodes nodes;
    bool cancelled = false;
    Object value = Evaluate(DocOf(dom), query, nullptr, nodes.error, cancelled);
    if (!value) {
        nodes.status = XPathStatus::Failed;
        return nodes;
    }
    nodes.status = XPathStatus::Done;
    switch (value->type) {
        case XPATH_BOOLEAN:
            nodes.type = XPathValueType::Boolean;
            return nodes;
        case XPATH_NUMBER:
            nodes.type = XPathValueType::Number;
            return nodes;
        case XPATH_STRING:
            nodes.type = XPathValueType::String;
            return nodes;
        default:
            break;
    }
    const xmlNodeSet* set = value->nodesetval;
    const int count = set != nullptr ? set->nodeNr : 0;
    nodes.nodes.reserve(std::size_t(count));
    nodes.kinds.reserve(std::size_t(count));
    for (int i = 0; i < count; ++i) {
        xmlNodePtr node = set->nodeTab[i];
        XPathNodeKind kind = KindOf(node);
        nodes.kinds.push_back(kind);
        // A namespace node is a copy that goes with the value.
        nodes.nodes.push_back(
            kind == XPathNodeKind::Namespace ? XmlNode() : detail::DocState::handle(dom, node));
    }
    return nodes;
}

}  // namespace quorrel
