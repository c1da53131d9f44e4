// COdbcQuery against the real drivers: SQLite on a file, PostgreSQL through
// its Unicode and ANSI drivers.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>

#include "db/core/OdbcQuery.h"
#include "tests/db/DataSources.h"

namespace quorrel {
namespace {

using test::DataSource;

class OdbcQueryTest : public ::testing::TestWithParam<DataSource> {
protected:
    COdbcQuery Open() {
        const DataSource& s = GetParam();
        return COdbcQuery(s.dsn, s.user, s.password, sink);
    }
    CollectingSink sink;
};

TEST(Base64Test, EncodesWithPadding) {
    EXPECT_EQ(Base64Encode(""), "");
    EXPECT_EQ(Base64Encode(std::string("\x00\xff\x41", 3)), "AP9B");
    EXPECT_EQ(Base64Encode("Zo\xc3\xab"), "Wm/Dqw==");
    EXPECT_EQ(Base64Encode("ab"), "YWI=");
    EXPECT_EQ(Base64Encode("\xfb\xff\xbf"), "+/+/");
}

TEST(TrimTest, RemovesTrailingBlanksTabsAndLineBreaksOnly) {
    EXPECT_EQ(TrimTrailingWhiteSpace("  a b \t\r\n "), "  a b");
    EXPECT_EQ(TrimTrailingWhiteSpace(" \n"), "");
    EXPECT_EQ(TrimTrailingWhiteSpace("x\v"), "x\v");
}

TEST_P(OdbcQueryTest, ColumnCountAndNames) {
    COdbcQuery q = Open();
    ASSERT_EQ(q.ExecDirect("SELECT id, name, fixed, note, data FROM t ORDER BY id"), kOdbcSuccess);
    // The count comes from SQLNumResultCols: SQLColAttribute(0) fails on these drivers.
    EXPECT_EQ(q.GetColumnCount(), 5);
    EXPECT_EQ(q.GetColumnName(1), "id");
    EXPECT_EQ(q.GetColumnName(5), "data");
    ASSERT_EQ(q.ExecDirect(
                  "SELECT id AS \"MixedCase\", name AS \"padded  \", 1 AS \"unit price\" FROM t"),
              kOdbcSuccess);
    EXPECT_EQ(q.GetColumnCount(), 3);
    EXPECT_EQ(q.GetColumnName(1), "MixedCase");
    EXPECT_EQ(q.GetColumnName(2), "padded");
    EXPECT_EQ(q.GetColumnName(3), "unit price");
    EXPECT_TRUE(sink.messages.empty());
}

TEST_P(OdbcQueryTest, ValuesAsText) {
    COdbcQuery q = Open();
    ASSERT_EQ(q.ExecDirect("SELECT id, name, fixed, note, data FROM t ORDER BY id"), kOdbcSuccess);
    std::vector<std::vector<std::string>> rows;
    while (q.Fetch() == kOdbcSuccess) {
        std::vector<std::string> row;
        for (int c = 1; c <= 5; ++c) {
            std::optional<std::string> v = q.GetColumnValue(c);
            ASSERT_TRUE(v.has_value());
            row.push_back(*v);
        }
        rows.push_back(row);
    }
    ASSERT_EQ(rows.size(), 5u);
    // CHAR(10) padding goes, leading blanks stay.
    EXPECT_EQ(rows[0], (std::vector<std::string>{"1", "Alice", "ab", "plain", "AP9B"}));
    // NULL is known by its indicator: the buffer still holds the row before on PostgreSQL.
    EXPECT_EQ(rows[1], (std::vector<std::string>{"2", "", "", "", ""}));
    EXPECT_EQ(rows[2], (std::vector<std::string>{"3", "   lead", "  x", "  two leading", ""}));
    EXPECT_EQ(rows[3],
              (std::vector<std::string>{"4", "Zoë, 東京", "Zoë", "Zoë, 東京 & <b>", "Wm/Dqw=="}));
    // Read whole, not cut at the buffer's 8191 characters.
    EXPECT_EQ(rows[4][3], std::string(10000, 'x') + "END");
    EXPECT_TRUE(sink.messages.empty());
}

TEST_P(OdbcQueryTest, AColumnIsReadFromTheDriverOncePerRow) {
    COdbcQuery q = Open();
    ASSERT_EQ(q.ExecDirect("SELECT id, note FROM t WHERE id IN (1, 5) ORDER BY id"), kOdbcSuccess);
    ASSERT_EQ(q.Fetch(), kOdbcSuccess);
    long before = q.GetDataCalls();
    EXPECT_EQ(q.GetColumnValue(1), "1");
    EXPECT_EQ(q.GetColumnValue(1), "1");
    EXPECT_EQ(q.GetColumnValue(2), "plain");
    EXPECT_EQ(q.GetDataCalls() - before, 2);
    // The next row is read anew; a long value takes more than one call, once.
    ASSERT_EQ(q.Fetch(), kOdbcSuccess);
    EXPECT_EQ(q.GetColumnValue(1), "5");
    before = q.GetDataCalls();
    std::string first = q.GetColumnValue(2).value_or("");
    EXPECT_GE(q.GetDataCalls() - before, 2);
    long afterFirst = q.GetDataCalls();
    EXPECT_EQ(q.GetColumnValue(2), first);
    EXPECT_EQ(q.GetDataCalls(), afterFirst);
    EXPECT_EQ(first.size(), 10003u);
    EXPECT_EQ(q.Fetch(), kOdbcNoData);
    EXPECT_TRUE(sink.messages.empty());
}

TEST_P(OdbcQueryTest, EmptyResultEndsQuietly) {
    COdbcQuery q = Open();
    ASSERT_EQ(q.ExecDirect("SELECT id, name FROM empty_t"), kOdbcSuccess);
    EXPECT_EQ(q.GetColumnCount(), 2);
    EXPECT_EQ(q.Fetch(), kOdbcNoData);
    EXPECT_EQ(q.FetchCalls(), 1);
    EXPECT_TRUE(sink.messages.empty());
}

TEST_P(OdbcQueryTest, ExecutingAgainDropsThePreviousStatement) {
    COdbcQuery q = Open();
    ASSERT_EQ(q.ExecDirect("SELECT name FROM t WHERE id = 1"), kOdbcSuccess);
    ASSERT_EQ(q.Fetch(), kOdbcSuccess);
    EXPECT_EQ(q.GetColumnValue(1), "Alice");
    ASSERT_EQ(q.ExecDirect("SELECT id, note FROM t WHERE id = 3"), kOdbcSuccess);
    EXPECT_EQ(q.GetColumnCount(), 2);
    ASSERT_EQ(q.Fetch(), kOdbcSuccess);
    EXPECT_EQ(q.GetColumnValue(1), "3");
    EXPECT_EQ(q.GetColumnName(2), "note");
    EXPECT_TRUE(sink.messages.empty());
}

TEST_P(OdbcQueryTest, StatementErrorsShowTheDriversText) {
    COdbcQuery q = Open();
    EXPECT_EQ(q.ExecDirect("SELEC id FROM t"), kOdbcError);
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_NE(sink.messages[0].find("syntax error"), std::string::npos) << sink.messages[0];
    EXPECT_NE(sink.messages[0].back(), '\n');
    EXPECT_EQ(q.Fetch(), kOdbcError);  // no result: the fetch fails too
    sink.messages.clear();
    EXPECT_EQ(q.ExecDirect("SELECT * FROM nosuch"), kOdbcError);
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_NE(sink.messages[0].find("nosuch"), std::string::npos) << sink.messages[0];
    // The same object still runs a good statement.
    sink.messages.clear();
    ASSERT_EQ(q.ExecDirect("SELECT id FROM t WHERE id = 2"), kOdbcSuccess);
    ASSERT_EQ(q.Fetch(), kOdbcSuccess);
    EXPECT_EQ(q.GetColumnValue(1), "2");
    EXPECT_TRUE(sink.messages.empty());
}

TEST_P(OdbcQueryTest, AWrongPasswordIsReportedOnceWhenTheStatementRuns) {
    const DataSource& s = GetParam();
    COdbcQuery q(s.dsn, s.user, "wrong", sink);
    EXPECT_TRUE(sink.messages.empty());  // a failed connect shows nothing yet
    OdbcReturn rc = q.ExecDirect("SELECT id FROM t");
    if (!s.server) {
        // SQLite has no passwords: it connected.
        EXPECT_EQ(rc, kOdbcSuccess);
        EXPECT_TRUE(sink.messages.empty());
        return;
    }
    EXPECT_EQ(rc, kOdbcInvalidHandle);
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_NE(sink.messages[0].find("password authentication failed for user \"app\""),
              std::string::npos)
        << sink.messages[0];
    EXPECT_NE(sink.messages[0].back(), '\n');
    // Read once: a second attempt has no diagnostic left to show.
    EXPECT_EQ(q.ExecDirect("SELECT id FROM t"), kOdbcInvalidHandle);
    EXPECT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(q.Fetch(), kOdbcInvalidHandle);
    EXPECT_EQ(q.GetColumnCount(), 0);
    EXPECT_EQ(q.GetColumnValue(1), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(Drivers, OdbcQueryTest, test::kAllDataSources, test::DataSourceName);

TEST(OdbcConnectTest, UnknownDataSource) {
    CollectingSink sink;
    COdbcQuery q("NoSuchSource", "", "", sink);
    EXPECT_TRUE(sink.messages.empty());
    EXPECT_EQ(q.ExecDirect("SELECT 1"), kOdbcInvalidHandle);
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(
        sink.messages[0],
        "[unixODBC][Driver Manager]Data source name not found and no default driver specified");
}

TEST(OdbcConnectTest, SampleDataSourceIsRegistered) {
    CollectingSink sink;
    COdbcQuery q("QuorrelSample", "", "", sink);
    ASSERT_EQ(q.ExecDirect("SELECT name, \"unit price\", picture FROM products WHERE id = 6"),
              kOdbcSuccess);
    ASSERT_EQ(q.Fetch(), kOdbcSuccess);
    EXPECT_EQ(q.GetColumnValue(1), "Enamel badge");
    EXPECT_EQ(q.GetColumnValue(2), "3.2");
    EXPECT_TRUE(q.GetColumnValue(3).value_or("").starts_with("iVBORw0KGgo"));  // a PNG, in base64
    EXPECT_TRUE(sink.messages.empty());
}

// A server that accepts the connection and never answers: the login gives up
// after its time-out instead of hanging the window.
TEST(OdbcConnectTest, LoginTimesOut) {
    std::ifstream portFile(QUORREL_ODBC_FIXTURE_DIR "/silent.port");
    int port = 0;
    ASSERT_TRUE(portFile >> port);
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    int yes = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0)
        << "port " << port;
    ASSERT_EQ(listen(listener, 4), 0);

    CollectingSink sink;
    COdbcQuery q("silent", "app", "secret", sink);
    EXPECT_EQ(q.ExecDirect("SELECT 1"), kOdbcInvalidHandle);
    close(listener);
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_NE(sink.messages[0].find("timeout expired"), std::string::npos) << sink.messages[0];
}

}  // namespace
}  // namespace quorrel
