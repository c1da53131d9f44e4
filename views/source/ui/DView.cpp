// The source pane: the text shown and swapped for a document's, undo, the
// keys, line numbers and folding. Find, replace and print are in
// DViewFind.cpp, the parse error marks and the check as you type in
// DViewCheck.cpp.
#include "views/source/ui/DView.h"

#include <Qsci/qscicommand.h>
#include <Qsci/qscicommandset.h>

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QKeyEvent>

#include <algorithm>
#include <cmath>
#include <set>
#include <utility>

#include "doc/core/Disposal.h"
#include "framework/ui/Commands.h"
#include "views/source/ui/XmlLexer.h"

namespace quorrel {

namespace {

constexpr int kFoldMargin = 2;

QFont FixedFont() {
    QFont font(QStringLiteral("Courier New"), 10);
    if (!QFontInfo(font).fixedPitch()) {
        font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        font.setPointSize(10);
    }
    return font;
}

}  // namespace

CDView::CDView(CDoc& doc, QWidget* parent)
    : QsciScintilla(parent), m_doc(doc), m_lexer(new XmlLexer(this)) {
    setObjectName(QStringLiteral("sourceView"));
    setUtf8(true);
    QFont font = FixedFont();
    m_lexer->setBaseFont(font);
    setLexer(m_lexer);
    // Tab stops every 0.2 inch, counted in the font's character widths.
    double charWidth = QFontMetricsF(font).horizontalAdvance(QLatin1Char(' '));
    double tabPixels = 0.2 * logicalDpiX();
    setTabWidth(std::max(1, int(std::lround(tabPixels / std::max(1.0, charWidth)))));
    setWrapMode(WrapNone);
    setEolMode(EolUnix);
    SetUpLineNumbers();
    setMarginWidth(1, 12);
    setMarginSensitivity(1, false);
    setCaretLineBackgroundColor(QColor(232, 236, 248));
    SendScintilla(SCI_SETCARETLINEVISIBLEALWAYS, 1UL);
    m_errorMarker = markerDefine(QsciScintilla::RightTriangle);
    setMarkerBackgroundColor(QColor(220, 0, 0), m_errorMarker);
    setMarkerForegroundColor(QColor(220, 0, 0), m_errorMarker);
    setMarginMarkerMask(1, 1 << m_errorMarker);
    connect(this, &QsciScintilla::textChanged, this, &CDView::OnChange);
    connect(this, &QsciScintillaBase::SCN_MODIFIED, this,
            [this](int, int type, const char*, int, int, int, int, int, int token, int) {
                OnModified(type, token);
            });
    m_doc.SetTextSource([this] { return Text(); }, [this] { return TextView(); });
    RegisterCommands();
    SetUpKeys();
    SetUpFolding();
    SetUpTypingCheck();
}

CDView::~CDView() {
    DropHeldDocument();
    m_checker.reset();  // its worker posts to this view
    m_doc.SetTextSource(nullptr, nullptr);
}

std::string CDView::Text() const {
    auto* self = const_cast<CDView*>(this);
    long length = self->SendScintilla(SCI_GETLENGTH);
    const char* data = reinterpret_cast<const char*>(self->SendScintilla(SCI_GETCHARACTERPOINTER));
    return data ? std::string(data, static_cast<std::size_t>(length)) : std::string();
}

std::string_view CDView::TextView() const {
    auto* self = const_cast<CDView*>(this);
    long length = self->SendScintilla(SCI_GETLENGTH);
    const char* data = reinterpret_cast<const char*>(self->SendScintilla(SCI_GETCHARACTERPOINTER));
    return data ? std::string_view(data, static_cast<std::size_t>(length)) : std::string_view();
}

// Room for typing: without it the buffer is full after loading, and one of
// the first keystrokes copies the whole document into a bigger one.
constexpr unsigned long kTypingRoom = 1 << 20;

void CDView::SetDocumentText(const std::string& text) {
    if (m_prepared.m_filled) {
        ShowPrepared(std::move(m_prepared));
        return;
    }
    m_prepared = PreparedText();
    if (text.empty()) {
        ReleaseLargeDocument();
    }
    SendScintilla(SCI_ALLOCATE, static_cast<unsigned long>(text.size()) + kTypingRoom);
    SendScintilla(SCI_SETTEXT, static_cast<unsigned long>(0), text.c_str());
}

PreparedText::~PreparedText() {
    Release();
}

PreparedText::PreparedText(PreparedText&& other) noexcept
    : m_loader(std::exchange(other.m_loader, nullptr)),
      m_filled(std::exchange(other.m_filled, false)) {}

PreparedText& PreparedText::operator=(PreparedText&& other) noexcept {
    if (this != &other) {
        Release();
        m_loader = std::exchange(other.m_loader, nullptr);
        m_filled = std::exchange(other.m_filled, false);
    }
    return *this;
}

void PreparedText::Release() {
    if (m_loader != nullptr) {
        m_loader->Release();  // a document never shown goes with it
        m_loader = nullptr;
    }
    m_filled = false;
}

void PreparedText::Fill(std::string_view text) {
    if (m_loader == nullptr || m_filled) {
        return;
    }
    // In one piece: the document then grows once, to the text and the room
    // it was made with, here rather than on the window's thread.
    if (m_loader->AddData(text.data(), std::ptrdiff_t(text.size())) != 0) {
        Release();  // out of memory: the pane sets the text itself
        return;
    }
    m_filled = true;
}

PreparedText CDView::PrepareText(std::size_t size) {
    PreparedText prepared;
    if (size >= kPrepareFrom) {
        // Only the typing room here: room for the text is touched as it is
        // made, a tenth of a second at 100 MB; Fill makes it on its thread.
        prepared.m_loader =
            reinterpret_cast<ILoader*>(SendScintilla(SCI_CREATELOADER, kTypingRoom, 0L));
    }
    return prepared;
}

void CDView::UsePreparedText(PreparedText prepared) {
    m_prepared = std::move(prepared);
}

void CDView::ShowPrepared(PreparedText prepared) {
    ILoader* loader = std::exchange(prepared.m_loader, nullptr);
    prepared.m_filled = false;
    // The document holds the loader's reference now.
    SwapDocument(loader->ConvertToDocument(), loader);
    SendScintilla(SCI_SETUNDOCOLLECTION, 1UL);
    SendScintilla(SCI_EMPTYUNDOBUFFER);
    // As a text set the usual way would tell.
    emit linesChanged();
    emit textChanged();
}

namespace {

// The last reference to a document the view no longer shows; freeing a large
// one (its text, styles and line index) takes tens of milliseconds.
struct ReleaseLoader {
    void operator()(ILoader* loader) const { loader->Release(); }
};

}  // namespace

void CDView::SwapDocument(void* document, ILoader* loader) {
    const bool readOnly = isReadOnly();
    const int tabs = tabWidth();
    void* shown = reinterpret_cast<void*>(SendScintilla(SCI_GETDOCPOINTER));
    ILoader* shownLoader = std::exchange(m_shownLoader, loader);
    if (shownLoader != nullptr) {
        SendScintilla(SCI_ADDREFDOCUMENT, 0UL, shown);
    }
    SendScintilla(SCI_SETDOCPOINTER, 0UL, document);
    SendScintilla(SCI_RELEASEDOCUMENT, 0UL, document);
    if (shownLoader != nullptr) {
        DisposeOfValue(std::unique_ptr<ILoader, ReleaseLoader>(shownLoader));
    }
    // The shown document went; its properties are the document's, set again.
    setUtf8(true);
    setEolMode(EolUnix);
    setTabWidth(tabs);
    setReadOnly(readOnly);
}

void CDView::ReleaseLargeDocument() {
    if (std::size_t(SendScintilla(SCI_GETLENGTH)) < kPrepareFrom) {
        return;
    }
    SwapDocument(reinterpret_cast<void*>(SendScintilla(SCI_CREATEDOCUMENT, 0UL, 0L)), nullptr);
}

void CDView::OnChange() {
    if (m_updating) {
        return;  // the document already holds this text, and the DOM matches it
    }
    m_doc.OnTextEdited();  // copied when something reads it (CDoc::SyncText)
}

void CDView::ShowLoadingText(const std::string& text) {
    // Read-only while the file is opened, and Scintilla leaves read-only text alone.
    bool readOnly = isReadOnly();
    setReadOnly(false);
    m_updating = true;
    SetDocumentText(text);
    m_updating = false;
    setReadOnly(readOnly);
    m_textPreloaded = true;
}

void CDView::DropLoadingText() {
    if (m_textPreloaded) {
        m_textPreloaded = false;
        m_updating = true;
        SetDocumentText(m_doc.Text());
        m_updating = false;
    }
}

void CDView::OnUpdate(CDocView* sender) {
    m_updating = true;
    const std::optional<std::size_t> undoCaret = std::exchange(m_undoCaretOfNext, std::nullopt);
    if (sender != nullptr && undoCaret && !m_prepared.m_filled) {
        SetTextUndoingTo(m_doc.Text(), *undoCaret);
    } else if (sender != nullptr && undoCaret) {
        HoldShownDocument(*undoCaret);
        SetDocumentText(m_doc.Text());
    } else if (!m_textPreloaded || sender != nullptr) {
        SetDocumentText(m_doc.Text());
    }
    m_textPreloaded = false;
    m_updating = false;
    m_doc.TextInStep();
    if (sender == nullptr) {
        // A freshly opened or new document starts with no undo history.
        SendScintilla(SCI_EMPTYUNDOBUFFER);
        ForgetUndoCarets();
        DropHeldDocument();
        setCursorPosition(0, 0);
    }
    m_doc.SetModifiedFlag(false);
}

void CDView::ReturnCaretOnUndo(std::optional<std::size_t> offset) {
    m_undoCaretOfNext = offset;
}

void CDView::SetTextUndoingTo(const std::string& text, std::size_t offset) {
    // A marker action at the end of the step: undoing it is reported first,
    // with its token, before the old text comes back.
    const int token = m_nextUndoToken++;
    beginUndoAction();
    SetDocumentText(text);
    SendScintilla(SCI_ADDUNDOACTION, static_cast<unsigned long>(token), 0L);  // never coalesced
    endUndoAction();
    m_undoCarets[token] = offset;
}

void CDView::OnModified(int type, int token) {
    if ((type & SC_MOD_CONTAINER) != 0 && (type & SC_PERFORMED_UNDO) != 0) {
        if (auto found = m_undoCarets.find(token); found != m_undoCarets.end()) {
            m_caretAfterUndo = found->second;
        }
    }
}

bool CDView::CanUndo() const {
    return isUndoAvailable() || m_held.has_value();
}

void CDView::HoldShownDocument(std::size_t caret) {
    DropHeldDocument();  // one whole-document step back, no more
    void* shown = reinterpret_cast<void*>(SendScintilla(SCI_GETDOCPOINTER));
    SendScintilla(SCI_ADDREFDOCUMENT, 0UL, shown);
    m_held = HeldDocument{shown, m_shownLoader, caret};
}

void CDView::ShowHeldDocument() {
    HeldDocument held = *std::exchange(m_held, std::nullopt);
    // The view takes over our reference; the document shown goes apart.
    SwapDocument(held.document, held.loader);
    // An edit of the text, as undoing a smaller command's is.
    emit linesChanged();
    emit textChanged();
    ShowOffset(held.caret);
}

void CDView::DropHeldDocument() {
    if (!m_held) {
        return;
    }
    HeldDocument held = *std::exchange(m_held, std::nullopt);
    if (held.loader != nullptr) {
        DisposeOfValue(std::unique_ptr<ILoader, ReleaseLoader>(held.loader));
    } else {
        SendScintilla(SCI_RELEASEDOCUMENT, 0UL, held.document);
    }
}

void CDView::undo() {
    if (!isUndoAvailable() && m_held) {
        ShowHeldDocument();
        return;
    }
    m_caretAfterUndo.reset();
    QsciScintilla::undo();
    // Scintilla leaves the caret where the text was restored, the start of it.
    if (std::optional<std::size_t> caret = std::exchange(m_caretAfterUndo, std::nullopt)) {
        ShowOffset(*caret);
    }
}

void CDView::ForgetUndoCarets() {
    m_undoCarets.clear();
    m_caretAfterUndo.reset();
}

void CDView::ShowOffset(std::size_t offset) {
    const long position = std::min(long(offset), long(SendScintilla(SCI_GETLENGTH)));
    const long line = SendScintilla(SCI_LINEFROMPOSITION, static_cast<unsigned long>(position));
    SendScintilla(SCI_ENSUREVISIBLEENFORCEPOLICY, static_cast<unsigned long>(line));
    SendScintilla(SCI_GOTOPOS, static_cast<unsigned long>(position));
    // Scrolled only as far as the caret, the line would show cut at the left;
    // when the place fits beside column 1, the line shows from there.
    const long lineStart = SendScintilla(SCI_POSITIONFROMLINE, static_cast<unsigned long>(line));
    const long startX = SendScintilla(SCI_POINTXFROMPOSITION, 0UL, lineStart);
    const long caretX = SendScintilla(SCI_POINTXFROMPOSITION, 0UL, position);
    const long textLeft = startX + SendScintilla(SCI_GETXOFFSET);
    const long room = long(viewport()->width()) - textLeft - SendScintilla(SCI_GETMARGINRIGHT);
    const long caretRoom = SendScintilla(SCI_TEXTWIDTH, std::uintptr_t(STYLE_DEFAULT), "M");
    if (caretX - startX + caretRoom < room) {
        SendScintilla(SCI_SETXOFFSET, 0UL);
    }
}

long CDView::CaretOffset() const {
    return SendScintilla(SCI_GETCURRENTPOS);
}

void CDView::OnActivateView(bool activate) {
    m_doc.SyncText();
    if (activate && m_doc.IsTextChanged()) {
        m_updating = true;
        if (TextView() != m_doc.Text()) {
            SetDocumentText(m_doc.Text());
        }
        m_updating = false;
        m_doc.ClearTextChanged();
    }
}

void CDView::focusInEvent(QFocusEvent* event) {
    QsciScintilla::focusInEvent(event);
    setCaretLineVisible(false);
    emit activated();
}

void CDView::focusOutEvent(QFocusEvent* event) {
    QsciScintilla::focusOutEvent(event);
    // Scintilla draws no caret without the focus; the caret's line shows
    // where it stands, e.g. on the node chosen in the tree.
    if (event->reason() != Qt::PopupFocusReason) {
        setCaretLineVisible(true);
    }
}

void CDView::keyPressEvent(QKeyEvent* event) {
    // With Ctrl (and perhaps Shift) held a key is a command, never text, as in
    // Qt's own edit controls; the component would type the "+" of Ctrl++.
    Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (modifiers == Qt::ControlModifier ||
        modifiers == (Qt::ControlModifier | Qt::ShiftModifier)) {
        QKeyEvent command(event->type(), event->key(), event->modifiers(), event->nativeScanCode(),
                          event->nativeVirtualKey(), event->nativeModifiers(), QString(),
                          event->isAutoRepeat(), ushort(event->count()));
        QsciScintilla::keyPressEvent(&command);
        event->setAccepted(command.isAccepted());
        return;
    }
    QsciScintilla::keyPressEvent(event);
}

void CDView::SetUpLineNumbers() {
    setMarginType(0, NumberMargin);
    setMarginLineNumbers(0, true);
    FitLineNumberMargin();
    connect(this, &QsciScintilla::linesChanged, this, &CDView::FitLineNumberMargin);
}

void CDView::FitLineNumberMargin() {
    constexpr int kFewestDigits = 5;
    int digits = int(QString::number(std::max(1, lines())).size());
    digits = std::max(digits, kFewestDigits);
    if (digits == m_marginDigits) {
        return;
    }
    m_marginDigits = digits;
    // One digit more than the count has: the margin keeps a gap on its right.
    setMarginWidth(0, QString(digits + 1, QLatin1Char('9')));
}

void CDView::SetUpKeys() {
    // The keys of a plain edit control, nothing more: the component's own
    // bindings would change case, cut, duplicate or swap lines, redo, zoom.
    // Undo and the clipboard keys are left to the window's accelerators.
    const auto key = [](QKeyCombination keys) { return keys.toCombined(); };
    const std::set<int> kept = {
        key(Qt::Key_Left),
        key(Qt::Key_Right),
        key(Qt::Key_Up),
        key(Qt::Key_Down),
        key(Qt::SHIFT | Qt::Key_Left),
        key(Qt::SHIFT | Qt::Key_Right),
        key(Qt::SHIFT | Qt::Key_Up),
        key(Qt::SHIFT | Qt::Key_Down),
        key(Qt::CTRL | Qt::Key_Left),
        key(Qt::CTRL | Qt::Key_Right),
        key(Qt::CTRL | Qt::Key_Up),
        key(Qt::CTRL | Qt::Key_Down),
        key(Qt::CTRL | Qt::SHIFT | Qt::Key_Left),
        key(Qt::CTRL | Qt::SHIFT | Qt::Key_Right),
        key(Qt::Key_Home),
        key(Qt::Key_End),
        key(Qt::SHIFT | Qt::Key_Home),
        key(Qt::SHIFT | Qt::Key_End),
        key(Qt::CTRL | Qt::Key_Home),
        key(Qt::CTRL | Qt::Key_End),
        key(Qt::CTRL | Qt::SHIFT | Qt::Key_Home),
        key(Qt::CTRL | Qt::SHIFT | Qt::Key_End),
        key(Qt::Key_PageUp),
        key(Qt::Key_PageDown),
        key(Qt::SHIFT | Qt::Key_PageUp),
        key(Qt::SHIFT | Qt::Key_PageDown),
        key(Qt::CTRL | Qt::Key_A),
        key(Qt::Key_Delete),
        key(Qt::Key_Backspace),
        key(Qt::SHIFT | Qt::Key_Backspace),
        key(Qt::Key_Tab),
        key(Qt::Key_Return),
        key(Qt::SHIFT | Qt::Key_Return),
    };
    for (QsciCommand* command : standardCommands()->commands()) {
        if (!kept.contains(command->key())) {
            command->setKey(0);
        }
        if (!kept.contains(command->alternateKey())) {
            command->setAlternateKey(0);
        }
    }
}

void CDView::RegisterCommands() {
    On(
        ID_EDIT_UNDO, [this] { undo(); }, [this] { return CanUndo(); });
    On(
        ID_EDIT_CUT, [this] { cut(); }, [this] { return hasSelectedText(); });
    On(
        ID_EDIT_COPY, [this] { copy(); }, [this] { return hasSelectedText(); });
    On(
        ID_EDIT_PASTE, [this] { paste(); }, [this] { return SendScintilla(SCI_CANPASTE) != 0; });
    On(ID_EDIT_SELECT_ALL, [this] { selectAll(); });
    On(ID_EDIT_FIND, [this] { Find(true); });
    On(ID_EDIT_REPEAT, [this] { Find(false); });
    On(ID_EDIT_REPLACE, [this] { Replace(); });
    On(ID_FILE_PRINT, [this] { Print(); });
    On(ID_FILE_PRINT_PREVIEW, [this] { PrintPreview(); });
}

void CDView::SetUpFolding() {
    setFolding(BoxedTreeFoldStyle, kFoldMargin);
    m_lexer->SetFolding(true);
    // Colouring (and with it the fold levels) runs ahead of the screen in
    // pieces between events: a jump to the end of a large text shows it at
    // once and colours it a moment later instead of stopping the window.
    SendScintilla(SCI_SETIDLESTYLING, static_cast<unsigned long>(SC_IDLESTYLING_TOVISIBLE));
}

void CDView::EnableFolding(bool on) {
    if (on == m_lexer->Folding()) {
        return;
    }
    if (!on) {
        // Without the margin nothing could show folded lines again.
        for (long line = SendScintilla(SCI_CONTRACTEDFOLDNEXT, 0UL); line >= 0;
             line = SendScintilla(SCI_CONTRACTEDFOLDNEXT, static_cast<unsigned long>(line + 1))) {
            SendScintilla(SCI_SETFOLDEXPANDED, static_cast<unsigned long>(line), 1L);
        }
        SendScintilla(SCI_SHOWLINES, 0UL, static_cast<long>(std::max(0, lines() - 1)));
    }
    setFolding(on ? BoxedTreeFoldStyle : NoFoldStyle, kFoldMargin);
    m_lexer->SetFolding(on);
}

bool CDView::FoldingEnabled() const {
    return m_lexer->Folding();
}

void CDView::CopyTextInto(std::string& text) const {
    auto* self = const_cast<CDView*>(this);
    const long length = self->SendScintilla(SCI_GETLENGTH);
    const long gap = std::clamp(self->SendScintilla(SCI_GETGAPPOSITION), 0L, length);
    text.clear();
    text.reserve(static_cast<std::size_t>(length));
    // Each part lies wholly on one side of the gap, so neither moves it.
    auto append = [&](long from, long count) {
        if (count <= 0) {
            return true;
        }
        const char* data = reinterpret_cast<const char*>(
            self->SendScintilla(SCI_GETRANGEPOINTER, static_cast<unsigned long>(from), count));
        if (data == nullptr) {
            return false;
        }
        text.append(data, static_cast<std::size_t>(count));
        return true;
    };
    if (!append(0, gap) || !append(gap, length - gap)) {
        text = Text();
    }
}

}  // namespace quorrel
