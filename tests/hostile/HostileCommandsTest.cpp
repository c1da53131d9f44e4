// Dialog input the document cannot take: a tree command whose result would
// not parse again changes nothing and says why. Validity is another matter:
// an invalid result is kept and its parse error shown, as before.
#include <gtest/gtest.h>

#include "doc/core/ParseLimits.h"
#include "edit/core/TreeCommands.h"
#include "tests/hostile/HostileSupport.h"

using namespace quorrel;
using namespace quorrel::hostile;

namespace {

struct Editor {
    CollectingSink sink;
    CDoc doc{sink};
    CTreeItems items;

    explicit Editor(const std::string& text, bool validate = false) {
        if (!validate) {
            doc.OnValidateNo();
        }
        doc.ReplaceText(text);
        EXPECT_TRUE(doc.ReparseDocument()) << text;
        BuildTreeFromDom(doc, items);
    }
    // The item at positions from the top item down: {} is the top item.
    const CTreeItem* At(std::initializer_list<std::size_t> positions) const {
        const CTreeItem* item = items.GetRootItem();
        for (std::size_t p : positions) {
            item = &item->children()[p];
        }
        return item;
    }
    CommandOutcome Run(const CTreeItem* item, TreeCommand command, std::string name,
                       std::string value) {
        CurrentItem current = CurrentItemOf(item);
        return RunTreeCommand(doc, items, current, command,
                              {false, std::move(name), std::move(value), false}, sink);
    }
};

}  // namespace

TEST(HostileCommands, ChangesWhoseTextWouldNotParseAreUndone) {
    struct Case {
        const char* what;
        std::string text;
        std::initializer_list<std::size_t> item;
        TreeCommand command;
        std::string name, value;
        std::string reason;
    };
    // clang-format off
    const Case cases[] = {
        {"an undeclared prefix", "<r><a/></r>", {0}, TreeCommand::AddAttribute, "u:v", "1", "prefix u"},
        {"an element in the xmlns namespace", "<r><a/></r>", {0}, TreeCommand::RenameElement, "xmlns:a", "",
         "xmlns"},
        {"a namespace declaration made an element", "<r><a xmlns:p=\"urn:p\"/></r>", {0, 0},
         TreeCommand::AttributeToElement, "", "", "xmlns"},
        {"a control character", "<r><a/></r>", {0}, TreeCommand::AddTextNode, "", "a\x01z",
         "invalid Char value 1"},
        {"bytes that are not UTF-8", "<r><a/></r>", {0}, TreeCommand::AddChildElement, "c", "\xFF", "UTF-8"},
        {"a prefixed name with an empty namespace", "<r><a/></r>", {0}, TreeCommand::AddAttribute, "xmlns:q", "",
         "xmlns:q"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Editor e(c.text);
        const std::string itemsBefore = DescribeItems(e.items);
        EXPECT_EQ(e.Run(e.At(c.item), c.command, c.name, c.value), CommandOutcome::Failed);
        ASSERT_EQ(e.sink.messages.size(), 1u);
        EXPECT_TRUE(e.sink.messages[0].starts_with(kChangeNotWellFormed)) << e.sink.messages[0];
        EXPECT_NE(e.sink.messages[0].find(c.reason), std::string::npos) << e.sink.messages[0];
        EXPECT_EQ(e.doc.Text(), c.text);
        EXPECT_EQ(DescribeItems(e.items), itemsBefore);
        EXPECT_FALSE(e.doc.IsModified());
        // The DOM is the text's again, so the next command works.
        ASSERT_FALSE(e.items.IsEmpty());
        EXPECT_EQ(e.Run(e.At({0}), TreeCommand::AddAttribute, "ok", "1"), CommandOutcome::Done);
        EXPECT_NE(e.doc.Text().find("ok=\"1\""), std::string::npos) << e.doc.Text();
    }
}

TEST(HostileCommands, NestingPastTheLimitIsUndone) {
    std::string text = "<r>";
    for (std::size_t i = 0; i < kMaxElementDepth; ++i) {
        text += "<e>";
    }
    for (std::size_t i = 0; i < kMaxElementDepth; ++i) {
        text += "</e>";
    }
    Editor e(text + "</r>");
    auto deepest = [&e] {
        const CTreeItem* item = e.items.GetRootItem();
        while (item != nullptr && !item->children().empty()) {
            item = &item->children().front();
        }
        return item;
    };
    ASSERT_NE(deepest(), nullptr);
    EXPECT_EQ(e.Run(deepest(), TreeCommand::AddChildElement, "c", "x"), CommandOutcome::Failed);
    ASSERT_EQ(e.sink.messages.size(), 1u);
    EXPECT_NE(e.sink.messages[0].find("Excessive depth in document"), std::string::npos)
        << e.sink.messages[0];
    EXPECT_FALSE(e.doc.IsModified());
    ASSERT_NE(deepest(), nullptr);
    EXPECT_EQ(e.Run(deepest(), TreeCommand::AddTextNode, "", "fits"), CommandOutcome::Done);
}

TEST(HostileCommands, InvalidButWellFormedResultsAreKeptAndShown) {
    Editor e("<!DOCTYPE r [<!ELEMENT r (a)><!ELEMENT a EMPTY>]><r><a/></r>", true);
    EXPECT_EQ(e.Run(e.At({0}), TreeCommand::AddAttribute, "x", "1"), CommandOutcome::Done);
    ASSERT_EQ(e.sink.messages.size(), 1u);
    EXPECT_TRUE(e.sink.messages[0].starts_with("XML DOM Parse Error:\n")) << e.sink.messages[0];
    EXPECT_NE(e.doc.Text().find("<a x=\"1\"/>"), std::string::npos);
    EXPECT_TRUE(e.items.IsEmpty());
    EXPECT_TRUE(e.doc.IsModified());
}
