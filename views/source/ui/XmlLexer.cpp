#include "views/source/ui/XmlLexer.h"

#include <Qsci/qsciscintilla.h>

#include <algorithm>
#include <string>
#include <string_view>

#include "views/source/core/Colorize.h"
#include "views/source/core/Fold.h"

namespace quorrel {

namespace {

int StyleOf(TextFormat format) {
    switch (format) {
        case TextFormat::Tag:
            return XmlLexer::Tag;
        case TextFormat::String:
            return XmlLexer::String;
        case TextFormat::Keyword:
            return XmlLexer::Keyword;
        case TextFormat::Plain:
            break;
    }
    return XmlLexer::Plain;
}

// Styles beyond the screen are set in pieces of this size at least.
constexpr long kStyleAhead = 1 << 20;

// Collects the styles of a range and hands them to Scintilla in large
// pieces: setting them run by run notifies (and invalidates) once per run.
class StyleBuffer {
public:
    explicit StyleBuffer(QsciScintilla* sci) : m_sci(sci) {}
    ~StyleBuffer() { Flush(); }
    StyleBuffer(const StyleBuffer&) = delete;
    StyleBuffer& operator=(const StyleBuffer&) = delete;

    void Add(std::size_t length, int style) {
        while (length > 0) {
            const std::size_t n = std::min(length, kPiece - m_styles.size());
            m_styles.append(n, static_cast<char>(style));
            length -= n;
            if (m_styles.size() == kPiece) {
                Flush();
            }
        }
    }
    void Flush() {
        if (!m_styles.empty()) {
            m_sci->SendScintilla(QsciScintilla::SCI_SETSTYLINGEX,
                                 static_cast<unsigned long>(m_styles.size()), m_styles.data());
            m_styles.clear();
        }
    }

private:
    static constexpr std::size_t kPiece = 1 << 16;
    QsciScintilla* m_sci;
    std::string m_styles;
};

// Whether pos lies below the last line on the screen.
bool PastScreen(QsciScintilla* sci, long pos) {
    const long first = sci->SendScintilla(QsciScintilla::SCI_GETFIRSTVISIBLELINE);
    const long count = sci->SendScintilla(QsciScintilla::SCI_LINESONSCREEN);
    const long last = sci->SendScintilla(QsciScintilla::SCI_DOCLINEFROMVISIBLE,
                                         static_cast<unsigned long>(first + count));
    return sci->SendScintilla(QsciScintilla::SCI_LINEFROMPOSITION,
                              static_cast<unsigned long>(pos)) > last + 1;
}

}  // namespace

XmlLexer::XmlLexer(QObject* parent) : QsciLexerCustom(parent) {}

QString XmlLexer::description(int style) const {
    switch (style) {
        case Plain:
            return QStringLiteral("Text");
        case Tag:
            return QStringLiteral("Tag");
        case String:
            return QStringLiteral("String");
        case Keyword:
            return QStringLiteral("Keyword");
        default:
            return {};
    }
}

QColor XmlLexer::defaultColor(int style) const {
    switch (style) {
        case Tag:
            return QColor(0, 0, 255);
        case String:
            return QColor(255, 0, 255);
        default:
            return QColor(0, 0, 0);
    }
}

QFont XmlLexer::defaultFont(int style) const {
    QFont font = m_font;
    font.setBold(style == Keyword);
    return font;
}

QColor XmlLexer::defaultPaper(int) const {
    return QColor(255, 255, 255);
}

void XmlLexer::setBaseFont(const QFont& font) {
    m_font = font;
    setDefaultFont(font);
    for (int style = Plain; style <= Keyword; ++style) {
        setFont(defaultFont(style), style);
    }
}

void XmlLexer::SetFolding(bool on) {
    if (on == m_folding) {
        return;
    }
    m_folding = on;
    // The line states kept so far lack (or hold needless) fold states: all is styled afresh.
    if (QsciScintilla* sci = editor()) {
        sci->SendScintilla(QsciScintilla::SCI_STARTSTYLING, 0UL);
        sci->update();
    }
}

void XmlLexer::styleText(int start, int end) {
    QsciScintilla* sci = editor();
    if (sci == nullptr || start >= end) {
        return;
    }
    const long length = sci->SendScintilla(QsciScintilla::SCI_GETLENGTH);
    // Looking for the end of a fold, Scintilla asks for one line after the
    // other; off the screen that is done in larger pieces.
    if (end < length && end - start < kStyleAhead && PastScreen(sci, end)) {
        end = int(std::min<long>(length, long(start) + kStyleAhead));
    }
    // A '<' at the end of the previous line looks at this line's first
    // characters, so that line is coloured again too.
    long line =
        sci->SendScintilla(QsciScintilla::SCI_LINEFROMPOSITION, static_cast<unsigned long>(start));
    if (line > 0) {
        --line;
    }
    const long from =
        sci->SendScintilla(QsciScintilla::SCI_POSITIONFROMLINE, static_cast<unsigned long>(line));
    const LineState state =
        line == 0 ? LineState{}
                  : UnpackLineState(int(sci->SendScintilla(QsciScintilla::SCI_GETLINESTATE,
                                                           static_cast<unsigned long>(line))));
    // Up to two characters past end decide whether a '<' opens a tag. Only
    // the range from the line start is asked for: a range from 0 would move
    // Scintilla's gap away from the caret, copying half the document per keystroke.
    const long visible = std::min<long>(length, end + 2);
    const char* data = reinterpret_cast<const char*>(
        sci->SendScintilla(QsciScintilla::SCI_GETRANGEPOINTER, static_cast<unsigned long>(from),
                           static_cast<long>(visible - from)));
    if (data == nullptr) {
        return;
    }
    std::string_view text(data, static_cast<std::size_t>(visible - from));
    startStyling(static_cast<int>(from));
    StyleBuffer styles(sci);
    auto sink = [&styles](std::size_t runStart, std::size_t runEnd, TextFormat format) {
        styles.Add(runEnd - runStart, StyleOf(format));
    };
    auto setLineState = [sci](long lineNumber, const LineState& lineState) {
        sci->SendScintilla(QsciScintilla::SCI_SETLINESTATE, static_cast<unsigned long>(lineNumber),
                           static_cast<long>(PackLineState(lineState)));
    };
    const auto range = static_cast<std::size_t>(end - from);
    if (!m_folding) {
        long nextLine = line + 1;
        ColorizeLines(text, 0, range, state.scan, sink, [&](std::size_t, ScanState scanThere) {
            setLineState(nextLine++, LineState{scanThere, {}});
        });
        return;
    }
    LexLines(text, 0, range, end >= length, state, sink,
             [&](std::size_t index, int level, bool hasLineEnd, const LineState& next) {
                 const long lineNumber = line + long(index);
                 sci->SendScintilla(QsciScintilla::SCI_SETFOLDLEVEL,
                                    static_cast<unsigned long>(lineNumber),
                                    static_cast<long>(level));
                 if (hasLineEnd) {
                     setLineState(lineNumber + 1, next);
                 }
             });
}

}  // namespace quorrel
