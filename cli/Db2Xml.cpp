// quorrel-cli db2xml: Data Source > Get Xml Data without its dialogs.
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/Command.h"
#include "cli/Common.h"
#include "db/core/XmlGenerator.h"
#include "doc/core/MessageSink.h"
#include "doc/core/XmlDom.h"

namespace quorrel::cli {
namespace {

constexpr const char* kUsage =
    "  db2xml --dsn DSN [--user U] [--password P] --query SQL [--modes A,E,...]\n"
    "         [--max-rows N] [--list-columns]\n"
    "      Run Data Source > Get Xml Data without its dialogs: connect to the ODBC\n"
    "      data source DSN, run the SELECT statement SQL and print the generated\n"
    "      \"rowset\" document, one \"row\" element per row. --modes gives each\n"
    "      column's choice in column order, as in the Attribute/Element dialog: A\n"
    "      (or a) for an attribute, anything else for a child element; columns\n"
    "      without an entry are elements. --max-rows is the row limit (default 500,\n"
    "      any number from 0 up). --list-columns prints the column names the\n"
    "      Attribute/Element dialog would list, one per line, and stops. Without\n"
    "      --password the password is taken from the environment variable\n"
    "      QUORREL_ODBC_PASSWORD, if set. Driver and other messages go to\n"
    "      standard error and make the exit status 1.\n";

class Db2Xml final : public Command {
public:
    std::string_view name() const override { return "db2xml"; }
    std::string_view usage() const override { return kUsage; }
    int run(const std::vector<std::string_view>& args) const override;
};

int Db2Xml::run(const std::vector<std::string_view>& args) const {
    std::optional<std::string> dsn, user, password, query, modes, maxRowsText;
    bool listColumns = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view a = args[i];
        std::optional<std::string>* into = a == "--dsn"        ? &dsn
                                           : a == "--user"     ? &user
                                           : a == "--password" ? &password
                                           : a == "--query"    ? &query
                                           : a == "--modes"    ? &modes
                                           : a == "--max-rows" ? &maxRowsText
                                                               : nullptr;
        if (into != nullptr) {
            if (i + 1 >= args.size()) {
                return UsageError(std::string(a) + " needs a value");
            }
            *into = std::string(args[++i]);
        } else if (a == "--list-columns") {
            listColumns = true;
        } else if (a.starts_with("-")) {
            return UsageError("unknown option " + std::string(a));
        } else {
            return UsageError("db2xml takes options only, not " + std::string(a));
        }
    }
    if (!dsn || !query) {
        return UsageError("db2xml needs --dsn and --query");
    }
    int maxRows = 500;
    if (maxRowsText) {
        const char* end = maxRowsText->data() + maxRowsText->size();
        auto [p, ec] = std::from_chars(maxRowsText->data(), end, maxRows);
        if (maxRowsText->empty() || ec != std::errc() || p != end || maxRows < 0) {
            return UsageError("--max-rows takes a whole number from 0 up, not " + *maxRowsText);
        }
    }
    if (!password) {
        const char* fromEnvironment = std::getenv("QUORREL_ODBC_PASSWORD");
        password = fromEnvironment ? fromEnvironment : "";
    }

    CollectingSink sink;
    CXmlGenerator generator(*dsn, user.value_or(""), *password, maxRows);
    generator.SetQuery(*query);
    if (!generator.IsSelectQuery()) {
        std::cerr << CXmlGenerator::kInvalidQueryMessage << '\n';
        return kExitMessage;
    }
    if (listColumns) {
        std::vector<std::string> names;
        bool collected = generator.CollectColumnNames(names, sink);
        PrintMessages(sink);
        if (!collected) {
            return kExitMessage;
        }
        for (const std::string& name : names) {
            std::cout << name << '\n';
        }
        return sink.messages.empty() ? 0 : kExitMessage;
    }
    std::vector<std::string> choices;
    const std::string modeList = modes.value_or("");
    for (std::string_view rest = modeList; !rest.empty();) {
        std::size_t comma = rest.find(',');
        choices.emplace_back(rest.substr(0, comma));
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    }
    generator.SetColumnModes(choices);
    XmlDocument dom;
    int result = generator.Generate(dom, sink);
    PrintMessages(sink);
    if (result != 0) {
        return kExitMessage;
    }
    std::string text;
    try {
        text = dom.xml();
    } catch (const std::bad_alloc&) {
        std::cerr << CXmlGenerator::kNoMemoryMessage << '\n';
        return kExitMessage;
    }
    std::fwrite(text.data(), 1, text.size(), stdout);
    return sink.messages.empty() ? 0 : kExitMessage;
}

}  // namespace

std::unique_ptr<Command> MakeDb2Xml() {
    return std::make_unique<Db2Xml>();
}

}  // namespace quorrel::cli
