// Syntax colouring of the source pane, without widgets. Byte-oriented over
// UTF-8 text. The only state that crosses a line end is "inside a tag": strings
// and words stop at CR and LF, so a per-line lexer that carries that one bit
// from line to line colours exactly as a pass over the whole text does.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace quorrel {

enum class TextFormat : std::uint8_t { Plain, Tag, String, Keyword };

// [start, end) byte offsets into the text.
struct FormatRun {
    std::size_t start, end;
    TextFormat format;
    bool operator==(const FormatRun&) const = default;
};

// What is carried from one position to the next: only a tag can be open.
enum class ScanState : std::uint8_t { Outside, InsideTag };

// True for the twelve DTD keywords, ignoring ASCII case; whole words only.
bool IsKeyword(std::string_view word);

namespace colorize_detail {

inline bool IsWordStart(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}
inline bool IsWordChar(unsigned char c) {
    return IsWordStart(c) || (c >= '0' && c <= '9');
}
// Bytes that may start a token other than plain.
inline bool StartsToken(unsigned char c) {
    return c == '"' || c == '<' || IsWordStart(c);
}

// Merges pieces of equal format so the sink sees each maximal run once.
template <class Sink>
struct RunMerger {
    Sink& sink;
    std::size_t runStart;
    TextFormat format = TextFormat::Plain;

    // From pos on the format is f (pieces arrive contiguous and in order).
    void Mark(std::size_t pos, TextFormat f) {
        if (f == format) {
            return;
        }
        if (pos > runStart) {
            sink(runStart, pos, format);
        }
        runStart = pos;
        format = f;
    }
    void Finish(std::size_t end) {
        if (end > runStart) {
            sink(runStart, end, format);
        }
    }
};

// Offset just past the '>' that closes the tag continuing at pos, if it lies
// before end; 0 when the tag is still open at end.
inline std::size_t TagClose(std::string_view text, std::size_t pos, std::size_t end) {
    const void* gt = pos < end ? std::memchr(text.data() + pos, '>', end - pos) : nullptr;
    return gt ? static_cast<std::size_t>(static_cast<const char*>(gt) - text.data()) + 1 : 0;
}

}  // namespace colorize_detail

// Colours [start, end) of text, given the state at start, and returns the
// state at end. sink(runStart, runEnd, format) is called for each run, in
// order, covering the range exactly; adjacent runs have different formats.
// Tokens are clipped to the range; the '<' test may look past end. The
// returned state is exact when end is 0, the text's end or just after a CR or
// LF (a string or word cut by end is not carried).
template <class Sink>
ScanState ColorizeRange(std::string_view text, std::size_t start, std::size_t end, ScanState state,
                        Sink&& sink) {
    using namespace colorize_detail;
    const std::size_t n = text.size();
    end = std::min(end, n);
    if (start >= end) {
        return state;
    }
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    RunMerger<std::remove_reference_t<Sink>> out{sink, start};
    std::size_t p = start;
    if (state == ScanState::InsideTag) {
        out.Mark(p, TextFormat::Tag);
        p = TagClose(text, p, end);
        if (p == 0) {
            out.Finish(end);
            return ScanState::InsideTag;
        }
    }
    while (p < end) {
        const unsigned char c = s[p];
        if (c == '"') {
            out.Mark(p, TextFormat::String);
            std::size_t q = p + 1;
            while (q < n && s[q] != '"' && s[q] != '\n' && s[q] != '\r') {
                ++q;
            }
            p = (q < n && s[q] == '"') ? q + 1 : q;
        } else if (c == '<' && !(p + 1 < n && (s[p + 1] == '!' || s[p + 1] == '?')) &&
                   !(p + 2 < n && (s[p + 2] == '!' || s[p + 2] == '?'))) {
            out.Mark(p, TextFormat::Tag);
            p = TagClose(text, p + 1, end);
            if (p == 0) {
                out.Finish(end);
                return ScanState::InsideTag;
            }
        } else if (IsWordStart(c)) {
            std::size_t q = p + 1;
            while (q < n && IsWordChar(s[q])) {
                ++q;
            }
            out.Mark(p, IsKeyword(text.substr(p, q - p)) ? TextFormat::Keyword : TextFormat::Plain);
            p = q;
        } else {
            // A stretch of plain bytes; a '<' that failed the test is one of them.
            out.Mark(p, TextFormat::Plain);
            ++p;
            while (p < end && !StartsToken(s[p])) {
                ++p;
            }
        }
    }
    out.Finish(end);
    return ScanState::Outside;
}

// Offset just past the line end at or after pos (CR LF, CR or LF), or the text's size.
std::size_t NextLineStart(std::string_view text, std::size_t pos);

// Colours the lines from lineStart (a line start, with its state) up to end,
// one line at a time, as the per-line lexer does. After each line it calls
// onLineStart(nextLineStart, stateThere), so the caller can record the state
// of each following line start reached within (lineStart, end]; the caller
// keeps going while a recorded state changes. Returns the state at end.
template <class Sink, class OnLineStart>
ScanState ColorizeLines(std::string_view text, std::size_t lineStart, std::size_t end,
                        ScanState state, Sink&& sink, OnLineStart&& onLineStart) {
    end = std::min(end, text.size());
    std::size_t p = lineStart;
    while (p < end) {
        const std::size_t lineEnd = NextLineStart(text, p);
        const std::size_t next = std::min(lineEnd, end);
        state = ColorizeRange(text, p, next, state, sink);
        // A line cut by end, or the last line without a line end, starts no line.
        if (lineEnd <= end && (text[lineEnd - 1] == '\n' || text[lineEnd - 1] == '\r')) {
            onLineStart(lineEnd, state);
        }
        p = next;
    }
    return state;
}

// The runs of the whole text, in order, covering it; adjacent runs differ in format.
std::vector<FormatRun> ColorizeAll(std::string_view text);

// The state at the start of every line, from a pass over the whole text.
// Element i belongs to line i (0-based; line 0 starts Outside); a text
// ending in a line end has an empty last line.
struct LineStartState {
    std::size_t start;
    ScanState state;
    bool operator==(const LineStartState&) const = default;
};
std::vector<LineStartState> LineStartStates(std::string_view text);

}  // namespace quorrel
