#include "edit/core/TreeCommands.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "doc/core/Doc.h"
#include "doc/core/MessageSink.h"
#include "tests/support/TestEditor.h"
#include "views/tree/core/ItemPath.h"
#include "views/tree/core/TreeItems.h"

// Inputs are written with designated initializers; the rest keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

using namespace quorrel;
using namespace quorrel::test_support;
using TC = TreeCommand;

namespace {

// Everything a command that does nothing must leave as it was.
struct Snapshot {
    std::string text, dom, tree;
    bool modified;
    int updates;
    explicit Snapshot(const Editor& e)
        : text(e.doc.Text()),
          dom(e.Dom()),
          tree(e.Tree()),
          modified(e.doc.IsModified()),
          updates(e.sourceView.updates) {}
    bool operator==(const Snapshot&) const = default;
};

void PrintTo(const Snapshot& s, std::ostream* os) {
    *os << "text=" << s.text << " dom=" << s.dom << " modified=" << s.modified
        << " updates=" << s.updates;
}

}  // namespace

TEST(TreeCommands, NumbersAndNamesFindTheCommand) {
    std::vector<std::string_view> seen;
    for (TC c : kTreeCommands) {
        std::string_view name = TreeCommandName(c);
        EXPECT_EQ(TreeCommandFromName(name), c) << name;
        EXPECT_EQ(TreeCommandFromName(std::to_string(int(c))), c) << int(c);
        EXPECT_EQ(std::count(seen.begin(), seen.end(), name), 0) << name;
        seen.push_back(name);
    }
    EXPECT_EQ(TreeCommandFromName("32797"), TC::ElementToAttribute);
    EXPECT_EQ(TreeCommandFromName("rename-element"), TC::RenameElement);
    EXPECT_FALSE(TreeCommandFromName("32799"));
    EXPECT_FALSE(TreeCommandFromName("32788x"));
    EXPECT_FALSE(TreeCommandFromName(""));
}

TEST(TreeCommands, EnablingFollowsTheSelectedImage) {
    for (TC c : kTreeCommands) {
        bool attribute = c == TC::ChangeAttributeName || c == TC::ChangeAttributeValue ||
                         c == TC::DeleteAttribute || c == TC::AttributeToElement;
        bool text = c == TC::ChangeTextValue || c == TC::DeleteTextNode;
        for (int image = 0; image <= 7; ++image) {
            bool expected = attribute ? image == IMG_ATTRIBUTE
                            : text    ? image == IMG_TEXT
                                   : image == IMG_ELEMENT_LEAF || image == IMG_ELEMENT_PARENT_OPEN;
            EXPECT_EQ(IsTreeCommandEnabled(c, image), expected)
                << TreeCommandName(c) << " image " << image;
        }
    }

    // A disabled command run anyway does nothing and says nothing.
    Editor e("<r><p a=\"1\">t<!--c--><![CDATA[d]]></p></r>");
    Snapshot before(e);
    EXPECT_EQ(e.Run("", TC::RenameElement, {.name = "z"}), CommandOutcome::Stopped);  // root
    EXPECT_EQ(e.Run("0.2", TC::ChangeTextValue, {.value = "z"}),
              CommandOutcome::Stopped);                                                 // comment
    EXPECT_EQ(e.Run("0.3", TC::DeleteTextNode, {}), CommandOutcome::Stopped);           // CDATA
    EXPECT_EQ(e.Run("0.0", TC::DeleteElementOnly, {}), CommandOutcome::Stopped);        // attribute
    EXPECT_EQ(e.Run("0", TC::DeleteAttribute, {}), CommandOutcome::Stopped);            // element
    EXPECT_EQ(e.Run("0.1", TC::AddAttribute, {.name = "x"}), CommandOutcome::Stopped);  // text
    EXPECT_EQ(e.Run(nullptr, TC::AddAttribute, {.name = "x"}), CommandOutcome::Stopped);
    EXPECT_EQ(Snapshot(e), before);
    EXPECT_TRUE(e.sink.messages.empty());

    // An element with element children shows image 1 but selected image 6: enabled.
    Editor parent("<r><p><c/></p></r>");
    ASSERT_EQ(parent.At("0")->image(), IMG_ELEMENT_PARENT);
    EXPECT_EQ(parent.Run("0", TC::RenameElement, {.name = "q"}), CommandOutcome::Done);
    EXPECT_EQ(parent.doc.Text(), Canon("<r><q><c/></q></r>"));
}

TEST(TreeCommands, CancelAndEmptyInputsStopSilently) {
    struct Row {
        TC command;
        const char* item;
        CommandInputs inputs;
    };
    // clang-format off
    const Row rows[] = {
        {TC::AddAttribute, "0", {.cancelled = true, .name = "a", .value = "1"}},
        {TC::DeleteElementAndChildren, "0", {.cancelled = true}},
        {TC::DuplicateElementSubTree, "0", {.cancelled = true}},
        {TC::DeleteAttribute, "0.0", {.cancelled = true}},
        {TC::DeleteTextNode, "0.1", {.cancelled = true}},
        {TC::AddAttribute, "0", {.name = "", .value = "1"}},
        {TC::AddChildElement, "0", {.name = "", .value = "1"}},
        {TC::RenameElement, "0", {.name = ""}},
        {TC::ChangeAttributeName, "0.0", {.name = ""}},
        {TC::ChangeAttributeValue, "0.0", {.value = ""}},
    };
    // clang-format on
    for (const Row& row : rows) {
        Editor e("<r><p a=\"1\">t</p></r>");
        Snapshot before(e);
        EXPECT_EQ(e.Run(row.item, row.command, row.inputs), CommandOutcome::Stopped)
            << TreeCommandName(row.command);
        EXPECT_EQ(Snapshot(e), before) << TreeCommandName(row.command);
        EXPECT_TRUE(e.sink.messages.empty());
    }

    // Empty text is a text: carried out.
    Editor add("<r><p/></r>");
    EXPECT_EQ(add.Run("0", TC::AddTextNode, {.value = ""}), CommandOutcome::Done);
    EXPECT_TRUE(add.doc.IsModified());
    EXPECT_EQ(add.doc.Text(), "<r><p/></r>");  // an empty text leaves no trace
    Editor change("<r><p>t</p></r>");
    EXPECT_EQ(change.Run("0.0", TC::ChangeTextValue, {.value = ""}), CommandOutcome::Done);
    EXPECT_EQ(change.doc.Text(), "<r><p/></r>");
    EXPECT_TRUE(change.At("0")->children().empty());
}

TEST(TreeCommands, InvalidNamesAreRefused) {
    struct Row {
        TC command;
        const char* item;
    };
    const Row rows[] = {{TC::AddAttribute, "0"},
                        {TC::AddChildElement, "0"},
                        {TC::RenameElement, "0"},
                        {TC::ChangeAttributeName, "0.0"}};
    for (const Row& row : rows) {
        for (std::string name : {"1a", "a b"}) {
            Editor e("<r><p a=\"1\"/></r>");
            Snapshot before(e);
            EXPECT_EQ(
                e.Run(row.item, row.command, {.name = name, .value = "v", .allOccurrences = true}),
                CommandOutcome::Failed);
            EXPECT_EQ(e.sink.messages,
                      std::vector<std::string>{"\"" + name + "\" is not a valid XML name."});
            EXPECT_EQ(Snapshot(e), before) << TreeCommandName(row.command) << " " << name;
        }
    }

    // A prefixed name passes the check.
    EXPECT_TRUE(IsXmlName("p:q"));
    Editor e("<r xmlns:p=\"urn:p\"><p/></r>");
    EXPECT_EQ(e.Run("0", TC::RenameElement, {.name = "p:q"}), CommandOutcome::Done);
    EXPECT_EQ(e.doc.Text(), "<r xmlns:p=\"urn:p\"><p:q/></r>");
    EXPECT_TRUE(e.sink.messages.empty());

    // Commands without a name field do not look at it.
    Editor text("<r><p/></r>");
    EXPECT_EQ(text.Run("0", TC::AddTextNode, {.name = "1a", .value = "x"}), CommandOutcome::Done);
    EXPECT_TRUE(text.sink.messages.empty());
}

TEST(TreeCommands, UnmatchedItemPathShowsMessageAndChangesNothing) {
    struct Row {
        const char* text;
        const char* item;
        TC command;
        CommandInputs inputs;
        const char* message;
    };
    // The text "a" (or comment "p") before the element counts as a sibling
    // of the same label, so the path asks for a second element that is not there.
    // clang-format off
    const Row rows[] = {
        {"<r>a<a/></r>", "1", TC::RenameElement, {.name = "b"}, kUnexpectedError},
        {"<r>a<a/></r>", "1", TC::DeleteElementAndChildren, {}, kUnexpectedError},
        {"<r>a<a/></r>", "1", TC::DuplicateElementSubTree, {}, kUnexpectedError},
        {"<r>a<a/></r>", "1", TC::AddAttribute, {.name = "x", .value = "1"}, kUnexpectedError},
        {"<r><!--p--><p x=\"1\"/></r>", "1.0", TC::ChangeAttributeValue, {.value = "2"}, kUnexpectedError},
        {"<r><!--p--><p x=\"1\"/></r>", "1.0", TC::ChangeAttributeName, {.name = "y"}, kUnexpectedError},
        {"<r><!--p--><p x=\"1\"/></r>", "1.0", TC::DeleteAttribute, {}, kSomeUnexpectedError},
        {"<r><!--p--><p x=\"1\"/></r>", "1.0", TC::AttributeToElement, {}, kSomeUnexpectedError},
        {"<r>p<p>t</p></r>", "1.0", TC::ChangeTextValue, {.value = "u"}, kUnexpectedError},
        {"<r>p<p>t</p></r>", "1.0", TC::DeleteTextNode, {}, kUnexpectedError},
    };
    // clang-format on
    for (const Row& row : rows) {
        Editor e(row.text);
        e.doc.SetModifiedFlag(true);
        Snapshot before(e);
        EXPECT_EQ(e.Run(row.item, row.command, row.inputs), CommandOutcome::Failed)
            << TreeCommandName(row.command);
        EXPECT_EQ(e.sink.messages, std::vector<std::string>{row.message})
            << TreeCommandName(row.command);
        EXPECT_EQ(Snapshot(e), before) << TreeCommandName(row.command);
    }
}

TEST(TreeCommands, FailedChangeLeavesTextDomAndFlag) {
    // The empty element fails alone, and after an earlier occurrence was converted.
    struct Row {
        const char* text;
        const char* item;
        bool all;
    };
    const Row rows[] = {{"<r><name/></r>", "0", false},
                        {"<r><p><n>1</n></p><p><n/></p></r>", "0.0", true},
                        {"<r><p><n>1</n></p><p><n/></p></r>", "1.0", false}};
    for (const Row& row : rows) {
        Editor e(row.text);
        Snapshot before(e);
        EXPECT_EQ(e.Run(row.item, TC::ElementToAttribute, {.allOccurrences = row.all}),
                  CommandOutcome::Failed);
        EXPECT_EQ(e.sink.messages, std::vector<std::string>{kUnexpectedError});
        EXPECT_EQ(Snapshot(e), before) << row.text;
        EXPECT_EQ(e.Dom(), Fresh(e.doc.Text()));
        EXPECT_EQ(e.Dom(), Fresh(row.text));
    }
}

TEST(TreeCommands, GoldenEdits) {
    struct Row {
        const char* text;
        const char* item;  // child indexes from the top item; attribute items come first
        TC command;
        CommandInputs inputs;
        const char* expected;
    };
    const char* const kSpread = "<r><p a=\"1\"/><q><p/><p a=\"2\"/></q></r>";
    // clang-format off
    const Row rows[] = {
        // Adding
        {"<r><p a=\"1\"/></r>", "0", TC::AddAttribute, {.name = "a", .value = "2"}, "<r><p a=\"2\"/></r>"},
        {"<r><p/></r>", "0", TC::AddAttribute, {.name = "a", .value = ""}, "<r><p a=\"\"/></r>"},
        {"<r><p/><p/></r>", "1", TC::AddAttribute, {.name = "a", .value = "1"}, "<r><p/><p a=\"1\"/></r>"},
        {"<p><p/><q><p/></q></p>", "0", TC::AddAttribute, {.name = "a", .value = "1", .allOccurrences = true},
         "<p><p a=\"1\"/><q><p a=\"1\"/></q></p>"},
        {"<r><p/></r>", "0", TC::AddChildElement, {.name = "c", .value = ""}, "<r><p><c/></p></r>"},
        {"<r><p>t</p></r>", "0", TC::AddChildElement, {.name = "c", .value = "v"}, "<r><p>t<c>v</c></p></r>"},
        {"<r><p/><q><p>t</p></q></r>", "0", TC::AddChildElement, {.name = "c", .value = "v", .allOccurrences = true},
         "<r><p><c>v</c></p><q><p>t<c>v</c></p></q></r>"},
        {"<r><p/><p/></r>", "1", TC::AddTextNode, {.value = "x", .allOccurrences = true}, "<r><p>x</p><p>x</p></r>"},
        // Renaming keeps attributes in order, content and place
        {"<r><p b=\"2\" a=\"1\">t<c/>u</p><x/></r>", "0", TC::RenameElement, {.name = "q"},
         "<r><q b=\"2\" a=\"1\">t<c/>u</q><x/></r>"},
        {"<r><a/><a/></r>", "1", TC::RenameElement, {.name = "b"}, "<r><a/><b/></r>"},
        {"<r><a/><a/></r>", "1", TC::RenameElement, {.name = "b", .allOccurrences = true}, "<r><b/><b/></r>"},
        {"<r><a><a/></a></r>", "0", TC::RenameElement, {.name = "b", .allOccurrences = true}, "<r><b><b/></b></r>"},
        {"<a><a/><c><a>t</a></c></a>", "0", TC::RenameElement, {.name = "b", .allOccurrences = true},
         "<a><b/><c><b>t</b></c></a>"},
        // Deleting; a child moved out of the element declaring its prefix takes the declaration along
        {"<r><p xmlns:x=\"urn:x\"><x:c x:b=\"2\"/></p></r>", "0", TC::DeleteElementOnly, {},
         "<r><x:c xmlns:x=\"urn:x\" x:b=\"2\"/></r>"},
        {"<r><a/><b><a><a/></a></b><a>t</a><c><a x=\"1\"/></c></r>", "0", TC::DeleteElementAndChildren, {},
         "<r><b/><c/></r>"},
        {"<a><b/><a><a/></a></a>", "1", TC::DeleteElementAndChildren, {}, "<a><b/></a>"},
        {"<r><p a=\"1\">t<c/>u</p><x/></r>", "0", TC::DeleteElementOnly, {}, "<r>t<c/>u<x/></r>"},
        {"<r><x/><p/><y/></r>", "1", TC::DeleteElementOnly, {}, "<r><x/><y/></r>"},
        {"<r><a><a/></a></r>", "0", TC::DeleteElementOnly, {.allOccurrences = true}, "<r/>"},
        {"<r><p>1</p><q><p>2</p></q></r>", "0", TC::DeleteElementOnly, {.allOccurrences = true}, "<r>1<q>2</q></r>"},
        // Duplicating: one copy, next to the original, whatever the flag says
        {"<r><x/><p a=\"1\" b=\"2\"><c>t</c><!--k--></p><z/></r>", "1", TC::DuplicateElementSubTree, {},
         "<r><x/><p a=\"1\" b=\"2\"><c>t</c><!--k--></p><p a=\"1\" b=\"2\"><c>t</c><!--k--></p><z/></r>"},
        {"<r><p/><q><p/></q></r>", "0", TC::DuplicateElementSubTree, {.allOccurrences = true},
         "<r><p/><p/><q><p/></q></r>"},
        // Attributes
        {"<r><p id=\"1\" class=\"x\"/></r>", "0.0", TC::ChangeAttributeName, {.name = "key"},
         "<r><p class=\"x\" key=\"1\"/></r>"},
        {"<r><p id=\"1\" class=\"x\"/></r>", "0.0", TC::ChangeAttributeName, {.name = "id"},
         "<r><p class=\"x\" id=\"1\"/></r>"},
        {"<r><p a=\"1\" b=\"2\"/></r>", "0.1", TC::ChangeAttributeName, {.name = "a"}, "<r><p a=\"2\"/></r>"},
        {kSpread, "0.0", TC::ChangeAttributeName, {.name = "b", .allOccurrences = true},
         "<r><p b=\"1\"/><q><p/><p b=\"2\"/></q></r>"},
        {kSpread, "0.0", TC::ChangeAttributeValue, {.value = "9", .allOccurrences = true},
         "<r><p a=\"9\"/><q><p/><p a=\"9\"/></q></r>"},
        {kSpread, "1.1.0", TC::ChangeAttributeValue, {.value = "9"}, "<r><p a=\"1\"/><q><p/><p a=\"9\"/></q></r>"},
        {kSpread, "0.0", TC::DeleteAttribute, {.allOccurrences = true}, "<r><p/><q><p/><p/></q></r>"},
        {"<r><p a=\"1\" A=\"2\"/></r>", "0.0", TC::ChangeAttributeValue, {.value = "9"}, "<r><p a=\"9\" A=\"2\"/></r>"},
        {"<r><p a=\"1\" A=\"2\"/></r>", "0.0", TC::DeleteAttribute, {}, "<r><p A=\"2\"/></r>"},
        {"<r><p a=\"1\" A=\"2\"/></r>", "0.0", TC::ChangeAttributeName, {.name = "b"}, "<r><p A=\"2\" b=\"1\"/></r>"},
        // Conversions
        {"<r><p a=\"1\"><c/></p></r>", "0.0", TC::AttributeToElement, {}, "<r><p><c/><a>1</a></p></r>"},
        {"<r><p a=\"\"/></r>", "0.0", TC::AttributeToElement, {}, "<r><p><a/></p></r>"},
        {kSpread, "0.0", TC::AttributeToElement, {.allOccurrences = true},
         "<r><p><a>1</a></p><q><p/><p><a>2</a></p></q></r>"},
        {"<r><item><name>x</name></item></r>", "0.0", TC::ElementToAttribute, {}, "<r><item name=\"x\"/></r>"},
        {"<r><p name=\"old\"><name>new</name></p></r>", "0.1", TC::ElementToAttribute, {}, "<r><p name=\"new\"/></r>"},
        {"<r><p><a>1</a><a>2</a></p></r>", "0.0", TC::ElementToAttribute, {.allOccurrences = true},
         "<r><p a=\"2\"/></r>"},
        {"<r><p><a>1</a><a>2</a></p></r>", "0.1", TC::ElementToAttribute, {}, "<r><p a=\"2\"><a>1</a></p></r>"},
        // Text, by its ordinal among the text items
        {"<r><p>a<b/>c</p></r>", "0.2", TC::ChangeTextValue, {.value = "z"}, "<r><p>a<b/>z</p></r>"},
        {"<r><p>a<b/>c</p></r>", "0.2", TC::DeleteTextNode, {}, "<r><p>a<b/></p></r>"},
        {"<r><p><![CDATA[d]]>b<!--k-->c</p></r>", "0.3", TC::ChangeTextValue, {.value = "z"},
         "<r><p><![CDATA[d]]>b<!--k-->z</p></r>"},
        {"<r><p><![CDATA[d]]>b<!--k-->c</p></r>", "0.3", TC::DeleteTextNode, {},
         "<r><p><![CDATA[d]]>b<!--k--></p></r>"},
        {"<r><p>a</p></r>", "0.0", TC::DeleteTextNode, {}, "<r><p/></r>"},
        {"<r><p>a<b/>c</p><q><p>x</p></q></r>", "0.2", TC::ChangeTextValue, {.value = "z", .allOccurrences = true},
         "<r><p>a<b/>z</p><q><p>x</p></q></r>"},
        {"<r><p>a<b/>c</p><q><p>x</p></q></r>", "0.0", TC::ChangeTextValue, {.value = "z", .allOccurrences = true},
         "<r><p>z<b/>c</p><q><p>z</p></q></r>"},
        {"<r><p>a<b/>c</p><q><p>x</p></q></r>", "0.0", TC::DeleteTextNode, {.allOccurrences = true},
         "<r><p><b/>c</p><q><p/></q></r>"},
        // The root's own text: the flag reaches only the elements below it
        {"<r>t<x><r>u</r></x></r>", "0", TC::ChangeTextValue, {.value = "z"}, "<r>z<x><r>u</r></x></r>"},
        {"<r>t<x><r>u</r></x></r>", "0", TC::ChangeTextValue, {.value = "z", .allOccurrences = true},
         "<r>t<x><r>z</r></x></r>"},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(TreeCommandName(row.command)) + " on " + row.item + " of " +
                     row.text);
        Editor e(row.text);
        EXPECT_EQ(e.Run(row.item, row.command, row.inputs), CommandOutcome::Done);
        EXPECT_TRUE(e.sink.messages.empty());
        EXPECT_EQ(e.doc.Text(), Canon(row.expected));
        EXPECT_TRUE(e.doc.IsModified());
    }
}

TEST(TreeCommands, SuccessRegeneratesTextTreeViewsAndFlag) {
    Editor e("<r>  <p   a='1'><c/></p><q><s/></q></r>");
    EXPECT_EQ(e.Run("0", TC::AddAttribute, {.name = "b", .value = "2"}), CommandOutcome::Done);
    // The new attribute after the last, in the quotes the element uses.
    EXPECT_EQ(e.doc.Text(), "<r>  <p   a='1' b='2'><c/></p><q><s/></q></r>");
    EXPECT_EQ(e.Tree(),
              "0/0+ r\n"
              "  1/6+ p\n"
              "    3/3 a = \" 1 \"\n"
              "    3/3 b = \" 2 \"\n"
              "    2/2 c\n"
              "  1/6+ q\n"
              "    2/2 s\n");
    EXPECT_EQ(e.Dom(), Fresh(e.doc.Text()));
    EXPECT_TRUE(e.doc.IsModified());
    // The other views take the new text; the tree view, which sent it, is skipped.
    EXPECT_EQ(e.sourceView.updates, 1);
    EXPECT_EQ(e.treeView.updates, 0);

    // Even a change that ends as the same text marks the document.
    Editor same("<r><p/></r>");
    EXPECT_EQ(same.Run("0", TC::RenameElement, {.name = "p"}), CommandOutcome::Done);
    EXPECT_EQ(same.doc.Text(), Canon("<r><p/></r>"));
    EXPECT_TRUE(same.doc.IsModified());
    Editor dup("<r><p/></r>");
    EXPECT_EQ(dup.Run("0", TC::DuplicateElementSubTree, {}), CommandOutcome::Done);
    EXPECT_TRUE(dup.doc.IsModified());
    EXPECT_EQ(dup.sourceView.updates, 1);
}

TEST(TreeCommands, TreeShowsTheResultAfterRefresh) {
    // Added text joins the old text into one item, old text first.
    Editor add("<r><p>old</p></r>");
    EXPECT_EQ(add.Run("0", TC::AddTextNode, {.value = "new"}), CommandOutcome::Done);
    ASSERT_EQ(add.At("0")->children().size(), 1u);
    EXPECT_EQ(add.At("0.0")->label(), "oldnew");
    EXPECT_EQ(add.At("0.0")->image(), IMG_TEXT);

    // An empty attribute value gives an element without a text item.
    Editor conv("<r><p a=\"\"/></r>");
    EXPECT_EQ(conv.Run("0.0", TC::AttributeToElement, {}), CommandOutcome::Done);
    EXPECT_EQ(conv.Tree(), "0/0+ r\n  1/6+ p\n    2/2 a\n");

    // Three blanks: the label pads them with one more on each side.
    Editor blanks("<r><p/></r>");
    EXPECT_EQ(blanks.Run("0", TC::AddAttribute, {.name = "a", .value = "   "}),
              CommandOutcome::Done);
    EXPECT_EQ(blanks.At("0.0")->label(), "a = \"     \"");
    EXPECT_EQ(blanks.doc.Text(), "<r><p a=\"   \"/></r>");

    // Tab and line feed survive the re-parse (no attribute value normalisation).
    Editor controls("<r><p/></r>");
    EXPECT_EQ(controls.Run("0", TC::AddAttribute, {.name = "a", .value = "x\ty\nz"}),
              CommandOutcome::Done);
    EXPECT_EQ(controls.At("0.0")->label(), "a = \" x\ty\nz \"");

    // Markup characters are stored escaped and shown back plain.
    Editor markup("<r><p a=\"1\"/></r>");
    EXPECT_EQ(markup.Run("0.0", TC::ChangeAttributeValue, {.value = "<&\">"}),
              CommandOutcome::Done);
    EXPECT_EQ(markup.At("0.0")->label(), "a = \" <&\"> \"");
    EXPECT_NE(markup.doc.Text().find("a=\"&lt;&amp;&quot;>\""), std::string::npos)
        << markup.doc.Text();
    EXPECT_EQ(markup.Run("0", TC::AddChildElement, {.name = "c", .value = "x<&\"y"}),
              CommandOutcome::Done);
    EXPECT_EQ(markup.At("0.1.0")->label(), "x<&\"y");
    EXPECT_EQ(markup.Dom(), Fresh(markup.doc.Text()));
    EXPECT_TRUE(markup.sink.messages.empty());
}

TEST(TreeCommands, ElementToAttributeSkipsElementsThatAreNotTextOnly) {
    // Nothing to convert is no failure: the refresh still runs.
    for (const char* text :
         {"<r><p><e a=\"1\">x</e></p></r>", "<r><p><e>x<c/></e></p></r>",
          "<r><p><e>x<!--c--></e></p></r>", "<r><p><e><![CDATA[c]]></e></p></r>"}) {
        Editor e(text);
        EXPECT_EQ(e.Run("0.0", TC::ElementToAttribute, {}), CommandOutcome::Done) << text;
        EXPECT_TRUE(e.sink.messages.empty());
        EXPECT_EQ(e.doc.Text(), Canon(text));
        EXPECT_TRUE(e.doc.IsModified());
        EXPECT_EQ(e.sourceView.updates, 1);
    }
}

namespace {

struct DeepCopy {
    XmlNode source, destination;
};

void* CopyOnThread(void* arg) {
    auto* job = static_cast<DeepCopy*>(arg);
    CopyNode(job->source, job->destination);
    return nullptr;
}

}  // namespace

TEST(TreeCommands, CopyNodeCopiesInOrderWithoutRecursion) {
    LoadOptions options;
    options.validateOnParse = false;
    XmlDocument dom;
    const std::string text = "<r><s a=\"1\">t<c b=\"2\"><!--k--><![CDATA[d]]></c>u</s><d/></r>";
    ASSERT_TRUE(dom.loadXML(text, options));
    XmlNode root = dom.documentElement();
    XmlNode d = root.lastChild();
    CopyChildren(root.firstChild(), d);
    CopyNode(root.firstChild(), d);
    const std::string expected =
        "<r><s a=\"1\">t<c b=\"2\"><!--k--><![CDATA[d]]></c>u</s>"
        "<d>t<c b=\"2\"><!--k--><![CDATA[d]]></c>u"
        "<s a=\"1\">t<c b=\"2\"><!--k--><![CDATA[d]]></c>u</s></d></r>";
    EXPECT_EQ(dom.xml(), Fresh(expected));
    // The copies read as their originals were written.
    EXPECT_EQ(dom.xml(text), expected);

    const int kDepth = 10000;
    XmlNode chainTop = root.appendChild(dom.createElement("e"));
    XmlNode node = chainTop;
    for (int i = 1; i < kDepth; ++i) {
        node = node.appendChild(dom.createElement("e"));
    }
    node.appendChild(dom.createTextNode("leaf"));
    XmlNode target = root.appendChild(dom.createElement("copy"));

    // A small stack: one frame per level would not fit in it.
    DeepCopy job{chainTop, target};
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 128 * 1024);
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, &attr, CopyOnThread, &job), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);

    int depth = 0;
    XmlNode copy = target.firstChild();
    for (; copy && copy.nodeType() == NodeType::Element; copy = copy.firstChild()) {
        EXPECT_EQ(copy.nextSibling(), XmlNode());
        ++depth;
    }
    EXPECT_EQ(depth, kDepth);
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy.nodeValue(), "leaf");
}

TEST(TreeCommands, CrlfDocumentKeepsCrlfAfterCommand) {
    auto path =
        std::filesystem::temp_directory_path() /
        ("quorrel_crlf_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
         std::to_string(getpid()) + ".xml");
    {
        std::ofstream out(path, std::ios::binary);
        out << "<r>\r\n\t<p/>\r\n</r>\r\n";
    }
    CollectingSink sink;
    CDoc doc(sink);
    doc.OnValidateNo();
    ASSERT_TRUE(doc.OnOpenDocument(path.string()).parsed);
    std::filesystem::remove(path);
    CTreeItems items;
    BuildTreeFromDom(doc, items);
    const CTreeItem* p = &items.GetRootItem()->children()[0];
    CurrentItem current = CurrentItemOf(p);
    EXPECT_EQ(
        RunTreeCommand(doc, items, current, TC::AddAttribute, {.name = "a", .value = "1"}, sink),
        CommandOutcome::Done);
    EXPECT_EQ(doc.Text(), "<r>\r\n\t<p a=\"1\"/>\r\n</r>\r\n");
    EXPECT_TRUE(sink.messages.empty());
    ASSERT_NE(items.GetRootItem(), nullptr);
    EXPECT_EQ(items.GetRootItem()->children()[0].children()[0].label(), "a = \" 1 \"");
}

TEST(TreeCommands, OnAHollowDomAsOnAWholeOne) {
    // The window keeps no DOM of a text without a DTD: a command reads the
    // text whole first, and its result's items are built as it is read.
    const std::string text = "<r><a x=\"1\">t<b/></a><a x=\"2\"/><c>u</c></r>";
    for (TC command : kTreeCommands) {
        SCOPED_TRACE(TreeCommandName(command));
        const char* item =
            command == TC::ChangeAttributeName || command == TC::ChangeAttributeValue ||
                    command == TC::DeleteAttribute || command == TC::AttributeToElement
                ? "0.0"
            : command == TC::ChangeTextValue || command == TC::DeleteTextNode ? "0.1"
            : command == TC::ElementToAttribute                               ? "2"
                                                                              : "0";
        CommandInputs inputs{.name = "n", .value = "v", .allOccurrences = true};
        Editor whole(text);
        CommandOutcome expected = whole.Run(item, command, inputs);

        Editor hollow(text);
        ParsedTree parsed = ParseForTree(hollow.doc, text);
        ASSERT_TRUE(parsed.dom->hollow());
        hollow.doc.SetDom(std::move(parsed.dom));
        hollow.items = std::move(parsed.items);
        TreeCommandResult result =
            ComputeTreeCommand(hollow.doc, hollow.doc.TakeDom(), CurrentItemOf(hollow.At(item)),
                               command, inputs, ResultFor::Tree);
        BuildItems(result);
        EXPECT_EQ(ApplyTreeCommand(hollow.doc, hollow.items, std::move(result), hollow.sink,
                                   &hollow.treeView),
                  expected);
        EXPECT_EQ(hollow.doc.Text(), whole.doc.Text());
        EXPECT_EQ(hollow.Tree(), whole.Tree());
        EXPECT_EQ(hollow.sink.messages, whole.sink.messages);
    }
}

TEST(TreeCommands, ATextWrittenFromTheDomIsKeptFromThenOn) {
    // A document from a URL opens as its DOM written out; a command then
    // changes that text only where it changes the DOM.
    CollectingSink sink;
    CDoc doc(sink);
    doc.OnValidateNo();
    auto dom = std::make_unique<XmlDocument>();
    ASSERT_TRUE(dom->loadBytes("<r><a x='1'><b>t</b></a><c/></r>"));
    std::string text = dom->xml();
    doc.SetTextAndDom(std::move(text), std::move(dom));
    ASSERT_EQ(doc.Text(), "<r>\n\t<a x=\"1\">\n\t\t<b>t</b>\n\t</a>\n\t<c/>\n</r>\n");
    CTreeItems items;
    BuildTreeFromDom(doc, items);
    const CTreeItem* a = &items.GetRootItem()->children()[0];
    ASSERT_EQ(RunTreeCommand(doc, items, CurrentItemOf(a), TC::AddAttribute,
                             {.name = "y", .value = "2"}, sink),
              CommandOutcome::Done);
    EXPECT_EQ(doc.Text(), "<r>\n\t<a x=\"1\" y=\"2\">\n\t\t<b>t</b>\n\t</a>\n\t<c/>\n</r>\n");
    const CTreeItem* c = &items.GetRootItem()->children()[1];
    ASSERT_EQ(RunTreeCommand(doc, items, CurrentItemOf(c), TC::AddChildElement,
                             {.name = "d", .value = "v"}, sink),
              CommandOutcome::Done);
    EXPECT_EQ(doc.Text(),
              "<r>\n\t<a x=\"1\" y=\"2\">\n\t\t<b>t</b>\n\t</a>\n\t<c><d>v</d></c>\n</r>\n");
}
