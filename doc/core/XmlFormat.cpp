// Format Document: the text indented anew. Element content goes one child
// a line, one step deeper than its parent; what is inside a start tag, mixed
// content, preserved space, comments and references stays as written.
#include <libxml/tree.h>

#include <algorithm>
#include <map>
#include <optional>

#include "doc/core/XmlDom.h"
#include "doc/core/XmlDomInternal.h"

namespace quorrel {

namespace {

using namespace detail;

constexpr std::size_t npos = std::string_view::npos;

class Formatter {
public:
    Formatter(std::string_view text, std::string_view indent, std::string& out)
        : m_text(text), m_indent(indent), m_out(out) {
        std::size_t nl = text.find('\n');
        m_newline = nl != npos && nl > 0 && text[nl - 1] == '\r' ? "\r\n" : "\n";
    }

    // False when the node's place in the text is not known.
    bool Element(const xmlNode* e, int depth) {
        std::optional<std::pair<std::size_t, std::size_t>> span = ElementSpan(e);
        if (!span) {
            return false;
        }
        const auto [begin, end] = *span;
        if (!IsElementContent(e)) {
            m_out.append(m_text.substr(begin, end - begin));
            return true;
        }
        const std::size_t tagEnd = StartTagEnd(begin, end);
        const std::size_t endTag = m_text.rfind('<', end - 1);
        m_out.append(m_text.substr(begin, tagEnd - begin));
        std::size_t reference = npos;  // the one written last: its nodes share it
        std::size_t after = tagEnd;    // where the child before ended
        for (const xmlNode* c = e->children; c != nullptr; c = c->next) {
            if (hasMark(c, kMarkFromEntity)) {
                if (spanBegin(c) == reference) {
                    continue;
                }
                reference = spanBegin(c);
                Line(depth + 1, after, reference);
                std::size_t semicolon = m_text.find(';', reference);
                m_out.append(m_text.substr(reference, semicolon + 1 - reference));
                after = semicolon + 1;
                continue;
            }
            Line(depth + 1, after, spanBegin(c));
            if (c->type == XML_ELEMENT_NODE) {
                if (!Element(c, depth + 1)) {
                    return false;
                }
                after = elementEnd(c);
            } else if (std::optional<std::pair<std::size_t, std::size_t>> leaf = LeafSpan(c)) {
                m_out.append(m_text.substr(leaf->first, leaf->second - leaf->first));
                after = leaf->second;
            } else {
                return false;
            }
        }
        Line(depth, after, endTag);
        m_out.append(m_text.substr(endTag, end - endTag));
        return true;
    }

private:
    // Children of which none is text, where blanks may be laid out freely.
    bool IsElementContent(const xmlNode* e) const {
        if (e->children == nullptr || hasMark(e, kMarkEntangled) || PreservesSpace(e)) {
            return false;
        }
        std::size_t after = npos;  // where the child before ended
        for (const xmlNode* c = e->children; c != nullptr; c = c->next) {
            if (c->type == XML_TEXT_NODE || c->type == XML_CDATA_SECTION_NODE || !hasSpan(c)) {
                return false;
            }
            // Blanks within a line between two children part inline
            // elements, as in mixed content: "<em>a</em> <em>b</em>".
            const std::size_t begin = spanBegin(c);
            if (after != npos && after < begin) {
                std::string_view between = m_text.substr(after, begin - after);
                if (between.find('\n') == npos) {
                    return false;
                }
            }
            after = c->type == XML_ELEMENT_NODE   ? elementEnd(c)
                    : hasMark(c, kMarkFromEntity) ? m_text.find(';', begin) + 1
                    : LeafSpan(c)                 ? LeafSpan(c)->second
                                                  : npos;
        }
        return true;
    }

    bool PreservesSpace(const xmlNode* e) const {
        for (const xmlNode* p = e; p != nullptr && p->type == XML_ELEMENT_NODE; p = p->parent) {
            int space = xmlSpaceOf(p);
            if (space != -1) {
                return space == 1;
            }
        }
        return false;
    }

    std::optional<std::pair<std::size_t, std::size_t>> ElementSpan(const xmlNode* e) const {
        if (!hasMark(e, kMarkPlaced)) {
            return std::nullopt;
        }
        std::size_t begin = spanBegin(e), end = elementEnd(e);
        if (begin >= end || end > m_text.size() || m_text[begin] != '<') {
            return std::nullopt;
        }
        return std::make_pair(begin, end);
    }

    std::optional<std::pair<std::size_t, std::size_t>> LeafSpan(const xmlNode* n) const {
        if (!hasMark(n, kMarkPlaced)) {
            return std::nullopt;
        }
        std::size_t begin = spanBegin(n);
        std::string_view close = n->type == XML_COMMENT_NODE ? "-->"
                                 : n->type == XML_PI_NODE    ? "?>"
                                                             : "";
        std::size_t end = close.empty() ? npos : m_text.find(close, begin);
        if (end == npos) {
            return std::nullopt;
        }
        return std::make_pair(begin, end + close.size());
    }

    // After the '>' of the start tag at begin (attribute values may hold '>').
    std::size_t StartTagEnd(std::size_t begin, std::size_t end) const {
        char quote = 0;
        for (std::size_t i = begin; i < end; ++i) {
            if (quote != 0) {
                quote = m_text[i] == quote ? 0 : quote;
            } else if (m_text[i] == '"' || m_text[i] == '\'') {
                quote = m_text[i];
            } else if (m_text[i] == '>') {
                return i + 1;
            }
        }
        return end;
    }

    // A new line for what starts at next; a blank line before it stays one.
    void Line(int depth, std::size_t after, std::size_t next) {
        if (after < next) {
            std::string_view between = m_text.substr(after, next - after);
            std::size_t first = between.find('\n');
            if (first != npos && between.find('\n', first + 1) != npos) {
                m_out += m_newline;
            }
        }
        m_out += m_newline;
        for (int i = 0; i < depth; ++i) {
            m_out.append(m_indent);
        }
    }

    std::string_view m_text;
    std::string_view m_indent;
    std::string& m_out;
    std::string m_newline;
};

}  // namespace

std::string DocumentIndent(std::string_view text) {
    // The indentation of the lines that start with markup: a tab when they
    // are indented with tabs, else the smallest number of blanks.
    std::map<std::size_t, int> blanks;
    int tabs = 0;
    std::size_t lines = 0;
    for (std::size_t at = text.find('\n'); at != npos && lines < 4096;
         at = text.find('\n', at + 1), ++lines) {
        std::size_t p = at + 1;
        std::size_t q = p;
        while (q < text.size() && (text[q] == ' ' || text[q] == '\t')) {
            ++q;
        }
        if (q == p || q >= text.size() || text[q] != '<') {
            continue;
        }
        if (text[p] == '\t') {
            ++tabs;
        } else if (text.substr(p, q - p).find('\t') == npos) {
            ++blanks[q - p];
        }
    }
    int spaced = 0;
    for (const auto& [count, lines] : blanks) {
        spaced += lines;
    }
    if (tabs >= spaced || blanks.empty()) {
        return "\t";
    }
    return std::string(blanks.begin()->first, ' ');
}

std::optional<std::string> XmlDocument::formatted(std::string_view parsedText,
                                                  std::string_view indent) const {
    const DocState& state = *m_state;
    if (!parsedFrom(parsedText)) {
        return std::nullopt;
    }
    xmlNodePtr root = xmlDocGetRootElement(state.doc);
    if (root == nullptr || !hasMark(root, kMarkPlaced)) {
        return std::nullopt;
    }
    std::string out;
    out.reserve(parsedText.size() + parsedText.size() / 4);
    out.append(parsedText.substr(0, spanBegin(root)));
    Formatter formatter(parsedText, indent, out);
    if (!formatter.Element(root, 0)) {
        return std::nullopt;
    }
    out.append(parsedText.substr(elementEnd(root)));
    return out;
}

}  // namespace quorrel
