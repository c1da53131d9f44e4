#include "edit/core/TreeCommands.h"

#include <array>
#include <charconv>
#include <memory>
#include <vector>

#include "doc/core/Disposal.h"
#include "doc/core/Doc.h"
#include "doc/core/FileCodec.h"
#include "doc/core/MessageSink.h"
#include "edit/core/ItemPath.h"
#include "views/tree/core/TreeItems.h"

namespace quorrel {

namespace {

struct CommandInfo {
    TreeCommand command;
    std::string_view name;
    CommandFields fields;
};

// name, value, all-occurrences box, name must not be empty, value must not be empty
constexpr std::array<CommandInfo, 14> kCommands{{
    {TreeCommand::AddAttribute, "add-attribute", {true, true, true, true, false}},
    {TreeCommand::AddChildElement, "add-child-element", {true, true, true, true, false}},
    {TreeCommand::AddTextNode, "add-text-node", {false, true, true, false, false}},
    {TreeCommand::RenameElement, "rename-element", {true, false, true, true, false}},
    {TreeCommand::DeleteElementAndChildren,
     "delete-element-and-children",
     {false, false, false, false, false}},
    {TreeCommand::DeleteElementOnly, "delete-element-only", {false, false, true, false, false}},
    {TreeCommand::DuplicateElementSubTree,
     "duplicate-element-subtree",
     {false, false, false, false, false}},
    {TreeCommand::ElementToAttribute, "element-to-attribute", {false, false, true, false, false}},
    {TreeCommand::ChangeAttributeName, "change-attribute-name", {true, false, true, true, false}},
    {TreeCommand::ChangeAttributeValue, "change-attribute-value", {false, true, true, false, true}},
    {TreeCommand::DeleteAttribute, "delete-attribute", {false, false, true, false, false}},
    {TreeCommand::AttributeToElement, "attribute-to-element", {false, false, true, false, false}},
    {TreeCommand::ChangeTextValue, "change-text-value", {false, true, true, false, false}},
    {TreeCommand::DeleteTextNode, "delete-text-node", {false, false, true, false, false}},
}};

const CommandInfo& InfoOf(TreeCommand command) {
    for (const CommandInfo& info : kCommands) {
        if (info.command == command) {
            return info;
        }
    }
    return kCommands[0];
}

enum class Addresses { Element, Attribute, Text };

Addresses AddressedKind(TreeCommand command) {
    switch (command) {
        case TreeCommand::ChangeAttributeName:
        case TreeCommand::ChangeAttributeValue:
        case TreeCommand::DeleteAttribute:
        case TreeCommand::AttributeToElement:
            return Addresses::Attribute;
        case TreeCommand::ChangeTextValue:
        case TreeCommand::DeleteTextNode:
            return Addresses::Text;
        default:
            return Addresses::Element;
    }
}

// ---- Per-element changes. Those that report a result return false on failure.

void AddAttributeTo(XmlNode element, const std::string& name, const std::string& value) {
    element.setAttribute(name, value);
}

void AddChildElementTo(XmlNode element, const std::string& tagName, const std::string& text) {
    XmlDocument& doc = element.ownerDocument();
    XmlNode child = element.appendChild(doc.createElement(tagName));
    child.appendChild(doc.createTextNode(text));
}

void AddTextNodeTo(XmlNode element, const std::string& text) {
    element.appendChild(element.ownerDocument().createTextNode(text));
}

// The element gets a new name: what a new element taking its attributes and
// its children, and its place, would be (occurrences nested inside stay in
// the document).
bool Rename(XmlNode element, const std::string& newName) {
    if (!element.parentNode()) {
        return false;
    }
    if (newName != element.nodeName()) {
        // The DTD gave its declarations to the old name only: written out,
        // they keep everything below in its namespace (one that says what
        // the parent's scope says already needs no writing).
        XmlNode parent = element.parentNode();
        for (XmlNode attribute : element.namespaceDeclarations()) {
            std::string name = attribute.nodeName();
            if (!attribute.specified()) {
                std::string_view prefix = name == "xmlns" ? "" : std::string_view(name).substr(6);
                if (parent.lookupNamespaceURI(prefix) != attribute.value()) {
                    attribute.setValue(attribute.value());
                }
            }
        }
    }
    element.renameAsCreated(newName);
    return true;
}

bool IsBelow(XmlNode node, XmlNode ancestor) {
    for (XmlNode n = node.parentNode(); n; n = n.parentNode()) {
        if (n == ancestor) {
            return true;
        }
    }
    return false;
}

// Every element of the name below the document element goes, with its
// subtree. One list, walked once: an element inside one removed earlier went
// with it.
void DeleteWithChildren(XmlDocument& doc, const std::string& name) {
    XmlNode root = doc.documentElement();
    for (XmlNode element : root.getElementsByTagName(name)) {
        if (IsBelow(element, root)) {
            element.parentNode().removeChild(element);
        }
    }
}

// The element's children take its place, in order; the element goes.
bool DeleteElementOnly(XmlNode element) {
    XmlNode parent = element.parentNode();
    if (!parent) {
        return false;
    }
    for (XmlNode child = element.firstChild(); child; child = element.firstChild()) {
        parent.insertBefore(child, element);
    }
    parent.removeChild(element);
    return true;
}

// A copy of the element and its subtree becomes its previous sibling.
bool Duplicate(XmlNode element) {
    XmlNode parent = element.parentNode();
    if (!parent) {
        return false;
    }
    XmlNode fragment = element.ownerDocument().createDocumentFragment();
    CopyNode(element, fragment);
    parent.insertBefore(fragment, element);
    return true;
}

void ChangeAttributeNameIn(XmlNode element, const std::string& name, const std::string& newName) {
    XmlNamedNodeMap attributes = element.attributes();
    XmlNode old = attributes.getNamedItem(name);
    if (!old) {
        return;
    }
    XmlNode renamed = element.ownerDocument().createAttribute(newName);
    renamed.setValue(old.nodeValue());
    attributes.removeNamedItem(name);
    attributes.setNamedItem(renamed);
}

void ChangeAttributeValueIn(XmlNode element, const std::string& name, const std::string& value) {
    XmlNode attr = element.attributes().getNamedItem(name);
    if (attr) {
        attr.setNodeValue(value);
    }
}

void DeleteAttributeFrom(XmlNode element, const std::string& name) {
    XmlNamedNodeMap attributes = element.attributes();
    if (attributes.getNamedItem(name)) {
        attributes.removeNamedItem(name);
    }
}

bool AttributeToElementIn(XmlNode element, const std::string& name) {
    XmlNamedNodeMap attributes = element.attributes();
    XmlNode attr = attributes.getNamedItem(name);
    if (!attr) {
        return true;
    }
    XmlDocument& doc = element.ownerDocument();
    XmlNode child = doc.createElement(name);
    child.appendChild(doc.createTextNode(attr.nodeValue()));
    element.appendChild(child);
    attributes.removeNamedItem(name);
    return true;
}

bool ElementToAttribute(XmlNode element) {
    XmlNode parent = element.parentNode();
    if (!parent) {
        return false;
    }
    if (element.attributes().length() > 0) {
        return true;  // only text-only elements without attributes convert
    }
    for (XmlNode c = element.firstChild(); c; c = c.nextSibling()) {
        if (c.nodeType() != NodeType::Text) {
            return true;
        }
    }
    XmlNode first = element.firstChild();
    if (!first) {
        return false;
    }
    XmlNode attr = element.ownerDocument().createAttribute(element.nodeName());
    attr.setValue(first.nodeValue());
    parent.attributes().setNamedItem(attr);
    parent.removeChild(element);
    return true;
}

XmlNode TextChild(XmlNode element, std::size_t ordinal) {
    std::size_t count = 0;
    for (XmlNode c = element.firstChild(); c; c = c.nextSibling()) {
        if (c.nodeType() == NodeType::Text && count++ == ordinal) {
            return c;
        }
    }
    return {};
}

bool ChangeTextValueIn(XmlNode element, const std::string& text, std::size_t ordinal) {
    if (XmlNode node = TextChild(element, ordinal)) {
        node.setNodeValue(text);
    }
    return true;
}

void DeleteTextNodeFrom(XmlNode element, std::size_t ordinal) {
    if (XmlNode node = TextChild(element, ordinal)) {
        try {
            element.removeChild(node);
        } catch (const DomError&) {
            // a refused removal is passed over
        }
    }
}

// What one command does to one element; false reports a failure.
struct Change {
    TreeCommand command;
    const CommandInputs& inputs;
    std::string attributeName;
    std::size_t textOrdinal = 0;

    bool ApplyTo(XmlNode e) const {
        switch (command) {
            case TreeCommand::AddAttribute:
                AddAttributeTo(e, inputs.name, inputs.value);
                return true;
            case TreeCommand::AddChildElement:
                AddChildElementTo(e, inputs.name, inputs.value);
                return true;
            case TreeCommand::AddTextNode:
                AddTextNodeTo(e, inputs.value);
                return true;
            case TreeCommand::RenameElement:
                return Rename(e, inputs.name);
            case TreeCommand::DeleteElementOnly:
                return DeleteElementOnly(e);
            case TreeCommand::DuplicateElementSubTree:
                return Duplicate(e);
            case TreeCommand::ElementToAttribute:
                return ElementToAttribute(e);
            case TreeCommand::ChangeAttributeName:
                ChangeAttributeNameIn(e, attributeName, inputs.name);
                return true;
            case TreeCommand::ChangeAttributeValue:
                ChangeAttributeValueIn(e, attributeName, inputs.value);
                return true;
            case TreeCommand::DeleteAttribute:
                DeleteAttributeFrom(e, attributeName);
                return true;
            case TreeCommand::AttributeToElement:
                return AttributeToElementIn(e, attributeName);
            case TreeCommand::ChangeTextValue:
                return ChangeTextValueIn(e, inputs.value, textOrdinal);
            case TreeCommand::DeleteTextNode:
                DeleteTextNodeFrom(e, textOrdinal);
                return true;
            case TreeCommand::DeleteElementAndChildren:
                break;
        }
        return false;
    }
};

std::vector<XmlNode> ElementsToChange(XmlDocument& dom, XmlNode target, TreeCommand command,
                                      bool allOccurrences) {
    if (allOccurrences && FieldsOf(command).allOccurrences) {
        // Fixed when built: every element that bore the name is changed once.
        return dom.documentElement().getElementsByTagName(target.nodeName());
    }
    return {target};
}

bool ApplyChange(XmlDocument& dom, XmlNode target, const Change& change) {
    if (change.command == TreeCommand::DeleteElementAndChildren) {
        DeleteWithChildren(dom, target.nodeName());
        return true;
    }
    for (XmlNode element :
         ElementsToChange(dom, target, change.command, change.inputs.allOccurrences)) {
        if (!change.ApplyTo(element)) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string_view TreeCommandName(TreeCommand command) {
    return InfoOf(command).name;
}

std::optional<TreeCommand> TreeCommandFromName(std::string_view nameOrNumber) {
    int number = 0;
    auto [end, ec] =
        std::from_chars(nameOrNumber.data(), nameOrNumber.data() + nameOrNumber.size(), number);
    bool isNumber = ec == std::errc() && end == nameOrNumber.data() + nameOrNumber.size();
    for (const CommandInfo& info : kCommands) {
        if (info.name == nameOrNumber || (isNumber && int(info.command) == number)) {
            return info.command;
        }
    }
    return std::nullopt;
}

bool OnUpdateElementCmd(int nSelSelectedImage) {
    return nSelSelectedImage == IMG_ELEMENT_LEAF || nSelSelectedImage == IMG_ELEMENT_PARENT_OPEN;
}

bool OnUpdateAttributeCmd(int nSelSelectedImage) {
    return nSelSelectedImage == IMG_ATTRIBUTE;
}

bool OnUpdateTextCmd(int nSelSelectedImage) {
    return nSelSelectedImage == IMG_TEXT;
}

bool IsTreeCommandEnabled(TreeCommand command, int nSelSelectedImage) {
    switch (AddressedKind(command)) {
        case Addresses::Attribute:
            return OnUpdateAttributeCmd(nSelSelectedImage);
        case Addresses::Text:
            return OnUpdateTextCmd(nSelSelectedImage);
        case Addresses::Element:
            return OnUpdateElementCmd(nSelSelectedImage);
    }
    return false;
}

CurrentItem CurrentItemOf(const CTreeItem* item) {
    if (item == nullptr) {
        return {};
    }
    return {item, std::string(item->label()), item->image(), item->selectedImage()};
}

CommandFields FieldsOf(TreeCommand command) {
    return InfoOf(command).fields;
}

void CopyNode(XmlNode node, XmlNode destination) {
    struct Pending {
        XmlNode source;
        XmlNode into;
    };
    std::vector<Pending> pending{{node, destination}};
    while (!pending.empty()) {
        Pending p = pending.back();
        pending.pop_back();
        XmlNode copy = p.into.appendChild(p.source.cloneNode());
        if (copy.nodeType() != NodeType::Element) {
            continue;
        }
        // Pushed last to first so they are appended first to last.
        for (XmlNode c = p.source.lastChild(); c; c = c.previousSibling()) {
            pending.push_back({c, copy});
        }
    }
}

void CopyChildren(XmlNode source, XmlNode destination) {
    for (XmlNode child = source.firstChild(); child; child = child.nextSibling()) {
        CopyNode(child, destination);
    }
}

namespace {

// The DOM's text, and that text parsed as the document parses its own. The
// DOM goes first: two of a large document would not fit where one does.
void ParseResult(const CDoc& doc, bool consulted, TreeCommandResult& out, ResultFor wanted);

void Regenerate(const CDoc& doc, std::unique_ptr<XmlDocument> dom, TreeCommandResult& out,
                ResultFor wanted = ResultFor::Dom) {
    out.text = dom->xml(doc.m_strText);
    if (doc.m_codec.lineEnds == LineEnds::CrLf) {
        out.text = ApplyLineEnds(out.text, LineEnds::CrLf);  // what was written anew
    }
    const bool consulted = dom->consultsDtdOrSchema();
    DisposeOf(std::move(dom));
    ParseResult(doc, consulted, out, wanted);
}

// The new text parsed as the document parses its own.
void ParseResult(const CDoc& doc, bool consulted, TreeCommandResult& out, ResultFor wanted) {
    if (wanted == ResultFor::Tree) {
        ParsedTree parsed = ParseForTree(doc, out.text);
        out.dom = std::move(parsed.dom);
        out.items = std::move(parsed.items);
        out.parsed = !out.text.empty() && out.dom->parseError().line == 0;
        return;
    }
    LoadOptions options = doc.CurrentParseOptions();
    options.buildTree = wanted == ResultFor::Dom || consulted;
    out.dom = std::make_unique<XmlDocument>();
    out.parsed = !out.text.empty() && out.dom->loadXML(out.text, options);
}

// Why the text is not even well-formed, ignoring validity; empty when it is.
std::string NotWellFormed(const CDoc& doc, const TreeCommandResult& regenerated) {
    if (regenerated.parsed || regenerated.text.empty()) {
        return {};
    }
    LoadOptions options = doc.CurrentParseOptions();
    if (!options.validateOnParse) {
        return regenerated.dom->parseError().reason;
    }
    options.validateOnParse = false;
    XmlDocument probe;
    return probe.loadXML(regenerated.text, options) ? std::string() : probe.parseError().reason;
}

TreeCommandResult Failed(const CDoc& doc, std::string message, bool restoreDom) {
    TreeCommandResult result;
    result.outcome = CommandOutcome::Failed;
    result.messages.push_back(std::move(message));
    if (restoreDom) {
        // A failed command changes nothing: the DOM goes back to what the text says.
        result.dom = std::make_unique<XmlDocument>();
        if (!doc.m_strText.empty()) {
            doc.ParseText(*result.dom, doc.m_strText);
        }
    }
    return result;
}

}  // namespace

void PostEditRefresh(CDoc& doc, CTreeItems& items, CDocView* treeView) {
    TreeCommandResult result;
    result.outcome = CommandOutcome::Done;
    Regenerate(doc, std::move(doc.m_pDomDoc), result);
    BuildItems(result);
    ApplyTreeCommand(doc, items, std::move(result), doc.Messages(), treeView);
}

void BuildItems(TreeCommandResult& result) {
    if (result.outcome == CommandOutcome::Done && result.parsed && result.items.IsEmpty() &&
        !result.dom->hollow()) {
        BuildTreeFromDom(*result.dom, result.items);
        ExpandBranches(result.items, result.items.GetRootItem());
    }
}

TreeTarget TargetOf(const CurrentItem& current, TreeCommand command) {
    TreeTarget target;
    if (current.hSelItem == nullptr) {
        return target;
    }
    target.present = true;
    target.selectedImage = current.nSelSelectedImage;
    target.label = current.strSelItem;
    Addresses kind = AddressedKind(command);
    if (kind == Addresses::Element) {
        target.path = ItemPath(current.hSelItem, current.strSelItem);
    } else if (const CTreeItem* owner = current.hSelItem->parent()) {
        target.path = ItemPath(owner);
    }
    if (kind == Addresses::Text) {
        target.textOrdinal = CountTextSiblingsBefore(current.hSelItem);
    }
    return target;
}

DomChange ChangeDom(XmlDocument& dom, const CurrentItem& current, TreeCommand command,
                    const CommandInputs& inputs) {
    return ChangeDom(dom, TargetOf(current, command), command, inputs);
}

DomChange ChangeDom(XmlDocument& dom, const TreeTarget& target, TreeCommand command,
                    const CommandInputs& inputs) {
    DomChange result;
    if (inputs.cancelled || !target.present ||
        !IsTreeCommandEnabled(command, target.selectedImage)) {
        return result;
    }
    CommandFields fields = FieldsOf(command);
    if ((fields.nameMustNotBeEmpty && inputs.name.empty()) ||
        (fields.valueMustNotBeEmpty && inputs.value.empty())) {
        return result;
    }
    if (fields.name && !IsXmlName(inputs.name)) {
        result.outcome = CommandOutcome::Failed;
        result.message = "\"" + inputs.name + "\" is not a valid XML name.";
        return result;
    }

    Addresses kind = AddressedKind(command);
    const char* missing =
        (command == TreeCommand::AttributeToElement || command == TreeCommand::DeleteAttribute)
            ? kSomeUnexpectedError
            : kUnexpectedError;
    std::optional<std::vector<XmlNode>> nodes;
    if (!target.path.empty()) {
        nodes = dom.selectNodes(target.path);
    }
    if (!nodes || nodes->empty()) {
        result.outcome = CommandOutcome::Failed;
        result.message = missing;
        return result;
    }

    Change change{command, inputs, {}, 0};
    if (kind == Addresses::Attribute) {
        change.attributeName = AttributeNameOfLabel(target.label);
    } else if (kind == Addresses::Text) {
        change.textOrdinal = target.textOrdinal;
    }
    bool succeeded = false;
    try {
        succeeded = ApplyChange(dom, nodes->front(), change);
    } catch (const DomError&) {
        succeeded = false;
    }
    result.outcome = succeeded ? CommandOutcome::Done : CommandOutcome::Failed;
    if (!succeeded) {
        result.message = kUnexpectedError;
        result.domChanged = true;
    }
    return result;
}

TreeCommandResult ComputeTreeCommand(const CDoc& doc, std::unique_ptr<XmlDocument> dom,
                                     const CurrentItem& current, TreeCommand command,
                                     const CommandInputs& inputs, ResultFor wanted) {
    return ComputeTreeCommand(doc, std::move(dom), TargetOf(current, command), command, inputs,
                              wanted);
}

TreeCommandResult ComputeTreeCommand(const CDoc& doc, std::unique_ptr<XmlDocument> dom,
                                     const TreeTarget& target, TreeCommand command,
                                     const CommandInputs& inputs, ResultFor wanted) {
    TreeCommandResult stopped;
    stopped.dom = std::move(dom);  // untouched
    if (!stopped.dom || stopped.dom->hollow() ||
        (!doc.m_strText.empty() && !stopped.dom->parsedFrom(doc.m_strText))) {
        // The parse kept nothing (its nodes went into the tree's items), or
        // the DOM was not read from the text (a document from a URL is its
        // DOM written out): read the text whole, so that it is kept.
        DisposeOf(std::move(stopped.dom));
        stopped.dom = std::make_unique<XmlDocument>();
        if (!doc.m_strText.empty()) {
            doc.ParseText(*stopped.dom, doc.m_strText);
        }
    }
    DomChange change = ChangeDom(*stopped.dom, target, command, inputs);
    if (change.outcome == CommandOutcome::Stopped) {
        return stopped;
    }
    if (change.outcome == CommandOutcome::Failed) {
        if (!change.domChanged) {
            stopped.outcome = CommandOutcome::Failed;
            stopped.messages.push_back(std::move(change.message));
            return stopped;
        }
        DisposeOf(std::move(stopped.dom));
        return Failed(doc, change.message, true);
    }
    // A change whose text would not parse again (a name the namespaces
    // forbid, a character XML does not allow, ...) is undone.
    TreeCommandResult regenerated;
    regenerated.outcome = CommandOutcome::Done;
    Regenerate(doc, std::move(stopped.dom), regenerated, wanted);
    if (std::string reason = NotWellFormed(doc, regenerated); !reason.empty()) {
        DisposeOf(std::move(regenerated.dom));
        return Failed(doc, std::string(kChangeNotWellFormed) + reason, true);
    }
    return regenerated;
}

TreeCommandResult ComputeFormatDocument(const CDoc& doc, std::unique_ptr<XmlDocument> dom,
                                        std::string indent, ResultFor wanted) {
    std::optional<std::string> text;
    if (dom && !dom->hollow()) {
        text =
            dom->formatted(doc.m_strText, indent.empty() ? DocumentIndent(doc.m_strText) : indent);
    }
    if (!text) {
        // The DOM kept nothing of the text, or is not the text's: read it again.
        DisposeOf(std::move(dom));
        dom = std::make_unique<XmlDocument>();
        if (!doc.m_strText.empty()) {
            doc.ParseText(*dom, doc.m_strText);
        }
        if (dom->parseError().line > 0 || doc.m_strText.empty()) {
            TreeCommandResult failed;
            failed.outcome = CommandOutcome::Failed;
            failed.messages.push_back(CDoc::ParseErrorMessage(dom->parseError().reason));
            failed.dom = std::move(dom);
            return failed;
        }
        text =
            dom->formatted(doc.m_strText, indent.empty() ? DocumentIndent(doc.m_strText) : indent);
    }
    TreeCommandResult result;
    result.outcome = CommandOutcome::Done;
    result.text = text ? std::move(*text) : doc.m_strText;
    const bool consulted = dom->consultsDtdOrSchema();
    DisposeOf(std::move(dom));
    ParseResult(doc, consulted, result, wanted);
    return result;
}

CommandOutcome ApplyTreeCommand(CDoc& doc, CTreeItems& items, TreeCommandResult result,
                                MessageSink& messages, CDocView* treeView) {
    if (result.outcome != CommandOutcome::Done) {
        if (result.dom) {
            doc.SetDom(std::move(result.dom));
        }
        for (const std::string& message : result.messages) {
            messages.ShowMessage(message);
        }
        return result.outcome;
    }
    // The new text and its DOM take the place of the old; the tree is rebuilt
    // (a parse error is shown instead) and the other views follow.
    DisposeOfText(std::exchange(doc.m_strText, std::move(result.text)));
    doc.SetDom(std::move(result.dom));
    items = std::move(result.items);
    if (!result.parsed && !doc.m_strText.empty()) {
        doc.Messages().ShowMessage(CDoc::ParseErrorMessage(doc.m_pDomDoc->parseError().reason));
    }
    doc.UpdateAllViews(treeView);
    doc.SetModifiedFlag(true);
    return CommandOutcome::Done;
}

CommandOutcome RunTreeCommand(CDoc& doc, CTreeItems& items, const CurrentItem& current,
                              TreeCommand command, const CommandInputs& inputs,
                              MessageSink& messages, CDocView* treeView) {
    TreeCommandResult result =
        ComputeTreeCommand(doc, std::move(doc.m_pDomDoc), current, command, inputs);
    BuildItems(result);
    return ApplyTreeCommand(doc, items, std::move(result), messages, treeView);
}

}  // namespace quorrel
