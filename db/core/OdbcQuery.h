// One SELECT statement against one ODBC data source, read as text: the
// column count, the column names and, row by row, the column values.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "doc/core/MessageSink.h"

namespace quorrel {

// The driver manager's return codes (SQLRETURN).
using OdbcReturn = short;
inline constexpr OdbcReturn kOdbcSuccess = 0;
inline constexpr OdbcReturn kOdbcSuccessWithInfo = 1;
inline constexpr OdbcReturn kOdbcNoData = 100;
inline constexpr OdbcReturn kOdbcError = -1;
inline constexpr OdbcReturn kOdbcInvalidHandle = -2;

inline bool OdbcSucceeded(OdbcReturn rc) {
    return rc == kOdbcSuccess || rc == kOdbcSuccessWithInfo;
}

// Owns one ODBC handle and frees it with its kind's call when it goes.
class OdbcHandle {
public:
    enum class Kind { Environment, Connection, Statement };
    explicit OdbcHandle(Kind kind) : m_kind(kind) {}
    ~OdbcHandle() { Reset(); }
    OdbcHandle(const OdbcHandle&) = delete;
    OdbcHandle& operator=(const OdbcHandle&) = delete;

    void* Get() const { return m_handle; }
    explicit operator bool() const { return m_handle != nullptr; }
    // Where an allocating call puts the new handle; frees the old one first.
    void** Out() {
        Reset();
        return &m_handle;
    }
    // A connection handle that connected is disconnected before it is freed.
    void SetConnected() { m_connected = true; }
    void Reset();

private:
    Kind m_kind;
    void* m_handle = nullptr;
    bool m_connected = false;
};

class COdbcQuery {
public:
    // Connects. A failed connect shows nothing yet: the next ExecDirect
    // reports it, with the driver's text.
    COdbcQuery(std::string_view dsn, std::string_view user, std::string_view password,
               MessageSink& sink);
    ~COdbcQuery();
    COdbcQuery(const COdbcQuery&) = delete;
    COdbcQuery& operator=(const COdbcQuery&) = delete;

    // Runs a statement, dropping the previous one; a failure is reported.
    OdbcReturn ExecDirect(std::string_view statement);
    // Number of result columns; 0 when there is no result.
    int GetColumnCount();
    // A result column's name (1-based), trailing white space removed unless
    // the name is white space only.
    std::string GetColumnName(int column);
    // Advances to the next row: kOdbcNoData after the last one; a failure is reported.
    OdbcReturn Fetch();
    // A column's value in the current row (1-based, columns in increasing
    // order), read whole: text with trailing white space removed, binary data
    // as base64, NULL as the empty string. nullopt when the driver refused it
    // (reported).
    std::optional<std::string> GetColumnValue(int column);
    // Shows the first pending diagnostic's text, if there is one.
    void ReportError();

    // Calls made so far, so that tests and benchmarks can see the work done.
    long FetchCalls() const { return m_nFetchCalls; }
    long GetDataCalls() const { return m_nGetDataCalls; }
    // Driver messages shown so far: a failure that showed none must still be told.
    int MessagesShown() const { return m_nMessagesShown; }
    // Says that a call failed without a message from the driver.
    void ReportSilentFailure(OdbcReturn rc);

    static constexpr int kErrorTextSize = 511;
    static constexpr int kColumnNameSize = 256;
    static constexpr int kValueBufferSize = 8192;

private:
    // One value already read from the current row: a driver hands out a
    // column's data only once per row.
    struct CColumnValue {
        std::string m_strValue;
        int m_nColumn = 0;
    };
    struct ColumnDescription {
        bool described = false;
        std::string name;
        short sqlType = 0;
    };

    OdbcReturn Connect(std::string_view dsn, std::string_view user, std::string_view password);
    void MakeSessionReadOnly();
    const ColumnDescription& Describe(int column);

    MessageSink& m_sink;
    std::string m_strStatement;
    std::string m_strErrorText;
    // Declared so that they are freed statement first, environment last.
    OdbcHandle m_henv{OdbcHandle::Kind::Environment};
    OdbcHandle m_hdbc{OdbcHandle::Kind::Connection};
    OdbcHandle m_hstmt{OdbcHandle::Kind::Statement};
    bool m_bExecuted = false;
    std::vector<CColumnValue> m_columnCache;
    std::vector<ColumnDescription> m_columns;  // of the current statement
    std::unique_ptr<char[]> m_valueBuffer;
    long m_nFetchCalls = 0;
    long m_nGetDataCalls = 0;
    int m_nMessagesShown = 0;
};

// Standard base64 with padding, as databases write binary data in XML.
std::string Base64Encode(std::string_view bytes);
// The text without trailing blanks, tabs and line breaks.
std::string_view TrimTrailingWhiteSpace(std::string_view text);

}  // namespace quorrel
