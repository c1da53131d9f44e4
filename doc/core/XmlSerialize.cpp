// The document as text. The layout is chosen so that the text re-parses to
// the same DOM (whitespace-only text is dropped on parse, so indentation is
// added only where no text can be) and reads well in the source pane.
#include <libxml/tree.h>

#include <cstring>

#include "doc/core/XmlDom.h"
#include "doc/core/XmlDomInternal.h"

namespace quorrel {

using detail::str;

namespace {

class Writer {
public:
    explicit Writer(std::string& out) : m_out(out) {}

    void raw(std::string_view s) { m_out.append(s); }
    void raw(const xmlChar* s) {
        if (s != nullptr) {
            m_out.append(str(s));
        }
    }
    void indent(int depth) {
        m_out += '\n';
        m_out.append(std::size_t(depth), '\t');
    }

    void text(const xmlChar* s) {
        escape(s, [](char c) -> const char* {
            switch (c) {
                case '&':
                    return "&amp;";
                case '<':
                    return "&lt;";
                case '>':
                    return "&gt;";
                case '\r':
                    return "&#13;";
                default:
                    return nullptr;
            }
        });
    }

    void attributeValue(const xmlChar* s) {
        escape(s, [](char c) -> const char* {
            switch (c) {
                case '&':
                    return "&amp;";
                case '<':
                    return "&lt;";
                case '"':
                    return "&quot;";
                case '\t':
                    return "&#9;";
                case '\n':
                    return "&#10;";
                case '\r':
                    return "&#13;";
                default:
                    return nullptr;
            }
        });
    }

    void name(const xmlNs* ns, const xmlChar* local) {
        if (ns != nullptr && ns->prefix != nullptr) {
            raw(ns->prefix);
            m_out += ':';
        }
        raw(local);
    }

    void cdata(const xmlChar* s) {
        std::string_view content = s ? str(s) : "";
        m_out += "<![CDATA[";
        std::size_t at;
        // "]]>" cannot stand inside one section: end it after "]]" and start another.
        while ((at = content.find("]]>")) != std::string_view::npos) {
            m_out.append(content.substr(0, at + 2));
            m_out += "]]><![CDATA[";
            content = content.substr(at + 2);
        }
        m_out.append(content);
        m_out += "]]>";
    }

private:
    template <class Table>
    void escape(const xmlChar* s, Table table) {
        if (s == nullptr) {
            return;
        }
        const char* p = str(s);
        const char* run = p;
        for (; *p; ++p) {
            if (const char* replacement = table(*p)) {
                m_out.append(run, p);
                m_out += replacement;
                run = p + 1;
            }
        }
        m_out.append(run, p);
    }

    std::string& m_out;
};

bool isEmptyText(const xmlNode* n) {
    return n->type == XML_TEXT_NODE && (n->content == nullptr || n->content[0] == 0);
}

struct ChildSummary {
    bool any = false;      // a child that writes something
    bool textual = false;  // a text or CDATA child
};

ChildSummary summarise(const xmlNode* element) {
    ChildSummary s;
    for (const xmlNode* c = element->children; c != nullptr; c = c->next) {
        if (isEmptyText(c)) {
            continue;
        }
        s.any = true;
        if (c->type == XML_TEXT_NODE || c->type == XML_CDATA_SECTION_NODE) {
            s.textual = true;
            break;
        }
    }
    return s;
}

// Namespaces declared on the way down to the element being written; the
// default namespace is the binding of the empty prefix.
class NamespaceScope {
public:
    std::size_t Mark() const { return m_bindings.size(); }
    void Release(std::size_t mark) { m_bindings.resize(mark); }
    void Bind(const xmlNs* ns) { m_bindings.push_back(ns); }
    // The namespace a prefix (null: the default) stands for here, or null.
    const xmlChar* Lookup(const xmlChar* prefix) const {
        std::string_view wanted = prefix ? str(prefix) : "";
        for (auto it = m_bindings.rbegin(); it != m_bindings.rend(); ++it) {
            std::string_view bound = (*it)->prefix ? str((*it)->prefix) : "";
            if (bound == wanted) {
                return (*it)->href;
            }
        }
        return nullptr;
    }
    bool IsBound(const xmlNs* ns) const {
        const xmlChar* href = Lookup(ns->prefix);
        return href != nullptr && xmlStrEqual(href, ns->href) != 0;
    }

private:
    std::vector<const xmlNs*> m_bindings;
};

void writeNamespace(Writer& w, const xmlNs* ns) {
    w.raw(ns->prefix ? " xmlns:" : " xmlns");
    w.raw(ns->prefix);
    w.raw("=\"");
    w.attributeValue(ns->href);
    w.raw("\"");
}

// A prefixed name whose declaration is not in scope (the node was moved out
// of the element that declared it) gets its declaration here, so the text
// parses again.
void declareIfUnbound(Writer& w, NamespaceScope& scope, const xmlNs* ns) {
    if (ns == nullptr || ns->prefix == nullptr || ns->href == nullptr ||
        xmlStrEqual(ns->prefix, BAD_CAST "xml")) {
        return;
    }
    if (!scope.IsBound(ns)) {
        writeNamespace(w, ns);
        scope.Bind(ns);
    }
}

// An element keeps its namespace where it is written now: one in a default
// namespace gets that declaration again, one from the text in no namespace
// gets xmlns="" under a default namespace. An element a command made takes
// the default namespace where it stands, as typed text would.
void keepDefaultNamespace(Writer& w, NamespaceScope& scope, const xmlNode* n) {
    static const xmlNs kNoNamespace{nullptr, XML_NAMESPACE_DECL, BAD_CAST "", nullptr, nullptr,
                                    nullptr};
    const xmlChar* inScope = scope.Lookup(nullptr);
    bool defaultInScope = inScope != nullptr && inScope[0] != 0;
    if (n->ns != nullptr && n->ns->prefix == nullptr) {
        if (inScope == nullptr || !xmlStrEqual(inScope, n->ns->href)) {
            writeNamespace(w, n->ns);
            scope.Bind(n->ns);
        }
    } else if (n->ns == nullptr && defaultInScope && detail::hasMark(n, detail::kMarkParsed)) {
        writeNamespace(w, &kNoNamespace);
        scope.Bind(&kNoNamespace);
    }
}

void writeStartTag(Writer& w, NamespaceScope& scope, const xmlNode* n, bool empty) {
    w.raw("<");
    w.name(n->ns, n->name);
    for (const xmlNs* ns = n->nsDef; ns != nullptr; ns = ns->next) {
        // A declaration the DTD supplied is in force but was never in the text.
        if (!detail::hasMark(ns, detail::kMarkDefaulted)) {
            writeNamespace(w, ns);
        }
        scope.Bind(ns);
    }
    keepDefaultNamespace(w, scope, n);
    declareIfUnbound(w, scope, n->ns);
    for (const xmlAttr* a = n->properties; a != nullptr; a = a->next) {
        declareIfUnbound(w, scope, a->ns);
    }
    for (const xmlAttr* a = n->properties; a != nullptr; a = a->next) {
        if (detail::hasMark(a, detail::kMarkDefaulted)) {
            continue;  // the DTD supplies it again on every parse
        }
        w.raw(" ");
        w.name(a->ns, a->name);
        w.raw("=\"");
        if (a->children != nullptr && a->children->next == nullptr) {
            w.attributeValue(a->children->content);
        } else {
            std::string value = detail::attributeValue(a);
            w.attributeValue(detail::xstr(value.c_str()));
        }
        w.raw("\"");
    }
    w.raw(empty ? "/>" : ">");
}

void writeLeaf(Writer& w, const xmlNode* n) {
    switch (n->type) {
        case XML_TEXT_NODE:
            w.text(n->content);
            break;
        case XML_CDATA_SECTION_NODE:
            w.cdata(n->content);
            break;
        case XML_COMMENT_NODE:
            w.raw("<!--");
            w.raw(n->content);
            w.raw("-->");
            break;
        case XML_PI_NODE:
            w.raw("<?");
            w.raw(n->name);
            if (n->content != nullptr && n->content[0] != 0) {
                w.raw(" ");
                w.raw(n->content);
            }
            w.raw("?>");
            break;
        case XML_ENTITY_REF_NODE:
            w.raw("&");
            w.raw(n->name);
            w.raw(";");
            break;
        default:
            break;
    }
}

// An element and its subtree, without recursion.
void writeElement(Writer& w, xmlNodePtr root, int rootDepth) {
    struct Frame {
        const xmlNode* element;
        bool indentChildren;
        bool compact;   // no added white space anywhere below
        bool preserve;  // xml:space="preserve" in scope
        int depth;
    };
    std::vector<Frame> stack;
    NamespaceScope scope;
    std::vector<std::size_t> scopeMarks;
    detail::walkTree(
        root,
        [&](xmlNodePtr n) {
            const Frame* parent = stack.empty() ? nullptr : &stack.back();
            if (isEmptyText(n)) {
                return false;
            }
            if (parent != nullptr && parent->indentChildren) {
                w.indent(parent->depth + 1);
            }
            if (n->type != XML_ELEMENT_NODE) {
                writeLeaf(w, n);
                return false;
            }
            ChildSummary children = summarise(n);
            std::size_t mark = scope.Mark();
            writeStartTag(w, scope, n, !children.any);
            if (!children.any) {
                scope.Release(mark);
                return false;
            }
            scopeMarks.push_back(mark);
            int space = detail::xmlSpaceOf(n);
            bool preserve = space == 1 || (space == -1 && parent != nullptr && parent->preserve);
            bool compact = (parent != nullptr && parent->compact) || preserve || children.textual;
            int depth = parent ? parent->depth + 1 : rootDepth;
            stack.push_back({n, !compact, compact, preserve, depth});
            return true;
        },
        [&](xmlNodePtr n) {
            if (stack.empty() || stack.back().element != n) {
                return;  // written whole on entering: no frame of its own
            }
            Frame frame = stack.back();
            stack.pop_back();
            scope.Release(scopeMarks.back());
            scopeMarks.pop_back();
            if (frame.indentChildren) {
                w.indent(frame.depth);
            }
            w.raw("</");
            w.name(n->ns, n->name);
            w.raw(">");
        });
}

void writeDoctype(Writer& w, const xmlDtd* dtd, const std::string& asParsed) {
    if (!asParsed.empty()) {
        w.raw(asParsed);  // commands never change the DTD: its text stays as the user wrote it
        return;
    }
    w.raw("<!DOCTYPE ");
    w.raw(dtd->name);
    if (dtd->ExternalID != nullptr) {
        w.raw(" PUBLIC \"");
        w.raw(dtd->ExternalID);
        w.raw("\"");
        if (dtd->SystemID != nullptr) {
            w.raw(" \"");
            w.raw(dtd->SystemID);
            w.raw("\"");
        }
    } else if (dtd->SystemID != nullptr) {
        w.raw(" SYSTEM \"");
        w.raw(dtd->SystemID);
        w.raw("\"");
    }
    if (dtd->children != nullptr) {
        w.raw(" [\n");
        xmlBufferPtr buffer = xmlBufferCreate();
        for (xmlNodePtr decl = dtd->children; decl != nullptr; decl = decl->next) {
            xmlBufferEmpty(buffer);
            xmlNodeDump(buffer, dtd->doc, decl, 0, 0);
            std::string_view text(str(xmlBufferContent(buffer)),
                                  std::size_t(xmlBufferLength(buffer)));
            while (!text.empty() && text.back() == '\n') {
                text.remove_suffix(1);
            }
            w.raw(text);
            w.raw("\n");
        }
        xmlBufferFree(buffer);
        w.raw("]");
    }
    w.raw(">");
}

}  // namespace

std::string XmlDocument::xml() const {
    std::string out;
    const detail::DocState& state = *m_state;
    if (state.doc == nullptr) {
        return out;
    }
    // Growing by doubling would copy the text several times over.
    out.reserve(state.sourceBytes + state.sourceBytes / 8);
    Writer w(out);
    if (!state.declarationText.empty()) {
        w.raw(state.declarationText);  // as the user wrote it
        w.raw("\n");
    } else if (state.hasDeclaration) {
        w.raw("<?xml version=\"");
        w.raw(state.declVersion);
        w.raw("\"");
        if (!state.declEncoding.empty()) {
            w.raw(" encoding=\"");
            w.raw(state.declEncoding);
            w.raw("\"");
        }
        if (state.standaloneYes) {
            w.raw(" standalone=\"yes\"");
        }
        w.raw("?>\n");
    }
    for (xmlNodePtr n = state.doc->children; n != nullptr; n = n->next) {
        switch (n->type) {
            case XML_DTD_NODE:
                writeDoctype(w, reinterpret_cast<const xmlDtd*>(n), state.doctypeText);
                break;
            case XML_ELEMENT_NODE:
                writeElement(w, n, 0);
                break;
            case XML_COMMENT_NODE:
            case XML_PI_NODE:
                writeLeaf(w, n);
                break;
            default:
                continue;
        }
        w.raw("\n");
    }
    return out;
}

}  // namespace quorrel
