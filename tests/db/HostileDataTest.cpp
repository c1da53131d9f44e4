// What a database can throw at the generator: a server that dies in the middle
// of the rows, a value of 100 MB, more columns than the database allows, and
// column names that are nothing but characters to escape. Each ends in a
// message or a whole, well-formed document.
#include <algorithm>

#include "db/core/OdbcQuery.h"
#include "db/core/XmlGenerator.h"
#include "doc/core/XmlDom.h"
#include "tests/db/DataSources.h"

namespace quorrel {
namespace {

using test::DataSource;

constexpr std::size_t kHugeValue = 100'000'000;

// The data sources that read PostgreSQL's rows through a cursor, 100 at a time.
const DataSource kPgUnicodeCursor{"pgwc", "app", "secret", true};
const DataSource kPgAnsiCursor{"pgac", "app", "secret", true};

struct Outcome {
    int result;
    std::vector<std::string> messages;
    std::unique_ptr<XmlDocument> dom = std::make_unique<XmlDocument>();
    long fetches = 0;
};

Outcome Generate(const DataSource& s, const std::string& query, std::vector<std::string> modes,
                 int maxRows = 500) {
    CollectingSink sink;
    CXmlGenerator g(s.dsn, s.user, s.password, maxRows);
    g.SetQuery(query);
    g.SetColumnModes(modes);
    Outcome o;
    o.result = g.Generate(*o.dom, sink);
    o.messages = sink.messages;
    o.fetches = g.LastFetchCount();
    return o;
}

std::string Columns(int count) {
    std::string query = "SELECT 1 AS c1";
    for (int i = 2; i <= count; ++i) {
        query += ", " + std::to_string(i) + " AS c" + std::to_string(i);
    }
    return query;
}

// Undoes the "_xHHHH_" escapes of XmlNameForColumn.
std::string Unescape(const std::string& name) {
    std::string out;
    for (std::size_t i = 0; i < name.size();) {
        std::size_t end = name.find('_', i + 2);
        if (name.compare(i, 2, "_x") != 0 || end == std::string::npos) {
            out += name[i++];
            continue;
        }
        unsigned c = std::stoul(name.substr(i + 2, end - i - 2), nullptr, 16);
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += {char(0xC0 | c >> 6), char(0x80 | (c & 0x3F))};
        } else {
            out += {char(0xE0 | c >> 12), char(0x80 | (c >> 6 & 0x3F)), char(0x80 | (c & 0x3F))};
        }
        i = end + 1;
    }
    return out;
}

class HostileDataTest : public ::testing::TestWithParam<DataSource> {};

TEST_P(HostileDataTest, AHundredMegabyteValueArrivesWhole) {
    const DataSource& s = GetParam();
    const std::string value =
        s.server ? "repeat('x', 100000000)" : "printf('%.*c', 100000000, 'x')";
    CollectingSink sink;
    {
        COdbcQuery q(s.dsn, s.user, s.password, sink);
        ASSERT_EQ(q.ExecDirect("SELECT " + value + " || 'END' AS v"), kOdbcSuccess);
        ASSERT_EQ(q.Fetch(), kOdbcSuccess);
        EXPECT_EQ(q.GetColumnValue(1).value_or("").size(), kHugeValue + 3);
        // The rest is read in one call once the driver has told the length:
        // part by part, the SQLite driver took 40 s.
        EXPECT_LE(q.GetDataCalls(), 3);
    }
    for (const char* mode : {"E", "A"}) {
        Outcome o = Generate(s, "SELECT 1 AS id, " + value + " || 'END' AS v", {"A", mode});
        ASSERT_EQ(o.result, 0) << (o.messages.empty() ? "" : o.messages[0]);
        XmlNode row = o.dom->documentElement().getElementsByTagName("row").at(0);
        std::string held = *mode == 'A'
                               ? row.getAttribute("v")
                               : row.getElementsByTagName("v").at(0).firstChild().nodeValue();
        ASSERT_EQ(held.size(), kHugeValue + 3) << mode;
        EXPECT_TRUE(held.ends_with("xEND"));
        EXPECT_EQ(std::count(held.begin(), held.end(), 'x'), std::ptrdiff_t(kHugeValue)) << mode;
        EXPECT_TRUE(o.messages.empty());
    }
    EXPECT_TRUE(sink.messages.empty());
}

TEST_P(HostileDataTest, MoreColumnsThanTheDatabaseAllowsIsItsMessage) {
    const DataSource& s = GetParam();
    // SQLite returns up to 2000 columns, PostgreSQL lists up to 1664 values.
    const int most = s.server ? 1664 : 2000;
    Outcome widest = Generate(s, Columns(most), std::vector<std::string>(most / 2, "A"));
    ASSERT_EQ(widest.result, 0) << (widest.messages.empty() ? "" : widest.messages[0]);
    XmlNode row = widest.dom->documentElement().getElementsByTagName("row").at(0);
    EXPECT_EQ(row.attributes().length(), std::size_t(most / 2));
    EXPECT_EQ(row.getElementsByTagName("*").size(), std::size_t(most - most / 2));
    EXPECT_EQ(row.getElementsByTagName(("c" + std::to_string(most))).at(0).firstChild().nodeValue(),
              std::to_string(most));
    XmlDocument reparsed;
    EXPECT_TRUE(reparsed.loadXML(widest.dom->xml())) << reparsed.parseError().reason;

    const std::string expected = s.server ? "target lists can have at most 1664 entries"
                                          : "[SQLite]too many columns in result set (1)";
    for (int count : {most + 1, 10000}) {
        Outcome o = Generate(s, Columns(count), {});
        EXPECT_EQ(o.result, 1);
        ASSERT_EQ(o.messages.size(), 1u) << count;
        EXPECT_NE(o.messages[0].find(expected), std::string::npos) << o.messages[0];
        std::vector<std::string> names;
        CollectingSink sink;
        CXmlGenerator g(s.dsn, s.user, s.password, 500);
        g.SetQuery(Columns(count));
        EXPECT_FALSE(g.CollectColumnNames(names, sink));
        EXPECT_EQ(sink.messages, o.messages);
    }
}

TEST_P(HostileDataTest, NamesOfCharactersToEscapeOnly) {
    const std::vector<std::string> names{"? <>&", "   ", "\xC2\xAB\xE2\x80\x94\xE2\x80\xA6\xC2\xBB",
                                         "\t",    "\"'", "1 2",
                                         "&amp;", "<x/>"};
    std::string query = "SELECT ";
    for (std::size_t i = 0; i < names.size(); ++i) {
        std::string quoted;
        for (char ch : names[i]) {
            quoted += ch == '"' ? "\"\"" : std::string(1, ch);
        }
        query += (i ? ", " : "") + std::to_string(i) + " AS \"" + quoted + "\"";
    }
    // As attributes and as elements: the choices one way, then the other.
    for (const std::vector<std::string>& modes :
         {std::vector<std::string>{"A", "E", "A", "E", "A", "E", "A", "E"},
          std::vector<std::string>{"E", "A", "E", "A", "E", "A", "E", "A"}}) {
        Outcome o = Generate(GetParam(), query, modes);
        ASSERT_EQ(o.result, 0) << (o.messages.empty() ? "" : o.messages[0]);
        XmlDocument reparsed;
        ASSERT_TRUE(reparsed.loadXML(o.dom->xml())) << reparsed.parseError().reason;
        XmlNode row = reparsed.documentElement().getElementsByTagName("row").at(0);
        std::vector<std::string> found;
        for (std::size_t i = 0; i < row.attributes().length(); ++i) {
            found.push_back(Unescape(row.attributes().item(i).nodeName()) + "=" +
                            row.attributes().item(i).nodeValue());
        }
        for (XmlNode child : row.getElementsByTagName("*")) {
            found.push_back(Unescape(child.nodeName()) + "=" + child.firstChild().nodeValue());
        }
        std::vector<std::string> expected;
        for (std::size_t pass : {0, 1}) {
            for (std::size_t i = 0; i < names.size(); ++i) {
                if ((modes[i] == "A") == (pass == 0)) {
                    expected.push_back(names[i] + "=" + std::to_string(i));
                }
            }
        }
        EXPECT_EQ(found, expected);
    }
}

INSTANTIATE_TEST_SUITE_P(Drivers, HostileDataTest, test::kAllDataSources, test::DataSourceName);

class ServerKilledTest : public ::testing::TestWithParam<DataSource> {};

// The connection's server process ends, from another connection, between two
// batches of rows.
TEST_P(ServerKilledTest, InTheMiddleOfTheRows) {
    const DataSource& s = GetParam();
    CollectingSink sink;
    COdbcQuery q(s.dsn, s.user, s.password, sink);
    ASSERT_EQ(q.ExecDirect("SELECT pg_backend_pid(), i FROM generate_series(1, 100000) AS i"),
              kOdbcSuccess);
    ASSERT_EQ(q.Fetch(), kOdbcSuccess);
    std::string pid = q.GetColumnValue(1).value_or("");
    {
        COdbcQuery killer("pgw", "app", "secret", sink);
        // Waits until the process is gone.
        ASSERT_EQ(killer.ExecDirect("SELECT pg_terminate_backend(" + pid + ", 60000)"),
                  kOdbcSuccess);
        ASSERT_EQ(killer.Fetch(), kOdbcSuccess);
        ASSERT_EQ(killer.GetColumnValue(1), "1");
    }
    OdbcReturn rc;
    long rows = 1;
    while ((rc = q.Fetch()) == kOdbcSuccess) {
        ++rows;
    }
    EXPECT_EQ(rc, kOdbcError);
    EXPECT_LT(rows, 1000);
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_NE(sink.messages[0].find("connection"), std::string::npos) << sink.messages[0];
    // The dead connection goes on failing with messages, and closes quietly.
    EXPECT_EQ(q.ExecDirect("SELECT 1"), kOdbcError);
    EXPECT_EQ(sink.messages.size(), 2u);

    // The generator: the server process ends itself at row 300.
    const std::string query =
        "SELECT i, CASE WHEN i = 300 THEN pg_terminate_backend(pg_backend_pid()) END AS k "
        "FROM generate_series(1, 100000) AS i";
    Outcome killed = Generate(s, query, {"A", "A"}, 600);
    EXPECT_EQ(killed.result, 1);
    ASSERT_EQ(killed.messages.size(), 1u);
    EXPECT_NE(killed.messages[0].find("connection"), std::string::npos) << killed.messages[0];
    EXPECT_GT(killed.fetches, 200);  // it died in the middle of the rows
    // The same statement is fine while it stops before that row.
    EXPECT_EQ(Generate(s, query, {"A", "A"}, 250).result, 0);
}

INSTANTIATE_TEST_SUITE_P(Drivers, ServerKilledTest,
                         ::testing::Values(kPgUnicodeCursor, kPgAnsiCursor), test::DataSourceName);

// Without a cursor the driver reads every row when the statement runs: the
// server's end is a message then.
TEST(ServerKilledWithoutCursorTest, WhileTheStatementRuns) {
    for (const DataSource& s : {test::kPgUnicode, test::kPgAnsi}) {
        Outcome o =
            Generate(s,
                     "SELECT i, CASE WHEN i = 300 THEN pg_terminate_backend(pg_backend_pid()) "
                     "END FROM generate_series(1, 1000) AS i",
                     {});
        EXPECT_EQ(o.result, 1);
        ASSERT_EQ(o.messages.size(), 1u);
        EXPECT_NE(o.messages[0].find("terminating connection"), std::string::npos) << o.messages[0];
    }
}

}  // namespace
}  // namespace quorrel
