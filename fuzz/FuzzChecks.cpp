#include "fuzz/FuzzChecks.h"

#include <algorithm>
#include <array>
#include <memory>
#include <set>

#include "doc/core/Doc.h"
#include "doc/core/FileCodec.h"
#include "doc/core/MessageSink.h"
#include "doc/core/XmlDom.h"
#include "doc/core/XmlDomInternal.h"
#include "edit/core/TreeCommands.h"
#include "views/source/core/Colorize.h"
#include "views/tree/core/ItemPath.h"
#include "views/tree/core/TreeItems.h"
#include "views/tree/core/TreeListing.h"

namespace quorrel::fuzz {

namespace {

// Reads the fuzzer's bytes as choices; past the end every choice is 0.
class Choices {
public:
    explicit Choices(std::string_view data) : m_data(data) {}
    bool Empty() const { return m_pos >= m_data.size(); }
    unsigned Next() { return Empty() ? 0 : static_cast<unsigned char>(m_data[m_pos++]); }
    template <std::size_t N>
    std::string_view Pick(const std::array<std::string_view, N>& pool) {
        return pool[Next() % N];
    }
    std::string_view Rest() const { return Empty() ? std::string_view() : m_data.substr(m_pos); }
    void Skip(std::size_t n) { m_pos += n; }

private:
    std::string_view m_data;
    std::size_t m_pos = 0;
};

// External resources are never read: the checks must not depend on the machine.
LoadOptions HermeticOptions(bool validate) {
    LoadOptions options;
    options.validateOnParse = validate;
    options.baseUrl = "http://quorrel-fuzz.invalid/doc.xml";
    options.fetcher = [](const std::string&, std::string&, std::string& error) {
        error = "nothing is fetched while fuzzing";
        return false;
    };
    return options;
}

// The items in document order, one line each, as quorrel-cli tree prints them.
std::string Describe(const CTreeItems& items, std::vector<const CTreeItem*>* order = nullptr) {
    if (order != nullptr) {
        VisitItems(items, [&](const CTreeItem& item, int) { order->push_back(&item); });
    }
    return TreeListing(items);
}

// The same with the labels' blanks left out: the text keeps blanks of mixed
// content that the DOM leaves out, so a text may read with more of them.
// Namespace declarations are left out: where one is written is the writer's
// choice (the names' namespaces are checked on their own).
std::string DescribeWithoutBlanks(const CTreeItems& items) {
    std::string out;
    VisitItems(items, [&](const CTreeItem& item, int depth) {
        std::string label;
        for (char c : item.label()) {
            if (c != ' ' && c != '\t' && c != '\n' && c != '\r') {
                label += c;
            }
        }
        // A blank text the DOM left out but the text keeps is an item where
        // xml:space="preserve" now holds.
        if (label.empty() || label.starts_with("xmlns=") || label.starts_with("xmlns:")) {
            return;
        }
        out.append(std::size_t(depth) * 2, ' ');
        out += std::to_string(item.image()) + "/" + std::to_string(item.selectedImage()) + " ";
        out += label + '\n';
    });
    return out;
}

// The tree items the tree pane would show for a loaded DOM.
std::string ItemsOf(std::unique_ptr<XmlDocument> dom, const std::string& text) {
    CollectingSink sink;
    CDoc doc(sink);
    doc.SetTextAndDom(text, std::move(dom));
    CTreeItems items;
    BuildTreeFromDom(doc, items);
    return Describe(items);
}

bool IsUtf8WithoutNul(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        auto c = static_cast<unsigned char>(s[i]);
        std::size_t len = c < 0x80           ? 1
                          : (c >> 5) == 0x6  ? 2
                          : (c >> 4) == 0xE  ? 3
                          : (c >> 3) == 0x1E ? 4
                                             : 0;
        if (c == 0 || len == 0 || i + len > s.size()) {
            return false;
        }
        char32_t cp = len == 1 ? c : c & (0x7F >> len);
        for (std::size_t k = 1; k < len; ++k) {
            auto b = static_cast<unsigned char>(s[i + k]);
            if ((b & 0xC0) != 0x80) {
                return false;
            }
            cp = (cp << 6) | (b & 0x3F);
        }
        static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < kSmallest[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            return false;
        }
        i += len;
    }
    return true;
}

constexpr std::string_view kXmlnsNamespace = "http://www.w3.org/2000/xmlns/";

// What the text named: each element and attribute (not the namespace
// declarations, which the serialiser may add where a node moved) with its
// namespace, and each attribute the text itself held (not a DTD's default).
struct Name {
    std::string element, attribute, ns;  // attribute empty for the element itself
    auto operator<=>(const Name&) const = default;
};
struct Names {
    std::set<Name> qualified;
    std::set<Name> specified;  // without namespaces
};

Names NamesOf(XmlDocument& dom) {
    Names names;
    std::vector<XmlNode> pending;
    if (XmlNode root = dom.documentElement()) {
        pending.push_back(root);
    }
    while (!pending.empty()) {
        XmlNode n = pending.back();
        pending.pop_back();
        if (n.nodeType() != NodeType::Element) {
            continue;
        }
        const std::string element = n.nodeName();
        names.qualified.insert({element, "", n.namespaceURI()});
        XmlNamedNodeMap attributes = n.attributes();
        for (std::size_t i = 0; i < attributes.length(); ++i) {
            XmlNode a = attributes.item(i);
            if (a.namespaceURI() == kXmlnsNamespace) {
                continue;
            }
            names.qualified.insert({element, a.nodeName(), a.namespaceURI()});
            if (a.specified()) {
                names.specified.insert({element, a.nodeName(), ""});
            }
        }
        for (XmlNode c = n.firstChild(); c; c = c.nextSibling()) {
            pending.push_back(c);
        }
    }
    return names;
}

// A name in after that before lacks, unless it is one a command may bring
// in; empty when there is none.
std::string Gained(const std::set<Name>& before, const std::set<Name>& after,
                   const std::vector<std::string>& newNames) {
    for (const Name& name : after) {
        bool brought = std::any_of(newNames.begin(), newNames.end(), [&](const std::string& n) {
            return !n.empty() && (name.element == n || name.attribute == n);
        });
        if (!before.contains(name) && !brought) {
            return name.element + (name.attribute.empty() ? "" : "@" + name.attribute) + " {" +
                   name.ns + "}";
        }
    }
    return {};
}

std::string FirstDifference(std::string_view a, std::string_view b) {
    std::size_t i = 0;
    while (i < a.size() && i < b.size() && a[i] == b[i]) {
        ++i;
    }
    return "sizes " + std::to_string(a.size()) + " and " + std::to_string(b.size()) +
           ", first difference at byte " + std::to_string(i);
}

// ---- Random documents for the tree commands: always well-formed, small.

constexpr std::array<std::string_view, 6> kElementNames{"a", "b", "c", "item", "p:q", "a"};
constexpr std::array<std::string_view, 9> kAttributeNames{
    "x", "y", "id", "p:z", "xml:space", "xml:lang", "xmlns:r", "xmlns", "d"};
// Internal subsets that default attributes and namespace declarations.
constexpr std::array<std::string_view, 4> kSubsets{
    "", "<!DOCTYPE a [<!ATTLIST item d CDATA \"dv\" y CDATA #FIXED \"fy\">]>\n",
    "<!DOCTYPE a [\n  <!-- defaults -->\n  <!ATTLIST b xmlns:r CDATA #FIXED \"urn:r\">\n"
    "  <!ATTLIST c xmlns CDATA \"urn:c\" x CDATA '0'>\n]>\n",
    "<!DOCTYPE a [<!ENTITY % d \"<!ATTLIST a d CDATA 'root'>\"> %d;]>\n"};
constexpr std::array<std::string_view, 4> kRootNamespaces{
    " xmlns:p=\"urn:p\"", " xmlns:p=\"urn:p\" xmlns=\"urn:d\"",
    " xmlns:p=\"urn:p\" xmlns:r=\"urn:r\"", " xmlns=\"urn:d\" xmlns:p=\"urn:d\""};
constexpr std::array<std::string_view, 10> kAttributeValues{"1",
                                                            "",
                                                            "preserve",
                                                            "default",
                                                            "a&amp;b",
                                                            "&lt;&quot;'",
                                                            " sp ",
                                                            "&#9;&#10;&#13;",
                                                            "\xC3\xA9\xE2\x82\xAC",
                                                            "urn:r"};
constexpr std::array<std::string_view, 13> kTexts{
    "t",        "text",          "  ",           "a&amp;b&lt;c&gt;", "&#13;\n",
    "\xC3\xA9", "<![CDATA[c]]>", "<![CDATA[]]>", "<!--note-->",      "<?pi data?>",
    " lead",    "x\ty",          "\r\n"};

std::string GenerateDocument(Choices& in) {
    std::string out;
    const unsigned prolog = in.Next();
    if (prolog & 1) {
        out += "<?xml version=\"1.0\"?>\n";
    }
    out += kSubsets[(prolog >> 1) % kSubsets.size()];
    const std::string_view rootNamespaces = kRootNamespaces[(prolog >> 3) % kRootNamespaces.size()];
    std::vector<std::string_view> open;
    auto startElement = [&](bool root) {
        std::string_view name = in.Pick(kElementNames);
        out += '<';
        out += name;
        if (root) {
            out += rootNamespaces;
        }
        std::vector<std::string_view> used;
        for (unsigned n = in.Next() % 4; n > 0; --n) {
            std::string_view attribute = in.Pick(kAttributeNames);
            if (std::find(used.begin(), used.end(), attribute) != used.end()) {
                continue;
            }
            used.push_back(attribute);
            out += ' ';
            out += attribute;
            out += "=\"";
            out += in.Pick(kAttributeValues);
            out += '"';
        }
        if (in.Next() % 3 == 0) {
            out += "/>";
            return;
        }
        out += '>';
        open.push_back(name);
    };
    startElement(true);
    for (int steps = 0; !open.empty() && steps < 48 && !in.Empty(); ++steps) {
        switch (in.Next() % 4) {
            case 0:
                if (open.size() < 8) {
                    startElement(false);
                }
                break;
            case 1:
                out += in.Pick(kTexts);
                break;
            case 2:
                out += "\n  ";
                break;
            default:
                out += "</";
                out += open.back();
                out += '>';
                open.pop_back();
        }
    }
    while (!open.empty()) {
        out += "</";
        out += open.back();
        out += '>';
        open.pop_back();
    }
    return out;
}

// What a user can type into the dialogs, and what the command line passes on.
constexpr std::array<std::string_view, 15> kInputNames{
    "n",         "item",     "a",    "p:q", "u:v", "xmlns",    "xmlns:p", "xmlns:u",
    "xml:space", "xml:lang", "1bad", "a b", "",    "\xC3\xA9", "x"};
constexpr std::array<std::string_view, 16> kInputValues{
    "",     "v",    "a<b&c\"'>", "]]>",      "--",
    "-",    "\r\n", "\t",        " ",        "\xC3\xA9\xE2\x82\xAC",
    "\x01", "\xFF", "?>",        "preserve", "urn:x",
    "&amp;"};
constexpr std::array<TreeCommand, 14> kCommands{TreeCommand::AddAttribute,
                                                TreeCommand::AddChildElement,
                                                TreeCommand::ChangeAttributeName,
                                                TreeCommand::ChangeAttributeValue,
                                                TreeCommand::ChangeTextValue,
                                                TreeCommand::RenameElement,
                                                TreeCommand::DeleteElementAndChildren,
                                                TreeCommand::DeleteElementOnly,
                                                TreeCommand::AttributeToElement,
                                                TreeCommand::ElementToAttribute,
                                                TreeCommand::DuplicateElementSubTree,
                                                TreeCommand::DeleteAttribute,
                                                TreeCommand::DeleteTextNode,
                                                TreeCommand::AddTextNode};

constexpr const char* kFuzzPath = "/nonexistent-quorrel-fuzz/doc.xml";

struct Reach {
    std::size_t begin = 0, end = 0;
};

// Where the node stands in the text: its element's, or the nearest placed
// ancestor's (a node of an entity stands where its reference does).
std::optional<Reach> PlacedReach(const XmlNode& node) {
    for (const auto* n = static_cast<const xmlNode*>(node.raw()); n != nullptr; n = n->parent) {
        if (n->type == XML_ELEMENT_NODE && detail::sourceOffset(n)) {
            return Reach{*detail::sourceOffset(n), detail::elementEnd(n)};
        }
    }
    return std::nullopt;
}

// The part of the text a command may change: the elements it changes, and
// the blanks around them. Nullopt when the command addresses nothing.
std::optional<Reach> ReachOf(XmlDocument& placed, const std::string& text,
                             const CurrentItem& current, TreeCommand command,
                             const CommandInputs& inputs) {
    const bool elementItem = current.nSelSelectedImage == IMG_ELEMENT_LEAF ||
                             current.nSelSelectedImage == IMG_ELEMENT_PARENT_OPEN;
    const CTreeItem* addressed = elementItem ? current.hSelItem : current.hSelItem->parent();
    if (addressed == nullptr) {
        return std::nullopt;
    }
    std::optional<std::vector<XmlNode>> nodes = placed.selectNodes(ItemPath(addressed));
    if (!nodes || nodes->empty()) {
        return std::nullopt;
    }
    std::vector<XmlNode> changed{nodes->front()};
    if (command == TreeCommand::DeleteElementAndChildren ||
        (inputs.allOccurrences && FieldsOf(command).allOccurrences)) {
        for (XmlNode n : placed.documentElement().getElementsByTagName(changed[0].nodeName())) {
            changed.push_back(n);
        }
    }
    // Taking an element out (or adding one beside it) changes its parent's
    // child list, and so maybe the parent's tags (an empty parent writes
    // <p/>): the parent is what changes.
    const bool parentChanges = command == TreeCommand::ElementToAttribute ||
                               command == TreeCommand::DeleteElementAndChildren ||
                               command == TreeCommand::DeleteElementOnly ||
                               command == TreeCommand::DuplicateElementSubTree;
    std::optional<Reach> reach;
    for (XmlNode n : changed) {
        std::optional<Reach> own = PlacedReach(parentChanges ? n.parentNode() : n);
        if (!own) {
            return std::nullopt;
        }
        reach =
            reach ? Reach{std::min(reach->begin, own->begin), std::max(reach->end, own->end)} : own;
    }
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (reach->begin > 0 && blank(text[reach->begin - 1])) {
        --reach->begin;
    }
    while (reach->end < text.size() && blank(text[reach->end])) {
        ++reach->end;
    }
    return reach;
}

// The tree a fresh open of the text would show; error gets the parse error.
std::string FreshItems(const std::string& text, std::string& error) {
    CollectingSink sink;
    CDoc doc(sink);
    doc.OnValidateNo();
    doc.SetPathName(kFuzzPath);
    doc.ReplaceText(text);
    CTreeItems items;
    if (!doc.ReparseDocument()) {
        error = doc.HasDom() ? doc.Dom().parseError().reason : "no document";
        return {};
    }
    BuildTreeFromDom(doc, items);
    return Describe(items);
}

}  // namespace

std::string CheckLoadRoundTrip(std::string_view data) {
    if (data.empty()) {
        return {};
    }
    const bool validate = (data[0] & 1) != 0;
    const std::string text = DecodeFileBytes(data.substr(1)).text;
    auto first = std::make_unique<XmlDocument>();
    if (text.empty() || !first->loadXML(text, HermeticOptions(validate))) {
        return {};
    }
    const std::string serialised = first->xml();
    const Names names = NamesOf(*first);
    // Blank text dropped while parsing leaves the tree the slow way leaves.
    LoadOptions afterwards = HermeticOptions(validate);
    afterwards.dropBlankTextWhileParsing = false;
    auto slow = std::make_unique<XmlDocument>();
    if (!slow->loadXML(text, afterwards)) {
        return "the document parses only when blank text is dropped while parsing: " +
               slow->parseError().reason;
    }
    if (slow->xml() != serialised) {
        return "dropping blank text while parsing gives another document (" +
               FirstDifference(slow->xml(), serialised) + ")\n--- dropped afterwards\n" +
               slow->xml() + "\n--- dropped while parsing\n" + serialised;
    }
    const std::string items = ItemsOf(std::move(first), text);
    // Items built as the text is read (no DTD: the DOM is not kept) are those built from the DOM.
    {
        CollectingSink sink;
        CDoc doc(sink);
        validate ? doc.OnValidateYes() : doc.OnValidateNo();
        doc.SetPathName("/nonexistent-quorrel-fuzz/doc.xml");
        ParsedTree streamed = ParseForTree(doc, text);
        if (streamed.dom->parseError().line > 0) {
            return "the document parses only when its DOM is kept: " +
                   streamed.dom->parseError().reason;
        }
        if (const std::string told = Describe(streamed.items); told != items) {
            return "the items built while parsing differ from those built from the DOM\n--- "
                   "from the DOM\n" +
                   items + "--- while parsing\n" + told;
        }
    }
    if (const std::string slowItems = ItemsOf(std::move(slow), text); slowItems != items) {
        return "dropping blank text while parsing gives other tree items\n--- afterwards\n" +
               slowItems + "--- while parsing\n" + items;
    }
    auto second = std::make_unique<XmlDocument>();
    if (!second->loadXML(serialised, HermeticOptions(validate))) {
        return "the serialisation does not parse: " + second->parseError().reason +
               "\n--- serialisation\n" + serialised;
    }
    const std::string again = second->xml();
    const Names namesAgain = NamesOf(*second);
    const std::string itemsAgain = ItemsOf(std::move(second), serialised);
    if (std::string gained = Gained(names.qualified, namesAgain.qualified, {}); !gained.empty()) {
        return "the re-parsed serialisation has a name in another namespace: " + gained +
               "\n--- serialisation\n" + serialised;
    }
    if (std::string gained = Gained(names.specified, namesAgain.specified, {}); !gained.empty()) {
        return "the serialisation writes an attribute the text did not hold: " + gained +
               "\n--- serialisation\n" + serialised;
    }
    if (itemsAgain != items) {
        return "the re-parsed serialisation has other tree items\n--- loaded\n" + items +
               "--- re-parsed\n" + itemsAgain + "--- serialisation\n" + serialised;
    }
    if (again != serialised) {
        return "serialising the re-parsed document gives other text (" +
               FirstDifference(serialised, again) + ")\n--- first\n" + serialised +
               "\n--- second\n" + again;
    }
    return {};
}

std::string CheckCodecRoundTrip(std::string_view data) {
    DecodedFile decoded = DecodeFileBytes(data);
    if (!IsUtf8WithoutNul(decoded.text)) {
        return "the decoded text is not UTF-8 without NUL";
    }
    EncodeResult encoded = EncodeText(decoded.text, decoded.codec);
    if (!encoded.ok()) {
        return "the unedited text does not encode: " + encoded.error;
    }
    // What follows a NUL is not kept (the user is told): the bytes before it are.
    if (encoded.bytes != data.substr(0, decoded.nulOffset.value_or(data.size()))) {
        return "encoding the unedited text in " + decoded.codec.encoding + " gives other bytes (" +
               FirstDifference(data, encoded.bytes) + ")";
    }
    return {};
}

std::string CheckColorize(std::string_view text) {
    const std::vector<FormatRun> runs = ColorizeAll(text);
    std::size_t at = 0;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const FormatRun& run = runs[i];
        if (run.start != at || run.end <= run.start) {
            return "run " + std::to_string(i) + " [" + std::to_string(run.start) + ", " +
                   std::to_string(run.end) + ") does not continue at " + std::to_string(at);
        }
        if (i > 0 && runs[i - 1].format == run.format) {
            return "runs " + std::to_string(i - 1) + " and " + std::to_string(i) +
                   " have the same format";
        }
        at = run.end;
    }
    if (at != text.size()) {
        return "the runs end at " + std::to_string(at) + ", the text at " +
               std::to_string(text.size());
    }
    // The source pane colours one line at a time, carrying the state between lines.
    const std::vector<LineStartState> lines = LineStartStates(text);
    std::vector<FormatRun> byLine;
    auto sink = [&byLine](std::size_t start, std::size_t end, TextFormat format) {
        if (!byLine.empty() && byLine.back().end == start && byLine.back().format == format) {
            byLine.back().end = end;
        } else {
            byLine.push_back({start, end, format});
        }
    };
    ScanState state = ScanState::Outside;
    for (std::size_t k = 0; k < lines.size(); ++k) {
        if (lines[k].state != state) {
            return "line " + std::to_string(k) +
                   " starts in another state than the line before left";
        }
        std::size_t end = k + 1 < lines.size() ? lines[k + 1].start : text.size();
        state = ColorizeRange(text, lines[k].start, end, state, sink);
    }
    if (byLine != runs) {
        std::size_t i = 0;
        while (i < byLine.size() && i < runs.size() && byLine[i] == runs[i]) {
            ++i;
        }
        return "colouring line by line differs from colouring the whole text at run " +
               std::to_string(i);
    }
    return {};
}

std::string CheckTreeCommands(std::string_view data) {
    Choices in(data);
    std::string text;
    if (in.Next() < 0xC0) {
        text = GenerateDocument(in);
    } else {
        // A document of the fuzzer's own, up to a NUL; the commands follow it.
        std::string_view rest = in.Rest();
        std::size_t nul = rest.find('\0');
        text = std::string(rest.substr(0, nul));
        in.Skip(nul == std::string_view::npos ? rest.size() : nul + 1);
    }
    CollectingSink sink;
    CDoc doc(sink);
    doc.OnValidateNo();
    doc.SetPathName(kFuzzPath);
    doc.ReplaceText(text);
    CTreeItems items;
    if (!doc.ReparseDocument()) {
        return {};
    }
    BuildTreeFromDom(doc, items);

    for (int n = 0; n < 8 && !in.Empty(); ++n) {
        std::vector<const CTreeItem*> order;
        const std::string itemsBefore = Describe(items, &order);
        if (order.empty()) {
            break;
        }
        const unsigned low = in.Next();  // two statements: the order of the reads is fixed
        const CTreeItem* item = order[(low | in.Next() << 8) % order.size()];
        const TreeCommand command = kCommands[in.Next() % kCommands.size()];
        CommandInputs inputs;
        inputs.name = in.Pick(kInputNames);
        inputs.value = in.Pick(kInputValues);
        const unsigned flags = in.Next();
        inputs.allOccurrences = (flags & 1) != 0;
        inputs.cancelled = (flags & 0x1E) == 0x1E;
        const CurrentItem current = CurrentItemOf(item);
        const std::string textBefore = doc.Text();
        const std::string what = std::string(TreeCommandName(command)) + " (name '" + inputs.name +
                                 "', value '" + inputs.value + "'" +
                                 (inputs.allOccurrences ? ", all" : "") + ") on item '" +
                                 std::string(item->label()) + "' of\n" + textBefore + "\n";
        sink.messages.clear();
        const Names namesBefore = NamesOf(doc.Dom());
        // The names a command may bring in: the one typed, and the item's own
        // (an attribute that becomes an element, a value now written, ...).
        const std::vector<std::string> newNames{inputs.name,
                                                item->selectedImage() == IMG_ATTRIBUTE
                                                    ? AttributeNameOfLabel(item->label())
                                                    : std::string(item->label())};

        // The same change on a DOM of its own, written as it used to be: the
        // tree the text shows afterwards must be the one that writes.
        XmlDocument mine, placed;
        mine.loadXML(textBefore, doc.CurrentParseOptions());
        placed.loadXML(textBefore, doc.CurrentParseOptions());
        const DomChange expected = ChangeDom(mine, current, command, inputs);
        const std::optional<Reach> reach = ReachOf(placed, textBefore, current, command, inputs);

        const CommandOutcome outcome = RunTreeCommand(doc, items, current, command, inputs, sink);
        if (outcome != CommandOutcome::Done) {
            if (doc.Text() != textBefore || Describe(items) != itemsBefore) {
                return what + "did not succeed but changed the document or the tree";
            }
            CTreeItems fromDom;
            BuildTreeFromDom(doc, fromDom);
            if (Describe(fromDom) != itemsBefore) {
                return what + "did not succeed and left a DOM that is not the text's";
            }
            continue;
        }
        for (const std::string& message : sink.messages) {
            if (message.starts_with("XML DOM Parse Error")) {
                return what + "succeeded, then the refresh showed: " + message + "\n--- text\n" +
                       doc.Text();
            }
        }
        std::string error;
        const std::string fresh = FreshItems(doc.Text(), error);
        if (!error.empty()) {
            return what + "succeeded but the text does not parse: " + error + "\n--- text\n" +
                   doc.Text();
        }
        if (fresh != Describe(items)) {
            return what + "succeeded but the tree is not the text's\n--- tree\n" + Describe(items) +
                   "--- text's items\n" + fresh;
        }
        if (!doc.IsModified()) {
            return what + "succeeded but left the document unmodified";
        }
        if (expected.outcome != CommandOutcome::Done) {
            return what + "succeeded, but not on a DOM of its own";
        }
        // A command on a namespace declaration moves what it declares on purpose.
        const bool onDeclaration = std::any_of(newNames.begin(), newNames.end(), [](auto& name) {
            return name == "xmlns" || name.starts_with("xmlns:");
        });
        if (!onDeclaration) {
            std::string error;
            CollectingSink freshSink;
            CDoc written(freshSink);
            written.OnValidateNo();
            written.SetPathName(kFuzzPath);
            written.ReplaceText(mine.xml());
            CTreeItems writtenItems;
            if (written.ReparseDocument()) {
                BuildTreeFromDom(written, writtenItems);
                if (DescribeWithoutBlanks(writtenItems) != DescribeWithoutBlanks(items)) {
                    return what + "succeeded but the text is not the changed DOM's\n--- text\n" +
                           doc.Text() + "\n--- the DOM written anew\n" + written.Text();
                }
            }
        }
        // What lies before and after the nodes the command changes is the original's.
        const std::string& now = doc.Text();
        if (reach && (now.compare(0, reach->begin, textBefore, 0, reach->begin) != 0 ||
                      textBefore.size() - reach->end > now.size() ||
                      now.compare(now.size() - (textBefore.size() - reach->end), std::string::npos,
                                  textBefore, reach->end, std::string::npos) != 0)) {
            return what + "succeeded but changed the text outside what it changes ([" +
                   std::to_string(reach->begin) + ", " + std::to_string(reach->end) +
                   ") of the text before)\n--- text\n" + now;
        }
        const Names namesAfter = NamesOf(doc.Dom());
        std::string gained = onDeclaration
                                 ? std::string()
                                 : Gained(namesBefore.qualified, namesAfter.qualified, newNames);
        if (!gained.empty()) {
            return what +
                   "succeeded but changed the namespace of a node it did not touch: " + gained +
                   "\n--- text\n" + doc.Text();
        }
        if (std::string gained = Gained(namesBefore.specified, namesAfter.specified, newNames);
            !gained.empty()) {
            return what + "succeeded but wrote an attribute no command set: " + gained +
                   "\n--- text\n" + doc.Text();
        }
    }
    return {};
}

const std::vector<Target>& Targets() {
    static const std::vector<Target> targets{{"load", CheckLoadRoundTrip},
                                             {"codec", CheckCodecRoundTrip},
                                             {"colorize", CheckColorize},
                                             {"commands", CheckTreeCommands}};
    return targets;
}

Check CheckNamed(std::string_view name) {
    for (const Target& target : Targets()) {
        if (name == target.name) {
            return target.check;
        }
    }
    return nullptr;
}

}  // namespace quorrel::fuzz
