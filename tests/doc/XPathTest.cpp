#include "doc/core/XPath.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "views/tree/core/ItemPath.h"
#include "views/tree/core/TreeItems.h"

using namespace quorrel;

namespace {

// Documents with what the tree and the item paths make much of: names
// that repeat, texts and comments that read like element names, attributes
// on the document element, namespaces with and without prefix, CDATA,
// processing instructions, characters of several bytes and CR LF lines.
const char* const kDocuments[] = {
    "<?xml version=\"1.0\"?>\n<?top here?>\n<!--before-->\n"
    "<catalog version=\"2\">\n  <section>\n    <book lang=\"en\">A</book>\n  </section>\n"
    "  <section>\n    <book lang=\"de\" id=\"b2\">B<!--c-->b</book>book"
    "<book>C<![CDATA[<raw>]]>c</book>\n    <?pi data?>\n  </section>\n</catalog>\n",
    "<r xmlns=\"urn:d\" xmlns:p=\"urn:p\" a=\"1\">\r\n <p:x p:k=\"v\" "
    "k=\"w\">\xc3\xa9t\xc3\xa9</p:x>\r\n"
    " <x>two</x><!--x--><x>x</x>\r\n <y xmlns=\"urn:other\"><x>deep</x></y>\r\n</r>\r\n",
    "<a><a><a>in</a></a>a<a b='q&quot;&apos;'/><b/>text<b>b</b></a>",
};

std::unique_ptr<XmlDocument> Parse(const std::string& text) {
    auto dom = std::make_unique<XmlDocument>();
    LoadOptions options;
    options.validateOnParse = false;
    EXPECT_TRUE(dom->loadXML(text, options)) << text;
    return dom;
}

XPathResult Evaluate(XmlDocument& dom, const std::string& text, const std::string& expression,
                     std::vector<NamespaceBinding> namespaces = {}) {
    XPathOutcome outcome = EvaluateXPath(dom, text, {expression, std::move(namespaces)});
    EXPECT_EQ(outcome.status, XPathStatus::Done)
        << expression << ": " << DescribeXPathError(outcome.error, expression);
    return std::move(outcome.result);
}

int ImageOfKind(XPathNodeKind kind) {
    switch (kind) {
        case XPathNodeKind::Attribute:
            return IMG_ATTRIBUTE;
        case XPathNodeKind::Text:
            return IMG_TEXT;
        case XPathNodeKind::CData:
            return IMG_CDATA;
        case XPathNodeKind::Comment:
            return IMG_COMMENT;
        default:
            return -1;
    }
}

}  // namespace

// Every row with a tree item names the item the tree builds for it: the
// same position, item path, place and kind; and every tree item is a row.
TEST(XPath, RowsNameTheTreeItemsOfTheirNodes) {
    for (const std::string text : kDocuments) {
        auto domOwner = Parse(text);
        XmlDocument& dom = *domOwner;
        CTreeItems items;
        BuildTreeFromDom(dom, items);
        XPathResult result = Evaluate(dom, text, "//node() | //@*");
        std::size_t withItems = 0;
        for (std::size_t i = 0; i < result.size(); ++i) {
            XPathRow row = result.row(i);
            SCOPED_TRACE(text + " row " + std::string(row.xpath));
            EXPECT_EQ(row.itemPath.empty(), row.treeItem.empty());
            if (row.treeItem.empty()) {
                EXPECT_TRUE(row.kind == XPathNodeKind::ProcessingInstruction ||
                            (row.kind == XPathNodeKind::Attribute &&
                             row.xpath.find('/', 1) == row.xpath.find("/@")) ||
                            (row.kind == XPathNodeKind::Comment && row.xpath.rfind('/') == 0));
                continue;
            }
            ++withItems;
            const CTreeItem* item = FindItemAt(items, row.treeItem);
            ASSERT_NE(item, nullptr);
            EXPECT_EQ(ShownItemPath(item), row.itemPath);
            EXPECT_TRUE(row.ownPlace);
            EXPECT_EQ(item->textOffset(), row.offset);
            if (row.kind == XPathNodeKind::Element) {
                EXPECT_EQ(item->label(), row.name);
                EXPECT_NE(ImageOfKind(row.kind), item->image());
            } else {
                EXPECT_EQ(ImageOfKind(row.kind), item->image());
            }
            XmlNode node = NodeAtTreeItem(dom, row.treeItem);
            EXPECT_EQ(AbsoluteXPath(node), row.xpath);
            EXPECT_EQ(ShownItemPathOf(node), row.itemPath);
            EXPECT_EQ(TreeItemOf(node), row.treeItem);
        }
        // A namespace declaration is an attribute item, and no XPath node.
        std::size_t declarations = 0;
        VisitItems(items, [&](const CTreeItem& item, int) {
            declarations += item.label().starts_with("xmlns") ? 1 : 0;
        });
        EXPECT_EQ(withItems + declarations, items.Count()) << text;
    }
}

// The absolute XPath of each node selects that node alone, with prefixes
// from a table and with none (local-name() tests).
TEST(XPath, AbsoluteXPathsSelectTheirNodeAlone) {
    for (const std::string text : kDocuments) {
        auto domOwner = Parse(text);
        XmlDocument& dom = *domOwner;
        for (const auto& table : {std::vector<NamespaceBinding>{},
                                  MergeNamespaces(DocumentNamespaces(dom), {{"d", "urn:d"}})}) {
            XPathResult all = Evaluate(dom, text, "//node() | //@* | /", table);
            ASSERT_GT(all.size(), 5U);
            for (std::size_t i = 0; i < all.size(); ++i) {
                XPathRow row = all.row(i);
                SCOPED_TRACE(std::string(row.xpath));
                XPathResult one = Evaluate(dom, text, std::string(row.xpath), table);
                ASSERT_EQ(one.size(), 1U);
                EXPECT_EQ(one.row(0).offset, row.offset);
                EXPECT_EQ(one.row(0).kind, row.kind);
                EXPECT_EQ(one.row(0).name, row.name);
                EXPECT_EQ(one.row(0).text, row.text);
            }
        }
    }
    const std::string text = kDocuments[0];
    auto domOwner = Parse(text);
    XmlDocument& dom = *domOwner;
    XPathResult lang = Evaluate(dom, text, "//book[@id]/@lang | //section[1]/book/@lang");
    ASSERT_EQ(lang.size(), 2U);
    EXPECT_EQ(lang.row(0).xpath, "/catalog/section[1]/book/@lang");
    EXPECT_EQ(lang.row(1).xpath, "/catalog/section[2]/book[1]/@lang");
    EXPECT_EQ(lang.row(1).itemPath, "/catalog[0]/section[1]/book[0]/@lang");
    // Positions count the steps' own kind: the text "book" is not a book.
    XPathResult c = Evaluate(dom, text, "(//book)[3]/text()[2] | //processing-instruction()");
    ASSERT_EQ(c.size(), 3U);
    EXPECT_EQ(c.row(0).xpath, "/processing-instruction('top')");
    EXPECT_EQ(c.row(1).xpath, "/catalog/section[2]/book[2]/text()[2]");
    EXPECT_EQ(c.row(1).itemPath, "/catalog[0]/section[1]/book[2]/text()[2]");
    EXPECT_EQ(c.row(2).xpath, "/catalog/section[2]/processing-instruction('pi')");
    EXPECT_TRUE(c.row(2).itemPath.empty());

    const std::string ns = kDocuments[1];
    auto nsDomOwner = Parse(ns);
    XmlDocument& nsDom = *nsDomOwner;
    XPathResult bare = Evaluate(nsDom, ns, "//*[local-name()='x']");
    ASSERT_EQ(bare.size(), 4U);
    EXPECT_EQ(bare.row(0).xpath,
              "/*[local-name()='r']/*[local-name()='x' and namespace-uri()='urn:p']");
    EXPECT_EQ(bare.row(1).xpath,
              "/*[local-name()='r']/*[local-name()='x' and namespace-uri()='urn:d'][1]");
    XPathResult named = Evaluate(nsDom, ns, "//*[local-name()='x']/@*",
                                 MergeNamespaces(DocumentNamespaces(nsDom), {{"d", "urn:d"}}));
    ASSERT_EQ(named.size(), 2U);
    EXPECT_EQ(named.row(0).xpath, "/d:r/p:x/@p:k");
    EXPECT_EQ(named.row(1).xpath, "/d:r/p:x/@k");
    XmlNode quoted = NodeAtTreeItem(dom, "0.1.0.0");
    EXPECT_EQ(AbsoluteXPath(quoted), "/catalog/section[2]/book[1]/@lang");
    auto quotesOwner = Parse(kDocuments[2]);
    XmlDocument& quotes = *quotesOwner;
    XPathResult q = Evaluate(quotes, kDocuments[2], "//@b");
    ASSERT_EQ(q.size(), 1U);
    EXPECT_EQ(q.row(0).text, "q\"'");
}

TEST(XPath, ScalarsAreTheirStringValues) {
    const std::string text = kDocuments[0];
    auto domOwner = Parse(text);
    XmlDocument& dom = *domOwner;
    struct Case {
        const char* expression;
        XPathValueType type;
        const char* value;
    } cases[] = {
        {"count(//book)", XPathValueType::Number, "3"},
        {"count(//book) * 1000000", XPathValueType::Number, "3000000"},
        {"1 div 4", XPathValueType::Number, "0.25"},
        {"0 div 0", XPathValueType::Number, "NaN"},
        {"-1 div 0", XPathValueType::Number, "-Infinity"},
        {"string(//book[@id]/@lang)", XPathValueType::String, "de"},
        {"concat(name(/*), '-', (//book)[last()])", XPathValueType::String, "catalog-C<raw>c"},
        {"concat(name(/*), '-', //book[last()])", XPathValueType::String, "catalog-A"},
        {"boolean(//book[@lang='fr'])", XPathValueType::Boolean, "false"},
        {"//book[1]/@lang = 'de'", XPathValueType::Boolean, "true"},
    };
    for (const Case& c : cases) {
        XPathResult r = Evaluate(dom, text, c.expression);
        EXPECT_EQ(r.type(), c.type) << c.expression;
        EXPECT_EQ(r.string(), c.value) << c.expression;
        EXPECT_EQ(r.size(), 0U);
    }
    EXPECT_EQ(Evaluate(dom, text, "count(//book)").number(), 3.0);
    EXPECT_TRUE(Evaluate(dom, text, "true()").boolean());
}

TEST(XPath, NamespaceTablesAndDefaultNamespaces) {
    const std::string text = kDocuments[1];
    auto domOwner = Parse(text);
    XmlDocument& dom = *domOwner;
    const std::vector<NamespaceBinding> declared = DocumentNamespaces(dom);
    EXPECT_EQ(declared,
              (std::vector<NamespaceBinding>{{"", "urn:d"}, {"p", "urn:p"}, {"", "urn:other"}}));
    std::vector<NamespaceBinding> table = MergeNamespaces(declared, {{"d", "urn:d"}});
    EXPECT_EQ(table, (std::vector<NamespaceBinding>{{"p", "urn:p"}, {"d", "urn:d"}}));
    EXPECT_EQ(MergeNamespaces(table, {{"p", "urn:q"}})[0].uri, "urn:q");

    // Names without a prefix are in no namespace: the default one needs a prefix.
    EXPECT_EQ(Evaluate(dom, text, "//x", table).size(), 0U);
    EXPECT_EQ(Evaluate(dom, text, "//d:x", table).size(), 2U);
    EXPECT_EQ(Evaluate(dom, text, "//p:x/@p:k", table).size(), 1U);
    EXPECT_EQ(Evaluate(dom, text, "//o:x", {{"o", "urn:other"}}).row(0).text, "deep");
    XPathOutcome undeclared = EvaluateXPath(dom, text, {"//q:x", table});
    EXPECT_EQ(undeclared.status, XPathStatus::Failed);
    EXPECT_FALSE(undeclared.error.compiling);
    EXPECT_EQ(undeclared.error.reason, "Undefined namespace prefix");

    EXPECT_EQ(ParseNamespaceBinding("d=urn:x=y"), (NamespaceBinding{"d", "urn:x=y"}));
    EXPECT_EQ(ParseNamespaceBinding("e="), (NamespaceBinding{"e", ""}));
    EXPECT_FALSE(ParseNamespaceBinding("=urn:x"));
    EXPECT_FALSE(ParseNamespaceBinding("a:b=urn:x"));
    EXPECT_FALSE(ParseNamespaceBinding("1a=urn:x"));
    EXPECT_FALSE(ParseNamespaceBinding("d"));
}

TEST(XPath, ErrorsTellTheReasonAndWhere) {
    const std::string text = kDocuments[0];
    auto domOwner = Parse(text);
    XmlDocument& dom = *domOwner;
    struct Case {
        const char* expression;
        bool compiling;
        const char* described;
    } cases[] = {
        {"//book[", true, "Invalid expression at character 8"},
        {"1 +", true, "Invalid expression at character 4"},
        {"\"\xc3\xa9\" + ", true, "Invalid expression at character 7"},
        {"//book[@lang='en", true, "Unfinished literal at character 17"},
        {"nosuch(1)", false, "Unregistered function (while evaluating)"},
        {"count(1)", false, "Invalid type (while evaluating)"},
    };
    for (const Case& c : cases) {
        XPathOutcome out = EvaluateXPath(dom, text, {c.expression, {}});
        EXPECT_EQ(out.status, XPathStatus::Failed) << c.expression;
        EXPECT_EQ(out.error.compiling, c.compiling) << c.expression;
        EXPECT_EQ(DescribeXPathError(out.error, c.expression), c.described) << c.expression;
    }
    XPathOutcome nul = EvaluateXPath(dom, text, {std::string("//a\0b", 5), {}});
    EXPECT_EQ(nul.status, XPathStatus::Failed);
    EXPECT_NE(nul.error.reason.find("NUL"), std::string::npos);
}

TEST(XPath, PlacesAndTextsAreThoseOfTheText) {
    const std::string text = kDocuments[1];
    auto domOwner = Parse(text);
    XmlDocument& dom = *domOwner;
    XPathResult r = Evaluate(dom, text, "//@* | //text() | //comment() | //namespace::p");
    std::vector<std::string> seen;
    for (std::size_t i = 0; i < r.size(); ++i) {
        XPathRow row = r.row(i);
        seen.push_back(std::string(XPathNodeKindName(row.kind)) + " " + std::string(row.text) +
                       " @" + std::to_string(row.line) + ":" + std::to_string(row.column) +
                       (row.ownPlace ? "" : " (not its own)"));
    }
    // libxml2 puts namespace nodes after the others.
    const std::vector<std::string> expected = {
        "attribute 1 @1:34",
        "attribute v @2:7",
        "attribute w @2:15",
        "text \xc3\xa9t\xc3\xa9 @2:21",
        "text two @3:5",
        "comment x @3:12",
        "text x @3:23",
        "text deep @4:26",
        "namespace urn:p @1:1 (not its own)",
        "namespace urn:p @2:2 (not its own)",
        "namespace urn:p @3:2 (not its own)",
        "namespace urn:p @3:20 (not its own)",
        "namespace urn:p @4:2 (not its own)",
        "namespace urn:p @4:23 (not its own)",
    };
    EXPECT_EQ(seen, expected);
    // A long value shows its first 80 characters, whole characters.
    std::string long_text = "<r>";
    for (int i = 0; i < 100; ++i) {
        long_text += "\xc3\xa9";
    }
    long_text += "<b>more</b></r>";
    auto longDomOwner = Parse(long_text);
    XmlDocument& longDom = *longDomOwner;
    XPathResult longRows = Evaluate(longDom, long_text, "/r | //text()");
    ASSERT_EQ(longRows.size(), 3U);
    EXPECT_EQ(longRows.row(0).text.size(), 160U);
    EXPECT_EQ(longRows.row(1).text.size(), 160U);
    EXPECT_EQ(longRows.row(2).text, "more");
    // Another text than the one parsed: no places.
    XPathResult unplaced = Evaluate(longDom, "<r/>", "//b");
    ASSERT_EQ(unplaced.size(), 1U);
    EXPECT_EQ(unplaced.row(0).offset, XPathRow::kNoOffset);
    EXPECT_EQ(unplaced.row(0).line, 0U);
}

TEST(XPath, KindsAreCountedAndNodeHandlesGiven) {
    const std::string text = kDocuments[0];
    auto domOwner = Parse(text);
    XmlDocument& dom = *domOwner;
    XPathResult r = Evaluate(dom, text, "//book | //@lang");
    EXPECT_EQ(r.count(XPathNodeKind::Element), 3U);
    EXPECT_EQ(r.count(XPathNodeKind::Attribute), 2U);
    EXPECT_FALSE(r.singleKind());
    EXPECT_EQ(Evaluate(dom, text, "//book").singleKind(), XPathNodeKind::Element);
    EXPECT_FALSE(Evaluate(dom, text, "//nothing").singleKind());

    XPathNodes nodes = SelectXPathNodes(dom, {"//book[@id]/@lang | //book[@id]", {}});
    ASSERT_EQ(nodes.nodes.size(), 2U);
    EXPECT_EQ(nodes.kinds[0], XPathNodeKind::Element);
    EXPECT_EQ(nodes.nodes[0].getAttribute("id"), "b2");
    EXPECT_EQ(nodes.nodes[1].nodeValue(), "de");
    EXPECT_EQ(OwnerElementOf(nodes.nodes[1]), nodes.nodes[0]);
    EXPECT_FALSE(OwnerElementOf(nodes.nodes[0]));
    EXPECT_EQ(SelectXPathNodes(dom, {"count(//*)", {}}).type, XPathValueType::Number);
    EXPECT_FALSE(NodeAtTreeItem(dom, "1"));
    EXPECT_FALSE(NodeAtTreeItem(dom, "0.9"));
    EXPECT_FALSE(NodeAtTreeItem(dom, "0.0."));
    EXPECT_FALSE(NodeAtTreeItem(dom, "0.0.0.1.0"));  // a text has no children
    EXPECT_EQ(NodeAtTreeItem(dom, "0.0.0.0").nodeName(), "lang");
    EXPECT_EQ(NodeAtTreeItem(dom, "0.0.0").nodeName(), "book");
}

// An evaluation that would run for hours stops when another thread cancels it.
TEST(XPath, AnotherThreadCancelsAnEvaluation) {
    std::string text = "<r>";
    for (int i = 0; i < 3000; ++i) {
        text += "<e/>";
    }
    text += "</r>";
    auto domOwner = Parse(text);
    XmlDocument& dom = *domOwner;
    const XPathQuery endless{"count(//e[count(//e[count(//e) > 0]) > 0])", {}};

    XPathCancel before;
    before.cancel();
    EXPECT_EQ(EvaluateXPath(dom, text, endless, &before).status, XPathStatus::Cancelled);

    XPathCancel during;
    std::thread canceller([&during] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        during.cancel();
    });
    XPathOutcome outcome = EvaluateXPath(dom, text, endless, &during);
    canceller.join();
    EXPECT_EQ(outcome.status, XPathStatus::Cancelled);
    EXPECT_EQ(outcome.result.size(), 0U);
    // The next evaluation with a canceller of its own runs whole.
    XPathCancel fresh;
    XPathOutcome next = EvaluateXPath(dom, text, {"count(//e)", {}}, &fresh);
    EXPECT_EQ(next.status, XPathStatus::Done);
    EXPECT_EQ(next.result.string(), "3000");
}
