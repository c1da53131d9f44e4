// The pieces of the serialiser shared by its two ways of writing: the text
// written anew from the nodes, and the parsed text kept where nothing changed.
// Not for callers outside the DOM adapter.
#pragma once

#include <libxml/tree.h>

#include <string>
#include <string_view>
#include <vector>

#include "doc/core/XmlDomInternal.h"

namespace quorrel::detail {

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

    // A value for a start tag, in the quote it stands in.
    void attributeValue(std::string_view s, char quote = '"') {
        escape(s, [quote](char c) -> const char* {
            switch (c) {
                case '&':
                    return "&amp;";
                case '<':
                    return "&lt;";
                case '\t':
                    return "&#9;";
                case '\n':
                    return "&#10;";
                case '\r':
                    return "&#13;";
                default:
                    return c != quote ? nullptr : quote == '"' ? "&quot;" : "&apos;";
            }
        });
    }
    void attributeValue(const xmlChar* s) {
        if (s != nullptr) {
            attributeValue(str(s));
        }
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
        if (s != nullptr) {
            escape(std::string_view(str(s)), table);
        }
    }
    template <class Table>
    void escape(std::string_view s, Table table) {
        std::size_t run = 0;
        for (std::size_t i = 0; i < s.size(); ++i) {
            if (const char* replacement = table(s[i])) {
                m_out.append(s.substr(run, i - run));
                m_out += replacement;
                run = i + 1;
            }
        }
        m_out.append(s.substr(run));
    }

    std::string& m_out;
};

inline bool isEmptyText(const xmlNode* n) {
    return n->type == XML_TEXT_NODE && (n->content == nullptr || n->content[0] == 0);
}

struct ChildSummary {
    bool any = false;      // a child that writes something
    bool textual = false;  // a text or CDATA child
};

inline ChildSummary summarise(const xmlNode* element) {
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

inline void writeNamespace(Writer& w, const xmlNs* ns) {
    w.raw(ns->prefix ? " xmlns:" : " xmlns");
    w.raw(ns->prefix);
    w.raw("=\"");
    w.attributeValue(ns->href);
    w.raw("\"");
}

// A prefixed name whose declaration is not in scope (the node was moved out
// of the element that declared it) gets its declaration here, so the text
// parses again.
inline void declareIfUnbound(Writer& w, NamespaceScope& scope, const xmlNs* ns) {
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
inline void keepDefaultNamespace(Writer& w, NamespaceScope& scope, const xmlNode* n) {
    static const xmlNs kNoNamespace{nullptr, XML_NAMESPACE_DECL, BAD_CAST "", nullptr, nullptr,
                                    nullptr};
    const xmlChar* inScope = scope.Lookup(nullptr);
    bool defaultInScope = inScope != nullptr && inScope[0] != 0;
    if (n->ns != nullptr && n->ns->prefix == nullptr) {
        if (inScope == nullptr || !xmlStrEqual(inScope, n->ns->href)) {
            writeNamespace(w, n->ns);
            scope.Bind(n->ns);
        }
    } else if (n->ns == nullptr && defaultInScope && hasMark(n, kMarkParsed)) {
        writeNamespace(w, &kNoNamespace);
        scope.Bind(&kNoNamespace);
    }
}

inline void writeStartTag(Writer& w, NamespaceScope& scope, const xmlNode* n, bool empty) {
    w.raw("<");
    w.name(n->ns, n->name);
    for (const xmlNs* ns = n->nsDef; ns != nullptr; ns = ns->next) {
        // A declaration the DTD supplied is in force but was never in the text.
        if (!hasMark(ns, kMarkDefaulted)) {
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
        if (hasMark(a, kMarkDefaulted)) {
            continue;  // the DTD supplies it again on every parse
        }
        w.raw(" ");
        w.name(a->ns, a->name);
        w.raw("=\"");
        if (a->children != nullptr && a->children->next == nullptr) {
            w.attributeValue(a->children->content);
        } else {
            std::string value = attributeValue(a);
            w.attributeValue(xstr(value.c_str()));
        }
        w.raw("\"");
    }
    w.raw(empty ? "/>" : ">");
}

inline void writeLeaf(Writer& w, const xmlNode* n) {
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
// An element and its subtree, without recursion, in the scope given. Children
// of element-only content go on lines of their own, a tab deeper, unless
// compact (no white space added anywhere).
inline void writeElement(Writer& w, xmlNodePtr root, int rootDepth, NamespaceScope& scope,
                         bool compact = false) {
    struct Frame {
        const xmlNode* element;
        bool indentChildren;
        bool compact;   // no added white space anywhere below
        bool preserve;  // xml:space="preserve" in scope
        int depth;
    };
    std::vector<Frame> stack;
    std::vector<std::size_t> scopeMarks;
    walkTree(
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
            int space = xmlSpaceOf(n);
            bool preserve = space == 1 || (space == -1 && parent != nullptr && parent->preserve);
            bool compactHere =
                compact || (parent != nullptr && parent->compact) || preserve || children.textual;
            int depth = parent ? parent->depth + 1 : rootDepth;
            stack.push_back({n, !compactHere, compactHere, preserve, depth});
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

}  // namespace quorrel::detail
