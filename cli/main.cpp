// quorrel-cli: the editor's core from the command line.
#include <cstdio>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "doc/core/Doc.h"
#include "doc/core/MessageSink.h"
#include "views/tree/core/TreeItems.h"

namespace {

using namespace quorrel;

constexpr int kExitParseError = 2;
constexpr int kExitUsage = 64;
constexpr int kExitNoInput = 66;

constexpr const char* kHelp =
    "Usage: quorrel-cli COMMAND [OPTIONS] ARGS\n"
    "\n"
    "Commands:\n"
    "  tree [--no-validate] FILE\n"
    "      Open FILE as the editor does (DTD/XML Schema validation on unless\n"
    "      --no-validate) and print the tree items in document order, one per\n"
    "      line: two blanks per depth level, IMAGE/SELECTED-IMAGE, a blank and the\n"
    "      label, with \\ \\n \\r \\t escaped. A parse error is printed to standard\n"
    "      error and the exit status is 2.\n"
    "  --help\n"
    "      Print this help.\n"
    "\n"
    "Exit status: 0 success, 2 parse error, 64 usage error, 66 file not readable.\n";

int UsageError(const std::string& message) {
    std::cerr << "quorrel-cli: " << message << " (see quorrel-cli --help)\n";
    return kExitUsage;
}

void PrintEscaped(std::string& out, std::string_view label) {
    for (char c : label) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default: out += c;
        }
    }
}

void PrintItems(const CTreeItems& items) {
    std::string out;
    struct Entry {
        const CTreeItem* item;
        int depth;
    };
    std::vector<Entry> pending;
    for (auto it = items.TopItems().rbegin(); it != items.TopItems().rend(); ++it) {
        pending.push_back({it->get(), 0});
    }
    while (!pending.empty()) {
        Entry e = pending.back();
        pending.pop_back();
        out.append(std::size_t(e.depth) * 2, ' ');
        out += std::to_string(e.item->image);
        out += '/';
        out += std::to_string(e.item->selectedImage);
        out += ' ';
        PrintEscaped(out, e.item->label);
        out += '\n';
        for (auto it = e.item->children.rbegin(); it != e.item->children.rend(); ++it) {
            pending.push_back({it->get(), e.depth + 1});
        }
        if (out.size() > (1 << 20)) {
            std::fwrite(out.data(), 1, out.size(), stdout);
            out.clear();
        }
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
}

void PrintMessages(const CollectingSink& sink) {
    for (const std::string& m : sink.messages) {
        std::cerr << m << '\n';
    }
}

int Tree(const std::vector<std::string_view>& args) {
    bool validate = true;
    std::string file;
    for (std::string_view a : args) {
        if (a == "--no-validate") {
            validate = false;
        } else if (a.starts_with("--")) {
            return UsageError("unknown option " + std::string(a));
        } else if (file.empty()) {
            file = a;
        } else {
            return UsageError("tree takes one FILE");
        }
    }
    if (file.empty()) {
        return UsageError("tree needs a FILE");
    }
    CollectingSink sink;
    CDoc doc(sink);
    if (!validate) {
        doc.OnValidateNo();
    }
    LoadResult loaded = doc.OnOpenDocument(file);
    if (!loaded.opened) {
        std::cerr << "quorrel-cli: " << loaded.error << '\n';
        return kExitNoInput;
    }
    if (loaded.nulOffset) {
        std::cerr << "quorrel-cli: warning: " << file << " holds a NUL character at byte " << *loaded.nulOffset
                  << "; the text ends there.\n";
    }
    PrintMessages(sink);
    CTreeItems items;
    BuildTreeFromDom(doc, items);
    PrintItems(items);
    return sink.messages.empty() ? 0 : kExitParseError;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string_view> args(argv + 1, argv + argc);
    if (args.empty()) {
        return UsageError("no command given");
    }
    std::string_view command = args.front();
    args.erase(args.begin());
    if (command == "--help" || command == "-h" || command == "help") {
        std::cout << kHelp;
        return 0;
    }
    if (command == "tree") {
        return Tree(args);
    }
    return UsageError("unknown command " + std::string(command));
}
