#include "edit/core/MatchCommands.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "doc/core/Doc.h"
#include "doc/core/MessageSink.h"
#include "tests/support/TestEditor.h"
#include "views/tree/core/TreeItems.h"

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

using namespace quorrel;
using namespace quorrel::test_support;
using TC = TreeCommand;

namespace {

// Documents in a layout of their own, with nested matches, namespaces,
// mixed content and elements that hold only text.
const char* const kDocuments[] = {
    "<r>\n  <a id=\"1\" k='x'>one<b>two</b>three</a>\n  <a id=\"2\"><a id=\"3\">inner</a></a>\n"
    "  <c k=\"y\"><!--note--><a>four</a></c>\n  <a/>\n</r>\n",
    "<n:r xmlns:n=\"urn:n\" xmlns=\"urn:d\">\n\t<item n:code=\"p\" code=\"q\">t1</item>\n"
    "\t<n:item code=\"z\">t2</n:item>\n\t<item><item>deep</item>tail</item>\n</n:r>\n",
    "<doc><p>Hello <em>big</em> world <em>x</em>!</p><p class=\"c\">second</p>"
    "<list><li>1</li><li>2</li><li><em>3</em></li></list></doc>",
};

// Expressions of each kind; those that match nothing in a document are passed over.
const char* const kElementExpressions[] = {"/*//*",
                                           "//a | //b",
                                           "//*[@k]",
                                           "//em | //li",
                                           "(/*//*)[position() mod 2 = 1]",
                                           "//d:item",
                                           "//*[not(*)][parent::*/parent::*]"};
const char* const kAttributeExpressions[] = {"//@k", "/*//@*", "//@code | //@n:code",
                                             "//@id[. > 1]"};
const char* const kTextExpressions[] = {"//text()", "//a/text()", "//text()[contains(., 'o')]",
                                        "//li/text()", "//*[*]/text()[last()]"};

const std::vector<NamespaceBinding> kTable = {{"n", "urn:n"}, {"d", "urn:d"}};

CommandInputs InputsFor(TC command) {
    CommandFields f = FieldsOf(command);
    CommandInputs inputs;
    if (f.name) {
        inputs.name = command == TC::AddChildElement ? "kid" : "nn";
    }
    if (f.value) {
        inputs.value = "vv";
    }
    return inputs;
}

XPathNodeKind KindOf(TC command) {
    if (IsTreeCommandEnabled(command, IMG_ATTRIBUTE)) {
        return XPathNodeKind::Attribute;
    }
    return IsTreeCommandEnabled(command, IMG_TEXT) ? XPathNodeKind::Text : XPathNodeKind::Element;
}

std::vector<const char*> ExpressionsFor(TC command) {
    switch (KindOf(command)) {
        case XPathNodeKind::Attribute:
            return {std::begin(kAttributeExpressions), std::end(kAttributeExpressions)};
        case XPathNodeKind::Text:
            return {std::begin(kTextExpressions), std::end(kTextExpressions)};
        default:
            return {std::begin(kElementExpressions), std::end(kElementExpressions)};
    }
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

// The command run on each node in turn through the frame of one command:
// the node's tree target (its item path, label and text ordinal, worked out
// as the node stands now), the command's checks and its change. A node
// deleted with its children goes alone, not with every element of its name.
// Nullopt when a change fails, as the frame stops then.
std::optional<std::string> OneByOne(const std::string& text, const XPathQuery& query, TC command) {
    XmlDocument dom;
    LoadOptions options;
    options.validateOnParse = false;
    EXPECT_TRUE(dom.loadXML(text, options));
    XPathNodes nodes = SelectXPathNodes(dom, query);
    const CommandInputs inputs = InputsFor(command);
    for (std::size_t i = 0; i < nodes.nodes.size(); ++i) {
        XmlNode node = nodes.nodes[i];
        if (!InDocument(node)) {
            continue;
        }
        TreeTarget target;
        target.present = true;
        if (nodes.kinds[i] == XPathNodeKind::Element) {
            if (command == TC::DeleteElementAndChildren) {
                node.parentNode().removeChild(node);
                continue;
            }
            target.selectedImage = IMG_ELEMENT_LEAF;
            target.label = node.nodeName();
            target.path = ShownItemPathOf(node);
        } else if (nodes.kinds[i] == XPathNodeKind::Attribute) {
            target.selectedImage = IMG_ATTRIBUTE;
            target.label = AttributeLabel(node.nodeName(), node.nodeValue());
            target.path = ShownItemPathOf(OwnerElementOf(node));
        } else {
            target.selectedImage = IMG_TEXT;
            target.label = node.nodeValue();
            target.path = ShownItemPathOf(node.parentNode());
            for (XmlNode s = node.previousSibling(); s; s = s.previousSibling()) {
                target.textOrdinal += s.nodeType() == NodeType::Text ? 1 : 0;
            }
        }
        DomChange change = ChangeDom(dom, target, command, inputs);
        if (change.outcome != CommandOutcome::Done) {
            EXPECT_EQ(change.message, kUnexpectedError) << target.path;
            return std::nullopt;
        }
    }
    return dom.xml(text);
}

std::size_t Matches(const std::string& text, const XPathQuery& query) {
    auto dom = std::make_unique<XmlDocument>();
    LoadOptions options;
    options.validateOnParse = false;
    EXPECT_TRUE(dom->loadXML(text, options));
    return SelectXPathNodes(*dom, query).nodes.size();
}

// Runs the command on the matches as the window does; the editor's messages stay in e.sink.
CommandOutcome RunOn(Editor& e, const std::string& expression, TC command,
                     const CommandInputs& inputs) {
    return RunMatchCommand(e.doc, e.items, {expression, kTable}, command, inputs, e.sink,
                           &e.treeView);
}

}  // namespace

// Each command on a node-set of its kind gives what running it on each
// node in turn gives, one change in the text, one refresh.
TEST(MatchCommands, EachCommandEqualsRunningItOnEachNodeInTurn) {
    int compared = 0, failed = 0, changed = 0;
    for (TC command : kTreeCommands) {
        for (const std::string text : kDocuments) {
            for (const std::string expression : ExpressionsFor(command)) {
                const XPathQuery query{expression, kTable};
                XPathNodes found;
                {
                    Editor probe(text);
                    found = SelectXPathNodes(probe.doc.Dom(), query);
                }
                if (found.status != XPathStatus::Done || found.nodes.empty()) {
                    continue;
                }
                SCOPED_TRACE(std::string(TreeCommandName(command)) + " on " + expression + " in " +
                             text);
                Editor e(text);
                const std::optional<std::string> expected = OneByOne(text, query, command);
                if (!expected) {
                    // A change that fails (an element without text to turn
                    // into an attribute) fails them all.
                    EXPECT_EQ(RunOn(e, expression, command, InputsFor(command)),
                              CommandOutcome::Failed);
                    EXPECT_EQ(e.sink.messages, std::vector<std::string>{kUnexpectedError});
                    EXPECT_EQ(e.doc.Text(), text);
                    EXPECT_EQ(e.sourceView.updates, 0);
                    ++failed;
                    continue;
                }
                ASSERT_EQ(RunOn(e, expression, command, InputsFor(command)), CommandOutcome::Done)
                    << (e.sink.messages.empty() ? "" : e.sink.messages[0]);
                EXPECT_EQ(e.doc.Text(), *expected);
                changed += e.doc.Text() != text ? 1 : 0;
                EXPECT_TRUE(e.sink.messages.empty());
                EXPECT_EQ(e.sourceView.updates, 1);
                EXPECT_EQ(e.treeView.updates, 0);
                EXPECT_TRUE(e.doc.IsModified());
                EXPECT_EQ(DescribeItems(e.items), DescribeItems(Editor(e.doc.Text()).items));
                ++compared;
            }
        }
    }
    EXPECT_GT(compared, 80);
    EXPECT_GT(failed, 0);
    EXPECT_GT(changed, compared * 9 / 10);
}

// The occurrence list of a name as an expression gives what the
// all-occurrences box gives from one item of that name.
TEST(MatchCommands, TheOccurrenceListAsAnExpressionEqualsAllOccurrences) {
    const std::string text = kDocuments[0];
    struct Case {
        TC command;
        const char* item;  // the first a's item, its id attribute's, its first text's
        const char* expression;
    };
    std::vector<Case> cases;
    for (TC command : kTreeCommands) {
        switch (KindOf(command)) {
            case XPathNodeKind::Attribute:
                cases.push_back({command, "0.0.0", "/*//a/@id"});
                break;
            case XPathNodeKind::Text:
                cases.push_back({command, "0.0.2", "/*//a/text()[1]"});
                break;
            default:
                cases.push_back(
                    {command, "0.0", command == TC::DuplicateElementSubTree ? "/*/a[1]" : "/*//a"});
                break;
        }
    }
    int done = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(TreeCommandName(c.command));
        Editor all(text);
        const std::string item = c.item;
        CommandInputs inputs = InputsFor(c.command);
        inputs.allOccurrences = true;
        const CommandOutcome outcome = all.Run(FindItemAt(all.items, item), c.command, inputs);
        Editor matches(text);
        EXPECT_EQ(RunOn(matches, c.expression, c.command, InputsFor(c.command)), outcome);
        EXPECT_EQ(matches.sink.messages, all.sink.messages);
        done += outcome == CommandOutcome::Done ? 1 : 0;
        EXPECT_EQ(matches.doc.Text(), all.doc.Text());
    }
    EXPECT_EQ(done, 13);  // element-to-attribute fails on <a/> either way
}

// Only the matches change in the text; the rest keeps its bytes.
TEST(MatchCommands, TheTextChangesAtTheMatchesOnly) {
    const std::string text =
        "<?xml version='1.0'?>\n<!-- keep -->\n<r   a = 'x'>\n"
        "\t<b  v=\"1\"   w='&amp;'/>\n\t<c><b v='2'\n\t\t/></c>\n<b v=\"3\">&#x41;</b></r>\n";
    Editor e(text);
    ASSERT_EQ(RunOn(e, "//b/@v", TC::ChangeAttributeValue, {.value = "9"}), CommandOutcome::Done);
    EXPECT_EQ(
        e.doc.Text(),
        "<?xml version='1.0'?>\n<!-- keep -->\n<r   a = 'x'>\n"
        "\t<b  v=\"9\"   w='&amp;'/>\n\t<c><b v='9'\n\t\t/></c>\n<b v=\"9\">&#x41;</b></r>\n");
}

// What is refused changes nothing, and says why; a cancelled dialog or an
// empty name says nothing.
TEST(MatchCommands, RefusalsChangeNothing) {
    const std::string text = kDocuments[0];
    struct Case {
        const char* expression;
        TC command;
        CommandInputs inputs;
        MatchRefusal refusal;
        const char* message;  // its beginning; empty: no message
    } cases[] = {
        {"//a | //@id",
         TC::RenameElement,
         {.name = "z"},
         MatchRefusal::MixedKinds,
         "The matches are nodes of more than one kind (5 elements, 3 attributes)"},
        {"//nothing",
         TC::RenameElement,
         {.name = "z"},
         MatchRefusal::Empty,
         "No node matches the expression"},
        {"count(//a)",
         TC::RenameElement,
         {.name = "z"},
         MatchRefusal::NotNodes,
         "The expression gives a number, not nodes"},
        {"//comment()",
         TC::DeleteTextNode,
         {},
         MatchRefusal::NoCommands,
         "The matches are 1 comment: tree commands act on"},
        {"//@k",
         TC::RenameElement,
         {.name = "z"},
         MatchRefusal::WrongKind,
         "Rename Element does not act on attributes; the matches are 2 attributes."},
        {"//a/text()",
         TC::DeleteAttribute,
         {},
         MatchRefusal::WrongKind,
         "Delete Attribute does not act on text nodes"},
        {"//*",
         TC::RenameElement,
         {.name = "z"},
         MatchRefusal::NoTreeItem,
         "The document element is among the matches"},
        {"//a[",
         TC::RenameElement,
         {.name = "z"},
         MatchRefusal::Expression,
         "The XPath expression cannot be evaluated: Invalid expression at character 5"},
        {"//q:a",
         TC::RenameElement,
         {.name = "z"},
         MatchRefusal::Expression,
         "The XPath expression cannot be evaluated: Undefined namespace prefix"},
        {"//a",
         TC::RenameElement,
         {.name = "1z"},
         MatchRefusal::None,
         "\"1z\" is not a valid XML name."},
        {"//a", TC::RenameElement, {.name = ""}, MatchRefusal::None, ""},
        {"//a", TC::RenameElement, {.cancelled = true, .name = "z"}, MatchRefusal::None, ""},
        {"//@id", TC::ChangeAttributeValue, {.value = ""}, MatchRefusal::None, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expression);
        Editor e(text);
        const std::string tree = e.Tree();
        MatchPlan plan;
        TreeCommandResult result = ComputeMatchCommand(e.doc, e.doc.TakeDom(), {c.expression, {}},
                                                       c.command, c.inputs, ResultFor::Dom, &plan);
        EXPECT_EQ(plan.refusal, c.refusal);
        CommandOutcome outcome =
            ApplyTreeCommand(e.doc, e.items, std::move(result), e.sink, &e.treeView);
        if (*c.message == '\0') {
            EXPECT_EQ(outcome, CommandOutcome::Stopped);
            EXPECT_TRUE(e.sink.messages.empty());
        } else {
            EXPECT_EQ(outcome, CommandOutcome::Failed);
            ASSERT_EQ(e.sink.messages.size(), 1U);
            EXPECT_TRUE(e.sink.messages[0].starts_with(c.message)) << e.sink.messages[0];
        }
        EXPECT_EQ(e.doc.Text(), text);
        EXPECT_FALSE(e.doc.IsModified());
        EXPECT_EQ(e.sourceView.updates, 0);
        EXPECT_EQ(e.Tree(), tree);
        ASSERT_TRUE(e.doc.HasDom());
        EXPECT_TRUE(e.doc.Dom().parsedFrom(text));

        // The panel's plan from the rows agrees before anything runs.
        if (c.refusal != MatchRefusal::Expression && c.refusal != MatchRefusal::None) {
            XPathOutcome rows = EvaluateXPath(e.doc.Dom(), text, {c.expression, {}});
            ASSERT_EQ(rows.status, XPathStatus::Done);
            EXPECT_EQ(PlanMatchCommand(rows.result, c.command).refusal, c.refusal);
        }
    }
    // The document element's attributes have no items either.
    Editor e("<r a='1'><b a='2'/></r>");
    ASSERT_EQ(RunOn(e, "//@a", TC::DeleteAttribute, {}), CommandOutcome::Failed);
    EXPECT_TRUE(e.sink.messages.at(0).starts_with("Attributes of the document element"));
    ASSERT_EQ(RunOn(e, "/*/*/@a", TC::DeleteAttribute, {}), CommandOutcome::Done);
    EXPECT_EQ(e.doc.Text(), "<r a='1'><b/></r>");
}

// A change that would not parse again is undone as a single command's is.
TEST(MatchCommands, AChangeThatWouldNotParseIsUndone) {
    Editor e("<r><a/><a/></r>");
    ASSERT_EQ(RunOn(e, "/*/a", TC::RenameElement, {.name = "p:a"}), CommandOutcome::Failed);
    EXPECT_TRUE(e.sink.messages.at(0).starts_with(kChangeNotWellFormed)) << e.sink.messages[0];
    EXPECT_EQ(e.doc.Text(), "<r><a/><a/></r>");
    EXPECT_FALSE(e.doc.IsModified());
}

TEST(MatchCommands, CommandsAndQuestionsByKind) {
    EXPECT_EQ(CommandsForKind(XPathNodeKind::Element).size(), 8U);
    EXPECT_EQ(CommandsForKind(XPathNodeKind::Attribute),
              (std::vector<TC>{TC::ChangeAttributeName, TC::ChangeAttributeValue,
                               TC::DeleteAttribute, TC::AttributeToElement}));
    EXPECT_EQ(CommandsForKind(XPathNodeKind::Text),
              (std::vector<TC>{TC::ChangeTextValue, TC::DeleteTextNode}));
    EXPECT_TRUE(CommandsForKind(XPathNodeKind::Comment).empty());
    EXPECT_TRUE(CommandsForKind(XPathNodeKind::CData).empty());
    EXPECT_EQ(MatchConfirmation(TC::RenameElement, 1204), "Rename 1,204 elements?");
    EXPECT_EQ(MatchConfirmation(TC::RenameElement, 1), "Rename 1 element?");
    EXPECT_EQ(MatchConfirmation(TC::DeleteTextNode, 1000000), "Delete 1,000,000 text nodes?");
    EXPECT_EQ(MatchConfirmation(TC::ChangeAttributeValue, 12),
              "Change the value of 12 attributes?");
    for (TC command : kTreeCommands) {
        std::string q = MatchConfirmation(command, 2);
        EXPECT_TRUE(q.ends_with("?")) << q;
        EXPECT_NE(q.find(" 2 "), std::string::npos) << q;
    }
    // The counts the matches come to.
    EXPECT_EQ(Matches(kDocuments[0], {"/*//a", {}}), 5U);
}
