#include "views/tree/core/TreeItems.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "doc/core/Doc.h"
#include "doc/core/MessageSink.h"
#include "tests/support/TestEditor.h"

using namespace quorrel;

namespace {

const std::string kHintLines =
    "\n Turn the DTD/Schema validation button - V - on the toolbar off."
    "\n Then click on the Parse button - P - to retry this operation.";

std::string Dump(const CTreeItems& items) {
    return test_support::DescribeItems(items);
}

// Each item's label and what the text holds where the item says it starts.
std::string Places(const CTreeItems& items, std::string_view text) {
    std::string out;
    VisitItems(items, [&](const CTreeItem& item, int) {
        out += std::string(item.label()) + " @";
        out += item.textOffset() == CTreeItem::kNoOffset
                   ? std::string("none")
                   : std::string(text.substr(item.textOffset(), 4));
        out += '\n';
    });
    return out;
}

// A document holding the text, parsed into its items.
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

}  // namespace

TEST(TreeItems, ElementsAttributesAndText) {
    Built b("<a x=\"1\"><b y=\"2\">t</b><c/></a>");
    EXPECT_TRUE(b.sink.messages.empty());
    EXPECT_EQ(Dump(b.items),
              "0/0 a\n"
              "  2/2 b\n"
              "    3/3 y = \" 2 \"\n"
              "    4/4 t\n"
              "  2/2 c\n");
    const CTreeItem* text = &b.items.GetRootItem()->children()[0].children()[1];
    EXPECT_EQ(text->row(), 1);
    EXPECT_EQ(text->parent(), &b.items.GetRootItem()->children()[0]);
}

TEST(TreeItems, ParentsLeavesAndExpansion) {
    Built b("<a><b><c/><d>text<!--n--></d></b><e><f><g/></f></e></a>");
    EXPECT_EQ(Dump(b.items),
              "0/0 a\n"
              "  1/6 b\n"
              "    2/2 c\n"
              "    2/2 d\n"
              "      4/4 text\n"
              "      5/5 n\n"
              "  1/6 e\n"
              "    1/6 f\n"
              "      2/2 g\n");
    const CTreeItem* root = b.items.GetRootItem();
    ExpandBranches(b.items, root);
    const CTreeItem* bItem = &root->children()[0];
    const CTreeItem* f = &root->children()[1].children()[0];
    EXPECT_TRUE(root->expanded());
    EXPECT_TRUE(bItem->expanded());
    EXPECT_FALSE(bItem->children()[0].expanded());
    EXPECT_FALSE(bItem->children()[1].expanded());
    EXPECT_TRUE(root->children()[1].expanded());
    EXPECT_TRUE(f->expanded());
    EXPECT_FALSE(f->children()[0].expanded());
}

TEST(TreeItems, CommentsCDataAndProcessingInstructions) {
    Built b("<a><!--note--><![CDATA[x<y]]></a>");
    EXPECT_EQ(Dump(b.items), "0/0 a\n  5/5 note\n  7/7 x<y\n");

    Built pi("<a><b/><?sort by-title?><c>in<?p?>side</c>tail</a>");
    EXPECT_EQ(Dump(pi.items),
              "0/0 a\n"
              "  2/2 b\n"
              "  2/2 c\n"
              "    4/4 in\n"
              "    4/4 side\n"
              "  4/4 tail\n");
    EXPECT_EQ(pi.items.GetRootItem()->children()[2].row(), 2);

    // A blank between two CDATA sections stays an item: dropped, it would
    // leave the sections adjacent, and the serialisation would parse as one.
    for (const std::string text :
         {"<a><![CDATA[x]]> <![CDATA[y]]></a>", "<a>\n  <![CDATA[x]]>\n  <![CDATA[y]]>\n</a>"}) {
        Built cdata(text);
        std::string items = Dump(cdata.items);
        EXPECT_EQ(items.substr(0, 15), "0/0 a\n  7/7 x\n ") << text;
        EXPECT_TRUE(items.ends_with("  7/7 y\n")) << text;
        Built again(cdata.doc.Dom().xml());
        EXPECT_EQ(Dump(again.items), items) << text;
    }
}

TEST(TreeItems, EmptyAndBrokenText) {
    Built empty("");
    EXPECT_TRUE(empty.items.IsEmpty());
    EXPECT_TRUE(empty.sink.messages.empty());
    BuildTreeFromDom(empty.doc, empty.items);
    EXPECT_TRUE(empty.items.IsEmpty());

    Built broken("<a>\n<b></a>");
    EXPECT_TRUE(broken.items.IsEmpty());
    ASSERT_EQ(broken.sink.messages.size(), 1u);
    EXPECT_TRUE(broken.sink.messages[0].starts_with("XML DOM Parse Error:\n"))
        << broken.sink.messages[0];
    EXPECT_TRUE(broken.sink.messages[0].ends_with("\nHint:" + kHintLines));
    ASSERT_TRUE(broken.doc.HasDom());
    EXPECT_FALSE(broken.doc.Dom().documentElement());
    BuildTreeFromDom(broken.doc, broken.items);
    EXPECT_TRUE(broken.items.IsEmpty());
}

TEST(TreeItems, AttributeLabelsAndNamespaceDeclarations) {
    Built b("<r xmlns=\"urn:r\" k=\"root\"><e v=\"a b\" id=\"\" xmlns:p=\"urn:p\" p:k=\"1\"/></r>");
    EXPECT_EQ(Dump(b.items),
              "0/0 r\n"
              "  2/2 e\n"
              "    3/3 xmlns:p = \" urn:p \"\n"
              "    3/3 v = \" a b \"\n"
              "    3/3 id = \"  \"\n"
              "    3/3 p:k = \" 1 \"\n");
}

TEST(TreeItems, OpenedFileWithDtdDefaultsAndEntities) {
    CollectingSink sink;
    CDoc doc(sink);
    auto path = std::filesystem::path(QUORREL_TEST_DATA) / "tree" / "library.xml";
    LoadResult loaded = doc.OnOpenDocument(path.string());
    ASSERT_TRUE(loaded.parsed) << (sink.messages.empty() ? "" : sink.messages[0]);
    CTreeItems items;
    BuildTreeFromDom(doc, items);
    EXPECT_EQ(Dump(items),
              "0/0 library\n"
              "  5/5  shelves in room order \n"
              "  1/6 shelf\n"
              "    3/3 xmlns:m = \" urn:quorrel:test:meta \"\n"
              "    3/3 label = \" A 1 \"\n"
              "    3/3 m:room = \" east \"\n"
              "    2/2 book\n"
              "      3/3 isbn = \" 0-1 \"\n"
              "      4/4 Owned by City Library\n"
              "    2/2 note\n"
              "      7/7 <fragile>\n"
              "  1/6 shelf\n"
              "    3/3 xmlns:m = \" urn:quorrel:test:meta \"\n"
              "    3/3 label = \"  \"\n"
              "    3/3 m:room = \" main \"\n"
              "    2/2 book\n"
              "      3/3 isbn = \"  \"\n");
    EXPECT_TRUE(sink.messages.empty());
}

TEST(TreeItems, HundredThousandSiblings) {
    std::string text = "<r>";
    for (int i = 0; i < 100000; ++i) {
        text += "<i/>";
    }
    text += "</r>";
    Built b(text);
    ASSERT_FALSE(b.items.IsEmpty());
    std::span<const CTreeItem> children = b.items.GetRootItem()->children();
    ASSERT_EQ(children.size(), 100000u);
    EXPECT_EQ(children.back().row(), 99999);
    EXPECT_EQ(children.back().image(), IMG_ELEMENT_LEAF);
}

TEST(TreeItems, BuiltWhileParsingAsFromTheDom) {
    const char* texts[] = {
        "<a x=\"1\"><b y=\"2\">t</b><c/></a>",
        "<r xmlns:p=\"urn:p\" xmlns=\"urn:d\"><p:e p:k=\"v\" j=\"w\">a<!--c-->b<?pi x?>c</p:e>"
        "<f xmlns:q=\"urn:q\"><![CDATA[x]]><![CDATA[y]]></f>\n  <g xml:space=\"preserve\">  <h/>  "
        "</g>&amp;&lt;</r>",
        "<?xml version=\"1.0\"?><!--top--><r>\n\t<s>\n\t\t<t>&#32; </t>\n\t</s>\n</r><?end?>",
    };
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        Built fromDom(text);
        ParsedTree streamed = ParseForTree(fromDom.doc, text);
        EXPECT_TRUE(streamed.dom->hollow());
        EXPECT_EQ(streamed.dom->parseError().line, 0);
        EXPECT_EQ(Dump(streamed.items), Dump(fromDom.items));
        EXPECT_EQ(Places(streamed.items, text), Places(fromDom.items, text));
    }
    // With a DTD the DOM is kept whole (its defaults and entities come from it).
    Built dtd("<!DOCTYPE r [<!ATTLIST r a CDATA 'd'><!ENTITY e '<x/>'>]><r><s>&e;</s></r>");
    ParsedTree whole = ParseForTree(dtd.doc, dtd.doc.Text());
    EXPECT_FALSE(whole.dom->hollow());
    EXPECT_EQ(Dump(whole.items), Dump(dtd.items));
    // A parse error shows no tree.
    ParsedTree broken = ParseForTree(dtd.doc, "<r><s></r>");
    EXPECT_GT(broken.dom->parseError().line, 0);
    EXPECT_TRUE(broken.items.IsEmpty());
}

TEST(TreeItems, PlacesInTheText) {
    const std::string text =
        "<?xml version=\"1.0\"?><!--p--><r z='0'>\n <a xmlns:p=\"urn:p\"  p:k = 'v'>x&amp;y</a>"
        "<!--c--><b/><![CDATA[d<]]>t<?pi?>u\n <c xml:space=\"preserve\">  </c></r>";
    const std::string expected =
        "r @<r z\n"
        "a @<a x\n"
        "xmlns:p = \" urn:p \" @xmln\n"
        "p:k = \" v \" @p:k \n"
        "x&y @x&am\n"
        "c @<!--\n"
        "b @<b/>\n"
        "d< @<![C\n"
        "t @t<?p\n"
        "u\n  @u\n <\n"
        "c @<c x\n"
        "xml:space = \" preserve \" @xml:\n"
        "   @  </\n";
    Built fromDom(text);
    EXPECT_EQ(Places(fromDom.items, text), expected);
    ParsedTree streamed = ParseForTree(fromDom.doc, text);
    ASSERT_TRUE(streamed.dom->hollow());
    EXPECT_EQ(Places(streamed.items, text), expected);

    // Nodes an entity brings take the place of the item before them; an
    // attribute the DTD supplies takes its element's.
    const std::string dtd =
        "<!DOCTYPE r [<!ATTLIST s d CDATA 'dv'><!ENTITY e '<x/>'>]><r><s k='1'>&e;</s></r>";
    Built withDtd(dtd);
    EXPECT_EQ(Places(withDtd.items, dtd),
              "r @<r><\ns @<s k\nk = \" 1 \" @k='1\n"
              "d = \" dv \" @<s k\nx @<s k\n");

    // A tree from a DOM that was not parsed from the text has no places.
    CollectingSink sink;
    CDoc doc{sink};
    XmlDocument bytes;
    ASSERT_TRUE(bytes.loadBytes("<r><a/></r>"));
    CTreeItems items;
    BuildTreeFromDom(bytes, items);
    EXPECT_EQ(Places(items, ""), "r @none\na @none\n");
}

TEST(TreeItems, ItemAtOffsetIsTheInnermostNode) {
    const std::string text =
        "<?xml version=\"1.0\"?>\n<r k='0'>\n  <a n=\"1\" m='2'>tx<?p <?>ty</a>\n"
        "  <b/><!--c--><![CDATA[d]]>\n  <e f=\"3\"/>\n  <g><h/>  </g>\n</r>\n";
    Built b(text);
    ParsedTree streamed = ParseForTree(b.doc, text);
    for (const CTreeItems* items : {&b.items, &streamed.items}) {
        auto at = [&](std::string_view marker, std::size_t plus = 0) -> std::string {
            std::size_t offset = text.find(marker);
            EXPECT_NE(offset, std::string::npos) << marker;
            const CTreeItem* item = ItemAtOffset(*items, text, offset + plus);
            return item == nullptr ? "none" : std::string(item->label());
        };
        EXPECT_EQ(at("<?xml"), "none");
        EXPECT_EQ(at("<r"), "r");
        EXPECT_EQ(at("k='0'"), "r");  // the root's attributes have no items
        EXPECT_EQ(at("\n  <a"), "r");
        EXPECT_EQ(at("<a"), "a");
        EXPECT_EQ(at("n=\"1\""), "n = \" 1 \"");
        EXPECT_EQ(at("\"1\""), "n = \" 1 \"");
        EXPECT_EQ(at("'2'", 3), "a");  // after the last attribute, in the start tag
        EXPECT_EQ(at("tx"), "tx");
        EXPECT_EQ(at("<?p"), "a");
        EXPECT_EQ(at("ty", 1), "ty");
        EXPECT_EQ(at("</a>", 2), "a");
        EXPECT_EQ(at("</a>", 4), "r");
        EXPECT_EQ(at("<b/>", 3), "b");
        EXPECT_EQ(at("<!--c", 4), "c");
        EXPECT_EQ(at("[d]"), "d");
        EXPECT_EQ(at("<e", 1), "e");
        EXPECT_EQ(at("f=", 1), "f = \" 3 \"");
        EXPECT_EQ(at("\"/>"), "f = \" 3 \"");
        EXPECT_EQ(at("\"/>", 1), "e");
        EXPECT_EQ(at("\"/>", 3), "r");  // past a tag that closed itself
        EXPECT_EQ(at("<h/>  ", 5), "g");
        EXPECT_EQ(at("</g>", 1), "g");
        EXPECT_EQ(at("</r>", 3), "r");
        EXPECT_EQ(at("</r>\n", 4), "none");
    }
    CTreeItems empty;
    EXPECT_EQ(ItemAtOffset(empty, text, 5), nullptr);
}

TEST(TreeItems, ItemAtOffsetPassesOverWhatTheTextDoesNotHold) {
    // s and t get attributes from the DTD; the entity's nodes come twice;
    // t's declarations stand before its attribute among the items.
    const std::string text =
        "<!DOCTYPE r [<!ATTLIST s d CDATA 'dv'><!ATTLIST t q CDATA 'qv'>"
        "<!ENTITY e '<x y=\"1\"/><z/>'>]>\n"
        "<r><s k='1'>&e;</s><s>&e; <w/></s>"
        "<t j='2' xmlns:p='urn:p' xmlns:m='urn:m'/></r>";
    Built b(text);
    ASSERT_FALSE(b.items.IsEmpty());
    auto at = [&](std::string_view marker, std::size_t plus = 0) -> std::string {
        std::size_t offset = text.find(marker);
        EXPECT_NE(offset, std::string::npos) << marker;
        const CTreeItem* item = ItemAtOffset(b.items, text, offset + plus);
        return item == nullptr ? "none"
                               : std::string(item->label()) + "@" + std::to_string(item->row());
    };
    EXPECT_EQ(at("<s k"), "s@0");
    EXPECT_EQ(at("k='1'"), "k = \" 1 \"@0");
    EXPECT_EQ(at("'1'>", 3), "s@0");
    EXPECT_EQ(at("&e;</s><s>", 1), "s@0");
    EXPECT_EQ(at("</s><s>", 1), "s@0");
    EXPECT_EQ(at("<s>&e;"), "s@1");
    EXPECT_EQ(at("<s>&e;", 4), "s@1");  // the second reference
    EXPECT_EQ(at("<w"), "w@3");
    EXPECT_EQ(at("<t"), "t@2");
    EXPECT_EQ(at("j='2'"), "j = \" 2 \"@2");
    EXPECT_EQ(at("xmlns:p", 2), "xmlns:p = \" urn:p \"@0");
    EXPECT_EQ(at("xmlns:m"), "xmlns:m = \" urn:m \"@1");
    EXPECT_EQ(at("/></r>"), "t@2");
    EXPECT_EQ(at("</r>", 1), "r@0");
}
