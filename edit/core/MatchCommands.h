// A tree command on every node an XPath expression finds: one command, one
// change of the text, one refresh, made as the all-occurrences frame makes
// its changes (the nodes fixed when found, changed in document order on one
// DOM, the text written anew only where they changed).
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "doc/core/XPath.h"
#include "edit/core/TreeCommands.h"

namespace quorrel {

class CDoc;
class CDocView;
class MessageSink;

enum class MatchRefusal {
    None,
    Expression,  // it does not compile or evaluate
    NotNodes,    // a number, string or boolean
    Empty,       // no node
    MixedKinds,  // nodes of more than one kind
    NoCommands,  // comments, CDATA, ...: no tree command acts on them
    WrongKind,   // the command acts on another kind
    NoTreeItem,  // a node the tree shows no item for that enables the command
};

// Whether a command may run on the matches, and why not.
struct MatchPlan {
    MatchRefusal refusal = MatchRefusal::None;
    std::string message;  // why not, to show
    std::size_t count = 0;
    XPathNodeKind kind = XPathNodeKind::Other;
};

// The tree commands for nodes of a kind, as an item of that kind enables them.
std::vector<TreeCommand> CommandsForKind(XPathNodeKind kind);
// For the rows shown: whether the command may run on all of them.
MatchPlan PlanMatchCommand(const XPathResult& result, TreeCommand command);
// "Rename 1,204 elements?"
std::string MatchConfirmation(TreeCommand command, std::size_t count);

// Evaluates the query on the document's DOM (a whole parse of the text when
// the DOM is hollow or not the text's), then makes the command's change on
// each match in document order, the all-occurrences flag ignored. Refusals
// are Failed with their message (plan, when given, tells which). Reads the
// document only: any thread, while the document stands still.
TreeCommandResult ComputeMatchCommand(const CDoc& doc, std::unique_ptr<XmlDocument> dom,
                                      const XPathQuery& query, TreeCommand command,
                                      const CommandInputs& inputs,
                                      ResultFor wanted = ResultFor::Dom, MatchPlan* plan = nullptr);
// The same on this thread, put in place as one command (ApplyTreeCommand).
CommandOutcome RunMatchCommand(CDoc& doc, CTreeItems& items, const XPathQuery& query,
                               TreeCommand command, const CommandInputs& inputs,
                               MessageSink& messages, CDocView* treeView = nullptr);

}  // namespace quorrel
