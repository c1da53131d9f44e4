// One quorrel-cli subcommand: main looks it up by name and runs it.
#pragma once

#include <memory>
#include <string_view>
#include <vector>

namespace quorrel::cli {

class Command {
public:
    virtual ~Command() = default;
    // The word that selects the command: quorrel-cli NAME ...
    virtual std::string_view name() const = 0;
    // The command's entry in --help: its synopsis and what it does.
    virtual std::string_view usage() const = 0;
    // args: what follows the name. Returns the exit status.
    virtual int run(const std::vector<std::string_view>& args) const = 0;
};

// Each command, from its own file.
std::unique_ptr<Command> MakeTree();
std::unique_ptr<Command> MakePath();
std::unique_ptr<Command> MakeEdit();
std::unique_ptr<Command> MakeXPath();
std::unique_ptr<Command> MakeFormat();
std::unique_ptr<Command> MakeHighlight();
std::unique_ptr<Command> MakeDb2Xml();
std::unique_ptr<Command> MakeFetch();

}  // namespace quorrel::cli
