// quorrel-cli edit: one tree command on one item, its dialog filled in.
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/Command.h"
#include "cli/Common.h"
#include "cli/XPathCommand.h"
#include "edit/core/TreeCommands.h"

namespace quorrel::cli {
namespace {

constexpr const char* kUsage =
    "  edit [--no-validate] FILE ITEM COMMAND [--all] [--name TEXT] [--value TEXT]\n"
    "       [--cancel] [--verbose] [-o OUT]\n"
    "      Run one tree command as if ITEM were the current item and its dialog\n"
    "      had been filled in: --name is the name field, --value the value or\n"
    "      text field, --all ticks \"For all occurrences\", --cancel presses\n"
    "      Cancel. COMMAND is the command's number or one of: add-attribute,\n"
    "      add-child-element, add-text-node, rename-element,\n"
    "      delete-element-and-children, delete-element-only,\n"
    "      duplicate-element-subtree, element-to-attribute,\n"
    "      change-attribute-name, change-attribute-value, delete-attribute,\n"
    "      attribute-to-element, change-text-value, delete-text-node.\n"
    "      The document text afterwards goes to standard output (UTF-8), or is\n"
    "      saved to OUT in the file's own encoding. Message boxes go to standard\n"
    "      error and make the exit status 1; a command the item does not enable\n"
    "      exits with 3. --verbose prints \"modified: yes|no\" to standard error.\n"
    "  edit [--no-validate] FILE --xpath EXPR COMMAND [--ns PREFIX=URI]...\n"
    "       [--name TEXT] [--value TEXT] [--cancel] [--verbose] [-o OUT]\n"
    "      Run COMMAND on every node the XPath expression EXPR finds (see xpath),\n"
    "      as one command: the nodes fixed when found and changed in document\n"
    "      order, elements for the element commands, attributes or text nodes\n"
    "      for theirs. delete-element-and-children deletes the matches and\n"
    "      their children, not every element of their names. Matches of more\n"
    "      than one kind, none, or a number, string or boolean print a message\n"
    "      and exit with 1; a command their kind does not enable, or matches\n"
    "      the tree shows no item for that would enable it (the document\n"
    "      element, its attributes), exit with 3; an expression that does not\n"
    "      compile, with 64. --verbose also prints \"matches: N\".\n";

class Edit final : public Command {
public:
    std::string_view name() const override { return "edit"; }
    std::string_view usage() const override { return kUsage; }
    int run(const std::vector<std::string_view>& args) const override;
};

int Edit::run(const std::vector<std::string_view>& args) const {
    if (EditNamesXPath(args)) {
        return EditMatchesCommand(args);
    }
    Arguments parsed = ParseArguments(args, {.edit = true});
    if (!parsed.error.empty()) {
        return UsageError(parsed.error);
    }
    if (parsed.positional.size() != 3) {
        return UsageError("edit takes FILE, ITEM and COMMAND");
    }
    std::optional<TreeCommand> command = TreeCommandFromName(parsed.positional[2]);
    if (!command) {
        return UsageError("unknown tree command " + parsed.positional[2]);
    }
    OpenedDocument opened;
    const CTreeItem* item = OpenAtItem(opened, parsed);
    if (item == nullptr) {
        return opened.status;
    }
    if (!IsTreeCommandEnabled(*command, item->selectedImage())) {
        std::cerr << "quorrel-cli: " << TreeCommandName(*command) << " is not enabled on item "
                  << parsed.positional[1] << " (" << item->label() << ")\n";
        return kExitNotEnabled;
    }
    CurrentItem current = CurrentItemOf(item);
    CommandInputs inputs{parsed.cancel, parsed.name.value_or(""), parsed.value.value_or(""),
                         parsed.all};
    // The command line prints text, never tree items: none are built for the result.
    TreeCommandResult result = ComputeTreeCommand(opened.doc, opened.doc.TakeDom(), current,
                                                  *command, inputs, ResultFor::Text);
    ApplyTreeCommand(opened.doc, opened.items, std::move(result), opened.sink, nullptr);
    PrintMessages(opened.sink);
    if (parsed.verbose) {
        std::cerr << "modified: " << (opened.doc.IsModified() ? "yes" : "no") << '\n';
    }
    return WriteText(opened, parsed.output);
}

}  // namespace

std::unique_ptr<Command> MakeEdit() {
    return std::make_unique<Edit>();
}

}  // namespace quorrel::cli
