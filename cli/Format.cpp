// quorrel-cli format: Xml > Format Document on a file.
#include <charconv>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/Command.h"
#include "cli/Common.h"
#include "edit/core/TreeCommands.h"

namespace quorrel::cli {
namespace {

constexpr const char* kUsage =
    "  format [--no-validate] [--indent N|tab] FILE [-o OUT]\n"
    "      Run Xml > Format Document: open FILE as the editor does and indent it\n"
    "      anew, each child of element content on a line of its own, one step\n"
    "      deeper than its parent: N blanks, a tab, or by default the step the\n"
    "      document itself indents with. Mixed content, xml:space=\"preserve\",\n"
    "      what stands inside start tags, comments and references stay as\n"
    "      written. The text goes to standard output (UTF-8), or is saved to OUT\n"
    "      in the file's own encoding.\n";

// The indentation step of --indent: "tab", or a number of blanks.
std::optional<std::string> IndentStep(std::string_view value) {
    if (value == "tab") {
        return "\t";
    }
    int blanks = -1;
    auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), blanks);
    if (ec != std::errc() || end != value.data() + value.size() || blanks < 0 || blanks > 16) {
        return std::nullopt;
    }
    return std::string(std::size_t(blanks), ' ');
}

class Format final : public Command {
public:
    std::string_view name() const override { return "format"; }
    std::string_view usage() const override { return kUsage; }
    int run(const std::vector<std::string_view>& args) const override;
};

int Format::run(const std::vector<std::string_view>& args) const {
    Arguments parsed = ParseArguments(args, {.format = true});
    if (!parsed.error.empty()) {
        return UsageError(parsed.error);
    }
    if (parsed.positional.size() != 1) {
        return UsageError("format takes one FILE");
    }
    std::string indent;  // the document's own
    if (parsed.indent) {
        std::optional<std::string> step = IndentStep(*parsed.indent);
        if (!step) {
            return UsageError("--indent takes tab or a number of blanks from 0 to 16");
        }
        indent = *step;
    }
    OpenedDocument opened;
    Open(opened, parsed.positional[0], parsed.validate, 0);
    if (opened.status != 0) {
        return opened.status;
    }
    TreeCommandResult result =
        ComputeFormatDocument(opened.doc, opened.doc.TakeDom(), indent, ResultFor::Text);
    ApplyTreeCommand(opened.doc, opened.items, std::move(result), opened.sink, nullptr);
    PrintMessages(opened.sink);
    return WriteText(opened, parsed.output);
}

}  // namespace

std::unique_ptr<Command> MakeFormat() {
    return std::make_unique<Format>();
}

}  // namespace quorrel::cli
