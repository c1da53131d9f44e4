#include "views/source/core/Fold.h"

#include <gtest/gtest.h>

#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <vector>

using namespace quorrel;

namespace {

// Each line's fold level as its depth, with 'h' for a header: "0h 1 0".
std::string Levels(std::string_view text) {
    std::string out;
    for (int level : FoldLevels(text)) {
        out += out.empty() ? "" : " ";
        out += std::to_string((level & kFoldLevelNumberMask) - kFoldLevelBase);
        if (level & kFoldLevelHeaderFlag) {
            out += 'h';
        }
    }
    return out;
}

struct Lexed {
    std::vector<std::size_t> starts;  // line starts, as the lexer numbers lines
    std::vector<int> levels;
    std::vector<LineState> states;  // the state each line starts with
};

// What the lexer records over the whole text.
Lexed LexAll(std::string_view text) {
    Lexed out;
    out.starts.push_back(0);
    out.states.push_back(LineState{});
    LexLines(
        text, 0, text.size(), true, LineState{}, [](std::size_t, std::size_t, TextFormat) {},
        [&](std::size_t, int level, bool hasLineEnd, const LineState& next) {
            out.levels.push_back(level);
            if (hasLineEnd) {
                out.states.push_back(next);
            }
        });
    for (std::size_t p = 0; p < text.size();) {
        const std::size_t q = NextLineStart(text, p);
        if (q == text.size() && text.back() != '\n' && text.back() != '\r') {
            break;
        }
        out.starts.push_back(q);
        p = q;
    }
    return out;
}

// Styles the text in the pieces Scintilla asks for, one after the other, as
// the lexer does: each from the line before the piece's first line, with the
// state recorded there, to the piece's end. Returns the levels then held.
std::vector<int> LexInPieces(std::string_view text, const std::vector<std::size_t>& ends,
                             std::size_t lineCount) {
    std::vector<int> levels(lineCount, -1);
    std::vector<LineState> states(lineCount);
    std::vector<std::size_t> starts{0};
    for (std::size_t p = 0; p < text.size();) {
        p = NextLineStart(text, p);
        starts.push_back(p);
    }
    std::size_t styled = 0;
    for (std::size_t end : ends) {
        std::size_t line = 0;
        while (line + 1 < starts.size() && starts[line + 1] <= styled) {
            ++line;
        }
        line = line > 0 ? line - 1 : 0;
        LexLines(
            text, starts[line], end, end == text.size(), states[line],
            [](std::size_t, std::size_t, TextFormat) {},
            [&](std::size_t index, int level, bool hasLineEnd, const LineState& next) {
                levels[line + index] = level;
                if (hasLineEnd) {
                    states[line + index + 1] = next;
                }
            });
        styled = std::max(styled, end);
    }
    return levels;
}

}  // namespace

TEST(FoldElements, NestedElementsFoldTheirContent) {
    EXPECT_EQ(Levels("<r>\n  <a>\n    t\n  </a>\n  <b/>\n</r>\n"), "0h 1h 2 1 1 0 0");
    // Opened and closed on one line: nothing to fold.
    EXPECT_EQ(Levels("<r><a>t</a></r>"), "0");
    // Closing one and opening the next on a line folds the next from there.
    EXPECT_EQ(Levels("<r>\n<a>\n</a><b>\nx\n</b>\n</r>"), "0h 1h 1h 2 1 0");
    // A stray end tag does not go below the top.
    EXPECT_EQ(Levels("</a>\n<b>\n</b>"), "0 0h 0");
}

TEST(FoldElements, StartTagOverSeveralLinesFoldsFromItsFirstLine) {
    EXPECT_EQ(Levels("<a\n  x=\"1>\"\n  y='2>'>\n t\n</a>"), "0h 1 1 1 0");
    // Self-closing over several lines folds its attributes.
    EXPECT_EQ(Levels("<r>\n<a\n x='1'\n/>\n</r>"), "0h 1h 2 1 0");
    // "/" and ">" on different lines do not close it.
    EXPECT_EQ(Levels("<a x='1'/\n>\n</a>"), "0h 1 0");
    // A quote left open keeps the tag open, over the lines.
    EXPECT_EQ(Levels("<a x=\"\n<b>\n\">\n</a>"), "0h 1 1 0");
}

TEST(FoldComments, CommentsAndCDataFoldAndHideMarkup) {
    EXPECT_EQ(Levels("<r>\n<!--\n <a> <!-- -\n-->\n</r>"), "0h 1h 2 1 0");
    EXPECT_EQ(Levels("<r><!-- one line --></r>"), "0");
    EXPECT_EQ(Levels("<r><![CDATA[\n<a> ]]\n]]></r>"), "0h 2 0");
    // The tokens lie within a line: split, they are something else.
    EXPECT_EQ(Levels("<!-\n-x-->"), "0 0");
    EXPECT_EQ(Levels("<!--\n--\n>\n-->"), "0h 1 1 0");
    // Processing instructions do not fold, and hide what looks like tags.
    EXPECT_EQ(Levels("<?pi <a>\n<b> ?>\n<r/>"), "0 0 0");
}

TEST(FoldDoctype, InternalSubsetFolds) {
    EXPECT_EQ(Levels("<!DOCTYPE r [\n"
                     "  <!ENTITY e \"]>\">\n"
                     "  <!--\n"
                     "  ] c -->\n"
                     "  <!ATTLIST r a CDATA '>'>\n"
                     "  <?pi ]> ?>\n"
                     "]>\n"
                     "<r>\n"
                     "</r>"),
              "0h 1 1h 1 1 1 0 0h 0");
    EXPECT_EQ(Levels("<!DOCTYPE r SYSTEM \"a>b\">\n<r/>"), "0 0");
    EXPECT_EQ(Levels("<!DOCTYPE r\n  SYSTEM 'x' [\n]\n>\n<r/>"), "0h 1 1 0 0");
    // Other markup declarations outside a DOCTYPE change nothing.
    EXPECT_EQ(Levels("<!ELEMENT x>\n<r/>"), "0 0");
}

TEST(FoldLines, LineEndsOfEveryKindAgree) {
    const std::string lf = "<r>\n<!--\nc\n-->\n<a>\n</a>\n</r>\n";
    std::string crlf, cr;
    for (char c : lf) {
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
        cr += c == '\n' ? '\r' : c;
    }
    EXPECT_EQ(Levels(crlf), Levels(lf));
    EXPECT_EQ(Levels(cr), Levels(lf));
    EXPECT_EQ(Levels(""), "0");
    EXPECT_EQ(Levels("<a>"), "0h");
}

TEST(FoldLines, DeepNestingIsClampedToScintillasLevels) {
    std::string deep;
    for (int i = 0; i < 4000; ++i) {
        deep += "<a>\n";
    }
    const std::vector<int> levels = FoldLevels(deep);
    ASSERT_EQ(levels.size(), 4001u);
    EXPECT_EQ(levels[10], (kFoldLevelBase + 10) | kFoldLevelHeaderFlag);
    // Past Scintilla's deepest level the lines stay at it and head nothing.
    EXPECT_EQ(levels[3070], (kFoldLevelBase + 3070) | kFoldLevelHeaderFlag);
    EXPECT_EQ(levels[3071], kFoldLevelNumberMask);
    EXPECT_EQ(levels[4000], kFoldLevelNumberMask);
    // The state keeps counting beyond.
    EXPECT_EQ(LexAll(deep).states.back().fold.depth, 4000u);
}

TEST(FoldLineState, PacksEveryContextAndDepth) {
    for (int c = 0; c < kFoldContextCount; ++c) {
        for (std::uint32_t depth : {0u, 1u, 255u, 65536u, kMaxFoldDepth}) {
            for (ScanState scan : {ScanState::Outside, ScanState::InsideTag}) {
                const LineState state{scan, {static_cast<FoldContext>(c), depth}};
                EXPECT_EQ(UnpackLineState(PackLineState(state)), state);
            }
        }
    }
    EXPECT_EQ(PackLineState(LineState{}), 0);  // what Scintilla holds for an untouched line
    // The colouring's bit is where it always was.
    EXPECT_EQ(PackLineState(LineState{ScanState::InsideTag, {}}), 1);
    std::uint32_t depth = kMaxFoldDepth;
    FoldState top{FoldContext::Content, depth};
    EXPECT_EQ(FoldLine("<a>", top).next.depth, kMaxFoldDepth);  // saturates
}

TEST(FoldLines, LexingAgreesWithColouringAndStopsAtRangeEnd) {
    const std::string text = "<a\nb=\"1\">\n<!--\n-->";
    // The colour runs are those of the colouring alone.
    std::vector<FormatRun> runs;
    LexLines(
        text, 0, text.size(), true, LineState{},
        [&](std::size_t s, std::size_t e, TextFormat f) {
            if (!runs.empty() && runs.back().format == f && runs.back().end == s) {
                runs.back().end = e;
            } else {
                runs.push_back({s, e, f});
            }
        },
        [](std::size_t, int, bool, const LineState&) {});
    EXPECT_EQ(runs, ColorizeAll(text));
    // A line cut by the range's end is not reported; nor is the last line
    // unless the range reaches the text's end.
    std::vector<std::size_t> reported;
    auto record = [&](std::size_t index, int, bool, const LineState&) {
        reported.push_back(index);
    };
    auto none = [](std::size_t, std::size_t, TextFormat) {};
    LexLines(text, 0, 5, false, LineState{}, none, record);
    EXPECT_EQ(reported, (std::vector<std::size_t>{0}));
    reported.clear();
    LexLines(text, 0, text.size(), false, LineState{}, none, record);
    EXPECT_EQ(reported, (std::vector<std::size_t>{0, 1, 2}));
    reported.clear();
    LexLines(text + "\n", 0, text.size() + 1, true, LineState{}, none, record);
    EXPECT_EQ(reported, (std::vector<std::size_t>{0, 1, 2, 3, 4}));
}

TEST(FoldLines, FromAnyLineWithItsStateAgreesWithFullPass) {
    const std::string_view pieces[] = {
        "<",         ">",   "/",  "!",   "?",    "\"",   "'",
        "a",         " ",   "\n", "\r",  "<!--", "-->",  "-",
        "]]>",       "]",   "[",  "<a>", "</a>", "<b/>", "<!DOCTYPE r [",
        "<![CDATA[", "<?p", "?>", "<!E"};
    std::mt19937 rng(20261207);
    for (int round = 0; round < 2000 && !::testing::Test::HasFailure(); ++round) {
        std::string text;
        const std::size_t length = rng() % 30;
        for (std::size_t i = 0; i < length; ++i) {
            text += pieces[rng() % std::size(pieces)];
        }
        SCOPED_TRACE(::testing::Message() << "text: \"" << text << '"');
        const Lexed all = LexAll(text);
        ASSERT_EQ(all.levels.size(), all.starts.size());
        ASSERT_EQ(all.states.size(), all.starts.size());
        for (std::size_t first = 0; first < all.starts.size(); ++first) {
            std::vector<int> got;
            LexLines(
                text, all.starts[first], text.size(), true, all.states[first],
                [](std::size_t, std::size_t, TextFormat) {},
                [&](std::size_t index, int level, bool hasLineEnd, const LineState& next) {
                    got.push_back(level);
                    if (hasLineEnd) {
                        EXPECT_EQ(next, all.states[first + index + 1]);
                    }
                });
            EXPECT_EQ(got, std::vector<int>(all.levels.begin() + long(first), all.levels.end()));
        }
    }
}

TEST(FoldLines, StylingInPiecesAgreesWithFullPass) {
    const std::string text =
        "<?xml version=\"1.0\"?>\n<!DOCTYPE r [\n<!ENTITY e 'x'>\n]>\n<r>\n  <a\n   x='1'>\n"
        "    <!-- c\n    -->\n    <![CDATA[\n    ]]>\n  </a>\n  <b/>\n</r>\n";
    const std::vector<int> all = FoldLevels(text);
    std::mt19937 rng(42);
    for (int round = 0; round < 500 && !::testing::Test::HasFailure(); ++round) {
        std::vector<std::size_t> ends;
        for (std::size_t end = 0; end < text.size();) {
            end = std::min(text.size(), end + 1 + rng() % 40);
            ends.push_back(end);
        }
        EXPECT_EQ(LexInPieces(text, ends, all.size()), all);
    }
}
