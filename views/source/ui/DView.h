// The source pane: the document text, coloured as XML.
#pragma once

#include <Qsci/qsciscintilla.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

#include "doc/core/Doc.h"
#include "framework/ui/CommandTarget.h"
#include "views/source/core/WellFormedCheck.h"

class QsciPrinter;
class QTimer;

// Scintilla's loader, filled on another thread. The editor's library does not
// install its header; this is its declaration as the library has it (global,
// no destructor), so that the object's dynamic type is the one declared here.
class ILoader {
public:
    virtual int Release() = 0;
    virtual int AddData(const char* data, std::ptrdiff_t length) = 0;
    virtual void* ConvertToDocument() = 0;
};

namespace quorrel {

class FindDialog;
class WellFormedChecker;
class XmlLexer;
struct ParseError;

// A large text made into a document of the source pane off the window's
// thread: begun on the window's thread, filled on any, shown on the
// window's at once. Below the size where that pays, it holds nothing and the
// pane sets the text itself.
class PreparedText {
public:
    PreparedText() = default;
    ~PreparedText();
    PreparedText(PreparedText&& other) noexcept;
    PreparedText& operator=(PreparedText&& other) noexcept;
    PreparedText(const PreparedText&) = delete;
    PreparedText& operator=(const PreparedText&) = delete;

    bool IsPrepared() const { return m_loader != nullptr; }
    // Any thread, once.
    void Fill(std::string_view text);

private:
    friend class CDView;
    void Release();
    ILoader* m_loader = nullptr;
    bool m_filled = false;
};

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
    // The same without a copy: valid until the text changes (keep the pane read-only meanwhile).
    std::string_view TextView() const;
    void SetDocumentText(const std::string& text);

    // Texts from this size on are made into documents off the window's thread.
    static constexpr std::size_t kPrepareFrom = 4 << 20;
    // A document for a text of about this size, to fill on another thread;
    // an empty one below kPrepareFrom.
    PreparedText PrepareText(std::size_t size);
    // The next whole-text replacement shows this document instead (its text
    // must be the one the replacement sets).
    void UsePreparedText(PreparedText prepared);
    // Shows a file's text while it is still being parsed. The document takes
    // the same text when the open ends, so that update does not set it again.
    void ShowLoadingText(const std::string& text);
    // The open failed after all: back to the document's own text.
    void DropLoadingText();

    // Puts the caret on a parse error and marks its line; a null error clears the mark.
    void ShowParseError(const ParseError* error);
    // Puts the caret at a byte offset of the text and scrolls to it (unfolding
    // what hides it), leaving the focus where it is.
    void ShowOffset(std::size_t offset);
    long CaretOffset() const;
    bool HasErrorMark() const;
    // The next text another view sets (a tree command's) is one undo step;
    // undoing it puts the caret back at this byte offset of the text before it.
    void ReturnCaretOnUndo(std::optional<std::size_t> offset);
    // Edit > Undo, and the caret where the undone change wants it.
    void undo() override;
    bool CanUndo() const;

    // Find found nothing more.
    void ShowNotFound(const QString& text);

    // Folding in the margin (on from the start); display only.
    void EnableFolding(bool on);
    bool FoldingEnabled() const;

    // The well-formedness check once typing pauses (on from the start), for
    // texts up to the check's size limit.
    void EnableTypingCheck(bool on);
    bool TypingCheckEnabled() const { return m_checkEnabled; }
    // How long typing must pause before the check starts.
    static constexpr int kTypingCheckDelayMs = 500;
    // The line (0-based) where the last check marked the first error, or -1.
    int TypingErrorLine() const;
    bool HasTypingErrorMark() const { return TypingErrorLine() >= 0; }
    // A check is waiting for typing to pause or running on the current text.
    bool TypingCheckPending() const;
    bool TypingCheckRunning() const { return m_checkRunning; }
    // Copies the text into text (replacing what it held), leaving Scintilla's
    // gap where it is (at the caret).
    void CopyTextInto(std::string& text) const;

    void Print();
    void PrintPreview();
    // The printer of the run, as File > Print Setup left it; the frame supplies it.
    std::function<QsciPrinter&()> m_printer;

signals:
    void activated();
    // The typing check's finding for the status bar: where and why the text
    // is not well-formed, or empty when it is (or is not checked).
    void wellFormednessChanged(const QString& message);

protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
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
    void SetUpFolding();
    void SetUpTypingCheck();
    void OnTextChangedForCheck();
    void StartTypingCheck();
    void ShowTypingCheck(std::uint64_t ticket, const WellFormedResult& result);
    // The checker's latest finding, taken over from its thread.
    Q_INVOKABLE void TakeTypingCheck();
    void ClearTypingCheck();
    void RemoveTypingMarks();
    void MarkTypingError(long line, long column);

    // Shows a filled document in place of the one shown (its undo history
    // starts empty).
    void ShowPrepared(PreparedText prepared);
    // Sets another view's text as one undo step that returns the caret to offset.
    void SetTextUndoingTo(const std::string& text, std::size_t offset);
    // A prepared text replaces the whole document, so the one shown before is
    // kept for Undo, which shows it again (its own undo history intact).
    void HoldShownDocument(std::size_t caret);
    void ShowHeldDocument();
    void DropHeldDocument();
    void OnModified(int type, int token);
    void ForgetUndoCarets();
    // Replaces a large document by an empty one: freeing it by deleting its
    // text would first copy the text into the undo history.
    void ReleaseLargeDocument();
    // Shows document (holding its own reference; loader is its loader when
    // it was prepared) instead of the one shown, which is freed apart when it
    // was a prepared one. The view's settings of the document carry over.
    void SwapDocument(void* document, ILoader* loader);

    CDoc& m_doc;
    XmlLexer* m_lexer;
    PreparedText m_prepared;
    // The shown document's loader, when it was prepared: its Release() frees
    // it on any thread once the view has let go of it.
    ILoader* m_shownLoader = nullptr;
    FindDialog* m_find = nullptr;
    bool m_updating = false;       // the document's text is being shown
    bool m_textPreloaded = false;  // ShowLoadingText() already shows the coming text
    int m_errorMarker = 0;
    int m_marginDigits = 0;  // the line count's digits the margin is wide enough for
    // Where undoing a tree command's text puts the caret, by the token of the
    // marker action that ends its undo step.
    std::optional<std::size_t> m_undoCaretOfNext;
    std::unordered_map<int, std::size_t> m_undoCarets;
    int m_nextUndoToken = 1;
    std::optional<std::size_t> m_caretAfterUndo;
    struct HeldDocument {
        void* document;   // holding a reference of ours
        ILoader* loader;  // when it was prepared: frees it on any thread
        std::size_t caret;
    };
    std::optional<HeldDocument> m_held;
    // The typing check.
    // Handed over under the mutex: a finding the window has not taken yet.
    std::mutex m_checkedMutex;
    std::optional<std::pair<std::uint64_t, WellFormedResult>> m_checked;
    std::unique_ptr<WellFormedChecker> m_checker;
    QTimer* m_checkTimer = nullptr;
    std::uint64_t m_textGeneration = 0;  // counts changes of the text
    bool m_checkRunning = false;
    bool m_checkEnabled = false;
    bool m_checkMarked = false;
    int m_checkMarker = 0;
    int m_checkIndicator = 0;
};

}  // namespace quorrel
