// XPath 1.0 over the DOM with libxml2's engine. A result is values only (no
// pointers into the DOM), so an expression may be evaluated on a DOM of its
// own on a worker thread and its rows shown after that DOM has gone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "doc/core/XmlDom.h"

namespace quorrel {

// A prefix an expression may use for a namespace. The declarations of a
// document give an empty prefix for the default namespace: XPath 1.0 names
// without a prefix are in no namespace, so it needs a prefix of its own.
struct NamespaceBinding {
    std::string prefix;
    std::string uri;
    bool operator==(const NamespaceBinding&) const = default;
};

// The namespace declarations of the document, in document order, each
// prefix and namespace pair once.
std::vector<NamespaceBinding> DocumentNamespaces(XmlDocument& dom);
// What an expression is evaluated with: the document's prefixed
// declarations (a prefix declared twice keeps its first namespace), then
// the given ones, which win over them. Empty prefixes are left out.
std::vector<NamespaceBinding> MergeNamespaces(const std::vector<NamespaceBinding>& document,
                                              const std::vector<NamespaceBinding>& given);
// "PREFIX=URI"; nullopt when the prefix is not an XML name without a colon.
std::optional<NamespaceBinding> ParseNamespaceBinding(std::string_view text);

enum class XPathNodeKind : std::uint8_t {
    Element,
    Attribute,
    Text,
    CData,
    Comment,
    ProcessingInstruction,
    Document,
    Namespace,
    Other,
};
// "element", "attribute", "text", "CDATA", "comment", "processing instruction", ...
std::string_view XPathNodeKindName(XPathNodeKind kind);

// One node of a node-set. The strings stay valid while their result lives.
struct XPathRow {
    XPathNodeKind kind = XPathNodeKind::Other;
    std::string_view name;  // element, attribute and PI target names, a namespace's prefix
    // The node's item path as the tree shows it (an element's item path; for
    // an attribute, text, CDATA or comment item its owner's and /@name,
    // /text()[N] or /comment()[N]); empty when the node has no tree item.
    std::string_view itemPath;
    // Its tree item's position, as FindItemAt takes it ("0.2.1"); empty when none.
    std::string_view treeItem;
    // An absolute XPath that selects the node alone (see AbsoluteXPath).
    std::string_view xpath;
    // The first 80 characters of the node's string value.
    std::string_view text;
    // Where the node stands in the text the DOM was parsed from: a byte
    // offset, and line and column from 1 (the column counts characters; CR
    // LF, LF and CR each end a line). A node without a place of its own
    // (from an entity, supplied by the DTD) takes its reference's or its
    // parent's; kNoOffset and 0:0 when the DOM was not parsed from the text.
    static constexpr std::size_t kNoOffset = std::size_t(-1);
    std::size_t offset = kNoOffset;
    bool ownPlace = false;
    std::uint32_t line = 0;
    std::uint32_t column = 0;
};

enum class XPathValueType { NodeSet, Boolean, Number, String };

class XPathResult {
public:
    XPathResult();
    ~XPathResult();
    XPathResult(XPathResult&&) noexcept;
    XPathResult& operator=(XPathResult&&) noexcept;

    XPathValueType type() const { return m_type; }
    bool isNodeSet() const { return m_type == XPathValueType::NodeSet; }
    // The nodes of a node-set in document order; none for the other types.
    std::size_t size() const;
    XPathRow row(std::size_t index) const;
    // How many rows are of the kind.
    std::size_t count(XPathNodeKind kind) const;
    // Every row is of this kind (nullopt when the rows are of several kinds or none).
    std::optional<XPathNodeKind> singleKind() const;
    bool boolean() const { return m_boolean; }
    double number() const { return m_number; }
    // A boolean, number or string as XPath's string() gives it (empty for a node-set).
    const std::string& string() const { return m_string; }

private:
    friend class XPathResultBuilder;
    struct Storage;
    XPathValueType m_type = XPathValueType::NodeSet;
    bool m_boolean = false;
    double m_number = 0;
    std::string m_string;
    std::unique_ptr<Storage> m_rows;
};

// Why an expression gave no value: libxml2's reason, and for a compile
// error where in the expression it stopped (a byte offset).
struct XPathError {
    std::string reason;
    std::size_t offset = 0;
    bool compiling = true;  // false: it compiled, and failed while evaluating
};
// "reason at character N" (N from 1, in characters), or for an error while
// evaluating "reason (while evaluating)".
std::string DescribeXPathError(const XPathError& error, std::string_view expression);

// Lets another thread stop an evaluation. One evaluation at a time.
class XPathCancel {
public:
    void cancel();
    bool cancelled() const;

private:
    friend class RunningEvaluation;
    mutable std::mutex m_mutex;
    bool m_cancelled = false;
    unsigned long* m_opLimit = nullptr;  // the running evaluation's
};

struct XPathQuery {
    std::string expression;
    std::vector<NamespaceBinding> namespaces;  // the whole table (MergeNamespaces)
};

enum class XPathStatus { Done, Failed, Cancelled };

struct XPathOutcome {
    XPathStatus status = XPathStatus::Failed;
    XPathResult result;  // Done
    XPathError error;    // Failed
};

// Evaluates the expression with the document node as context node. text:
// the text dom was parsed from, for the rows' places (any other text: no
// places). Reads dom only: any thread, while dom stands still.
XPathOutcome EvaluateXPath(XmlDocument& dom, std::string_view text, const XPathQuery& query,
                           XPathCancel* cancel = nullptr);

// The node-set as node handles, for the core code that changes the nodes it
// finds; a namespace node has no handle (an empty XmlNode stands for it).
struct XPathNodes {
    XPathStatus status = XPathStatus::Failed;
    XPathError error;
    XPathValueType type = XPathValueType::NodeSet;
    std::vector<XmlNode> nodes;
    std::vector<XPathNodeKind> kinds;  // of each node
};
XPathNodes SelectXPathNodes(XmlDocument& dom, const XPathQuery& query);

// An absolute XPath that selects the node alone: one step per level from
// the document element down, 1-based, a position only where siblings share
// the step (/catalog/section[2]/book[1]/@lang counts books, never texts).
// A name in a namespace takes a prefix of the table that stands for it,
// else *[local-name()='x'] (with namespace-uri() when a sibling shares the
// local name). Blank texts the DOM drops do not count: text()[N] numbers
// the texts the tree shows. Empty for a namespace declaration.
std::string AbsoluteXPath(XmlNode node, const std::vector<NamespaceBinding>& namespaces = {});
// The node's item path as the tree shows it (XPathRow::itemPath), and its
// tree item's position (XPathRow::treeItem); empty when it has no tree item.
std::string ShownItemPathOf(XmlNode node);
std::string TreeItemOf(XmlNode node);
// The element an attribute belongs to (null for any other node).
XmlNode OwnerElementOf(XmlNode attribute);
// The node of the tree item at a position ("0.2.1"); null when none.
XmlNode NodeAtTreeItem(XmlDocument& dom, std::string_view position);

}  // namespace quorrel
