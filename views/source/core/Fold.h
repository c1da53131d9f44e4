// Folding of the source pane, without widgets: elements, comments, CDATA
// sections and the DOCTYPE (with its internal subset) fold. Like the
// colouring, the rule runs line by line from a small state carried across
// line ends, so a line's fold level follows from its own text and the state
// its line starts with; the lexer keeps that state per line beside the
// colouring's and never scans from the start of the text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "views/source/core/Colorize.h"

namespace quorrel {

// Where a line starts, as far as folding is concerned. Every token the
// contexts change on (such as "<!--" or "]]>") lies within one line: a line
// end inside one makes it something else, so nothing is looked up across lines.
enum class FoldContext : std::uint8_t {
    Content,        // between markup
    StartTag,       // "<name ..." up to '>'
    StartTagDq,     // an attribute value in double quotes
    StartTagSq,     // an attribute value in single quotes
    EndTag,         // "</name ..." up to '>'
    Comment,        // "<!--" up to "-->"
    CData,          // "<![CDATA[" up to "]]>"
    Pi,             // "<?" up to "?>"
    Markup,         // any other "<!" in content, up to '>'
    Doctype,        // "<!DOCTYPE", outside the internal subset
    DoctypeDq,      // a quoted public or system identifier
    DoctypeSq,      //
    Subset,         // the internal subset, "[" up to "]"
    SubsetDecl,     // a declaration in it, "<!ELEMENT ..." up to '>'
    SubsetDeclDq,   // a quoted literal in a declaration
    SubsetDeclSq,   //
    SubsetComment,  // a comment in it
    SubsetPi,       // a processing instruction in it
    AfterSubset,    // "]" up to the DOCTYPE's '>'
};
inline constexpr int kFoldContextCount = 19;

struct FoldState {
    FoldContext context = FoldContext::Content;
    std::uint32_t depth = 0;  // open elements, comments, CDATA sections and DOCTYPE
    bool operator==(const FoldState&) const = default;
};

// The deepest nesting the state counts: it saturates there (and at 0, for stray closes).
inline constexpr std::uint32_t kMaxFoldDepth = (1u << 25) - 1;

struct FoldedLine {
    FoldState next;         // the state the following line starts with
    std::uint32_t minimum;  // the lowest depth on the line, its start included
};

// Folds one line, given without its line end.
FoldedLine FoldLine(std::string_view line, FoldState state);

// Scintilla's fold level of a line that started with state and folded as
// folded: its lowest depth, a header when it ends deeper than that.
int FoldLevel(const FoldedLine& folded);

// Scintilla's fold level constants, so the core needs no Scintilla header.
inline constexpr int kFoldLevelBase = 0x400;
inline constexpr int kFoldLevelNumberMask = 0x0FFF;
inline constexpr int kFoldLevelHeaderFlag = 0x2000;

// What a line starts with: the colouring's state and the folding's, packed
// into the int Scintilla keeps per line (0 for the first line).
struct LineState {
    ScanState scan = ScanState::Outside;
    FoldState fold;
    bool operator==(const LineState&) const = default;
};
int PackLineState(const LineState& state);
LineState UnpackLineState(int packed);

// Colours and folds the lines from lineStart (a line start, with its state)
// up to end, as the lexer does for the range Scintilla asks for. sink gets
// the format runs as from ColorizeLines. For every line that lies wholly in
// the range, onLine(index, level, endsWithLineEnd, next) is called with the
// line's index from lineStart's line (0, 1, ...), its fold level, whether a
// line end closes it and the state of the line after it. A line cut by end
// is not reported; when end is the end of the text (atEnd), the last line is,
// and so is the empty line after a final line end.
template <class Sink, class OnLine>
void LexLines(std::string_view text, std::size_t lineStart, std::size_t end, bool atEnd,
              LineState state, Sink&& sink, OnLine&& onLine) {
    end = std::min(end, text.size());
    std::size_t p = lineStart;
    std::size_t index = 0;
    bool lastHadLineEnd = true;  // an empty range at the end is the empty last line
    while (p < end) {
        const std::size_t next = NextLineStart(text, p);
        std::size_t contentEnd = next;
        while (contentEnd > p && (text[contentEnd - 1] == '\n' || text[contentEnd - 1] == '\r')) {
            --contentEnd;
        }
        const bool hasLineEnd = contentEnd < next;
        const std::size_t stop = std::min(next, end);
        const ScanState scan = ColorizeRange(text, p, stop, state.scan, sink);
        const bool whole = next <= end && (hasLineEnd || atEnd);
        if (!whole) {
            return;
        }
        const FoldedLine folded = FoldLine(text.substr(p, contentEnd - p), state.fold);
        state = LineState{scan, folded.next};
        onLine(index, FoldLevel(folded), hasLineEnd, state);
        lastHadLineEnd = hasLineEnd;
        ++index;
        p = next;
    }
    if (atEnd && p == end && lastHadLineEnd) {
        onLine(index, FoldLevel(FoldLine({}, state.fold)), false, state);
    }
}

// Every line's fold level from a pass over the whole text (line 0 first).
std::vector<int> FoldLevels(std::string_view text);

}  // namespace quorrel
