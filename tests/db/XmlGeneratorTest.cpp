// CXmlGenerator: the statement check, the modes, the names, and rowset
// documents generated from the real drivers.
#include "db/core/XmlGenerator.h"
#include "doc/core/XmlDom.h"
#include "tests/db/DataSources.h"

namespace quorrel {
namespace {

using test::DataSource;

bool IsSelect(const std::string& query) {
    CXmlGenerator g;
    g.SetQuery(query);
    return g.IsSelectQuery();
}

TEST(XmlGeneratorRulesTest, IsSelectQuery) {
    EXPECT_TRUE(IsSelect("SELECT * FROM t"));
    EXPECT_TRUE(IsSelect("  select a from t"));
    EXPECT_TRUE(IsSelect("\t\r\nSeLeCt 1"));
    EXPECT_TRUE(IsSelect("SELECTX"));
    EXPECT_TRUE(IsSelect("select"));
    EXPECT_FALSE(IsSelect("(SELECT 1)"));
    EXPECT_FALSE(IsSelect("SEL"));
    EXPECT_FALSE(IsSelect(""));
    EXPECT_FALSE(IsSelect("   "));
    EXPECT_FALSE(IsSelect("with x as (select 1) select * from x"));
    EXPECT_FALSE(IsSelect("DELETE FROM t"));
}

TEST(XmlGeneratorRulesTest, ColumnModes) {
    CXmlGenerator g;
    g.SetColumnModes({"A", "a", "E", "e", "x", "", "Attribute", " A", "A "});
    EXPECT_EQ(g.GetColumnModes(),
              (std::vector<std::string>{"A", "A", "E", "E", "E", "E", "E", "E", "E"}));
    g.SetColumnModes({"a"});  // appends
    EXPECT_EQ(g.GetColumnModes().size(), 10u);
}

TEST(XmlGeneratorRulesTest, ColumnNamesAsXmlNames) {
    EXPECT_EQ(XmlNameForColumn("NAME"), "NAME");
    EXPECT_EQ(XmlNameForColumn("Grüße"), "Grüße");
    EXPECT_EQ(XmlNameForColumn("_x0041_"), "_x0041_");  // an XML name already: left alone
    EXPECT_EQ(XmlNameForColumn("unit price"), "unit_x0020_price");
    EXPECT_EQ(XmlNameForColumn("a:b"), "a_x003A_b");
    EXPECT_EQ(XmlNameForColumn("1st"), "_x0031_st");
    EXPECT_EQ(XmlNameForColumn("?column?"), "_x003F_column_x003F_");
    EXPECT_EQ(XmlNameForColumn("a b_x"), "a_x0020_b_x005F_x");
    EXPECT_EQ(XmlNameForColumn("-1"), "_x002D_1");
    EXPECT_EQ(XmlNameForColumn("a-1"), "a-1");
    EXPECT_EQ(XmlNameForColumn("x\xffy"), "x_x00FF_y");
    EXPECT_EQ(XmlNameForColumn(""), "");
    EXPECT_EQ(XmlNameForColumn("xmlns"), "xmlns");
    EXPECT_EQ(XmlNameForColumn("xmlns", true), "_x0078_mlns");
    for (const char* name :
         {"unit price", "a:b", "1st", "?column?", "a b_x", "-1", "x\xffy", "\xf0\x9f\x98\x80"}) {
        std::string mapped = XmlNameForColumn(name);
        EXPECT_TRUE(IsXmlName(mapped)) << mapped;
        EXPECT_EQ(mapped.find(':'), std::string::npos) << mapped;
    }
}

TEST(XmlGeneratorRulesTest, FindNonXmlCharacter) {
    EXPECT_EQ(FindNonXmlCharacter("plain \t\r\n Zoë 東京 \xf0\x9f\x98\x80"), std::string::npos);
    EXPECT_EQ(FindNonXmlCharacter(std::string("a\0b", 3)), 1u);
    EXPECT_EQ(FindNonXmlCharacter("ab\x01"), 2u);
    EXPECT_EQ(FindNonXmlCharacter("a\xff"), 1u);         // not UTF-8
    EXPECT_EQ(FindNonXmlCharacter("a\xc3"), 1u);         // cut short
    EXPECT_EQ(FindNonXmlCharacter("\xed\xa0\x80"), 0u);  // a surrogate
    EXPECT_EQ(FindNonXmlCharacter("\xef\xbf\xbe"), 0u);  // U+FFFE
    EXPECT_EQ(FindNonXmlCharacter("\xc0\xaf"), 0u);      // overlong
}

class XmlGeneratorTest : public ::testing::TestWithParam<DataSource> {
protected:
    // A generating instance as the command makes it.
    CXmlGenerator Generator(const std::string& query, int maxRows = 500) {
        const DataSource& s = GetParam();
        CXmlGenerator g(s.dsn, s.user, s.password, maxRows);
        g.SetQuery(query);
        return g;
    }
    // The generated text, or "FAILED" when Generate returned 1.
    std::string Generate(const std::string& query, const std::vector<std::string>& choices,
                         int maxRows = 500) {
        CXmlGenerator g = Generator(query, maxRows);
        g.SetColumnModes(choices);
        dom = std::make_unique<XmlDocument>();
        int result = g.Generate(*dom, sink);
        fetches = g.LastFetchCount();
        EXPECT_TRUE(g.GetColumnModes().empty());
        return result == 0 ? dom->xml() : "FAILED";
    }
    XmlNode Root() { return dom->documentElement(); }
    std::unique_ptr<XmlDocument> dom;
    CollectingSink sink;
    long fetches = 0;
};

// Node kinds and values in document order below the root: the layout the
// generator builds, independent of the serialiser.
std::string Outline(XmlNode node) {
    std::string out;
    for (XmlNode c : node.childNodes()) {
        if (c.nodeType() == NodeType::Text) {
            std::string v = c.nodeValue();
            out += v == "\n\t" ? "|" : v == "\n\t\t" ? "||" : "'" + v + "'";
        } else {
            out += "<" + c.nodeName();
            auto attributes = c.attributes();
            for (std::size_t i = 0; i < attributes.length(); ++i) {
                out += " " + attributes.item(i).nodeName() + "=" + attributes.item(i).nodeValue();
            }
            out += ">" + Outline(c) + "</>";
        }
    }
    return out;
}

TEST_P(XmlGeneratorTest, WorkedExample) {
    std::string text = Generate(
        "SELECT id AS \"ID\", name AS \"NAME\" FROM t WHERE id IN (1, 4) ORDER BY id", {"A", "E"});
    EXPECT_EQ(text,
              "<?xml version = \"1.0\"?>\n<rowset>\n\t<row "
              "ID=\"1\">\n\t\t<NAME>Alice</NAME>\n\t\t</row>\n\t"
              "<row ID=\"4\">\n\t\t<NAME>Zoë, 東京</NAME>\n\t\t</row>\n\t</rowset>\n");
    // The declaration is a processing instruction "xml" first in the document.
    XmlNode first = dom->documentNode().firstChild();
    EXPECT_EQ(first.nodeType(), NodeType::ProcessingInstruction);
    EXPECT_EQ(first.nodeValue(), "version = \"1.0\"");
    EXPECT_EQ(Outline(Root()),
              "|<row ID=1>||<NAME>'Alice'</>||</>|<row ID=4>||<NAME>'Zoë, 東京'</>||</>|");
    EXPECT_TRUE(sink.messages.empty());
    // The text parses back.
    XmlDocument reparsed;
    EXPECT_TRUE(reparsed.loadXML(text)) << reparsed.parseError().reason;
}

TEST_P(XmlGeneratorTest, RowLimitCountsRowsProduced) {
    const std::string query = "SELECT id FROM t ORDER BY id";
    Generate(query, {"A"}, 2);
    EXPECT_EQ(Outline(Root()), "|<row id=1>||</>|<row id=2>||</>|");
    EXPECT_EQ(fetches, 3);  // the third row is fetched and not used
}

TEST_P(XmlGeneratorTest, RowLimitEdges) {
    const std::string query = "SELECT id FROM t ORDER BY id";
    EXPECT_EQ(Generate(query, {"E"}, 0), "<?xml version = \"1.0\"?>\n<rowset>\n\t</rowset>\n");
    EXPECT_EQ(fetches, 1);
    XmlDocument all;
    CXmlGenerator g = Generator(query, 5);
    ASSERT_EQ(g.Generate(all, sink), 0);
    EXPECT_EQ(all.documentElement().getElementsByTagName("row").size(), 5u);
    EXPECT_EQ(g.LastFetchCount(), 6);  // five rows and the end
    XmlDocument more;
    CXmlGenerator big = Generator(query, 100000);
    ASSERT_EQ(big.Generate(more, sink), 0);
    EXPECT_EQ(more.documentElement().getElementsByTagName("row").size(), 5u);
    EXPECT_TRUE(sink.messages.empty());
}

TEST_P(XmlGeneratorTest, NullsTrimmingAndBinaryData) {
    Generate("SELECT id, name, fixed, note, data FROM t WHERE id <= 4 ORDER BY id",
             {"a", "A", "e", "E", "x"});
    EXPECT_EQ(
        Outline(Root()),
        "|<row id=1 name=Alice>||<fixed>'ab'</>||<note>'plain'</>||<data>'AP9B'</>||</>"
        "|<row id=2 name=>||<fixed>''</>||<note>''</>||<data>''</>||</>"
        "|<row id=3 name=   lead>||<fixed>'  x'</>||<note>'  two leading'</>||<data>''</>||</>"
        "|<row id=4 name=Zoë, 東京>||<fixed>'Zoë'</>||<note>'Zoë, 東京 & "
        "<b>'</>||<data>'Wm/Dqw=='</>||</>|");
    EXPECT_TRUE(sink.messages.empty());
}

TEST_P(XmlGeneratorTest, LongValuesWhole) {
    std::string text = Generate("SELECT note FROM t WHERE id = 5", {"E"});
    XmlDocument reparsed;
    ASSERT_TRUE(reparsed.loadXML(text));
    auto notes = reparsed.documentElement().getElementsByTagName("note");
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].firstChild().nodeValue(), std::string(10000, 'x') + "END");
}

TEST_P(XmlGeneratorTest, RepeatedAttributeColumnOverwrites) {
    Generate("SELECT id AS x, name AS x, fixed AS y FROM t WHERE id = 1", {"A", "A", "A"});
    EXPECT_EQ(Outline(Root()), "|<row x=Alice y=ab>||</>|");
}

TEST_P(XmlGeneratorTest, ColumnNamesAreEscapedNotRefused) {
    std::string text = Generate("SELECT * FROM odd", {"A", "E", "a", "e", "A", "E", "A"});
    ASSERT_NE(text, "FAILED") << (sink.messages.empty() ? "" : sink.messages[0]);
    XmlNode row = Root().getElementsByTagName("row").at(0);
    EXPECT_EQ(row.getAttribute("unit_x0020_price").substr(0, 4), "12.5");
    EXPECT_EQ(row.getAttribute("a_x003A_b"), "2");
    EXPECT_EQ(row.getAttribute("padded"), "4");
    EXPECT_EQ(row.getAttribute("Grüße"), "6");
    EXPECT_EQ(row.getElementsByTagName("MixedCase").size(), 1u);
    EXPECT_EQ(row.getElementsByTagName("_x0031_st").size(), 1u);
    EXPECT_EQ(row.getElementsByTagName("_x0041_").size(), 1u);
    EXPECT_TRUE(sink.messages.empty());
    XmlDocument reparsed;
    EXPECT_TRUE(reparsed.loadXML(text)) << reparsed.parseError().reason;
}

TEST_P(XmlGeneratorTest, ColumnsBeyondTheModesAreElements) {
    Generate("SELECT id, name, fixed FROM t WHERE id = 1", {"A"});
    EXPECT_EQ(Outline(Root()), "|<row id=1>||<name>'Alice'</>||<fixed>'ab'</>||</>|");
    Generate("SELECT id, name FROM t WHERE id = 1", {});
    EXPECT_EQ(Outline(Root()), "|<row>||<id>'1'</>||<name>'Alice'</>||</>|");
}

TEST_P(XmlGeneratorTest, EmptyResultIsAnEmptyRowset) {
    EXPECT_EQ(Generate("SELECT id, name FROM empty_t", {"A", "E"}),
              "<?xml version = \"1.0\"?>\n<rowset>\n\t</rowset>\n");
    EXPECT_TRUE(sink.messages.empty());
}

TEST_P(XmlGeneratorTest, FailuresSayWhy) {
    // The driver's message, once.
    EXPECT_EQ(Generate("SELECT * FROM nosuch", {}), "FAILED");
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_NE(sink.messages[0].find("nosuch"), std::string::npos);
    // A character that XML cannot hold, named with its row and column.
    sink.messages.clear();
    const char* control =
        GetParam().server
            ? "SELECT id, 'a' || chr(1) || 'b' AS bad FROM t WHERE id < 3 ORDER BY id"
            : "SELECT id, 'a' || char(1) || 'b' AS bad FROM t WHERE id < 3 ORDER BY id";
    XmlDocument partial;
    CXmlGenerator g = Generator(control);
    g.SetColumnModes({"A", "E"});
    EXPECT_EQ(g.Generate(partial, sink), 1);
    EXPECT_EQ(
        sink.messages,
        std::vector<std::string>{
            "Row 1, column bad: the value holds the character U+0001, which XML cannot hold."});
    EXPECT_TRUE(g.GetColumnModes().empty());
}

TEST(XmlGeneratorSourcesTest, ConnectionFailure) {
    CollectingSink sink;
    CXmlGenerator g("NoSuchSource", "", "", 500);
    g.SetQuery("SELECT 1");
    XmlDocument partial;
    EXPECT_EQ(g.Generate(partial, sink), 1);
    EXPECT_EQ(Outline(partial.documentElement()), "|");
    EXPECT_EQ(sink.messages.size(), 1u);
    std::vector<std::string> names;
    sink.messages.clear();
    EXPECT_FALSE(g.CollectColumnNames(names, sink));
    EXPECT_EQ(sink.messages.size(), 1u);
    EXPECT_TRUE(names.empty());
}

TEST_P(XmlGeneratorTest, CollectColumnNames) {
    std::vector<std::string> names;
    EXPECT_TRUE(Generator("SELECT id AS \"ID\", name AS \"NAME\", 1 AS \"unit price  \" FROM t")
                    .CollectColumnNames(names, sink));
    EXPECT_EQ(names, (std::vector<std::string>{"ID", "NAME", "unit price"}));
    // No row: the names stay unknown.
    names.clear();
    EXPECT_TRUE(Generator("SELECT id, name FROM empty_t").CollectColumnNames(names, sink));
    EXPECT_TRUE(names.empty());
    EXPECT_TRUE(sink.messages.empty());
    // A failing statement: its message once, and the caller stops.
    EXPECT_FALSE(Generator("SELEC id FROM t").CollectColumnNames(names, sink));
    EXPECT_EQ(sink.messages.size(), 1u);
    EXPECT_TRUE(names.empty());
}

// The check for SELECT sees only the start: whatever follows it, or a
// function it calls, must leave the data as it was.
TEST_P(XmlGeneratorTest, AQueryChangesNothing) {
    std::vector<std::string> writers{
        "SELECT 1 AS one; DELETE FROM guarded",
        "SELECT id FROM guarded; DELETE FROM guarded; SELECT 1 AS one",
        // A COMMIT ends the transaction that is rolled back at the end.
        "SELECT 1 AS one; COMMIT; DELETE FROM guarded",
        "SELECT 1 AS one; END; DELETE FROM guarded; SELECT 1 AS one"};
    if (GetParam().server) {
        writers.push_back("SELECT empty_guarded() AS n");
    }
    auto rows = [&] {
        std::string text = Generate("SELECT id FROM guarded ORDER BY id", {"A"});
        std::size_t count = 0;
        for (std::size_t at = 0; (at = text.find("<row id=", at)) != std::string::npos; ++at) {
            ++count;
        }
        return count;
    };
    ASSERT_EQ(rows(), 3u);
    for (const std::string& query : writers) {
        SCOPED_TRACE(query);
        Generate(query, {});  // whether it yields rows or fails does not matter
        std::vector<std::string> names;
        Generator(query).CollectColumnNames(names, sink);
        EXPECT_EQ(rows(), 3u);
    }
}

INSTANTIATE_TEST_SUITE_P(Drivers, XmlGeneratorTest, test::kAllDataSources, test::DataSourceName);

TEST(XmlGeneratorSourcesTest, AColumnWithoutANameStopsTheGeneration) {
    CollectingSink sink;
    CXmlGenerator g("lite", "", "", 500);
    g.SetQuery("SELECT 1 AS \"\"");
    XmlDocument dom;
    EXPECT_EQ(g.Generate(dom, sink), 1);
    EXPECT_EQ(sink.messages,
              std::vector<std::string>{"Column 1 has no name. Give it one with AS in the query."});
}

// SQLite fails the fetch after a statement without a result and says nothing:
// the user is told all the same.
TEST(XmlGeneratorSourcesTest, AFailureWithoutADriverMessageIsStillShown) {
    CollectingSink sink;
    CXmlGenerator g("lite", "", "", 500);
    g.SetQuery("DELETE FROM empty_t");
    std::vector<std::string> names;
    EXPECT_FALSE(g.CollectColumnNames(names, sink));
    const std::vector<std::string> expected{
        "The ODBC data source failed without a message (return code -1)."};
    EXPECT_EQ(sink.messages, expected);
    sink.messages.clear();
    XmlDocument dom;
    EXPECT_EQ(g.Generate(dom, sink), 1);
    EXPECT_EQ(sink.messages, expected);
}

TEST(XmlGeneratorSourcesTest, SampleShop) {
    CollectingSink sink;
    CXmlGenerator g("QuorrelSample", "", "", 500);
    g.SetQuery("SELECT * FROM products");
    std::vector<std::string> names;
    ASSERT_TRUE(g.CollectColumnNames(names, sink));
    EXPECT_EQ(names, (std::vector<std::string>{"id", "name", "category", "unit price", "stock",
                                               "code", "description", "picture"}));
    g.SetColumnModes({"A", "E", "E", "A"});
    XmlDocument dom;
    ASSERT_EQ(g.Generate(dom, sink), 0);
    auto rows = dom.documentElement().getElementsByTagName("row");
    ASSERT_EQ(rows.size(), 7u);
    EXPECT_EQ(rows[0].getAttribute("unit_x0020_price"), "12.5");
    EXPECT_EQ(rows[2].getElementsByTagName("stock").at(0).firstChild().nodeValue(), "");
    EXPECT_GT(rows[4].getElementsByTagName("description").at(0).firstChild().nodeValue().size(),
              10000u);
    EXPECT_TRUE(sink.messages.empty());
}

}  // namespace
}  // namespace quorrel
