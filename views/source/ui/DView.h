// The source pane: the document text, coloured as XML.
#pragma once

#include <Qsci/qsciscintilla.h>

#include <functional>
#include <string>

#include "app/ui/CommandTarget.h"
#include "doc/core/Doc.h"

class QsciPrinter;

namespace quorrel {

class FindDialog;
class XmlLexer;
struct ParseError;

class CDView : public QsciScintilla, public CDocView, public CommandTarget {
    Q_OBJECT
public:
    CDView(CDoc& doc, QWidget* parent);
    ~CDView() override;

    // The document's broadcast: take the document text as the whole text.
    void OnUpdate(CDocView* sender) override;
    // The pane became active (or stopped being so).
    void OnActivateView(bool activate);

    // The bytes of the text as the control holds them (UTF-8).
    std::string Text() const;
    void SetDocumentText(const std::string& text);
    // Shows a file's text while it is still being parsed. The document takes
    // the same text when the open ends, so that update does not set it again.
    void ShowLoadingText(const std::string& text);
    // The open failed after all: back to the document's own text.
    void DropLoadingText();

    // Puts the caret on a parse error and marks its line; a null error clears the mark.
    void ShowParseError(const ParseError* error);
    bool HasErrorMark() const;

    // Find found nothing more.
    void ShowNotFound(const QString& text);

    void Print();
    void PrintPreview();
    // The printer of the run, as File > Print Setup left it; the frame supplies it.
    std::function<QsciPrinter&()> m_printer;

signals:
    void activated();

protected:
    void focusInEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void OnChange();
    void RegisterCommands();
    void SetUpKeys();
    void SetUpLineNumbers();
    // Widens or narrows the line-number margin to the number of lines.
    void FitLineNumberMargin();
    void Find(bool askFirst);
    void Replace();

    CDoc& m_doc;
    XmlLexer* m_lexer;
    FindDialog* m_find = nullptr;
    bool m_updating = false;       // the document's text is being shown
    bool m_textPreloaded = false;  // ShowLoadingText() already shows the coming text
    int m_errorMarker = 0;
    int m_marginDigits = 0;  // the line count's digits the margin is wide enough for
};

}  // namespace quorrel
