// quorrel-cli: the editor's core from the command line.
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/core/XmlGenerator.h"
#include "doc/core/Doc.h"
#include "doc/core/FileCodec.h"
#include "doc/core/MessageSink.h"
#include "edit/core/ItemPath.h"
#include "edit/core/TreeCommands.h"
#include "views/source/core/Colorize.h"
#include "views/tree/core/TreeItems.h"
#include "views/tree/core/TreeListing.h"

namespace {

using namespace quorrel;

constexpr int kExitMessage = 1;
constexpr int kExitParseError = 2;
constexpr int kExitNotEnabled = 3;
constexpr int kExitUsage = 64;
constexpr int kExitNoInput = 66;

constexpr const char* kHelp =
    "Usage: quorrel-cli COMMAND [OPTIONS] ARGS\n"
    "\n"
    "Commands:\n"
    "  tree [--no-validate] [--positions] FILE\n"
    "      Open FILE as the editor does (DTD/XML Schema validation on unless\n"
    "      --no-validate) and print the tree items in document order, one per\n"
    "      line: two blanks per depth level, IMAGE/SELECTED-IMAGE, a blank and the\n"
    "      label, with \\ \\n \\r \\t escaped. --positions ends each line with a\n"
    "      tab and @LINE:COLUMN, where the item's node starts in the decoded text\n"
    "      (both from 1; the column counts characters; CR LF, LF and CR each end a\n"
    "      line): an element's '<', an attribute's name, a text's first character,\n"
    "      a comment's '<!--', a CDATA section's '<![CDATA['. A parse error is\n"
    "      printed to standard error and the exit status is 2.\n"
    "  path [--no-validate] FILE ITEM\n"
    "      Print the item path the tree commands build for ITEM: its own for an\n"
    "      element item, its owner element's for any other item. ITEM is the\n"
    "      item's position in the tree: dot-separated 0-based positions, 0 for\n"
    "      the top item, 0.2 for its third child item, 0.2.0 for the first child\n"
    "      of that (attribute, text, comment and CDATA items count).\n"
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
    "  format [--no-validate] [--indent N|tab] FILE [-o OUT]\n"
    "      Run Xml > Format Document: open FILE as the editor does and indent it\n"
    "      anew, each child of element content on a line of its own, one step\n"
    "      deeper than its parent: N blanks, a tab, or by default the step the\n"
    "      document itself indents with. Mixed content, xml:space=\"preserve\",\n"
    "      what stands inside start tags, comments and references stay as\n"
    "      written. The text goes to standard output (UTF-8), or is saved to OUT\n"
    "      in the file's own encoding.\n"
    "  highlight [--format spans|ansi] FILE\n"
    "      Read FILE as the editor opens it (decoded to UTF-8, not parsed) and\n"
    "      colour it as the source pane does. spans, the default, prints one line\n"
    "      per run, START END FORMAT: [START, END) are byte offsets into the\n"
    "      decoded UTF-8 text, FORMAT is plain, tag, string or keyword; the runs\n"
    "      cover the text in order and neighbours differ. ansi prints the text\n"
    "      with terminal colours: tags blue, strings magenta, keywords bold, each\n"
    "      coloured run followed by a reset.\n"
    "  db2xml --dsn DSN [--user U] [--password P] --query SQL [--modes A,E,...]\n"
    "         [--max-rows N] [--list-columns]\n"
    "      Run Data Source > Get Xml Data without its dialogs: connect to the ODBC\n"
    "      data source DSN, run the SELECT statement SQL and print the generated\n"
    "      \"rowset\" document, one \"row\" element per row. --modes gives each\n"
    "      column's choice in column order, as in the Attribute/Element dialog: A\n"
    "      (or a) for an attribute, anything else for a child element; columns\n"
    "      without an entry are elements. --max-rows is the row limit (default 500,\n"
    "      any number from 0 up). --list-columns prints the column names the\n"
    "      Attribute/Element dialog would list, one per line, and stops. Without\n"
    "      --password the password is taken from the environment variable\n"
    "      QUORREL_ODBC_PASSWORD, if set. Driver and other messages go to\n"
    "      standard error and make the exit status 1.\n"
    "  fetch [--no-validate] URL\n"
    "      Open the http or https URL as File > Open (URL) does: fetch it\n"
    "      (redirects followed, DTDs and schemas it names fetched beside it, never\n"
    "      read from local files), parse it and print the document text the editor\n"
    "      would show, the parser's serialisation, to standard output. A URL that\n"
    "      cannot be fetched or a document that does not parse prints the message\n"
    "      to standard error and makes the exit status 1. The connect and transfer\n"
    "      time-outs (10 s and 60 s) can be set in milliseconds with the environment\n"
    "      variables QUORREL_CONNECT_TIMEOUT_MS and QUORREL_TRANSFER_TIMEOUT_MS.\n"
    "  --help\n"
    "      Print this help.\n"
    "\n"
    "Exit status: 0 success, 1 a message was shown, 2 parse error, 3 command not\n"
    "enabled on the item, 64 usage error, 66 file not readable.\n";

int UsageError(const std::string& message) {
    std::cerr << "quorrel-cli: " << message << " (see quorrel-cli --help)\n";
    return kExitUsage;
}

void PrintItems(const CTreeItems& items, const std::string* text) {
    WriteTreeListing(items, {.positionsIn = text}, [](std::string_view piece) {
        std::fwrite(piece.data(), 1, piece.size(), stdout);
    });
}

void PrintMessages(const CollectingSink& sink) {
    for (const std::string& m : sink.messages) {
        std::cerr << m << '\n';
    }
}

// Arguments: options (with or without a value) and the positional rest.
struct Arguments {
    std::vector<std::string> positional;
    bool validate = true;
    bool all = false;
    bool cancel = false;
    bool verbose = false;
    bool positions = false;
    std::optional<std::string> name, value, output, indent;
    std::string error;
};

Arguments ParseArguments(const std::vector<std::string_view>& args, bool editOptions,
                         bool treeOptions = false, bool formatOptions = false) {
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

// A document opened as File > Open does, with its tree items built.
struct OpenedDocument {
    CollectingSink sink;
    CDoc doc{sink};
    CTreeItems items;
    int status = 0;  // non-zero: stop with this exit status
    // The program ends right after: freeing a large DOM would only delay it.
    ~OpenedDocument() { AbandonAtExit(std::move(doc.m_pDomDoc)); }
};

// maxDepth: the items below it are not needed (-1: all are).
void Open(OpenedDocument& opened, const std::string& file, bool validate, int maxDepth = -1) {
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
    if (opened.doc.m_pDomDoc && opened.doc.m_pDomDoc->parseError().line > 0) {
        opened.status = kExitParseError;
    }
    opened.sink.messages.clear();
    if (opened.doc.m_pDomDoc && !opened.doc.m_strText.empty()) {
        BuildTreeFromDom(*opened.doc.m_pDomDoc, opened.items, maxDepth);
    }
}

// The levels of items a command on the item at an ITEM position reads: the
// item's own and those above it ("0.2" is on the second). Elements on the
// item's own level may then show as leaves, which enables the same commands.
int LevelsOf(std::string_view position) {
    return int(std::count(position.begin(), position.end(), '.'));
}

bool IsElementItem(const CTreeItem* item) {
    return item->selectedImage() == IMG_ROOT || item->selectedImage() == IMG_ELEMENT_LEAF ||
           item->selectedImage() == IMG_ELEMENT_PARENT_OPEN;
}

int Tree(const std::vector<std::string_view>& args) {
    Arguments parsed = ParseArguments(args, false, true);
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
    PrintItems(opened.items, parsed.positions ? &opened.doc.m_strText : nullptr);
    return opened.status;
}

int Path(const std::vector<std::string_view>& args) {
    Arguments parsed = ParseArguments(args, false);
    if (!parsed.error.empty()) {
        return UsageError(parsed.error);
    }
    if (parsed.positional.size() != 2) {
        return UsageError("path takes FILE and ITEM");
    }
    OpenedDocument opened;
    Open(opened, parsed.positional[0], parsed.validate, LevelsOf(parsed.positional[1]));
    if (opened.status != 0) {
        return opened.status;
    }
    const CTreeItem* item = FindItemAt(opened.items, parsed.positional[1]);
    if (item == nullptr) {
        return UsageError("no item " + parsed.positional[1] + " in the tree");
    }
    std::cout << ItemPath(IsElementItem(item) ? item : item->parent()) << '\n';
    return 0;
}

// The document's text afterwards: saved to output in the file's encoding,
// or written to standard output (UTF-8).
int WriteText(OpenedDocument& opened, const std::optional<std::string>& output) {
    if (output) {
        std::string error = opened.doc.OnSaveDocument(*output, opened.doc.m_strText);
        if (!error.empty()) {
            std::cerr << "quorrel-cli: " << error << '\n';
            return kExitMessage;
        }
    } else {
        std::fwrite(opened.doc.m_strText.data(), 1, opened.doc.m_strText.size(), stdout);
    }
    return opened.sink.messages.empty() ? 0 : kExitMessage;
}

int Edit(const std::vector<std::string_view>& args) {
    Arguments parsed = ParseArguments(args, true);
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
    Open(opened, parsed.positional[0], parsed.validate, LevelsOf(parsed.positional[1]));
    if (opened.status != 0) {
        return opened.status;
    }
    const CTreeItem* item = FindItemAt(opened.items, parsed.positional[1]);
    if (item == nullptr) {
        return UsageError("no item " + parsed.positional[1] + " in the tree");
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
    TreeCommandResult result = ComputeTreeCommand(opened.doc, std::move(opened.doc.m_pDomDoc),
                                                  current, *command, inputs, ResultFor::Text);
    ApplyTreeCommand(opened.doc, opened.items, std::move(result), opened.sink, nullptr);
    PrintMessages(opened.sink);
    if (parsed.verbose) {
        std::cerr << "modified: " << (opened.doc.IsModified() ? "yes" : "no") << '\n';
    }
    return WriteText(opened, parsed.output);
}

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

int Format(const std::vector<std::string_view>& args) {
    Arguments parsed = ParseArguments(args, false, false, true);
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
        ComputeFormatDocument(opened.doc, std::move(opened.doc.m_pDomDoc), indent, ResultFor::Text);
    ApplyTreeCommand(opened.doc, opened.items, std::move(result), opened.sink, nullptr);
    PrintMessages(opened.sink);
    return WriteText(opened, parsed.output);
}

const char* FormatName(TextFormat format) {
    switch (format) {
        case TextFormat::Plain:
            return "plain";
        case TextFormat::Tag:
            return "tag";
        case TextFormat::String:
            return "string";
        case TextFormat::Keyword:
            return "keyword";
    }
    return "plain";
}

const char* AnsiStart(TextFormat format) {
    switch (format) {
        case TextFormat::Tag:
            return "\x1b[34m";
        case TextFormat::String:
            return "\x1b[35m";
        case TextFormat::Keyword:
            return "\x1b[1m";
        case TextFormat::Plain:
            break;
    }
    return "";
}

int Highlight(const std::vector<std::string_view>& args) {
    std::string_view format = "spans";
    std::vector<std::string> positional;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view a = args[i];
        if (a == "--format") {
            if (i + 1 >= args.size()) {
                return UsageError("--format needs a value");
            }
            format = args[++i];
        } else if (a.starts_with("--format=")) {
            format = a.substr(9);
        } else if (a.starts_with("-") && a.size() > 1) {
            return UsageError("unknown option " + std::string(a));
        } else {
            positional.emplace_back(a);
        }
    }
    if (format != "spans" && format != "ansi") {
        return UsageError("unknown format " + std::string(format) + ", use spans or ansi");
    }
    if (positional.size() != 1) {
        return UsageError("highlight takes one FILE");
    }
    // Read and decoded as File > Open does; colouring needs no parse.
    std::string bytes;
    std::string error = ReadWholeFile(positional[0], bytes);
    if (!error.empty()) {
        std::cerr << "quorrel-cli: " << error << '\n';
        return kExitNoInput;
    }
    DecodedFile decoded = DecodeFileBytes(bytes);
    bytes.clear();
    if (decoded.nulOffset) {
        std::cerr << "quorrel-cli: warning: " << positional[0] << " holds a NUL character at byte "
                  << *decoded.nulOffset << "; the text ends there.\n";
    }
    const std::string& text = decoded.text;
    const bool ansi = format == "ansi";
    std::string out;
    ColorizeRange(text, 0, text.size(), ScanState::Outside,
                  [&](std::size_t start, std::size_t end, TextFormat f) {
                      if (ansi) {
                          out += AnsiStart(f);
                          out.append(text, start, end - start);
                          if (f != TextFormat::Plain) {
                              out += "\x1b[0m";
                          }
                      } else {
                          out += std::to_string(start);
                          out += ' ';
                          out += std::to_string(end);
                          out += ' ';
                          out += FormatName(f);
                          out += '\n';
                      }
                      if (out.size() > (1 << 20)) {
                          std::fwrite(out.data(), 1, out.size(), stdout);
                          out.clear();
                      }
                  });
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}

int Db2Xml(const std::vector<std::string_view>& args) {
    std::optional<std::string> dsn, user, password, query, modes, maxRowsText;
    bool listColumns = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view a = args[i];
        std::optional<std::string>* into = a == "--dsn"        ? &dsn
                                           : a == "--user"     ? &user
                                           : a == "--password" ? &password
                                           : a == "--query"    ? &query
                                           : a == "--modes"    ? &modes
                                           : a == "--max-rows" ? &maxRowsText
                                                               : nullptr;
        if (into != nullptr) {
            if (i + 1 >= args.size()) {
                return UsageError(std::string(a) + " needs a value");
            }
            *into = std::string(args[++i]);
        } else if (a == "--list-columns") {
            listColumns = true;
        } else if (a.starts_with("-")) {
            return UsageError("unknown option " + std::string(a));
        } else {
            return UsageError("db2xml takes options only, not " + std::string(a));
        }
    }
    if (!dsn || !query) {
        return UsageError("db2xml needs --dsn and --query");
    }
    int maxRows = 500;
    if (maxRowsText) {
        const char* end = maxRowsText->data() + maxRowsText->size();
        auto [p, ec] = std::from_chars(maxRowsText->data(), end, maxRows);
        if (maxRowsText->empty() || ec != std::errc() || p != end || maxRows < 0) {
            return UsageError("--max-rows takes a whole number from 0 up, not " + *maxRowsText);
        }
    }
    if (!password) {
        const char* fromEnvironment = std::getenv("QUORREL_ODBC_PASSWORD");
        password = fromEnvironment ? fromEnvironment : "";
    }

    CollectingSink sink;
    CXmlGenerator generator(*dsn, user.value_or(""), *password, maxRows);
    generator.SetQuery(*query);
    if (!generator.IsSelectQuery()) {
        std::cerr << CXmlGenerator::kInvalidQueryMessage << '\n';
        return kExitMessage;
    }
    if (listColumns) {
        std::vector<std::string> names;
        bool collected = generator.CollectColumnNames(names, sink);
        PrintMessages(sink);
        if (!collected) {
            return kExitMessage;
        }
        for (const std::string& name : names) {
            std::cout << name << '\n';
        }
        return sink.messages.empty() ? 0 : kExitMessage;
    }
    std::vector<std::string> choices;
    const std::string modeList = modes.value_or("");
    for (std::string_view rest = modeList; !rest.empty();) {
        std::size_t comma = rest.find(',');
        choices.emplace_back(rest.substr(0, comma));
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    }
    generator.SetColumnModes(choices);
    XmlDocument dom;
    int result = generator.Generate(dom, sink);
    PrintMessages(sink);
    if (result != 0) {
        return kExitMessage;
    }
    std::string text;
    try {
        text = dom.xml();
    } catch (const std::bad_alloc&) {
        std::cerr << CXmlGenerator::kNoMemoryMessage << '\n';
        return kExitMessage;
    }
    std::fwrite(text.data(), 1, text.size(), stdout);
    return sink.messages.empty() ? 0 : kExitMessage;
}

int Fetch(const std::vector<std::string_view>& args) {
    Arguments parsed = ParseArguments(args, false);
    if (!parsed.error.empty()) {
        return UsageError(parsed.error);
    }
    if (parsed.positional.size() != 1) {
        return UsageError("fetch takes one URL");
    }
    CollectingSink sink;
    CDoc doc(sink);
    if (!parsed.validate) {
        doc.OnValidateNo();
    }
    bool opened = doc.OnOpenUrl(parsed.positional[0]) == UrlOpenResult::Opened;
    PrintMessages(sink);  // when opened: the DTDs it was opened without
    if (!opened) {
        return kExitMessage;
    }
    std::fwrite(doc.m_strText.data(), 1, doc.m_strText.size(), stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // One command and the program ends: documents are not freed on the way.
    LeaveDocumentsToTheSystem();
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
    if (command == "path") {
        return Path(args);
    }
    if (command == "edit") {
        return Edit(args);
    }
    if (command == "format") {
        return Format(args);
    }
    if (command == "highlight") {
        return Highlight(args);
    }
    if (command == "fetch") {
        return Fetch(args);
    }
    if (command == "db2xml") {
        return Db2Xml(args);
    }
    return UsageError("unknown command " + std::string(command));
}
