// The fourteen tree commands without widgets: the frame (input checks, item
// path, scope, result test, messages), the DOM changes, and the refresh that
// writes the DOM back into the text and rebuilds the tree.
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "doc/core/XmlDom.h"
#include "views/tree/core/TreeItems.h"

namespace quorrel {

class CDoc;
class CDocView;
class MessageSink;

enum class TreeCommand : int {
    AddAttribute = 32788,
    AddChildElement = 32789,
    ChangeAttributeName = 32790,
    ChangeAttributeValue = 32791,
    ChangeTextValue = 32792,
    RenameElement = 32793,
    DeleteElementAndChildren = 32794,
    DeleteElementOnly = 32795,
    AttributeToElement = 32796,
    ElementToAttribute = 32797,
    DuplicateElementSubTree = 32798,
    DeleteAttribute = 32806,
    DeleteTextNode = 32807,
    AddTextNode = 32808,
};

// All fourteen, elements' first, then attributes' and texts'.
inline constexpr std::array<TreeCommand, 14> kTreeCommands{
    TreeCommand::AddAttribute,
    TreeCommand::AddChildElement,
    TreeCommand::AddTextNode,
    TreeCommand::RenameElement,
    TreeCommand::DeleteElementAndChildren,
    TreeCommand::DeleteElementOnly,
    TreeCommand::DuplicateElementSubTree,
    TreeCommand::ElementToAttribute,
    TreeCommand::ChangeAttributeName,
    TreeCommand::ChangeAttributeValue,
    TreeCommand::DeleteAttribute,
    TreeCommand::AttributeToElement,
    TreeCommand::ChangeTextValue,
    TreeCommand::DeleteTextNode,
};

// The command line's names: "add-attribute", "rename-element", ...
std::string_view TreeCommandName(TreeCommand command);
std::optional<TreeCommand> TreeCommandFromName(std::string_view nameOrNumber);

// Enabling by the current item's selected image.
bool OnUpdateElementCmd(int nSelSelectedImage);
bool OnUpdateAttributeCmd(int nSelSelectedImage);
bool OnUpdateTextCmd(int nSelSelectedImage);
bool IsTreeCommandEnabled(TreeCommand command, int nSelSelectedImage);

// What each command's dialog asks for.
struct CommandFields {
    bool name = false;            // field 1007
    bool value = false;           // field 1011
    bool allOccurrences = false;  // check box 1009
    bool nameMustNotBeEmpty = false;
    bool valueMustNotBeEmpty = false;
};
CommandFields FieldsOf(TreeCommand command);

// The current item as the tree view recorded it.
struct CurrentItem {
    const CTreeItem* hSelItem = nullptr;
    std::string strSelItem;
    int nSelImage = -1;
    int nSelSelectedImage = -1;
};

// The item as current item, recorded now.
CurrentItem CurrentItemOf(const CTreeItem* item);

// What a command needs of the current item, as values: worked out where the
// items are shown, so that the command itself may run on any thread while
// the user expands and collapses them.
struct TreeTarget {
    bool present = false;         // there is a current item
    int selectedImage = -1;       // its kind
    std::string label;            // its label as recorded
    std::string path;             // the addressed element's item path; empty when there is none
    std::size_t textOrdinal = 0;  // a text item's place among its element's text items
};
TreeTarget TargetOf(const CurrentItem& current, TreeCommand command);

// The dialog's outcome.
struct CommandInputs {
    bool cancelled = false;
    std::string name;
    std::string value;
    bool allOccurrences = false;
};

enum class CommandOutcome {
    Stopped,  // cancelled or an empty input: nothing changed, nothing shown
    Failed,   // a message was shown; the text, the DOM and the tree are as before
    Done,     // changed; the text was regenerated and the tree rebuilt
};

constexpr const char* kUnexpectedError = "An unexpected error occured !";
constexpr const char* kSomeUnexpectedError = "Some unexpected error occured !";
// Followed by the parser's reason.
constexpr const char* kChangeNotWellFormed =
    "The change was not made: the document would no longer be well-formed.\n";

// What a command came to, worked out apart from the document.
struct TreeCommandResult {
    CommandOutcome outcome = CommandOutcome::Stopped;
    std::vector<std::string> messages;  // to show, in this order
    // Done: the new text and its DOM (parsed, or holding the parse error to
    // show); otherwise the document's DOM, unchanged or put back from the text.
    std::string text;
    std::unique_ptr<XmlDocument> dom;
    bool parsed = false;
    CTreeItems items;  // Done and parsed: built by BuildItems, expanded
};

// What a command's change on a DOM came to.
struct DomChange {
    CommandOutcome outcome = CommandOutcome::Stopped;  // Done: the DOM holds the change
    std::string message;                               // Failed: what to show
    bool domChanged = false;  // Failed part-way: the DOM is no longer the text's
};
// The command's checks and its change on dom alone, nothing written: the
// first step of ComputeTreeCommand.
DomChange ChangeDom(XmlDocument& dom, const TreeTarget& target, TreeCommand command,
                    const CommandInputs& inputs);
DomChange ChangeDom(XmlDocument& dom, const CurrentItem& current, TreeCommand command,
                    const CommandInputs& inputs);

// The DOM a command changes: dom when it is whole and read from the
// document's text, otherwise that text read again whole.
std::unique_ptr<XmlDocument> WholeDomOf(const CDoc& doc, std::unique_ptr<XmlDocument> dom);

// The command's change on dom (taken out of the document), the new text and
// its parse. It only reads the document (its text, encoding and parse
// options), so it may run on any thread while the document stands still.
// What the new text is parsed for.
enum class ResultFor {
    Dom,   // its DOM, whole; BuildItems builds the items
    Tree,  // its items, built as it is read (its DOM may be hollow)
    Text,  // only the check that it parses (where no DTD or schema is consulted)
};
// A hollow DOM (or none) is parsed again from the document text first.
TreeCommandResult ComputeTreeCommand(const CDoc& doc, std::unique_ptr<XmlDocument> dom,
                                     const TreeTarget& target, TreeCommand command,
                                     const CommandInputs& inputs,
                                     ResultFor wanted = ResultFor::Dom);
TreeCommandResult ComputeTreeCommand(const CDoc& doc, std::unique_ptr<XmlDocument> dom,
                                     const CurrentItem& current, TreeCommand command,
                                     const CommandInputs& inputs,
                                     ResultFor wanted = ResultFor::Dom);
// Format Document on the document's text (indent: one step, "\t" or
// blanks; empty takes the document's own): the result is a command's, to be
// put in place as one.
TreeCommandResult ComputeFormatDocument(const CDoc& doc, std::unique_ptr<XmlDocument> dom,
                                        std::string indent, ResultFor wanted = ResultFor::Dom);

// The tree items of a result that is done and parsed.
void BuildItems(TreeCommandResult& result);
// Puts the result in place: text, DOM, items, the messages in order, the
// other views' update, the modified flag.
CommandOutcome ApplyTreeCommand(CDoc& doc, CTreeItems& items, TreeCommandResult result,
                                MessageSink& messages, CDocView* treeView);

// Runs one command on the document from the current item: the three steps
// above on this thread. The tree view passes itself as treeView so the
// broadcast after the change skips it.
CommandOutcome RunTreeCommand(CDoc& doc, CTreeItems& items, const CurrentItem& current,
                              TreeCommand command, const CommandInputs& inputs,
                              MessageSink& messages, CDocView* treeView = nullptr);

// After a change: the DOM's serialisation becomes the text, the DOM and the
// tree are rebuilt from it, the other views take the text, and the document
// is marked modified.
void PostEditRefresh(CDoc& doc, CTreeItems& items, CDocView* treeView);

// One command's change on one element of its scope, as the frame makes it
// on each: attributeName for the attribute commands, textOrdinal for the
// text commands. Delete Element And Children removes this element with its
// subtree (if an earlier change has not). False when the change reports a failure.
bool ChangeElement(XmlNode element, TreeCommand command, const CommandInputs& inputs,
                   std::string_view attributeName = {}, std::size_t textOrdinal = 0);
// What a change on dom comes to, as ComputeTreeCommand ends: Done gives the
// new text (undone when it would not parse again) and its parse.
TreeCommandResult FinishTreeCommand(const CDoc& doc, std::unique_ptr<XmlDocument> dom,
                                    DomChange change, ResultFor wanted = ResultFor::Dom);

// Appends to destination a copy of node with its whole subtree (without recursion).
void CopyNode(XmlNode node, XmlNode destination);
// Appends to destination copies of all of source's children, in order.
void CopyChildren(XmlNode source, XmlNode destination);

}  // namespace quorrel
