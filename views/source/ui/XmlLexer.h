// Colours and folds the source pane with the core's rules. Scintilla asks
// for styling from the first line it considers stale; the lexer keeps, per
// line, whether the line starts inside a tag and where it stands for folding,
// so any line can be coloured and given its fold level exactly as a pass over
// the whole text would. Lines past the range get theirs when they are styled.
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

    // Fold levels are set while styling; off, only colours are.
    void SetFolding(bool on);
    bool Folding() const { return m_folding; }

private:
    QFont m_font;
    bool m_folding = false;
};

}  // namespace quorrel
