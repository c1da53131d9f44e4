// quorrel-cli path: the item path the tree commands build for an item.
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/Command.h"
#include "cli/Common.h"
#include "views/tree/core/ItemPath.h"

namespace quorrel::cli {
namespace {

constexpr const char* kUsage =
    "  path [--no-validate] FILE ITEM\n"
    "      Print the item path the tree commands build for ITEM: its own for an\n"
    "      element item, its owner element's for any other item. ITEM is the\n"
    "      item's position in the tree: dot-separated 0-based positions, 0 for\n"
    "      the top item, 0.2 for its third child item, 0.2.0 for the first child\n"
    "      of that (attribute, text, comment and CDATA items count).\n";

class Path final : public Command {
public:
    std::string_view name() const override { return "path"; }
    std::string_view usage() const override { return kUsage; }
    int run(const std::vector<std::string_view>& args) const override;
};

int Path::run(const std::vector<std::string_view>& args) const {
    Arguments parsed = ParseArguments(args);
    if (!parsed.error.empty()) {
        return UsageError(parsed.error);
    }
    if (parsed.positional.size() != 2) {
        return UsageError("path takes FILE and ITEM");
    }
    OpenedDocument opened;
    const CTreeItem* item = OpenAtItem(opened, parsed);
    if (item == nullptr) {
        return opened.status;
    }
    std::cout << ItemPath(IsElementItem(item) ? item : item->parent()) << '\n';
    return 0;
}

}  // namespace

std::unique_ptr<Command> MakePath() {
    return std::make_unique<Path>();
}

}  // namespace quorrel::cli
