// The splice writer's inserted nodes: copies, nodes moved here and new ones,
// written anew in the layout of their neighbours.
#include <libxml/tree.h>

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "doc/core/XmlDom.h"
#include "doc/core/XmlDomInternal.h"
#include "doc/core/XmlSpliceInternal.h"
#include "doc/core/XmlWrite.h"

namespace quorrel::detail::splice {

NamespaceScope SpliceWriter::ScopeAt(const xmlNode* element) const {
    std::vector<const xmlNode*> chain;
    for (const xmlNode* p = element; p != nullptr && p->type == XML_ELEMENT_NODE; p = p->parent) {
        chain.push_back(p);
    }
    NamespaceScope scope;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        for (const xmlNs* ns = (*it)->nsDef; ns != nullptr; ns = ns->next) {
            scope.Bind(ns);
        }
        if (auto declared = m_declared.find(*it); declared != m_declared.end()) {
            for (const xmlNs* ns : declared->second) {
                scope.Bind(ns);
            }
        }
    }
    return scope;
}

void SpliceWriter::Inserted(xmlNodePtr e, xmlNodePtr child, std::size_t from, std::size_t to,
                            Layout& layout) {
    if (child->type != XML_TEXT_NODE && child->type != XML_CDATA_SECTION_NODE) {
        if (!layout.known) {
            layout = LayoutOf(e, from, to);
        }
        if (!layout.inlineOnly) {
            Markup(layout.newline + layout.indent);
        }
    }
    std::optional<Span> span = SpanOf(child);
    if (!span || hasMark(child, kMarkFromEntity)) {
        Fresh(child);
    } else if (child->type == XML_ELEMENT_NODE && hasMark(child, kMarkMoved)) {
        if (std::optional<std::vector<const xmlNs*>> extra =
                missingDeclarations(child, ScopeAt(e))) {
            Element(child, *span, *extra);
        } else {
            Fresh(child);
        }
    } else if (child->type == XML_ELEMENT_NODE) {
        Element(child, *span);
    } else if (changed(child)) {
        Fresh(child);
    } else {
        Copy(child, *span);
    }
}

void SpliceWriter::Copy(const xmlNode* n, const Span& span) {
    std::string_view s = m_text.substr(span.begin, span.end - span.begin);
    if (n->type == XML_TEXT_NODE) {
        Text(s);
    } else {
        Markup(s);
    }
}

void SpliceWriter::Fresh(xmlNodePtr n) {
    if (n->type == XML_TEXT_NODE) {
        TextAnew(n->content);
        return;
    }
    std::string written;
    Writer w(written);
    if (n->type == XML_ELEMENT_NODE) {
        NamespaceScope scope = ScopeAt(n->parent);
        writeElement(w, n, 0, scope, true);
    } else {
        writeLeaf(w, n);
    }
    Markup(written);
}

void SpliceWriter::StartTagAnew(const xmlNode* e, const StartTag& tag, const std::string& name,
                                const std::vector<const xmlNs*>& extra) {
    std::string out = "<" + name;
    const char quote = tag.attributes.empty() ? '"' : m_text[tag.attributes.front().quote];
    auto declare = [&](const xmlNs* ns) {
        out += ns->prefix ? " xmlns:" : " xmlns";
        if (ns->prefix) {
            out += str(ns->prefix);
        }
        out += '=';
        out += quote;
        appendAttributeValue(out, ns->href ? str(ns->href) : "", quote);
        out += quote;
    };
    // What the tag holds now, by where it was written.
    struct Held {
        std::size_t at;
        const xmlNs* ns;
        const xmlAttr* attr;
        bool written = false;
    };
    std::vector<Held> held;
    for (const xmlNs* ns = e->nsDef; ns != nullptr; ns = ns->next) {
        held.push_back({hasMark(ns, kMarkPlaced) ? spanBegin(ns) : npos, ns, nullptr});
    }
    for (const xmlAttr* a = e->properties; a != nullptr; a = a->next) {
        held.push_back({hasMark(a, kMarkPlaced) ? spanBegin(a) : npos, nullptr, a});
    }
    // Declarations a moved element needs go after its own, as the DOM
    // would list them: after the last written, else the name.
    auto placedAt = [&](std::size_t at) {
        return std::find_if(held.begin(), held.end(), [&](const Held& h) { return h.at == at; });
    };
    std::size_t lastDeclaration = npos;
    bool newDeclarations = false;
    for (std::size_t i = 0; i < tag.attributes.size(); ++i) {
        auto found = placedAt(tag.attributes[i].name);
        if (found != held.end() && found->ns != nullptr) {
            lastDeclaration = i;
        }
    }
    for (const Held& h : held) {
        if (h.ns != nullptr && !hasMark(h.ns, kMarkDefaulted) &&
            std::none_of(tag.attributes.begin(), tag.attributes.end(),
                         [&](const StartTag::Attribute& a) { return a.name == h.at; })) {
            newDeclarations = true;
        }
    }
    auto declareExtra = [&] {
        for (const xmlNs* ns : extra) {
            declare(ns);
        }
    };
    if (lastDeclaration == npos && !newDeclarations) {
        declareExtra();
    }
    for (std::size_t i = 0; i < tag.attributes.size(); ++i) {
        const StartTag::Attribute& written = tag.attributes[i];
        if (i == lastDeclaration + 1 && lastDeclaration != npos && !newDeclarations) {
            declareExtra();
        }
        auto found = std::find_if(held.begin(), held.end(), [&](const Held& h) {
            return !h.written && h.at == written.name;
        });
        if (found == held.end()) {
            continue;  // taken out, with the blanks before it
        }
        found->written = true;
        const bool valueChanged =
            found->ns ? hasMark(found->ns, kMarkChanged) : hasMark(found->attr, kMarkChanged);
        if (!valueChanged) {
            out.append(m_text.substr(written.lead, written.end - written.lead));
            continue;
        }
        const char q = m_text[written.quote];
        out.append(m_text.substr(written.lead, written.quote + 1 - written.lead));
        appendAttributeValue(out,
                             found->ns ? (found->ns->href ? str(found->ns->href) : "")
                                       : std::string_view(attributeValue(found->attr)),
                             q);
        out += q;
    }
    if (lastDeclaration != npos && lastDeclaration + 1 == tag.attributes.size() &&
        !newDeclarations) {
        declareExtra();
    }
    // New ones after the last, one blank before each.
    for (const Held& h : held) {
        if (h.written || h.ns == nullptr || hasMark(h.ns, kMarkDefaulted)) {
            continue;
        }
        declare(h.ns);
    }
    if (newDeclarations) {
        declareExtra();
    }
    for (const Held& h : held) {
        if (h.written) {
            continue;
        }
        if (h.ns != nullptr) {
            continue;  // written above
        } else if (h.attr != nullptr && !hasMark(h.attr, kMarkDefaulted)) {
            out += ' ';
            out += qualifiedName(h.attr->ns, h.attr->name);
            out += '=';
            out += quote;
            appendAttributeValue(out, attributeValue(h.attr), quote);
            out += quote;
        }
    }
    Markup(out);
}

std::optional<std::string> SpliceWriter::IndentOf(std::size_t begin) const {
    std::size_t lineStart = begin;
    while (lineStart > 0 && isIndentChar(m_text[lineStart - 1])) {
        --lineStart;
    }
    if (lineStart == 0 || m_text[lineStart - 1] != '\n') {
        return std::nullopt;
    }
    return std::string(m_text.substr(lineStart, begin - lineStart));
}

Layout SpliceWriter::LayoutOf(const xmlNode* e, std::size_t from, std::size_t to) const {
    Layout layout;
    layout.known = true;
    if (preserveSpaceAt(e)) {
        return layout;
    }
    for (const xmlNode* c = e->children; c != nullptr; c = c->next) {
        if (c->type == XML_TEXT_NODE || c->type == XML_CDATA_SECTION_NODE) {
            return layout;  // mixed content: blanks would be text
        }
    }
    for (const xmlNode* c = e->children; c != nullptr; c = c->next) {
        std::optional<Span> span = SpanOf(c);
        if (c->type != XML_ELEMENT_NODE || !span || hasMark(c, kMarkCopy) != m_inCopy ||
            span->begin < from || span->end > to) {
            continue;
        }
        if (std::optional<std::string> indent = IndentOf(span->begin)) {
            layout.inlineOnly = false;
            layout.indent = *indent;
            std::size_t lineStart = span->begin - indent->size();
            layout.newline = lineStart >= 2 && m_text[lineStart - 2] == '\r' ? "\r\n" : "\n";
            return layout;
        }
    }
    return layout;
}

}  // namespace quorrel::detail::splice
