#include "views/tree/core/TreeRows.h"

#include <gtest/gtest.h>

#include <string>

#include "doc/core/Doc.h"
#include "doc/core/MessageSink.h"

using namespace quorrel;

namespace {

struct Built {
    CollectingSink sink;
    CDoc doc{sink};
    CTreeItems items;
    explicit Built(const std::string& text) {
        doc.OnValidateNo();
        doc.ReplaceText(text);
        ReparseAndBuildTree(doc, items);
    }
};

// "depth:label" per row.
std::string Shown(const CTreeRows& rows) {
    std::string out;
    for (std::size_t r = 0; r < rows.Count(); ++r) {
        out += std::to_string(rows.DepthAt(r)) + ":" + std::string(rows.ItemAt(r)->label()) + " ";
    }
    return out;
}

}  // namespace

TEST(TreeRows, ShownRowsFollowExpansion) {
    Built b("<a><b x=\"1\"><c/>t</b><d><e/></d></a>");
    EXPECT_EQ(Shown(CTreeRows::Of(b.items)), "0:a ");  // nothing expanded yet
    ExpandBranches(b.items, b.items.GetRootItem());
    CTreeRows rows = CTreeRows::Of(b.items);
    // b and d have element children: open; c and e are leaves, closed.
    EXPECT_EQ(Shown(rows), "0:a 1:b 2:x = \" 1 \" 2:c 2:t 1:d 2:e ");

    const CTreeItem* d = rows.ItemAt(5);
    EXPECT_EQ(rows.RowOf(d), 5u);
    EXPECT_EQ(rows.ShownBelow(1), 3u);
    EXPECT_EQ(rows.Collapse(b.items, 1), 3u);  // b: its attribute, c and the text go
    EXPECT_FALSE(rows.ItemAt(1)->expanded());
    EXPECT_EQ(Shown(rows), "0:a 1:b 1:d 2:e ");
    EXPECT_EQ(rows.RowOf(d), 2u);
    EXPECT_EQ(rows.RowOf(&b.items.GetRootItem()->children()[0].children()[1]), CTreeRows::npos);

    // Collapsing the root and expanding it again shows what was open below it.
    EXPECT_EQ(rows.Collapse(b.items, 0), 3u);
    EXPECT_EQ(Shown(rows), "0:a ");
    EXPECT_EQ(rows.Expand(b.items, 0), 3u);
    EXPECT_EQ(Shown(rows), "0:a 1:b 1:d 2:e ");
    EXPECT_EQ(rows.Expand(b.items, 1), 3u);
    EXPECT_EQ(Shown(rows), Shown(CTreeRows::Of(b.items)));
    EXPECT_EQ(rows.Expand(b.items, 1), 0u);  // open already
    EXPECT_EQ(rows.Expand(b.items, 3), 0u);  // c has no children
}

// Every shown item is found at its row, also where places do not ascend
// (declarations written after many attributes), repeat (entities, defaults)
// or are missing.
TEST(TreeRows, RowOfFindsEveryShownItem) {
    std::string many;
    for (int i = 0; i < 150; ++i) {
        many += " a" + std::to_string(i) + "=\"" + std::to_string(i) + "\"";
    }
    Built b(
        "<!DOCTYPE r [<!ENTITY e \"<b>x</b><c/>\"><!ATTLIST b y CDATA \"d\">]>\n"
        "<r><m" +
        many +
        " xmlns:p=\"urn:p\" xmlns=\"urn:d\"><p:q/>t</m>"
        "&e;&e;<b y=\"1\"/><!--c--><![CDATA[z]]>" +
        std::string(200, ' ') + "<s/></r>");
    ASSERT_TRUE(b.sink.messages.empty());
    ExpandBranches(b.items, b.items.GetRootItem());
    CTreeRows rows = CTreeRows::Of(b.items);
    ASSERT_GT(rows.Count(), 160u);
    for (std::size_t r = 0; r < rows.Count(); ++r) {
        EXPECT_EQ(rows.RowOf(rows.ItemAt(r)), r) << rows.ItemAt(r)->label();
    }
    // A collapsed branch's items have no row.
    const CTreeItem* m = &b.items.GetRootItem()->children()[0];
    rows.Collapse(b.items, rows.RowOf(m));
    EXPECT_EQ(rows.RowOf(&m->children()[0]), CTreeRows::npos);
    EXPECT_EQ(rows.RowOf(&m->children().back()), CTreeRows::npos);
    for (std::size_t r = 0; r < rows.Count(); ++r) {
        EXPECT_EQ(rows.RowOf(rows.ItemAt(r)), r);
    }
}
