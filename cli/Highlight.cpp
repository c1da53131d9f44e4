// quorrel-cli highlight: a file coloured as the source pane colours it.
#include <cstdio>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/Command.h"
#include "cli/Common.h"
#include "doc/core/FileCodec.h"
#include "views/source/core/Colorize.h"

namespace quorrel::cli {
namespace {

constexpr const char* kUsage =
    "  highlight [--format spans|ansi] FILE\n"
    "      Read FILE as the editor opens it (decoded to UTF-8, not parsed) and\n"
    "      colour it as the source pane does. spans, the default, prints one line\n"
    "      per run, START END FORMAT: [START, END) are byte offsets into the\n"
    "      decoded UTF-8 text, FORMAT is plain, tag, string or keyword; the runs\n"
    "      cover the text in order and neighbours differ. ansi prints the text\n"
    "      with terminal colours: tags blue, strings magenta, keywords bold, each\n"
    "      coloured run followed by a reset.\n";

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

class Highlight final : public Command {
public:
    std::string_view name() const override { return "highlight"; }
    std::string_view usage() const override { return kUsage; }
    int run(const std::vector<std::string_view>& args) const override;
};

int Highlight::run(const std::vector<std::string_view>& args) const {
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

}  // namespace

std::unique_ptr<Command> MakeHighlight() {
    return std::make_unique<Highlight>();
}

}  // namespace quorrel::cli
