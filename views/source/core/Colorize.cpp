#include "views/source/core/Colorize.h"

namespace quorrel {

namespace {

// The keyword list, lower case. Lengths run from 5 to 8.
constexpr std::string_view kKeywords[] = {"doctype", "element", "empty",    "pcdata",
                                          "attlist", "cdata",   "required", "entity",
                                          "fixed",   "idref",   "idrefs",   "implied"};
constexpr std::size_t kShortestKeyword = 5;
constexpr std::size_t kLongestKeyword = 8;

}  // namespace

bool IsKeyword(std::string_view word) {
    if (word.size() < kShortestKeyword || word.size() > kLongestKeyword) {
        return false;
    }
    // Lower-cased into a stack buffer: this runs once per word of the text.
    char lower[kLongestKeyword];
    for (std::size_t i = 0; i < word.size(); ++i) {
        char c = word[i];
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        } else if (c < 'a' || c > 'z') {
            return false;  // every keyword is letters only
        }
        lower[i] = c;
    }
    const std::string_view folded(lower, word.size());
    for (std::string_view k : kKeywords) {
        if (k == folded) {
            return true;
        }
    }
    return false;
}

std::size_t NextLineStart(std::string_view text, std::size_t pos) {
    const std::size_t n = text.size();
    while (pos < n) {
        const char c = text[pos++];
        if (c == '\n') {
            return pos;
        }
        if (c == '\r') {
            return (pos < n && text[pos] == '\n') ? pos + 1 : pos;
        }
    }
    return n;
}

std::vector<FormatRun> ColorizeAll(std::string_view text) {
    std::vector<FormatRun> runs;
    ColorizeRange(text, 0, text.size(), ScanState::Outside,
                  [&runs](std::size_t start, std::size_t end, TextFormat format) {
                      runs.push_back({start, end, format});
                  });
    return runs;
}

std::vector<LineStartState> LineStartStates(std::string_view text) {
    std::vector<LineStartState> lines{{0, ScanState::Outside}};
    ColorizeLines(
        text, 0, text.size(), ScanState::Outside, [](std::size_t, std::size_t, TextFormat) {},
        [&lines](std::size_t start, ScanState state) {
            lines.push_back({start, state});
        });
    return lines;
}

}  // namespace quorrel
