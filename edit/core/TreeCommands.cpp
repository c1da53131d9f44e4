// The tree commands: their table (names, dialog fields, the items that enable
// them), and a command's course from the DOM change to the new text parsed
// and handed to the document. The changes to the DOM are in DomChanges.cpp.
#include "edit/core/TreeCommands.h"

#include <array>
#include <charconv>
#include <memory>
#include <vector>

#include "doc/core/Disposal.h"
#include "doc/core/Doc.h"
#include "doc/core/FileCodec.h"
#include "doc/core/MessageSink.h"
#include "edit/core/TreeCommandsInternal.h"
#include "views/tree/core/ItemPath.h"
#include "views/tree/core/TreeItems.h"

namespace quorrel {

using commands_detail::AddressedKind;
using commands_detail::Addresses;

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

}  // namespace

namespace commands_detail {

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

}  // namespace commands_detail

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

namespace {

// The DOM's text, and that text parsed as the document parses its own. The
// DOM goes first: two of a large document would not fit where one does.
void ParseResult(const CDoc& doc, bool consulted, TreeCommandResult& out, ResultFor wanted);

void Regenerate(const CDoc& doc, std::unique_ptr<XmlDocument> dom, TreeCommandResult& out,
                ResultFor wanted = ResultFor::Dom) {
    out.text = dom->xml(doc.Text());
    if (doc.Codec().lineEnds == LineEnds::CrLf) {
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

// The document's text read whole into a DOM of its own.
std::unique_ptr<XmlDocument> ReadWhole(const CDoc& doc) {
    auto dom = std::make_unique<XmlDocument>();
    if (!doc.Text().empty()) {
        doc.ParseText(*dom, doc.Text());
    }
    return dom;
}

TreeCommandResult Failed(const CDoc& doc, std::string message, bool restoreDom) {
    TreeCommandResult result;
    result.outcome = CommandOutcome::Failed;
    result.messages.push_back(std::move(message));
    if (restoreDom) {
        // A failed command changes nothing: the DOM goes back to what the text says.
        result.dom = ReadWhole(doc);
    }
    return result;
}

}  // namespace

// When the parse kept nothing (its nodes went into the tree's items), or the
// DOM was not read from the text (a document from a URL is its DOM written
// out), the text is read again whole, so that it is kept.
std::unique_ptr<XmlDocument> WholeDomOf(const CDoc& doc, std::unique_ptr<XmlDocument> dom) {
    if (dom && !dom->hollow() && (doc.Text().empty() || dom->parsedFrom(doc.Text()))) {
        return dom;
    }
    DisposeOf(std::move(dom));
    return ReadWhole(doc);
}

void PostEditRefresh(CDoc& doc, CTreeItems& items, CDocView* treeView) {
    TreeCommandResult result;
    result.outcome = CommandOutcome::Done;
    Regenerate(doc, doc.TakeDom(), result);
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

TreeCommandResult ComputeTreeCommand(const CDoc& doc, std::unique_ptr<XmlDocument> dom,
                                     const CurrentItem& current, TreeCommand command,
                                     const CommandInputs& inputs, ResultFor wanted) {
    return ComputeTreeCommand(doc, std::move(dom), TargetOf(current, command), command, inputs,
                              wanted);
}

TreeCommandResult ComputeTreeCommand(const CDoc& doc, std::unique_ptr<XmlDocument> dom,
                                     const TreeTarget& target, TreeCommand command,
                                     const CommandInputs& inputs, ResultFor wanted) {
    dom = WholeDomOf(doc, std::move(dom));
    DomChange change = ChangeDom(*dom, target, command, inputs);
    return FinishTreeCommand(doc, std::move(dom), std::move(change), wanted);
}

TreeCommandResult ComputeFormatDocument(const CDoc& doc, std::unique_ptr<XmlDocument> dom,
                                        std::string indent, ResultFor wanted) {
    std::optional<std::string> text;
    if (dom && !dom->hollow()) {
        text = dom->formatted(doc.Text(), indent.empty() ? DocumentIndent(doc.Text()) : indent);
    }
    if (!text) {
        // The DOM kept nothing of the text, or is not the text's: read it again.
        DisposeOf(std::move(dom));
        dom = ReadWhole(doc);
        if (dom->parseError().line > 0 || doc.Text().empty()) {
            TreeCommandResult failed;
            failed.outcome = CommandOutcome::Failed;
            failed.messages.push_back(CDoc::ParseErrorMessage(dom->parseError().reason));
            failed.dom = std::move(dom);
            return failed;
        }
        text = dom->formatted(doc.Text(), indent.empty() ? DocumentIndent(doc.Text()) : indent);
    }
    TreeCommandResult result;
    result.outcome = CommandOutcome::Done;
    result.text = text ? std::move(*text) : doc.Text();
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
    doc.SetTextAndDom(std::move(result.text), std::move(result.dom));
    items = std::move(result.items);
    if (!result.parsed && !doc.Text().empty()) {
        doc.Messages().ShowMessage(CDoc::ParseErrorMessage(doc.Dom().parseError().reason));
    }
    doc.UpdateAllViews(treeView);
    doc.SetModifiedFlag(true);
    return CommandOutcome::Done;
}

CommandOutcome RunTreeCommand(CDoc& doc, CTreeItems& items, const CurrentItem& current,
                              TreeCommand command, const CommandInputs& inputs,
                              MessageSink& messages, CDocView* treeView) {
    TreeCommandResult result = ComputeTreeCommand(doc, doc.TakeDom(), current, command, inputs);
    BuildItems(result);
    return ApplyTreeCommand(doc, items, std::move(result), messages, treeView);
}

TreeCommandResult FinishTreeCommand(const CDoc& doc, std::unique_ptr<XmlDocument> dom,
                                    DomChange change, ResultFor wanted) {
    TreeCommandResult result;
    if (change.outcome == CommandOutcome::Stopped ||
        (change.outcome == CommandOutcome::Failed && !change.domChanged)) {
        result.outcome = change.outcome;
        if (change.outcome == CommandOutcome::Failed) {
            result.messages.push_back(std::move(change.message));
        }
        result.dom = std::move(dom);
        return result;
    }
    if (change.outcome == CommandOutcome::Failed) {
        DisposeOf(std::move(dom));
        return Failed(doc, change.message, true);
    }
    // A change whose text would not parse again (a name the namespaces
    // forbid, a character XML does not allow, ...) is undone.
    result.outcome = CommandOutcome::Done;
    Regenerate(doc, std::move(dom), result, wanted);
    if (std::string reason = NotWellFormed(doc, result); !reason.empty()) {
        DisposeOf(std::move(result.dom));
        return Failed(doc, std::string(kChangeNotWellFormed) + reason, true);
    }
    return result;
}

}  // namespace quorrel
