#include "views/source/ui/XmlLexer.h"

#include <Qsci/qsciscintilla.h>

#include <algorithm>
#include <string_view>

#include "views/source/core/Colorize.h"

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

void XmlLexer::styleText(int start, int end) {
    QsciScintilla* sci = editor();
    if (sci == nullptr || start >= end) {
        return;
    }
    const long length = sci->SendScintilla(QsciScintilla::SCI_GETLENGTH);
    // A '<' at the end of the previous line looks at this line's first
    // characters, so that line is coloured again too.
    long line =
        sci->SendScintilla(QsciScintilla::SCI_LINEFROMPOSITION, static_cast<unsigned long>(start));
    if (line > 0) {
        --line;
    }
    const long from =
        sci->SendScintilla(QsciScintilla::SCI_POSITIONFROMLINE, static_cast<unsigned long>(line));
    ScanState state = line == 0
                          ? ScanState::Outside
                          : static_cast<ScanState>(sci->SendScintilla(
                                QsciScintilla::SCI_GETLINESTATE, static_cast<unsigned long>(line)));
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
    auto sink = [this](std::size_t runStart, std::size_t runEnd, TextFormat format) {
        setStyling(static_cast<int>(runEnd - runStart), StyleOf(format));
    };
    long nextLine = line + 1;
    ColorizeLines(text, 0, static_cast<std::size_t>(end - from), state, sink,
                  [&](std::size_t lineStart, ScanState stateThere) {
                      if (long(lineStart) + from < length || lineStart == text.size()) {
                          sci->SendScintilla(QsciScintilla::SCI_SETLINESTATE,
                                             static_cast<unsigned long>(nextLine),
                                             static_cast<long>(stateThere));
                      }
                      ++nextLine;
                  });
}

}  // namespace quorrel
