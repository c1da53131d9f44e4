#include "edit/core/MatchCommands.h"

#include <array>

#include "doc/core/Doc.h"
#include "doc/core/MessageSink.h"

namespace quorrel {

namespace {

constexpr std::size_t kKinds = std::size_t(XPathNodeKind::Other) + 1;
using KindCounts = std::array<std::size_t, kKinds>;

struct MatchWords {
    TreeCommand command;
    const char* menu;      // the command as the menu names it
    const char* question;  // {n}: the count and the kind's name
};
constexpr std::array<MatchWords, 14> kWords{{
    {TreeCommand::AddAttribute, "Add Attribute", "Add an attribute to {n}?"},
    {TreeCommand::AddChildElement, "Add Child Element", "Add a child element to {n}?"},
    {TreeCommand::AddTextNode, "Add Text Node", "Add a text node to {n}?"},
    {TreeCommand::RenameElement, "Rename Element", "Rename {n}?"},
    {TreeCommand::DeleteElementAndChildren, "Delete Element And Children",
     "Delete {n} with all their children?"},
    {TreeCommand::DeleteElementOnly, "Delete Element Only", "Delete {n}, leaving their children?"},
    {TreeCommand::DuplicateElementSubTree, "Duplicate Element SubTree",
     "Duplicate {n} with their subtrees?"},
    {TreeCommand::ElementToAttribute, "Element To Attribute", "Turn {n} into attributes?"},
    {TreeCommand::ChangeAttributeName, "Change Attribute Name", "Rename {n}?"},
    {TreeCommand::ChangeAttributeValue, "Change Attribute Value", "Change the value of {n}?"},
    {TreeCommand::DeleteAttribute, "Delete Attribute", "Delete {n}?"},
    {TreeCommand::AttributeToElement, "Attribute To Element", "Turn {n} into elements?"},
    {TreeCommand::ChangeTextValue, "Change Text Value", "Change {n}?"},
    {TreeCommand::DeleteTextNode, "Delete Text Node", "Delete {n}?"},
}};

const MatchWords& WordsOf(TreeCommand command) {
    for (const MatchWords& w : kWords) {
        if (w.command == command) {
            return w;
        }
    }
    return kWords[0];
}

// The image of an item of the kind, as the commands' enabling reads it.
int ImageOf(XPathNodeKind kind) {
    switch (kind) {
        case XPathNodeKind::Element:
            return IMG_ELEMENT_LEAF;
        case XPathNodeKind::Attribute:
            return IMG_ATTRIBUTE;
        case XPathNodeKind::Text:
            return IMG_TEXT;
        default:
            return -1;
    }
}

// "1,204"
std::string Grouped(std::size_t n) {
    std::string digits = std::to_string(n);
    for (int at = int(digits.size()) - 3; at > 0; at -= 3) {
        digits.insert(std::size_t(at), ",");
    }
    return digits;
}

std::string KindName(XPathNodeKind kind, bool plural) {
    std::string name(XPathNodeKindName(kind));
    if (kind == XPathNodeKind::Text) {
        name = "text node";
    } else if (kind == XPathNodeKind::CData) {
        name = "CDATA section";
    } else if (kind == XPathNodeKind::Namespace) {
        name = "namespace node";
    } else if (kind == XPathNodeKind::Other) {
        name = "other node";
    }
    return plural ? name + "s" : name;
}

std::string Counted(std::size_t n, XPathNodeKind kind) {
    return Grouped(n) + " " + KindName(kind, n != 1);
}

const char* ValueTypeName(XPathValueType type) {
    switch (type) {
        case XPathValueType::Boolean:
            return "a boolean";
        case XPathValueType::Number:
            return "a number";
        case XPathValueType::String:
            return "a string";
        case XPathValueType::NodeSet:
            break;
    }
    return "nodes";
}

MatchPlan Refuse(MatchRefusal refusal, std::string message, std::size_t count = 0) {
    MatchPlan plan;
    plan.refusal = refusal;
    plan.message = std::move(message);
    plan.count = count;
    return plan;
}

// What the matches allow: their kinds, their number and how many of them
// the tree shows no item for that would enable the command.
MatchPlan Plan(XPathValueType type, const KindCounts& kinds, std::size_t total,
               std::size_t withoutItem, TreeCommand command) {
    if (type != XPathValueType::NodeSet) {
        return Refuse(MatchRefusal::NotNodes, std::string("The expression gives ") +
                                                  ValueTypeName(type) +
                                                  ", not nodes: there is nothing to change.");
    }
    if (total == 0) {
        return Refuse(MatchRefusal::Empty, "No node matches the expression: nothing was changed.");
    }
    std::string found;
    std::size_t ofKinds = 0;
    XPathNodeKind kind = XPathNodeKind::Other;
    for (std::size_t k = 0; k < kKinds; ++k) {
        if (kinds[k] != 0) {
            found += (found.empty() ? "" : ", ") + Counted(kinds[k], XPathNodeKind(k));
            kind = XPathNodeKind(k);
            ++ofKinds;
        }
    }
    if (ofKinds > 1) {
        return Refuse(MatchRefusal::MixedKinds,
                      "The matches are nodes of more than one kind (" + found +
                          "): a tree command acts on elements, attributes or text nodes alone.",
                      total);
    }
    const MatchWords& words = WordsOf(command);
    if (ImageOf(kind) < 0) {
        return Refuse(MatchRefusal::NoCommands,
                      "The matches are " + found +
                          ": tree commands act on elements, attributes and text nodes only.",
                      total);
    }
    if (!IsTreeCommandEnabled(command, ImageOf(kind))) {
        return Refuse(MatchRefusal::WrongKind,
                      std::string(words.menu) + " does not act on " + KindName(kind, true) +
                          "; the matches are " + found + ".",
                      total);
    }
    if (withoutItem != 0) {
        return Refuse(
            MatchRefusal::NoTreeItem,
            kind == XPathNodeKind::Element
                ? "The document element is among the matches: the element commands do not act "
                  "on it. Leave it out of the expression (for instance /*//name)."
                : "Attributes of the document element are among the matches: the tree shows no "
                  "items for them, and no command acts on them. Leave them out of the expression.",
            total);
    }
    MatchPlan plan;
    plan.count = total;
    plan.kind = kind;
    return plan;
}

bool IsTopElement(XmlNode element) {
    XmlNode parent = element ? element.parentNode() : XmlNode();
    return parent && parent.nodeType() == NodeType::Document;
}

bool InDocument(XmlNode node) {
    if (node.nodeType() == NodeType::Attribute) {
        node = OwnerElementOf(node);
    }
    for (; node; node = node.parentNode()) {
        if (node.nodeType() == NodeType::Document) {
            return true;
        }
    }
    return false;
}

std::size_t TextOrdinal(XmlNode text) {
    std::size_t before = 0;
    for (XmlNode s = text.previousSibling(); s; s = s.previousSibling()) {
        before += s.nodeType() == NodeType::Text ? 1 : 0;
    }
    return before;
}

// The change on each match in turn; a match an earlier change took out of
// the document (with an element deleted with its children) is passed over.
DomChange ChangeMatches(const XPathNodes& matches, XPathNodeKind kind, TreeCommand command,
                        const CommandInputs& inputs) {
    DomChange change;
    change.outcome = CommandOutcome::Done;
    try {
        for (XmlNode node : matches.nodes) {
            if (!InDocument(node)) {
                continue;
            }
            bool succeeded = true;
            if (kind == XPathNodeKind::Element) {
                succeeded = ChangeElement(node, command, inputs);
            } else if (kind == XPathNodeKind::Attribute) {
                succeeded = ChangeElement(OwnerElementOf(node), command, inputs, node.nodeName());
            } else {
                succeeded =
                    ChangeElement(node.parentNode(), command, inputs, {}, TextOrdinal(node));
            }
            if (!succeeded) {
                change.outcome = CommandOutcome::Failed;
                break;
            }
        }
    } catch (const DomError&) {
        change.outcome = CommandOutcome::Failed;
    }
    if (change.outcome == CommandOutcome::Failed) {
        change.message = kUnexpectedError;
        change.domChanged = true;
    }
    return change;
}

TreeCommandResult Refused(std::unique_ptr<XmlDocument> dom, std::string message) {
    TreeCommandResult result;
    result.outcome = CommandOutcome::Failed;
    result.messages.push_back(std::move(message));
    result.dom = std::move(dom);
    return result;
}

}  // namespace

std::vector<TreeCommand> CommandsForKind(XPathNodeKind kind) {
    std::vector<TreeCommand> commands;
    for (TreeCommand c : kTreeCommands) {
        if (ImageOf(kind) >= 0 && IsTreeCommandEnabled(c, ImageOf(kind))) {
            commands.push_back(c);
        }
    }
    return commands;
}

MatchPlan PlanMatchCommand(const XPathResult& result, TreeCommand command) {
    KindCounts kinds{};
    std::size_t withoutItem = 0;
    for (std::size_t i = 0; i < result.size(); ++i) {
        XPathRow row = result.row(i);
        ++kinds[std::size_t(row.kind)];
        // The top item (the document element) enables no element command.
        withoutItem += row.treeItem.empty() || row.treeItem == "0" ? 1 : 0;
    }
    return Plan(result.type(), kinds, result.size(), withoutItem, command);
}

std::string MatchConfirmation(TreeCommand command, std::size_t count) {
    XPathNodeKind kind = XPathNodeKind::Element;
    if (IsTreeCommandEnabled(command, IMG_ATTRIBUTE)) {
        kind = XPathNodeKind::Attribute;
    } else if (IsTreeCommandEnabled(command, IMG_TEXT)) {
        kind = XPathNodeKind::Text;
    }
    std::string question = WordsOf(command).question;
    question.replace(question.find("{n}"), 3, Counted(count, kind));
    return question;
}

TreeCommandResult ComputeMatchCommand(const CDoc& doc, std::unique_ptr<XmlDocument> dom,
                                      const XPathQuery& query, TreeCommand command,
                                      const CommandInputs& inputs, ResultFor wanted,
                                      MatchPlan* plan) {
    MatchPlan local;
    MatchPlan& p = plan != nullptr ? *plan : local;
    p = MatchPlan();
    const CommandFields fields = FieldsOf(command);
    if (inputs.cancelled || (fields.nameMustNotBeEmpty && inputs.name.empty()) ||
        (fields.valueMustNotBeEmpty && inputs.value.empty())) {
        TreeCommandResult stopped;
        stopped.dom = std::move(dom);
        return stopped;  // as the dialog's frame: nothing changed, nothing shown
    }
    if (fields.name && !IsXmlName(inputs.name)) {
        return Refused(std::move(dom), "\"" + inputs.name + "\" is not a valid XML name.");
    }
    // The matches are changed where the text's own parse holds them.
    dom = WholeDomOf(doc, std::move(dom));
    if (dom->parseError().line > 0) {
        return Refused(std::move(dom), CDoc::ParseErrorMessage(dom->parseError().reason));
    }
    XPathNodes matches = SelectXPathNodes(*dom, query);
    if (matches.status != XPathStatus::Done) {
        p = Refuse(MatchRefusal::Expression,
                   "The XPath expression cannot be evaluated: " +
                       DescribeXPathError(matches.error, query.expression));
        return Refused(std::move(dom), p.message);
    }
    KindCounts kinds{};
    std::size_t withoutItem = 0;
    for (std::size_t i = 0; i < matches.nodes.size(); ++i) {
        ++kinds[std::size_t(matches.kinds[i])];
        const XmlNode node = matches.nodes[i];
        if (matches.kinds[i] == XPathNodeKind::Element) {
            withoutItem += IsTopElement(node) ? 1 : 0;
        } else if (matches.kinds[i] == XPathNodeKind::Attribute) {
            withoutItem += IsTopElement(OwnerElementOf(node)) ? 1 : 0;
        }
    }
    p = Plan(matches.type, kinds, matches.nodes.size(), withoutItem, command);
    if (p.refusal != MatchRefusal::None) {
        return Refused(std::move(dom), p.message);
    }
    DomChange change = ChangeMatches(matches, p.kind, command, inputs);
    return FinishTreeCommand(doc, std::move(dom), std::move(change), wanted);
}

CommandOutcome RunMatchCommand(CDoc& doc, CTreeItems& items, const XPathQuery& query,
                               TreeCommand command, const CommandInputs& inputs,
                               MessageSink& messages, CDocView* treeView) {
    TreeCommandResult result = ComputeMatchCommand(doc, doc.TakeDom(), query, command, inputs);
    BuildItems(result);
    return ApplyTreeCommand(doc, items, std::move(result), messages, treeView);
}

}  // namespace quorrel
