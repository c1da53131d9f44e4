#include "cli/Common.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <iostream>

#include "doc/core/Disposal.h"

namespace quorrel::cli {

int UsageError(const std::string& message) {
    std::cerr << "quorrel-cli: " << message << " (see quorrel-cli --help)\n";
    return kExitUsage;
}

void PrintMessages(const CollectingSink& sink) {
    for (const std::string& m : sink.messages) {
        std::cerr << m << '\n';
    }
}

namespace {

// One option: false when the command does not take it.
bool TakeOption(Arguments& parsed, const OptionSet& options, std::string_view a,
                const std::function<std::optional<std::string>()>& value) {
    auto take = [&](std::optional<std::string>& into) {
        if (std::optional<std::string> v = value()) {
            into = std::move(v);
        } else {
            parsed.error = std::string(a) + " needs a value";
        }
    };
    if (a == "--no-validate") {
        parsed.validate = false;
    } else if (options.tree && a == "--positions") {
        parsed.positions = true;
    } else if (options.matches && a == "--all") {
        parsed.error = "--all does not go with --xpath: the command runs on every match";
    } else if (options.edit && a == "--all") {
        parsed.all = true;
    } else if (options.edit && a == "--cancel") {
        parsed.cancel = true;
    } else if (options.edit && a == "--verbose") {
        parsed.verbose = true;
    } else if (options.edit && a == "--name") {
        take(parsed.name);
    } else if (options.edit && a == "--value") {
        take(parsed.value);
    } else if ((options.edit || options.format) && a == "-o") {
        take(parsed.output);
    } else if (options.format && a == "--indent") {
        take(parsed.indent);
    } else if (options.matches && a == "--xpath") {
        take(parsed.expression);
    } else if (options.xpath && a == "--ns") {
        std::optional<std::string> binding;
        take(binding);
        if (binding) {
            if (std::optional<NamespaceBinding> b = ParseNamespaceBinding(*binding)) {
                parsed.namespaces.push_back(std::move(*b));
            } else {
                parsed.error = "--ns takes PREFIX=URI, not " + *binding;
            }
        }
    } else {
        return false;
    }
    return true;
}

}  // namespace

Arguments ParseArguments(const std::vector<std::string_view>& args, OptionSet options) {
    Arguments parsed;
    bool optionsEnd = false;
    for (std::size_t i = 0; i < args.size() && parsed.error.empty(); ++i) {
        const std::string_view a = args[i];
        auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= args.size()) {
                return std::nullopt;
            }
            return std::string(args[++i]);
        };
        if (optionsEnd || a == "-" || !a.starts_with("-")) {
            parsed.positional.emplace_back(a);
        } else if (a == "--") {
            optionsEnd = true;
        } else if (!TakeOption(parsed, options, a, value)) {
            parsed.error = "unknown option " + std::string(a);
        }
    }
    return parsed;
}

OpenedDocument::~OpenedDocument() {
    AbandonAtExit(doc.TakeDom());
}

void Open(OpenedDocument& opened, const std::string& file, bool validate, int maxDepth) {
    if (!validate) {
        opened.doc.OnValidateNo();
    }
    LoadResult loaded = opened.doc.OnOpenDocument(file);
    if (!loaded.opened) {
        std::cerr << "quorrel-cli: " << loaded.error << '\n';
        opened.status = kExitNoInput;
        return;
    }
    if (loaded.nulOffset) {
        std::cerr << "quorrel-cli: warning: " << file << " holds a NUL character at byte "
                  << *loaded.nulOffset << "; the text ends there.\n";
    }
    // Warnings (bytes the encoding does not define, DTDs not read) go to
    // standard error too; only a parse error stops the command.
    PrintMessages(opened.sink);
    if (opened.doc.HasDom() && opened.doc.Dom().parseError().line > 0) {
        opened.status = kExitParseError;
    }
    opened.sink.messages.clear();
    if (opened.doc.HasDom() && !opened.doc.Text().empty()) {
        BuildTreeFromDom(opened.doc.Dom(), opened.items, maxDepth);
    }
}

int LevelsOf(std::string_view position) {
    return int(std::count(position.begin(), position.end(), '.'));
}

const CTreeItem* OpenAtItem(OpenedDocument& opened, const Arguments& parsed) {
    const std::string& position = parsed.positional.at(1);
    Open(opened, parsed.positional.at(0), parsed.validate, LevelsOf(position));
    if (opened.status != 0) {
        return nullptr;
    }
    const CTreeItem* item = FindItemAt(opened.items, position);
    if (item == nullptr) {
        opened.status = UsageError("no item " + position + " in the tree");
    }
    return item;
}

bool IsElementItem(const CTreeItem* item) {
    return item->selectedImage() == IMG_ROOT || item->selectedImage() == IMG_ELEMENT_LEAF ||
           item->selectedImage() == IMG_ELEMENT_PARENT_OPEN;
}

int WriteText(OpenedDocument& opened, const std::optional<std::string>& output) {
    if (output) {
        std::string error = opened.doc.OnSaveDocument(*output, opened.doc.Text());
        if (!error.empty()) {
            std::cerr << "quorrel-cli: " << error << '\n';
            return kExitMessage;
        }
    } else {
        std::fwrite(opened.doc.Text().data(), 1, opened.doc.Text().size(), stdout);
    }
    return opened.sink.messages.empty() ? 0 : kExitMessage;
}

}  // namespace quorrel::cli
