// What the quorrel-cli commands share: exit statuses, usage errors, the
// common options and a document opened as the editor opens it.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "doc/core/Doc.h"
#include "doc/core/MessageSink.h"
#include "doc/core/XPath.h"
#include "views/tree/core/TreeItems.h"

namespace quorrel::cli {

constexpr int kExitMessage = 1;
constexpr int kExitParseError = 2;
constexpr int kExitNotEnabled = 3;
constexpr int kExitUsage = 64;
constexpr int kExitNoInput = 66;

// Prints the message with a pointer to --help; returns kExitUsage.
int UsageError(const std::string& message);

// The messages to standard error, one a line.
void PrintMessages(const CollectingSink& sink);

// Arguments: options (with or without a value) and the positional rest.
struct Arguments {
    std::vector<std::string> positional;
    bool validate = true;
    bool all = false;
    bool cancel = false;
    bool verbose = false;
    bool positions = false;
    std::optional<std::string> name, value, output, indent, expression;
    std::vector<NamespaceBinding> namespaces;
    std::string error;
};

// The options a command takes besides --no-validate; after "--" every
// argument is positional (an XPath expression may start with "-").
struct OptionSet {
    bool edit = false;     // --all --cancel --verbose --name --value -o
    bool tree = false;     // --positions
    bool format = false;   // -o --indent
    bool xpath = false;    // --ns PREFIX=URI
    bool matches = false;  // edit --xpath: --xpath EXPR, and no --all
};

Arguments ParseArguments(const std::vector<std::string_view>& args, OptionSet options = {});

// A document opened as File > Open does, with its tree items built.
struct OpenedDocument {
    CollectingSink sink;
    CDoc doc{sink};
    CTreeItems items;
    int status = 0;  // non-zero: stop with this exit status
    // The program ends right after: freeing a large DOM would only delay it.
    ~OpenedDocument();
};

// maxDepth: the items below it are not needed (-1: all are).
void Open(OpenedDocument& opened, const std::string& file, bool validate, int maxDepth = -1);

// The levels of items a command on the item at an ITEM position reads: the
// item's own and those above it ("0.2" is on the second). Elements on the
// item's own level may then show as leaves, which enables the same commands.
int LevelsOf(std::string_view position);

// Opens FILE, the first positional argument, with the items down to ITEM,
// the second, and finds that item: null (opened.status set) when either fails.
const CTreeItem* OpenAtItem(OpenedDocument& opened, const Arguments& parsed);

bool IsElementItem(const CTreeItem* item);

// The document's text afterwards: saved to output in the file's encoding,
// or written to standard output (UTF-8).
int WriteText(OpenedDocument& opened, const std::optional<std::string>& output);

}  // namespace quorrel::cli
