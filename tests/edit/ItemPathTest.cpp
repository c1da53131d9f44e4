#include "views/tree/core/ItemPath.h"

#include <gtest/gtest.h>

#include <string>

#include "doc/core/Doc.h"
#include "doc/core/MessageSink.h"
#include "views/tree/core/TreeItems.h"

using namespace quorrel;

namespace {

struct Built {
    CollectingSink sink;
    CDoc doc{sink};
    CTreeItems items;

    explicit Built(const std::string& text) {
        doc.OnValidateNo();
        doc.ReplaceText(text);
        doc.ReparseDocument();
        BuildTreeFromDom(doc, items);
    }
    const CTreeItem* Child(const CTreeItem* parent, std::size_t i) const {
        return i < parent->children().size() ? &parent->children()[i] : nullptr;
    }
    const CTreeItem* Root() const { return items.GetRootItem(); }
};

}  // namespace

TEST(ItemPath, SameLabelSiblingsNumberTheStep) {
    Built b("<r><a/><b/><a><c/><c/></a></r>");
    const CTreeItem* r = b.Root();
    const CTreeItem* a0 = b.Child(r, 0);
    const CTreeItem* bItem = b.Child(r, 1);
    const CTreeItem* a1 = b.Child(r, 2);
    EXPECT_EQ(ItemPath(r), "/r[0]");
    EXPECT_EQ(ItemPath(a0), "/r[0]/a[0]");
    EXPECT_EQ(ItemPath(bItem), "/r[0]/b[0]");
    EXPECT_EQ(ItemPath(a1), "/r[0]/a[1]");
    EXPECT_EQ(ItemPath(b.Child(a1, 1)), "/r[0]/a[1]/c[1]");
    EXPECT_EQ(CountSameLabelSiblingsBefore(a1), 1u);
    EXPECT_EQ(CountSameLabelSiblingsBefore(bItem), 0u);
    EXPECT_EQ(CountSameLabelSiblingsBefore(r), 0u);
    EXPECT_EQ(ItemPath(nullptr), "");

    // Every path found again in the DOM names the node the item shows.
    auto nodes = b.doc.Dom().selectNodes(ItemPath(b.Child(a1, 1)));
    ASSERT_TRUE(nodes.has_value());
    ASSERT_EQ(nodes->size(), 1u);
    EXPECT_EQ(nodes->front().parentNode().lastChild(), nodes->front());
}

TEST(ItemPath, AnyEarlierItemWithTheSameLabelCounts) {
    // A text or comment whose whole text equals the element's name shifts its step.
    Built b("<r>a<a/><q><!--q--><q/></q><p>pp<p/></p></r>");
    const CTreeItem* r = b.Root();
    EXPECT_EQ(ItemPath(b.Child(r, 1)), "/r[0]/a[1]");
    EXPECT_EQ(ItemPath(b.Child(b.Child(r, 2), 1)), "/r[0]/q[0]/q[1]");
    EXPECT_EQ(ItemPath(b.Child(b.Child(r, 3), 1)), "/r[0]/p[0]/p[0]");  // "pp" is not "p"
    // The own step may use another label than the item's (the current label).
    EXPECT_EQ(ItemPath(b.Child(r, 2), "z"), "/r[0]/z[0]");
}

TEST(ItemPath, TextOrdinalCountsOnlyTextItems) {
    Built b("<r><p>a<!--c--><![CDATA[d]]>b<x/>e<!--f-->g</p></r>");
    const CTreeItem* p = b.Child(b.Root(), 0);
    ASSERT_EQ(p->children().size(), 8u);
    EXPECT_EQ(CountTextSiblingsBefore(b.Child(p, 0)), 0u);  // a
    EXPECT_EQ(CountTextSiblingsBefore(b.Child(p, 3)), 1u);  // b
    EXPECT_EQ(CountTextSiblingsBefore(b.Child(p, 5)), 2u);  // e
    EXPECT_EQ(CountTextSiblingsBefore(b.Child(p, 7)), 3u);  // g
}

TEST(ItemPath, AttributeNameIsTheLabelUpToTheFirstBlank) {
    EXPECT_EQ(AttributeNameOfLabel(AttributeLabel("id", "a b")), "id");
    EXPECT_EQ(AttributeNameOfLabel(AttributeLabel("x:y", "")), "x:y");
    EXPECT_EQ(AttributeNameOfLabel("plain"), "plain");
}

TEST(ItemPath, ShownPathOfAttributeTextCDataAndCommentItems) {
    Built b(
        "<r>top<!--n--><e isbn=\"1\" xmlns:p=\"urn:p\">a<!--c--><![CDATA[d]]>b<x/>"
        "<!--f-->g<![CDATA[h]]></e></r>");
    const CTreeItem* r = b.Root();
    const CTreeItem* e = b.Child(r, 2);
    ASSERT_EQ(e->label(), "e");
    std::vector<std::string> shown;
    for (const CTreeItem& item : e->children()) {
        shown.push_back(ShownItemPath(&item));
    }
    const std::vector<std::string> expected = {"/r[0]/e[0]/@xmlns:p",  "/r[0]/e[0]/@isbn",
                                               "/r[0]/e[0]/text()[1]", "/r[0]/e[0]/comment()[1]",
                                               "/r[0]/e[0]/text()[2]", "/r[0]/e[0]/text()[3]",
                                               "/r[0]/e[0]/x[0]",      "/r[0]/e[0]/comment()[2]",
                                               "/r[0]/e[0]/text()[4]", "/r[0]/e[0]/text()[5]"};
    EXPECT_EQ(shown, expected);
    // The root's own children, and elements, keep the item path.
    EXPECT_EQ(ShownItemPath(b.Child(r, 0)), "/r[0]/text()[1]");
    EXPECT_EQ(ShownItemPath(b.Child(r, 1)), "/r[0]/comment()[1]");
    EXPECT_EQ(ShownItemPath(r), "/r[0]");
    EXPECT_EQ(ShownItemPath(nullptr), "");
}
