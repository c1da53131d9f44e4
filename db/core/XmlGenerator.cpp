#include "db/core/XmlGenerator.h"

#include <memory>

#include "doc/core/Doc.h"

#include <cctype>
#include <cstdio>
#include <optional>
#include <stdexcept>

#include "db/core/OdbcQuery.h"
#include "doc/core/XmlDom.h"

namespace quorrel {

namespace {

// Ends a generation with its reason.
class GenerationFailed : public std::runtime_error {
public:
    explicit GenerationFailed(const std::string& message) : std::runtime_error(message) {}
};

// Ends a generation on a failed ODBC call; the driver's message, if it gave
// one, has been shown.
struct OdbcFailed {
    OdbcReturn rc;
};

// The code point at text[i] and its length in bytes; nullopt for bytes that
// are not UTF-8.
std::optional<char32_t> DecodeUtf8(std::string_view text, std::size_t i, std::size_t& length) {
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char b0 = byte(i);
    if (b0 < 0x80) {
        length = 1;
        return b0;
    }
    std::size_t n = b0 >= 0xF0 && b0 <= 0xF4 ? 4 : b0 >= 0xE0 ? 3 : b0 >= 0xC2 && b0 < 0xE0 ? 2 : 0;
    if (n == 0 || i + n > text.size()) {
        return std::nullopt;
    }
    char32_t c = n == 2 ? (b0 & 0x1F) : n == 3 ? (b0 & 0x0F) : (b0 & 0x07);
    for (std::size_t k = 1; k < n; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            return std::nullopt;
        }
        c = (c << 6) | (byte(i + k) & 0x3F);
    }
    // Overlong forms, surrogates and values beyond U+10FFFF are not UTF-8.
    if ((n == 3 && c < 0x800) || (n == 4 && (c < 0x10000 || c > 0x10FFFF)) ||
        (c >= 0xD800 && c <= 0xDFFF)) {
        return std::nullopt;
    }
    length = n;
    return c;
}

bool IsXmlChar(char32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

std::string Escape(char32_t c) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, c > 0xFFFF ? "_x%06X_" : "_x%04X_", unsigned(c));
    return buffer;
}

std::string CodePointText(char32_t c) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "U+%04X", unsigned(c));
    return buffer;
}

}  // namespace

std::size_t FindNonXmlCharacter(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        if (static_cast<unsigned char>(text[i]) >= 0x20 &&
            static_cast<unsigned char>(text[i]) < 0x80) {
            ++i;  // the common case, quickly
            continue;
        }
        std::size_t length = 0;
        std::optional<char32_t> c = DecodeUtf8(text, i, length);
        if (!c || !IsXmlChar(*c)) {
            return i;
        }
        i += length;
    }
    return std::string_view::npos;
}

std::string XmlNameForColumn(std::string_view name, bool attribute) {
    if (attribute && name == "xmlns") {
        return "_x0078_mlns";
    }
    // The DOM takes bytes that are not UTF-8 for Latin-1 letters: check them first.
    if (name.find(':') == std::string_view::npos &&
        FindNonXmlCharacter(name) == std::string_view::npos && IsXmlName(name)) {
        return std::string(name);
    }
    std::string out;
    std::string probe;
    for (std::size_t i = 0; i < name.size();) {
        std::size_t length = 1;
        std::optional<char32_t> c = DecodeUtf8(name, i, length);
        if (!c) {
            // A byte that is not UTF-8 is taken as the Latin-1 character it would be.
            out += Escape(static_cast<unsigned char>(name[i]));
            i += 1;
            continue;
        }
        std::string_view character = name.substr(i, length);
        bool mayStand;
        if (*c == ':') {
            mayStand = false;
        } else if (*c == '_' && name.substr(i + 1, 1) == "x") {
            mayStand = false;  // would read as the start of an escape
        } else {
            // The DOM decides which characters a name may hold, first or later.
            probe.assign(out.empty() ? "" : "a");
            probe += character;
            mayStand = IsXmlName(probe);
        }
        if (mayStand) {
            out += character;
        } else {
            out += Escape(*c);
        }
        i += length;
    }
    return out;
}

CXmlGenerator::CXmlGenerator(std::string dsn, std::string user, std::string password, int maxRows)
    : m_nMaxRows(maxRows),
      m_strRootName("rowset"),
      m_strRowName("row"),
      m_strDsn(std::move(dsn)),
      m_strUser(std::move(user)),
      m_strPassword(std::move(password)) {}

bool CXmlGenerator::IsSelectQuery() const {
    std::string_view query = m_strQuery;
    std::size_t start = query.find_first_not_of(" \t\r\n");
    if (start == std::string_view::npos) {
        return false;
    }
    query = TrimTrailingWhiteSpace(query.substr(start));
    std::string head(query.substr(0, 6));
    for (char& ch : head) {
        ch = char(std::toupper(static_cast<unsigned char>(ch)));
    }
    return head == "SELECT";
}

bool CXmlGenerator::CollectColumnNames(std::vector<std::string>& names, MessageSink& sink) const {
    COdbcQuery query(m_strDsn, m_strUser, m_strPassword, sink);
    auto failed = [&](OdbcReturn rc) {
        if (query.MessagesShown() == 0) {
            query.ReportSilentFailure(rc);
        }
        return false;
    };
    OdbcReturn rc = query.ExecDirect(m_strQuery);
    if (!OdbcSucceeded(rc)) {
        return failed(rc);
    }
    int count = query.GetColumnCount();
    rc = query.Fetch();
    if (rc == kOdbcNoData) {
        return true;  // no row: the names stay unknown
    }
    if (!OdbcSucceeded(rc)) {
        return failed(rc);
    }
    for (int column = 1; column <= count; ++column) {
        names.push_back(query.GetColumnName(column));
    }
    query.Fetch();
    return true;
}

void CXmlGenerator::SetColumnModes(const std::vector<std::string>& choices) {
    for (const std::string& choice : choices) {
        m_columnModes.push_back(choice == "A" || choice == "a" ? "A" : "E");
    }
}

int CXmlGenerator::Generate(XmlDocument& dom, MessageSink& sink) {
    m_nLastFetchCount = 0;
    int result = 1;
    std::optional<COdbcQuery> query;
    try {
        XmlNode document = dom.documentNode();
        document.appendChild(dom.createProcessingInstruction("xml", "version = \"1.0\""));
        XmlNode root = document.appendChild(dom.createElement(m_strRootName));
        root.appendChild(dom.createTextNode("\n\t"));

        query.emplace(m_strDsn, m_strUser, m_strPassword, sink);
        OdbcReturn executed = query->ExecDirect(m_strQuery);
        if (!OdbcSucceeded(executed)) {
            throw OdbcFailed{executed};
        }
        const int count = query->GetColumnCount();
        std::vector<std::optional<std::string>> names(static_cast<std::size_t>(count));
        auto nameOf = [&](int column, bool attribute) -> const std::string& {
            std::optional<std::string>& name = names[std::size_t(column) - 1];
            if (!name) {
                name = XmlNameForColumn(query->GetColumnName(column), attribute);
                if (name->empty()) {
                    throw GenerationFailed("Column " + std::to_string(column) +
                                           " has no name. Give it one with AS in the query.");
                }
            }
            return *name;
        };
        long row = 1;
        auto valueOf = [&](int column) {
            std::optional<std::string> value = query->GetColumnValue(column);
            if (!value) {
                throw OdbcFailed{kOdbcError};
            }
            std::size_t bad = FindNonXmlCharacter(*value);
            if (bad != std::string::npos) {
                std::size_t length = 1;
                std::optional<char32_t> c = DecodeUtf8(*value, bad, length);
                throw GenerationFailed(
                    "Row " + std::to_string(row) + ", column " + query->GetColumnName(column) +
                    ": the value holds " +
                    (c ? "the character " + CodePointText(*c) + ", which XML cannot hold."
                       : "bytes that are not UTF-8 text."));
            }
            return std::move(*value);
        };

        for (;; ++row) {
            OdbcReturn rc = query->Fetch();
            if (rc == kOdbcNoData) {
                break;
            }
            if (!OdbcSucceeded(rc)) {
                throw OdbcFailed{rc};
            }
            if (row > m_nMaxRows) {
                break;  // the row just fetched is not used
            }
            XmlNode element = root.appendChild(dom.createElement(m_strRowName));
            element.appendChild(dom.createTextNode("\n\t\t"));
            root.appendChild(dom.createTextNode("\n\t"));
            for (int column = 1; column <= count; ++column) {
                // Columns the mapping did not list (the result changed since) become elements.
                bool attribute =
                    std::size_t(column) <= m_columnModes.size() && m_columnModes[column - 1] == "A";
                if (attribute) {
                    std::string value = valueOf(column);
                    element.setAttribute(nameOf(column, true), value);
                } else {
                    XmlNode child = dom.createElement(nameOf(column, false));
                    child.appendChild(dom.createTextNode(valueOf(column)));
                    element.appendChild(child);
                    element.appendChild(dom.createTextNode("\n\t\t"));
                }
            }
        }
        result = 0;
    } catch (const OdbcFailed& e) {
        if (query->MessagesShown() == 0) {
            query->ReportSilentFailure(e.rc);
        }
    } catch (const GenerationFailed& e) {
        sink.ShowMessage(e.what());
    } catch (const DomError& e) {
        sink.ShowMessage(std::string("The XML document could not be generated:\n") + e.what());
    } catch (const std::bad_alloc&) {
        sink.ShowMessage(std::string(kNoMemoryMessage));
    }
    if (query) {
        m_nLastFetchCount = query->FetchCalls();
    }
    m_columnModes.clear();
    return result;
}

CXmlGenerator& XmlGeneratorOf(CDoc& doc) {
    if (doc.GetXmlGenerator() == nullptr) {
        doc.SetXmlGenerator(XmlGeneratorPtr(
            std::make_unique<CXmlGenerator>().release(),
            [](CXmlGenerator* generator) { std::default_delete<CXmlGenerator>()(generator); }));
    }
    return *doc.GetXmlGenerator();
}

}  // namespace quorrel
