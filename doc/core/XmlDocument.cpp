// The DOM adapter's document: the node factory and the lookups from the top.
#include "doc/core/XmlDom.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/valid.h>

#include <charconv>
#include <memory>
#include <string>
#include <vector>

#include "doc/core/XmlDomInternal.h"
#include "doc/core/XmlDomLinks.h"

namespace quorrel {

using detail::asAttr;
using detail::asNode;
using detail::asNs;
using detail::DocState;
using detail::fail;
using detail::newAttribute;
using detail::requireContent;
using detail::str;
using detail::xstr;

namespace {

bool parseIndex(std::string_view s, std::size_t& out) {
    if (s.empty() || (s.size() > 1 && s[0] == '0')) {
        return false;
    }
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return ec == std::errc() && p == s.data() + s.size();
}

}  // namespace

// ------------------------------------------------------------ XmlDocument

XmlDocument::XmlDocument() : m_state(std::make_unique<DocState>()) {}

XmlDocument::~XmlDocument() = default;

void XmlDocument::reset() {
    m_state->clear();
    m_parseError = ParseError();
    m_unreadDtds.clear();
}

XmlNode XmlDocument::wrap(void* node) {
    return XmlNode(node, nullptr, this);
}

void XmlDocument::adopt(void* node) {
    detail::setMark(asNode(node), detail::kMarkCreated);
    m_state->orphans.insert(asNode(node));
}

std::size_t XmlDocument::sourceSize() const {
    return m_state->sourceBytes;
}

bool XmlDocument::hollow() const {
    return m_state->hollow;
}

bool XmlDocument::consultsDtdOrSchema() const {
    return m_state->consultsDtdOrSchema;
}

XmlNode XmlDocument::documentNode() {
    return wrap(m_state->ensureDoc());
}

XmlNode XmlDocument::documentElement() {
    if (m_state->doc == nullptr) {
        return {};
    }
    return wrap(xmlDocGetRootElement(m_state->doc));
}

std::optional<std::vector<XmlNode>> XmlDocument::selectNodes(std::string_view path) {
    struct Step {
        std::string_view name;
        std::size_t index;
    };
    std::vector<Step> steps;
    std::string_view rest = path;
    while (!rest.empty()) {
        if (rest[0] != '/') {
            return std::nullopt;
        }
        std::size_t open = rest.find('[');
        std::size_t close = rest.find(']');
        if (open == std::string_view::npos || close == std::string_view::npos || close < open ||
            open == 1) {
            return std::nullopt;
        }
        std::string_view name = rest.substr(1, open - 1);
        if (name.find('/') != std::string_view::npos) {
            return std::nullopt;
        }
        std::size_t index = 0;
        if (!parseIndex(rest.substr(open + 1, close - open - 1), index)) {
            return std::nullopt;
        }
        steps.push_back({name, index});
        rest = rest.substr(close + 1);
    }
    if (steps.empty()) {
        return std::nullopt;
    }
    std::vector<XmlNode> result;
    if (m_state->doc == nullptr) {
        return result;
    }
    xmlNodePtr current = reinterpret_cast<xmlNodePtr>(m_state->doc);
    for (const Step& step : steps) {
        xmlNodePtr found = nullptr;
        std::size_t seen = 0;
        for (xmlNodePtr c = current->children; c != nullptr; c = c->next) {
            if (c->type == XML_ELEMENT_NODE &&
                detail::qualifiedNameEquals(c->ns, c->name, step.name) && seen++ == step.index) {
                found = c;
                break;
            }
        }
        if (found == nullptr) {
            return result;
        }
        current = found;
    }
    result.push_back(wrap(current));
    return result;
}

XmlNode XmlDocument::createElement(std::string_view name) {
    std::string n(name);
    if (!IsXmlName(n)) {
        fail(DomErrorCode::InvalidCharacter, "'" + n + "' is not a valid XML name.");
    }
    xmlNodePtr node = xmlNewDocNode(m_state->ensureDoc(), nullptr, xstr(n.c_str()), nullptr);
    adopt(node);
    return wrap(node);
}

XmlNode XmlDocument::createTextNode(std::string_view text) {
    // The length is given, so no terminated copy of a long text is needed.
    xmlNodePtr node = requireContent(
        xmlNewDocTextLen(m_state->ensureDoc(), xstr(text.data()), int(text.size())), text.size());
    adopt(node);
    return wrap(node);
}

XmlNode XmlDocument::createAttribute(std::string_view name) {
    std::string n(name);
    if (!IsXmlName(n)) {
        fail(DomErrorCode::InvalidCharacter, "'" + n + "' is not a valid XML name.");
    }
    xmlAttrPtr attr = newAttribute(m_state->ensureDoc(), nullptr, xstr(n.c_str()), "");
    adopt(attr);
    return wrap(attr);
}

XmlNode XmlDocument::createComment(std::string_view text) {
    xmlNodePtr node = requireContent(
        xmlNewDocComment(m_state->ensureDoc(), xstr(std::string(text).c_str())), text.size());
    adopt(node);
    return wrap(node);
}

XmlNode XmlDocument::createCDATASection(std::string_view text) {
    xmlNodePtr node = requireContent(
        xmlNewCDataBlock(m_state->ensureDoc(), xstr(text.data()), int(text.size())), text.size());
    adopt(node);
    return wrap(node);
}

XmlNode XmlDocument::createProcessingInstruction(std::string_view target, std::string_view data) {
    std::string t(target);
    if (xmlValidateName(xstr(t.c_str()), 0) != 0) {
        fail(DomErrorCode::InvalidCharacter,
             "'" + t + "' is not a valid processing instruction target.");
    }
    xmlNodePtr node =
        xmlNewDocPI(m_state->ensureDoc(), xstr(t.c_str()), xstr(std::string(data).c_str()));
    adopt(node);
    return wrap(node);
}

XmlNode XmlDocument::createDocumentFragment() {
    xmlNodePtr node = xmlNewDocFragment(m_state->ensureDoc());
    adopt(node);
    return wrap(node);
}

}  // namespace quorrel
