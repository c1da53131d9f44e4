#include "cli/Common.h"

#include <algorithm>
#include <cstdio>
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

Arguments ParseArguments(const std::vector<std::string_view>& args, bool editOptions,
                         bool treeOptions, bool formatOptions) {
    Arguments parsed;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view a = args[i];
        auto takeValue = [&](std::optional<std::string>& into) {
            if (i + 1 >= args.size()) {
                parsed.error = std::string(a) + " needs a value";
            } else {
                into = std::string(args[++i]);
            }
        };
        if (a == "--no-validate") {
            parsed.validate = false;
        } else if (treeOptions && a == "--positions") {
            parsed.positions = true;
        } else if (editOptions && a == "--all") {
            parsed.all = true;
        } else if (editOptions && a == "--cancel") {
            parsed.cancel = true;
        } else if (editOptions && a == "--verbose") {
            parsed.verbose = true;
        } else if (editOptions && a == "--name") {
            takeValue(parsed.name);
        } else if (editOptions && a == "--value") {
            takeValue(parsed.value);
        } else if ((editOptions || formatOptions) && a == "-o") {
            takeValue(parsed.output);
        } else if (formatOptions && a == "--indent") {
            takeValue(parsed.indent);
        } else if (a.starts_with("-") && a.size() > 1) {
            parsed.error = "unknown option " + std::string(a);
        } else {
            parsed.positional.emplace_back(a);
        }
        if (!parsed.error.empty()) {
            break;
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
