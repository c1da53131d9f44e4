#include "cli/XPathCommand.h"

#include <cstdio>
#include <iostream>
#include <optional>
#include <string>

#include "cli/Command.h"
#include "cli/Common.h"
#include "doc/core/Disposal.h"
#include "doc/core/Doc.h"
#include "doc/core/MessageSink.h"
#include "doc/core/XPath.h"
#include "edit/core/MatchCommands.h"
#include "edit/core/TreeCommands.h"
#include "views/tree/core/TreeListing.h"

namespace quorrel::cli {

namespace {

constexpr int kExitEmpty = 1;  // xpath: an empty node-set
// The reason, and the expression with a caret under the place.
void PrintExpressionError(const XPathError& error, std::string_view expression) {
    std::cerr << "quorrel-cli: " << DescribeXPathError(error, expression) << '\n';
    if (!error.compiling) {
        return;
    }
    std::string caret;
    for (std::size_t i = 0; i < error.offset && i < expression.size(); ++i) {
        if ((static_cast<unsigned char>(expression[i]) & 0xC0) != 0x80) {
            caret += expression[i] == '\t' ? '\t' : ' ';
        }
    }
    std::cerr << "  " << expression << "\n  " << caret << "^\n";
}

void Flush(std::string& out, bool always) {
    if (always || out.size() > (1 << 20)) {
        std::fwrite(out.data(), 1, out.size(), stdout);
        out.clear();
    }
}

constexpr const char* kUsage =
    "  xpath [--no-validate] [--ns PREFIX=URI]... FILE EXPR\n"
    "      Open FILE as the editor does and evaluate the XPath 1.0 expression\n"
    "      EXPR (libxml2's engine) with the document node as context. The\n"
    "      prefixes the document declares stand for their namespaces (the first\n"
    "      declaration of each); --ns adds or replaces one, and so gives a\n"
    "      default namespace a prefix: names without a prefix are in no\n"
    "      namespace. A node-set prints one line per node in document order:\n"
    "      ITEM-PATH, a tab, @LINE:COLUMN where the node starts in the text (as\n"
    "      tree --positions counts; @? when unknown), a tab and the first 80\n"
    "      characters of its string value, escaped as tree escapes labels.\n"
    "      ITEM-PATH is the path of the node's tree item (/a[0]/b[1],\n"
    "      /a[0]/b[1]/@c, /a[0]/text()[1], /a[0]/comment()[1]), or - for a node\n"
    "      without one (processing instructions, the document element's\n"
    "      attributes, namespace nodes, the document). A number, string or\n"
    "      boolean prints its string value, escaped the same way. The document\n"
    "      holds no text made only of blanks: text() finds none of the layout\n"
    "      between elements that other tools count. Exit status 0 with a result,\n"
    "      1 with an empty node-set, 2 when FILE does not parse, 64 when EXPR\n"
    "      does not compile or evaluate (the reason on standard error).\n";

class XPath final : public Command {
public:
    std::string_view name() const override { return "xpath"; }
    std::string_view usage() const override { return kUsage; }
    int run(const std::vector<std::string_view>& args) const override { return XPathCommand(args); }
};

}  // namespace

std::unique_ptr<Command> MakeXPath() {
    return std::make_unique<XPath>();
}

int XPathCommand(const std::vector<std::string_view>& args) {
    Arguments parsed = ParseArguments(args, {.xpath = true});
    if (!parsed.error.empty()) {
        return UsageError(parsed.error);
    }
    if (parsed.positional.size() != 2) {
        return UsageError("xpath takes FILE and EXPR");
    }
    OpenedDocument opened;
    Open(opened, parsed.positional[0], parsed.validate, 0);  // no tree items are printed
    if (opened.status != 0) {
        return opened.status;
    }
    XmlDocument& dom = opened.doc.WholeDom();
    const XPathQuery query{parsed.positional[1],
                           MergeNamespaces(DocumentNamespaces(dom), parsed.namespaces)};
    XPathOutcome outcome = EvaluateXPath(dom, opened.doc.Text(), query);
    if (outcome.status != XPathStatus::Done) {
        PrintExpressionError(outcome.error, query.expression);
        return kExitUsage;
    }
    const XPathResult& result = outcome.result;
    std::string out;
    if (!result.isNodeSet()) {
        AppendEscapedLabel(out, result.string());
        out += '\n';
        Flush(out, true);
        return 0;
    }
    for (std::size_t i = 0; i < result.size(); ++i) {
        XPathRow row = result.row(i);
        out += row.itemPath.empty() ? std::string_view("-") : row.itemPath;
        out += '\t';
        AppendPlace(out, long(row.line), long(row.column));
        out += '\t';
        AppendEscapedLabel(out, row.text);
        out += '\n';
        Flush(out, false);
    }
    Flush(out, true);
    return result.size() > 0 ? 0 : kExitEmpty;
}

bool EditNamesXPath(const std::vector<std::string_view>& args) {
    for (std::string_view a : args) {
        if (a == "--xpath") {
            return true;
        }
        if (a == "--") {
            return false;
        }
    }
    return false;
}

int EditMatchesCommand(const std::vector<std::string_view>& args) {
    Arguments parsed = ParseArguments(args, {.edit = true, .xpath = true, .matches = true});
    if (!parsed.error.empty()) {
        return UsageError(parsed.error);
    }
    if (!parsed.expression || parsed.positional.size() != 2) {
        return UsageError("edit --xpath takes FILE, --xpath EXPR and COMMAND");
    }
    std::optional<TreeCommand> command = TreeCommandFromName(parsed.positional[1]);
    if (!command) {
        return UsageError("unknown tree command " + parsed.positional[1]);
    }
    OpenedDocument opened;
    Open(opened, parsed.positional[0], parsed.validate, 0);  // no tree items are printed
    if (opened.status != 0) {
        return opened.status;
    }
    XmlDocument& dom = opened.doc.WholeDom();
    const XPathQuery query{*parsed.expression,
                           MergeNamespaces(DocumentNamespaces(dom), parsed.namespaces)};
    CommandInputs inputs{parsed.cancel, parsed.name.value_or(""), parsed.value.value_or(""), false};
    MatchPlan plan;
    // The command line prints text, never tree items: none are built for the result.
    TreeCommandResult result = ComputeMatchCommand(opened.doc, opened.doc.TakeDom(), query,
                                                   *command, inputs, ResultFor::Text, &plan);
    CTreeItems items;
    ApplyTreeCommand(opened.doc, items, std::move(result), opened.sink, nullptr);
    if (plan.refusal == MatchRefusal::Expression || plan.refusal == MatchRefusal::WrongKind ||
        plan.refusal == MatchRefusal::NoCommands || plan.refusal == MatchRefusal::NoTreeItem) {
        PrintMessages(opened.sink);
        return plan.refusal == MatchRefusal::Expression ? kExitUsage : kExitNotEnabled;
    }
    const bool messages = !opened.sink.messages.empty();
    PrintMessages(opened.sink);
    if (parsed.verbose) {
        std::cerr << "matches: " << plan.count << '\n'
                  << "modified: " << (opened.doc.IsModified() ? "yes" : "no") << '\n';
    }
    const int written = WriteText(opened, parsed.output);
    return messages ? kExitMessage : written;
}

}  // namespace quorrel::cli
