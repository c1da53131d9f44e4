// The command line's XPath: `xpath` prints what an expression finds, and
// `edit FILE --xpath EXPR COMMAND` runs a tree command on every match.
#pragma once

#include <string_view>
#include <vector>

namespace quorrel::cli {

// quorrel-cli xpath [--no-validate] [--ns PREFIX=URI]... FILE EXPR
int XPathCommand(const std::vector<std::string_view>& args);
// Whether edit's arguments name an expression rather than an item.
bool EditNamesXPath(const std::vector<std::string_view>& args);
// quorrel-cli edit FILE --xpath EXPR COMMAND [--name TEXT] [--value TEXT] ...
int EditMatchesCommand(const std::vector<std::string_view>& args);

}  // namespace quorrel::cli
