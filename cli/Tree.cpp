// quorrel-cli tree: the tree items of a document, one a line.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "cli/Command.h"
#include "cli/Common.h"
#include "views/tree/core/TreeListing.h"

namespace quorrel::cli {
namespace {

constexpr const char* kUsage =
    "  tree [--no-validate] [--positions] FILE\n"
    "      Open FILE as the editor does (DTD/XML Schema validation on unless\n"
    "      --no-validate) and print the tree items in document order, one per\n"
    "      line: two blanks per depth level, IMAGE/SELECTED-IMAGE, a blank and the\n"
    "      label, with \\ \\n \\r \\t escaped. --positions ends each line with a\n"
    "      tab and @LINE:COLUMN, where the item's node starts in the decoded text\n"
    "      (both from 1; the column counts characters; CR LF, LF and CR each end a\n"
    "      line): an element's '<', an attribute's name, a text's first character,\n"
    "      a comment's '<!--', a CDATA section's '<![CDATA['. A parse error is\n"
    "      printed to standard error and the exit status is 2.\n";

void PrintItems(const CTreeItems& items, const std::string* text) {
    WriteTreeListing(items, {.positionsIn = text}, [](std::string_view piece) {
        std::fwrite(piece.data(), 1, piece.size(), stdout);
    });
}

class Tree final : public Command {
public:
    std::string_view name() const override { return "tree"; }
    std::string_view usage() const override { return kUsage; }
    int run(const std::vector<std::string_view>& args) const override;
};

int Tree::run(const std::vector<std::string_view>& args) const {
    Arguments parsed = ParseArguments(args, {.tree = true});
    if (!parsed.error.empty()) {
        return UsageError(parsed.error);
    }
    if (parsed.positional.size() != 1) {
        return UsageError("tree takes one FILE");
    }
    OpenedDocument opened;
    Open(opened, parsed.positional[0], parsed.validate);
    if (opened.status == kExitNoInput) {
        return opened.status;
    }
    PrintItems(opened.items, parsed.positions ? &opened.doc.Text() : nullptr);
    return opened.status;
}

}  // namespace

std::unique_ptr<Command> MakeTree() {
    return std::make_unique<Tree>();
}

}  // namespace quorrel::cli
