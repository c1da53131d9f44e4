// quorrel-cli: the editor's core from the command line. Each subcommand is
// a Command of its own file; main only picks one and runs it.
#include <iostream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cli/Command.h"
#include "cli/Common.h"
#include "doc/core/Disposal.h"

namespace {

using namespace quorrel::cli;

// In the order --help lists them.
std::vector<std::unique_ptr<Command>> Commands() {
    std::vector<std::unique_ptr<Command>> commands;
    commands.push_back(MakeTree());
    commands.push_back(MakePath());
    commands.push_back(MakeEdit());
    commands.push_back(MakeXPath());
    commands.push_back(MakeFormat());
    commands.push_back(MakeHighlight());
    commands.push_back(MakeDb2Xml());
    commands.push_back(MakeFetch());
    return commands;
}

constexpr const char* kHelpStart =
    "Usage: quorrel-cli COMMAND [OPTIONS] ARGS\n"
    "\n"
    "Commands:\n";

constexpr const char* kHelpEnd =
    "  --help\n"
    "      Print this help.\n"
    "\n"
    "Exit status: 0 success, 1 a message was shown, 2 parse error, 3 command not\n"
    "enabled on the item, 64 usage error, 66 file not readable.\n";

void PrintHelp(const std::vector<std::unique_ptr<Command>>& commands) {
    std::cout << kHelpStart;
    for (const auto& command : commands) {
        std::cout << command->usage();
    }
    std::cout << kHelpEnd;
}

}  // namespace

int main(int argc, char** argv) {
    // One command and the program ends: documents are not freed on the way.
    quorrel::LeaveDocumentsToTheSystem();
    std::vector<std::string_view> args(argv + 1, argv + argc);
    if (args.empty()) {
        return UsageError("no command given");
    }
    std::string_view name = args.front();
    args.erase(args.begin());
    const std::vector<std::unique_ptr<Command>> commands = Commands();
    if (name == "--help" || name == "-h" || name == "help") {
        PrintHelp(commands);
        return 0;
    }
    for (const auto& command : commands) {
        if (command->name() == name) {
            return command->run(args);
        }
    }
    return UsageError("unknown command " + std::string(name));
}
