#include "views/source/core/Colorize.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <vector>

using namespace quorrel;

namespace {

char Letter(TextFormat f) {
    switch (f) {
        case TextFormat::Plain:
            return 'p';
        case TextFormat::Tag:
            return 't';
        case TextFormat::String:
            return 's';
        case TextFormat::Keyword:
            return 'k';
    }
    return '?';
}

// One letter per byte (p, t, s, k): expectations read against the text.
std::string Formats(std::string_view text) {
    std::string out;
    for (const FormatRun& r : ColorizeAll(text)) {
        out.append(r.end - r.start, Letter(r.format));
    }
    return out;
}

// The runs as a format letter and their text, joined by '|'.
std::string Show(std::string_view text) {
    std::string out;
    for (const FormatRun& r : ColorizeAll(text)) {
        out += out.empty() ? "" : "|";
        out += Letter(r.format);
        out += text.substr(r.start, r.end - r.start);
    }
    return out;
}

// The rules written out naively, byte by byte, as a second opinion.
std::string Reference(std::string_view t) {
    std::string list =
        " DOCTYPE ELEMENT EMPTY PCDATA ATTLIST CDATA REQUIRED  ENTITY FIXED IDREF IDREFS IMPLIED ";
    auto lower = [](std::string& w) {
        for (char& c : w) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
    };
    lower(list);
    auto wordChar = [](char c, bool first) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' ||
               (!first && c >= '0' && c <= '9');
    };
    std::string out(t.size(), 'p');
    std::size_t p = 0;
    while (p < t.size()) {
        std::size_t q = p + 1;
        char f = 'p';
        if (t[p] == '"') {
            while (q < t.size() && t[q] != '"' && t[q] != '\n' && t[q] != '\r') {
                ++q;
            }
            q += q < t.size() && t[q] == '"';
            f = 's';
        } else if (t[p] == '<' && t.substr(p + 1, 2).find_first_of("!?") == std::string::npos) {
            q = t.find('>', p);
            q = q == std::string::npos ? t.size() : q + 1;
            f = 't';
        } else if (wordChar(t[p], true)) {
            while (q < t.size() && wordChar(t[q], false)) {
                ++q;
            }
            std::string w(t.substr(p, q - p));
            lower(w);
            f = list.find(" " + w + " ") != std::string::npos ? 'k' : 'p';
        }
        out.replace(p, q - p, q - p, f);
        p = q;
    }
    return out;
}

// Runs cover [from, to) exactly, in order, non-empty, neighbours differ.
void ExpectTiling(const std::vector<FormatRun>& runs, std::size_t from, std::size_t to) {
    std::size_t at = from;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        ASSERT_EQ(runs[i].start, at);
        ASSERT_LT(runs[i].start, runs[i].end);
        if (i > 0) {
            ASSERT_NE(runs[i - 1].format, runs[i].format);
        }
        at = runs[i].end;
    }
    ASSERT_EQ(at, to);
}

void AppendMerged(std::vector<FormatRun>& runs, std::size_t s, std::size_t e, TextFormat f) {
    if (!runs.empty() && runs.back().format == f && runs.back().end == s) {
        runs.back().end = e;
    } else {
        runs.push_back({s, e, f});
    }
}

// Line by line from every line, with the state a full pass recorded there,
// must give the full pass's runs (clipped to where it started) and states.
void ExpectLineByLineAgrees(std::string_view text) {
    SCOPED_TRACE(::testing::Message() << "text: \"" << std::string(text) << '"');
    const std::vector<FormatRun> all = ColorizeAll(text);
    ExpectTiling(all, 0, text.size());
    EXPECT_EQ(Formats(text), Reference(text));
    const std::vector<LineStartState> lines = LineStartStates(text);
    for (std::size_t first = 0; first < lines.size(); ++first) {
        std::vector<FormatRun> got;
        std::size_t next = first + 1;
        ScanState last = ColorizeLines(
            text, lines[first].start, text.size(), lines[first].state,
            [&](std::size_t s, std::size_t e, TextFormat f) { AppendMerged(got, s, e, f); },
            [&](std::size_t start, ScanState state) {
                ASSERT_LT(next, lines.size());
                EXPECT_EQ(start, lines[next].start);
                EXPECT_EQ(state, lines[next].state);
                ++next;
            });
        EXPECT_EQ(next, lines.size());
        std::vector<FormatRun> want;
        for (FormatRun r : all) {
            if (r.end > lines[first].start) {
                r.start = std::max(r.start, lines[first].start);
                want.push_back(r);
            }
        }
        EXPECT_EQ(got, want) << "from line " << first;
        EXPECT_EQ(last, all.empty() || all.back().format != TextFormat::Tag || text.back() == '>'
                            ? ScanState::Outside
                            : ScanState::InsideTag);
    }
}

}  // namespace

TEST(ColorizeExamples, ElementWithAttributeAndText) {
    EXPECT_EQ(Show(R"(<a href="x">text</a>)"), R"(t<a href="x">|ptext|t</a>)");
}

TEST(ColorizeExamples, Doctype) {
    EXPECT_EQ(Show(R"(<!DOCTYPE note SYSTEM "note.dtd">)"),
              R"(p<!|kDOCTYPE|p note SYSTEM |s"note.dtd"|p>)");
}

TEST(ColorizeExamples, XmlDeclarationOnlyItsStrings) {
    EXPECT_EQ(Show(R"(<?xml version="1.0"?>)"), R"(p<?xml version=|s"1.0"|p?>)");
}

TEST(ColorizeExamples, ElementDeclaration) {
    EXPECT_EQ(Show("<!ELEMENT p (#PCDATA)>"), "p<!|kELEMENT|p p (#|kPCDATA|p)>");
}

TEST(ColorizeExamples, KeywordInText) {
    EXPECT_EQ(Show("<p>This is empty</p>"), "t<p>|pThis is |kempty|t</p>");
    EXPECT_EQ(Show("Empty EMPTY"), "kEmpty|p |kEMPTY");
}

TEST(ColorizeExamples, LastCharacterLessThan) {
    EXPECT_EQ(ColorizeAll("a<"),
              (std::vector<FormatRun>{{0, 1, TextFormat::Plain}, {1, 2, TextFormat::Tag}}));
    EXPECT_EQ(Show("<"), "t<");
    EXPECT_TRUE(ColorizeAll("").empty());
}

TEST(ColorizeKeywords, AllTwelveIgnoringCase) {
    for (std::string_view k : {"DOCTYPE", "ELEMENT", "EMPTY", "PCDATA", "ATTLIST", "CDATA",
                               "REQUIRED", "ENTITY", "FIXED", "IDREF", "IDREFS", "IMPLIED"}) {
        std::string lower(k), mixed(k);
        for (char& c : lower) {
            c = static_cast<char>(c - 'A' + 'a');
        }
        mixed[0] = lower[0];
        EXPECT_TRUE(IsKeyword(k)) << k;
        EXPECT_TRUE(IsKeyword(lower)) << lower;
        EXPECT_TRUE(IsKeyword(mixed)) << mixed;
    }
}

TEST(ColorizeKeywords, WholeWordsOnly) {
    for (std::string_view w : {"", "emptyish", "x_EMPTY", "EMPTY_", "EMPTY1", "empt", "idrefss",
                               "SYSTEM", "PUBLIC", "ANY", "NMTOKEN", "REQUIRED ENTITY", " "}) {
        EXPECT_FALSE(IsKeyword(w)) << '"' << w << '"';
    }
    EXPECT_EQ(Show("emptyish x_EMPTY EMPTY_ #EMPTY"), "pemptyish x_EMPTY EMPTY_ #|kEMPTY");
    EXPECT_EQ(Show("cdata1"), "pcdata1");
    // A digit or a non-ASCII byte is no word character, so a word starts after it.
    EXPECT_EQ(Show("1cdata \u00e9cdata"), "p1|kcdata|p \u00e9|kcdata");
}

TEST(ColorizeStrings, UnterminatedEndsBeforeLineFeed) {
    EXPECT_EQ(Show("a \"bc\nd\"e\""), "pa |s\"bc|p\nd|s\"e\"");
}

TEST(ColorizeStrings, UnterminatedEndsBeforeCarriageReturnLineFeed) {
    EXPECT_EQ(Show("a \"bc\r\nd\"e\""), "pa |s\"bc|p\r\nd|s\"e\"");
    EXPECT_EQ(Show("\"x\ry"), "s\"x|p\ry");
}

TEST(ColorizeStrings, UnterminatedAtEndOfText) {
    EXPECT_EQ(Show("x \"abc"), "px |s\"abc");
    EXPECT_EQ(Show("\""), "s\"");
}

TEST(ColorizeTags, QuotesAndLineEndsInsideAreTag) {
    EXPECT_EQ(Show("<a b=\"x>y\">"), "t<a b=\"x>|py|s\">");
    EXPECT_EQ(Show("<a\r\n b=\"1\"\n>t"), "t<a\r\n b=\"1\"\n>|pt");
}

TEST(ColorizeTags, UnclosedRunsToEndOfText) {
    EXPECT_EQ(Show("x<a \"b\nc"), "px|t<a \"b\nc");
    EXPECT_EQ(LineStartStates("<a\nb>\nc"),
              (std::vector<LineStartState>{
                  {0, ScanState::Outside}, {3, ScanState::InsideTag}, {6, ScanState::Outside}}));
}

TEST(ColorizeTags, BangOrQuestionWithinTwoCharacters) {
    EXPECT_EQ(Show("<!x>"), "p<!x>");
    EXPECT_EQ(Show("<?x>"), "p<?x>");
    EXPECT_EQ(Show("<a!>"), "p<a!>");
    EXPECT_EQ(Show("< ?>"), "p< ?>");
    EXPECT_EQ(Show("<ab!>"), "t<ab!>");  // the '!' is three characters on
    EXPECT_EQ(Show("<!"), "p<!");
    EXPECT_EQ(Show("<a"), "t<a");
}

TEST(ColorizeTags, LookaheadCrossesLineEnd) {
    EXPECT_EQ(Show("<\n!a>"), "p<\n!a>");
    EXPECT_EQ(Show("<\n?"), "p<\n?");
    EXPECT_EQ(Show("<\r\n!a>"), "t<\r\n!a>");  // CR and LF are the two characters looked at
    // Coloured line by line, the '<' still sees the next line.
    std::string got;
    ColorizeRange(
        "x<\n!>", 0, 3, ScanState::Outside,
        [&](std::size_t s, std::size_t e, TextFormat f) { got.append(e - s, Letter(f)); });
    EXPECT_EQ(got, "ppp");
}

TEST(ColorizeRanges, ClipsTokensAndReportsTagState) {
    const std::string text = "<a\nb>\"q\"";
    std::vector<FormatRun> runs;
    auto sink = [&](std::size_t s, std::size_t e, TextFormat f) { runs.push_back({s, e, f}); };
    EXPECT_EQ(ColorizeRange(text, 0, 3, ScanState::Outside, sink), ScanState::InsideTag);
    EXPECT_EQ(ColorizeRange(text, 3, text.size(), ScanState::InsideTag, sink), ScanState::Outside);
    EXPECT_EQ(runs,
              (std::vector<FormatRun>{
                  {0, 3, TextFormat::Tag}, {3, 5, TextFormat::Tag}, {5, 8, TextFormat::String}}));
    EXPECT_EQ(ColorizeRange(text, 4, 4, ScanState::InsideTag, sink), ScanState::InsideTag);
}

TEST(ColorizeLineByLine, VariedDocumentsAgreeWithFullPass) {
    const char* documents[] = {
        "",
        "\n",
        "\r\n\r\n",
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!DOCTYPE note [\n"
        "  <!ELEMENT note (to,body)>\n"
        "  <!ELEMENT to (#PCDATA)>\n"
        "  <!ATTLIST note id ID #REQUIRED kind CDATA #IMPLIED ref IDREFS #FIXED \"a b\">\n"
        "  <!ENTITY e \"unterminated\n"
        "]>\n"
        "<note id=\"n1\"\n      kind=\"multi\n line\">\n"
        "  <to>Tove &amp; empty</to>\n"
        "  <!-- a <comment> \"with quotes -->\n"
        "  <![CDATA[ <x> \"y\" ]]>\n"
        "  <body\n>Don't forget <\n!-- me --></body>\n"
        "</note>\n",
        "<r>\r\n\t<a b=\"1\"\r\n\t   c='2'>x\"y\r\n</a>\r\n\t<b\r\n/>\r\n</r>\r\n",
        "<r>\r<a\r>\"s\rt\"\r</r><",
        "caf\xC3\xA9 <\xC3\xA9l\xC3\xA9ment attr=\"\xE2\x82\xAC\">EMPTY_ "
        "Empty</\xC3\xA9l\xC3\xA9ment>",
        "<a\n<b\n>>\n<\n\n<c",
    };
    for (const char* doc : documents) {
        ExpectLineByLineAgrees(doc);
    }
}

TEST(ColorizeLineByLine, RandomTextsAgreeWithFullPass) {
    const std::string_view pieces[] = {"<", ">", "!",     "?",     "\"",      "a",
                                       "b", " ", "\n",    "\r",    "<",       "\"",
                                       "_", "1", "empty", "CData", "\xC3\xA9"};
    const std::size_t pieceCount = std::size(pieces);
    std::mt19937 rng(20240611);
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        const std::size_t length = rng() % 40;
        for (std::size_t i = 0; i < length; ++i) {
            text += pieces[rng() % pieceCount];
        }
        ExpectLineByLineAgrees(text);
        if (::testing::Test::HasFailure()) {
            break;  // one failing text says enough
        }
    }
}
