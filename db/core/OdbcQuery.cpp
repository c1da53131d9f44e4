#include "db/core/OdbcQuery.h"

#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <cstring>

namespace quorrel {

namespace {

SQLCHAR* Sql(std::string& text) {
    return reinterpret_cast<SQLCHAR*>(text.data());
}

bool IsBinaryType(short sqlType) {
    return sqlType == SQL_BINARY || sqlType == SQL_VARBINARY || sqlType == SQL_LONGVARBINARY;
}

// Room for the rest of a value after a part of it: all of it when the driver
// told its length, since the SQLite driver spends time in the whole value on
// every part (100 MB in 8 KB parts took 40 s); else twice as much.
SQLLEN NextPartRoom(SQLLEN indicator, SQLLEN part, SQLLEN room) {
    if (indicator == SQL_NO_TOTAL || indicator <= part) {
        return room * 2;
    }
    return std::max<SQLLEN>(indicator - part, room);
}

}  // namespace

std::string_view TrimTrailingWhiteSpace(std::string_view text) {
    std::size_t end = text.find_last_not_of(" \t\r\n");
    return end == std::string_view::npos ? std::string_view() : text.substr(0, end + 1);
}

std::string Base64Encode(std::string_view bytes) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        unsigned v = unsigned(static_cast<unsigned char>(bytes[i])) << 16 |
                     unsigned(static_cast<unsigned char>(bytes[i + 1])) << 8 |
                     unsigned(static_cast<unsigned char>(bytes[i + 2]));
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    if (i < bytes.size()) {
        unsigned v = unsigned(static_cast<unsigned char>(bytes[i])) << 16;
        bool two = i + 1 < bytes.size();
        if (two) {
            v |= unsigned(static_cast<unsigned char>(bytes[i + 1])) << 8;
        }
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += two ? kAlphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

void OdbcHandle::Reset() {
    if (m_handle == nullptr) {
        return;
    }
    switch (m_kind) {
        case Kind::Statement:
            SQLFreeStmt(m_handle, SQL_DROP);
            break;
        case Kind::Connection:
            if (m_connected) {
                // Whatever the statements did goes; a driver also refuses to
                // disconnect while a transaction is open.
                SQLEndTran(SQL_HANDLE_DBC, m_handle, SQL_ROLLBACK);
                SQLDisconnect(m_handle);
            }
            SQLFreeConnect(m_handle);
            break;
        case Kind::Environment:
            SQLFreeEnv(m_handle);
            break;
    }
    m_handle = nullptr;
    m_connected = false;
}

COdbcQuery::COdbcQuery(std::string_view dsn, std::string_view user, std::string_view password,
                       MessageSink& sink)
    : m_sink(sink),
      m_strErrorText(kErrorTextSize, '\0'),
      m_valueBuffer(new char[kValueBufferSize]) {
    Connect(dsn, user, password);
}

COdbcQuery::~COdbcQuery() = default;

OdbcReturn COdbcQuery::Connect(std::string_view dsn, std::string_view user,
                               std::string_view password) {
    SQLRETURN rc = SQLAllocEnv(m_henv.Out());
    if (rc != SQL_SUCCESS) {
        ReportError();
        return rc;
    }
    rc = SQLAllocConnect(m_henv.Get(), m_hdbc.Out());
    if (rc != SQL_SUCCESS) {
        ReportError();
        return rc;
    }
    // A server that does not answer must not hang the window.
    SQLSetConnectOption(m_hdbc.Get(), SQL_LOGIN_TIMEOUT, 5);
    std::string d(dsn), u(user), p(password);
    rc = SQLConnect(m_hdbc.Get(), Sql(d), SQL_NTS, Sql(u), SQL_NTS, Sql(p), SQL_NTS);
    std::fill(p.begin(), p.end(), '\0');
    if (!SQL_SUCCEEDED(rc)) {
        return rc;
    }
    m_hdbc.SetConnected();
    // A query must not change the data source, whatever follows its SELECT:
    // read-only where the driver or the server knows that, and always inside
    // a transaction that is rolled back when the connection goes.
    SQLSetConnectOption(m_hdbc.Get(), SQL_ACCESS_MODE, SQL_MODE_READ_ONLY);
    MakeSessionReadOnly();
    rc = SQLSetConnectOption(m_hdbc.Get(), SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF);
    if (!SQL_SUCCEEDED(rc)) {
        return rc;  // no statement then: ExecDirect reports why
    }
    return SQLAllocStmt(m_hdbc.Get(), m_hstmt.Out());
}

// A COMMIT in the query would end the transaction that is rolled back, and
// PostgreSQL's driver takes the read-only mode as a hint only: there the
// session's transactions are made read-only, before autocommit is turned
// off so that the setting is not rolled back with the first transaction.
void COdbcQuery::MakeSessionReadOnly() {
    char name[64] = {};
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(
            SQLGetInfo(m_hdbc.Get(), SQL_DBMS_NAME, name, SQLSMALLINT(sizeof name), &length)) ||
        std::string_view(name) != "PostgreSQL") {
        return;
    }
    OdbcHandle statement(OdbcHandle::Kind::Statement);
    if (SQL_SUCCEEDED(SQLAllocStmt(m_hdbc.Get(), statement.Out()))) {
        std::string set = "SET SESSION CHARACTERISTICS AS TRANSACTION READ ONLY";
        SQLExecDirect(statement.Get(), Sql(set), SQLINTEGER(set.size()));
    }
}

OdbcReturn COdbcQuery::ExecDirect(std::string_view statement) {
    if (m_bExecuted && m_hstmt) {
        m_columnCache.clear();
        SQLAllocStmt(m_hdbc.Get(), m_hstmt.Out());
    }
    m_columns.clear();
    m_strStatement = statement;
    m_bExecuted = true;
    if (!m_hstmt) {
        // No statement handle: the connect failed, and its diagnostic is
        // still pending on the connection.
        ReportError();
        return kOdbcInvalidHandle;
    }
    SQLRETURN rc =
        SQLExecDirect(m_hstmt.Get(), Sql(m_strStatement), SQLINTEGER(m_strStatement.size()));
    if (!SQL_SUCCEEDED(rc)) {
        ReportError();
    }
    return rc;
}

int COdbcQuery::GetColumnCount() {
    SQLSMALLINT count = 0;
    if (!m_hstmt || !SQL_SUCCEEDED(SQLNumResultCols(m_hstmt.Get(), &count))) {
        return 0;
    }
    return count;
}

const COdbcQuery::ColumnDescription& COdbcQuery::Describe(int column) {
    if (column < 1) {
        static const ColumnDescription kNone;
        return kNone;
    }
    if (std::size_t(column) > m_columns.size()) {
        m_columns.resize(std::size_t(column));
    }
    ColumnDescription& d = m_columns[std::size_t(column) - 1];
    if (d.described) {
        return d;
    }
    std::string name(kColumnNameSize, '\0');
    SQLSMALLINT nameLength = 0, sqlType = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    SQLRETURN rc =
        SQLDescribeCol(m_hstmt.Get(), SQLUSMALLINT(column), Sql(name), SQLSMALLINT(name.size()),
                       &nameLength, &sqlType, &size, &digits, &nullable);
    if (SQL_SUCCEEDED(rc) && nameLength >= SQLSMALLINT(name.size())) {
        // A longer name than the buffer holds: ask again with room for all of it.
        name.assign(std::size_t(nameLength) + 1, '\0');
        rc =
            SQLDescribeCol(m_hstmt.Get(), SQLUSMALLINT(column), Sql(name), SQLSMALLINT(name.size()),
                           &nameLength, &sqlType, &size, &digits, &nullable);
    }
    if (SQL_SUCCEEDED(rc)) {
        name.resize(std::min<std::size_t>(std::size_t(std::max<SQLSMALLINT>(nameLength, 0)),
                                          name.size() - 1));
        // Blanks alone stay: trimmed, the column would lose its name.
        std::string_view trimmed = TrimTrailingWhiteSpace(name);
        d.name = trimmed.empty() ? name : trimmed;
        d.sqlType = sqlType;
    }
    d.described = true;
    return d;
}

std::string COdbcQuery::GetColumnName(int column) {
    if (!m_hstmt) {
        return {};
    }
    return Describe(column).name;
}

OdbcReturn COdbcQuery::Fetch() {
    m_columnCache.clear();
    if (!m_hstmt) {
        return kOdbcInvalidHandle;
    }
    ++m_nFetchCalls;
    SQLRETURN rc = SQLFetch(m_hstmt.Get());
    if (!SQL_SUCCEEDED(rc)) {
        // The end of the rows leaves no diagnostic, so nothing is shown then.
        ReportError();
    }
    return rc;
}

std::optional<std::string> COdbcQuery::GetColumnValue(int column) {
    for (const CColumnValue& cached : m_columnCache) {
        if (cached.m_nColumn == column) {
            return cached.m_strValue;
        }
    }
    if (!m_hstmt) {
        return std::nullopt;
    }
    const bool binary = IsBinaryType(Describe(column).sqlType);
    const SQLSMALLINT target = binary ? SQL_C_BINARY : SQL_C_CHAR;
    // Text parts end with a terminating zero that is not data.
    const SQLLEN terminator = binary ? 0 : 1;
    std::string value;
    SQLLEN room = kValueBufferSize;
    for (bool first = true;; first = false) {
        // The first part goes to the buffer kept for it; the rest of a long
        // value straight to its place in the value.
        const std::size_t start = value.size();
        if (!first) {
            value.resize(start + std::size_t(room));
        }
        char* into = first ? m_valueBuffer.get() : value.data() + start;
        SQLLEN indicator = 0;
        ++m_nGetDataCalls;
        SQLRETURN rc =
            SQLGetData(m_hstmt.Get(), SQLUSMALLINT(column), target, into, room, &indicator);
        // NULL is known by its indicator only: some drivers leave the buffer as it was.
        if (rc == SQL_NO_DATA || (SQL_SUCCEEDED(rc) && indicator == SQL_NULL_DATA)) {
            value.resize(start);
            break;  // every part read, or none there
        }
        if (!SQL_SUCCEEDED(rc)) {
            ReportError();
            return std::nullopt;
        }
        const SQLLEN capacity = room - terminator;
        SQLLEN part = (indicator == SQL_NO_TOTAL || indicator > capacity)
                          ? capacity
                          : std::max<SQLLEN>(indicator, 0);
        if (first) {
            value.assign(into, std::size_t(part));
        } else {
            value.resize(start + std::size_t(part));
        }
        if (rc == SQL_SUCCESS) {
            break;  // the last part; with info, more may follow
        }
        room = NextPartRoom(indicator, part, room) + terminator;
    }
    if (binary) {
        value = Base64Encode(value);
    } else {
        value.resize(TrimTrailingWhiteSpace(value).size());
    }
    m_columnCache.push_back(CColumnValue{value, column});
    return value;
}

void COdbcQuery::ReportError() {
    SQLCHAR state[kErrorTextSize + 1] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    std::fill(m_strErrorText.begin(), m_strErrorText.end(), '\0');
    SQLError(m_henv.Get(), m_hdbc.Get(), m_hstmt.Get(), state, &native, Sql(m_strErrorText),
             kErrorTextSize, &length);
    std::string_view text(m_strErrorText.c_str());
    text = TrimTrailingWhiteSpace(text);
    if (!text.empty()) {
        m_sink.ShowMessage(std::string(text));
        ++m_nMessagesShown;
    }
}

void COdbcQuery::ReportSilentFailure(OdbcReturn rc) {
    m_sink.ShowMessage("The ODBC data source failed without a message (return code " +
                       std::to_string(rc) + ").");
    ++m_nMessagesShown;
}

}  // namespace quorrel
