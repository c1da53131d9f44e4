// Builds a "rowset" document from the rows of an ODBC query: one "row"
// element per row, each column an attribute or a child element of it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "doc/core/MessageSink.h"

namespace quorrel {

class XmlDocument;

class CXmlGenerator {
public:
    // The document's generator: it only remembers the data source settings.
    CXmlGenerator() = default;
    // A generating instance, with root "rowset" and rows "row".
    CXmlGenerator(std::string dsn, std::string user, std::string password, int maxRows);

    const std::string& GetDsn() const { return m_strDsn; }
    void SetDsn(std::string dsn) { m_strDsn = std::move(dsn); }
    const std::string& GetUser() const { return m_strUser; }
    void SetUser(std::string user) { m_strUser = std::move(user); }
    const std::string& GetPassword() const { return m_strPassword; }
    void SetPassword(std::string password) { m_strPassword = std::move(password); }
    const std::string& GetQuery() const { return m_strQuery; }
    void SetQuery(std::string query) { m_strQuery = std::move(query); }
    int GetMaxRows() const { return m_nMaxRows; }
    void SetMaxRows(int maxRows) { m_nMaxRows = maxRows; }

    // The statement, without surrounding white space, starts with SELECT in any case.
    bool IsSelectQuery() const;

    // Runs the statement and appends its column names when it has a row.
    // False when the connection or the statement failed; the driver's
    // message has been shown.
    bool CollectColumnNames(std::vector<std::string>& names, MessageSink& sink) const;

    // One mode per choice: "A" for exactly "A" or "a", "E" for anything else.
    void SetColumnModes(const std::vector<std::string>& choices);
    const std::vector<std::string>& GetColumnModes() const { return m_columnModes; }

    // Builds the document into dom (fresh and empty) from the statement's
    // rows, then forgets the modes. 0: success; 1: failure, which has been
    // shown with its reason, and dom holds a partial result.
    int Generate(XmlDocument& dom, MessageSink& sink);

    // SQLFetch calls of the last Generate.
    long LastFetchCount() const { return m_nLastFetchCount; }

    static constexpr std::string_view kInvalidQueryMessage =
        "Error: Invalid query\nQuery must start with a SELECT keyword";
    // Also for the generated document's text, which takes as much memory again.
    static constexpr std::string_view kNoMemoryMessage =
        "There is not enough memory to generate the XML document. Lower the row limit and try "
        "again.";

private:
    std::vector<std::string> m_columnModes;
    int m_nMaxRows = 0;
    std::string m_strRootName;
    std::string m_strRowName;
    std::string m_strDsn;
    std::string m_strUser;
    std::string m_strPassword;
    std::string m_strQuery;
    long m_nLastFetchCount = 0;
};

// A column name as an XML name: unchanged when it is one without a colon,
// else escaped as SQL/XML maps identifiers, "_xHHHH_" for every character
// that may not stand where it is (and for ':' and for the '_' of "_x"), so
// "unit price" becomes "unit_x0020_price". An attribute named "xmlns" would
// declare a namespace, so its 'x' is escaped. Empty for an empty name.
std::string XmlNameForColumn(std::string_view name, bool attribute = false);

// Where text holds no character XML may not hold: the byte offset of the
// first bad character, or npos. Text must be UTF-8.
std::size_t FindNonXmlCharacter(std::string_view text);

class CDoc;
// The document's generator, kept between runs of Get Xml Data; made on first use.
CXmlGenerator& XmlGeneratorOf(CDoc& doc);

}  // namespace quorrel
