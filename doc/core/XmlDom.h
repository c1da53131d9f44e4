// The XML DOM service: a small W3C-style DOM over libxml2.
//
// XmlDocument owns everything: the parsed tree, nodes created for it and nodes
// removed from it. XmlNode and XmlNamedNodeMap are plain handles that stay
// valid until their document is destroyed or reloaded. A refused call throws
// DomError with a W3C DOMException code.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace quorrel {

enum class NodeType {
    None = 0,
    Element = 1,
    Attribute = 2,
    Text = 3,
    CData = 4,
    EntityReference = 5,
    Entity = 6,
    ProcessingInstruction = 7,
    Comment = 8,
    Document = 9,
    DocumentType = 10,
    DocumentFragment = 11,
    Notation = 12,
};

// W3C DOMException codes.
enum class DomErrorCode {
    IndexSize = 1,
    HierarchyRequest = 3,
    WrongDocument = 4,
    InvalidCharacter = 5,
    NoModificationAllowed = 7,
    NotFound = 8,
    NotSupported = 9,
    InUseAttribute = 10,
    InvalidState = 11,
    Syntax = 12,
};

class DomError : public std::runtime_error {
public:
    DomError(DomErrorCode code, const std::string& what) : std::runtime_error(what), m_code(code) {}
    DomErrorCode code() const { return m_code; }

private:
    DomErrorCode m_code;
};

class XmlDocument;
class XmlNamedNodeMap;
class ShownNodeSink;

// Whether the DOM accepts the text as an element or attribute name (an XML
// Name; a prefix with a colon is allowed).
bool IsXmlName(std::string_view name);
namespace detail {
struct DocState;
void markEverythingChanged(XmlDocument& document, bool texts);
}  // namespace detail

class XmlNode {
public:
    XmlNode() = default;

    explicit operator bool() const { return m_ptr != nullptr; }
    bool operator==(const XmlNode& other) const { return m_ptr == other.m_ptr; }

    NodeType nodeType() const;
    std::string nodeName() const;  // with its prefix; "#text", "#comment", ...
    // Elements and attributes: the namespace the name is in ("" for none) and
    // the name without its prefix. A namespace declaration is in the xmlns namespace.
    std::string namespaceURI() const;
    std::string localName() const;
    std::string nodeValue() const;  // empty for elements, documents and fragments
    void setNodeValue(std::string_view value);

    XmlNode parentNode() const;
    XmlNode firstChild() const;
    XmlNode lastChild() const;
    XmlNode nextSibling() const;
    XmlNode previousSibling() const;
    bool hasChildNodes() const { return bool(firstChild()); }
    // The children as they are now (not a live list).
    std::vector<XmlNode> childNodes() const;
    XmlDocument& ownerDocument() const;

    // Tree changes. A document fragment passes on its children, in order, and is left empty.
    XmlNode appendChild(XmlNode newChild);
    XmlNode insertBefore(XmlNode newChild, XmlNode refChild);  // null refChild appends
    XmlNode replaceChild(XmlNode newChild, XmlNode oldChild);
    XmlNode removeChild(XmlNode oldChild);

    // The node alone: an element with its attributes, but none of its children.
    XmlNode cloneNode() const;
    // The element takes the name as createElement would give a new element
    // (the name as written, in no namespace until the text is parsed again),
    // keeping its attributes and children where they are: what replacing it by
    // such an element holding them comes to, without the copies.
    void renameAsCreated(std::string_view qualifiedName);

    // Elements.
    XmlNamedNodeMap attributes() const;
    std::string getAttribute(std::string_view name) const;
    void setAttribute(std::string_view name, std::string_view value);
    XmlNode setAttributeNode(XmlNode attr);
    // The namespace declarations among the attributes (none without a look
    // at the others).
    std::vector<XmlNode> namespaceDeclarations() const;
    // The namespace the prefix ("" for the default) stands for in this
    // element's scope; "" when none.
    std::string lookupNamespaceURI(std::string_view prefix) const;
    // Descendant elements of that name ("*": all) in document order, fixed when built.
    std::vector<XmlNode> getElementsByTagName(std::string_view name) const;

    // Attributes.
    std::string value() const { return nodeValue(); }
    // False for an attribute (or namespace declaration) the DTD supplied: it
    // is in the tree but was not in the text, and it is not written back.
    bool specified() const;
    void setValue(std::string_view value) { setNodeValue(value); }

    // Raw access for the rest of the core (serialiser, tree builder).
    void* raw() const { return m_ptr; }

private:
    friend class XmlDocument;
    friend class XmlNamedNodeMap;
    friend struct detail::DocState;

    // A namespace declaration is shown as an attribute: m_ptr is then an
    // xmlNs and m_nsOwner the element that declares it.
    XmlNode(void* ptr, void* nsOwner, XmlDocument* doc)
        : m_ptr(ptr), m_nsOwner(nsOwner), m_doc(doc) {}
    bool isNamespaceDecl() const { return m_nsOwner != nullptr; }
    void requireElement(const char* operation) const;

    void* m_ptr = nullptr;
    void* m_nsOwner = nullptr;
    XmlDocument* m_doc = nullptr;
};

// An element's attributes: namespace declarations first, then the others in
// document order.
class XmlNamedNodeMap {
public:
    XmlNamedNodeMap() = default;
    std::size_t length() const;
    XmlNode item(std::size_t index) const;              // null beyond the end
    XmlNode getNamedItem(std::string_view name) const;  // null when absent
    // Replaces the attribute of the same name in place, else appends; returns the replaced one.
    XmlNode setNamedItem(XmlNode attr);
    XmlNode removeNamedItem(std::string_view name);  // NotFound when absent

private:
    friend class XmlNode;
    explicit XmlNamedNodeMap(XmlNode element) : m_element(element) {}
    const std::vector<XmlNode>& items() const;

    XmlNode m_element;
    mutable std::shared_ptr<std::vector<XmlNode>> m_cache;
    mutable unsigned long m_cacheGeneration = 0;
};

struct ParseError {
    long line = 0;    // > 0 when the load failed
    long column = 0;  // 0 when unknown
    std::string reason;
    int code = 0;  // libxml2's error code, or 0
};

// Fetches an http or https resource; returns false with a reason on failure.
using ResourceFetcher =
    std::function<bool(const std::string& url, std::string& body, std::string& error)>;

struct LoadOptions {
    bool validateOnParse = true;
    // Where the document lives (absolute path or http(s) URL): relative DTDs,
    // entities and schemas are resolved against it. Empty: the current directory.
    std::string baseUrl;
    // Set only for documents that came from a URL: external resources are then
    // fetched with it, and local files are refused.
    ResourceFetcher fetcher;
    // Text made only of blanks is dropped as it is read; false drops it after
    // the parse instead (the slow way the checks compare against).
    bool dropBlankTextWhileParsing = true;
    // False only checks the text (well-formed, no DTD or schema to consult)
    // and builds nothing: the document stays empty either way.
    bool buildTree = true;
    // Where a document without a DTD tells the nodes the tree pane shows as
    // it reads them, freeing each once told: the document is then hollow
    // (see XmlDocument::hollow()). With a DTD (or a schema to validate
    // against) the document is built whole and nothing is told.
    ShownNodeSink* shownNodes = nullptr;
};

// The indentation step a text uses: a tab, or some blanks ("\t" when it has none).
std::string DocumentIndent(std::string_view text);

class XmlDocument {
public:
    XmlDocument();  // an empty document (no nodes)
    ~XmlDocument();
    XmlDocument(const XmlDocument&) = delete;
    XmlDocument& operator=(const XmlDocument&) = delete;

    // Parses UTF-8 text, whatever encoding its declaration names. On failure
    // the document is left empty and parseError().line > 0.
    bool loadXML(std::string_view utf8Text, const LoadOptions& options = {});
    // Parses bytes as a file holds them (encoding detected from BOM/declaration).
    bool loadBytes(std::string_view bytes, const LoadOptions& options = {});
    const ParseError& parseError() const { return m_parseError; }
    // After a parse with validation off that went on without a DTD (or part
    // of one) it could not read: one line per such DTD, saying which and why.
    const std::vector<std::string>& unreadDtds() const { return m_unreadDtds; }
    // Fails the document as a parse would: empty, with this error.
    void failLoad(long line, long column, std::string reason);

    XmlNode documentNode();
    XmlNode documentElement();  // null when there is none

    // The whole document as text, written anew from the nodes.
    std::string xml() const;
    // The same keeping the text the document was parsed from: what no
    // change touched is copied from it byte for byte, with the layout, the
    // references and the blanks between the nodes; what changed is written
    // in the layout of its neighbours. Any other text: as xml().
    std::string xml(std::string_view parsedText) const;
    // Whether the document was parsed from this very text (its nodes know
    // where they stand in it).
    bool parsedFrom(std::string_view text) const;
    // Format Document: parsedText indented anew, each child of element
    // content on a line of its own, indent deeper than its parent; mixed
    // content, preserved space, start tags, comments and references as
    // written. Nullopt when the document was not parsed from parsedText.
    std::optional<std::string> formatted(std::string_view parsedText,
                                         std::string_view indent) const;
    // The size of the text the document was parsed from (0 when it was built otherwise).
    std::size_t sourceSize() const;
    // The parse told its nodes to LoadOptions::shownNodes and kept none: only
    // the parse error and what the text declared remain.
    bool hollow() const;
    // Whether the parsed text had a DTD (internal or external) or named an XML Schema:
    // without either, a check of its well-formedness is all a parse of it can say.
    bool consultsDtdOrSchema() const;

    // Paths of steps "/name[n]": nullopt when malformed, empty when nothing matches.
    std::optional<std::vector<XmlNode>> selectNodes(std::string_view path);

    // Creating nodes, and setting an attribute's value, throw std::bad_alloc
    // when libxml2 cannot copy the text (it would leave the text out silently).
    XmlNode createElement(std::string_view name);
    XmlNode createTextNode(std::string_view text);
    XmlNode createAttribute(std::string_view name);
    XmlNode createComment(std::string_view text);
    XmlNode createCDATASection(std::string_view text);
    XmlNode createProcessingInstruction(std::string_view target, std::string_view data);
    XmlNode createDocumentFragment();

private:
    friend class XmlNode;
    friend class XmlNamedNodeMap;
    friend struct detail::DocState;
    friend void detail::markEverythingChanged(XmlDocument& document, bool texts);

    bool parse(std::string_view data, bool isUtf8Text, const LoadOptions& options);
    void reset();
    XmlNode wrap(void* node);
    void adopt(void* node);  // a node created for or removed from this document

    std::unique_ptr<detail::DocState> m_state;
    ParseError m_parseError;
    std::vector<std::string> m_unreadDtds;
};

}  // namespace quorrel
