// Colours the source pane with the core's XML colouring rules. Scintilla
// asks for styling from the first line it considers stale; the lexer keeps,
// per line, whether the line starts inside a tag, so any line can be coloured
// exactly as a pass over the whole text would colour it.
#pragma once

#include <Qsci/qscilexercustom.h>

#include <QFont>

namespace quorrel {

class XmlLexer : public QsciLexerCustom {
    Q_OBJECT
public:
    enum Style { Plain = 0, Tag = 1, String = 2, Keyword = 3 };

    explicit XmlLexer(QObject* parent = nullptr);

    const char* language() const override { return "XML"; }
    QString description(int style) const override;
    QColor defaultColor(int style) const override;
    QFont defaultFont(int style) const override;
    QColor defaultPaper(int style) const override;
    void styleText(int start, int end) override;

    void setBaseFont(const QFont& font);

private:
    QFont m_font;
};

}  // namespace quorrel
