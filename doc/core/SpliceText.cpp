// The splice writer's reading of the text: blanks, start tags as written,
// attribute values, and the namespace declarations a moved node needs.
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

bool isBlankChar(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool isIndentChar(char c) {
    return c == ' ' || c == '\t';
}

bool allBlank(std::string_view s) {
    return std::all_of(s.begin(), s.end(), isBlankChar);
}

std::string_view trimTrailingIndent(std::string_view s) {
    while (!s.empty() && isIndentChar(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

std::optional<StartTag> readStartTag(std::string_view s, std::size_t begin) {
    if (begin >= s.size() || s[begin] != '<') {
        return std::nullopt;
    }
    auto nameChar = [&](std::size_t i) {
        char c = s[i];
        return !isBlankChar(c) && c != '=' && c != '/' && c != '>';
    };
    StartTag tag;
    std::size_t p = begin + 1;
    while (p < s.size() && nameChar(p)) {
        ++p;
    }
    tag.nameEnd = p;
    for (;;) {
        const std::size_t lead = p;
        while (p < s.size() && isBlankChar(s[p])) {
            ++p;
        }
        if (p >= s.size()) {
            return std::nullopt;
        }
        if (s[p] == '>' || (s[p] == '/' && p + 1 < s.size() && s[p + 1] == '>')) {
            tag.tail = lead;
            tag.selfClosed = s[p] == '/';
            tag.end = p + (tag.selfClosed ? 2 : 1);
            return tag;
        }
        const std::size_t name = p;
        while (p < s.size() && nameChar(p)) {
            ++p;
        }
        while (p < s.size() && s[p] != '"' && s[p] != '\'') {
            if (s[p] == '<' || s[p] == '>' || (s[p] != '=' && !isBlankChar(s[p]))) {
                return std::nullopt;
            }
            ++p;
        }
        if (p >= s.size() || p == name) {
            return std::nullopt;
        }
        const std::size_t quote = p;
        const std::size_t close = s.find(s[quote], quote + 1);
        if (close == npos) {
            return std::nullopt;
        }
        p = close + 1;
        tag.attributes.push_back({lead, name, quote, p});
    }
}

void appendAttributeValue(std::string& out, std::string_view value, char quote) {
    Writer(out).attributeValue(value, quote);
}

bool isAttachedNode(const xmlNode* n) {
    for (; n != nullptr; n = n->parent) {
        if (n->type == XML_DOCUMENT_NODE) {
            return true;
        }
    }
    return false;
}

bool changed(const xmlNode* n) {
    return hasMark(n, kChangeMarks);
}

bool writesNothing(const xmlNode* child) {
    for (; child != nullptr; child = child->next) {
        if (child->type != XML_TEXT_NODE || (child->content != nullptr && child->content[0] != 0)) {
            return false;
        }
    }
    return true;
}

bool preserveSpaceAt(const xmlNode* element) {
    for (const xmlNode* p = element; p != nullptr && p->type == XML_ELEMENT_NODE; p = p->parent) {
        int space = xmlSpaceOf(p);
        if (space != -1) {
            return space == 1;
        }
    }
    return false;
}

std::optional<std::vector<const xmlNs*>> missingDeclarations(xmlNodePtr moved,
                                                             const NamespaceScope& outer) {
    struct Want {
        std::string prefix;
        const xmlNs* ns;  // what the names want it to stand for (kNoNamespace: none)
    };
    std::vector<Want> wants;
    bool conflict = false;
    auto want = [&](const xmlChar* prefix, const xmlNs* ns) {
        std::string_view p = prefix ? str(prefix) : "";
        std::string_view href = ns->href ? str(ns->href) : "";
        for (const Want& w : wants) {
            if (w.prefix == p) {
                conflict = conflict || (w.ns->href ? str(w.ns->href) : "") != href;
                return;
            }
        }
        wants.push_back({std::string(p), ns});
    };
    NamespaceScope local;
    std::vector<std::size_t> marks;
    walkTree(
        moved,
        [&](xmlNodePtr n) {
            if (n->type != XML_ELEMENT_NODE) {
                return false;
            }
            marks.push_back(local.Mark());
            for (const xmlNs* ns = n->nsDef; ns != nullptr; ns = ns->next) {
                local.Bind(ns);
            }
            if (n->ns != nullptr) {
                if (local.Lookup(n->ns->prefix) == nullptr &&
                    !(n->ns->prefix != nullptr && xmlStrEqual(n->ns->prefix, BAD_CAST "xml"))) {
                    want(n->ns->prefix, n->ns);
                }
            } else if (hasMark(n, kMarkParsed) && local.Lookup(nullptr) == nullptr) {
                want(nullptr, &kNoNamespace);  // a made one takes the default where it stands
            }
            for (const xmlAttr* a = n->properties; a != nullptr; a = a->next) {
                if (a->ns != nullptr && a->ns->prefix != nullptr &&
                    !xmlStrEqual(a->ns->prefix, BAD_CAST "xml") &&
                    local.Lookup(a->ns->prefix) == nullptr) {
                    want(a->ns->prefix, a->ns);
                }
            }
            return true;
        },
        [&](xmlNodePtr n) {
            if (n->type == XML_ELEMENT_NODE) {
                local.Release(marks.back());
                marks.pop_back();
            }
        });
    if (conflict) {
        return std::nullopt;
    }
    std::vector<const xmlNs*> needed;
    for (const Want& w : wants) {
        const xmlChar* bound = outer.Lookup(w.prefix.empty() ? nullptr : BAD_CAST w.prefix.c_str());
        std::string_view now = bound ? str(bound) : "";
        std::string_view wanted = w.ns->href ? str(w.ns->href) : "";
        if (now != wanted) {
            needed.push_back(w.ns);
        }
    }
    return needed;
}

}  // namespace quorrel::detail::splice
