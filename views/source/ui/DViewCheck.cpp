// The source pane's marks: the parse error's line, and the check as you
// type, which parses a copy of the text on a worker once typing pauses and
// underlines where the text stops being well-formed.
#include <QColor>
#include <QTimer>

#include <algorithm>
#include <utility>

#include "doc/core/Disposal.h"
#include "views/source/core/WellFormedCheck.h"
#include "views/source/ui/DView.h"

namespace quorrel {

namespace {

// The most of a line the typing check underlines.
constexpr long kMaxSquiggle = 200;

}  // namespace

void CDView::ShowParseError(const ParseError* error) {
    markerDeleteAll(m_errorMarker);
    if (error == nullptr || error->line <= 0) {
        return;
    }
    int line = int(std::min<long>(error->line - 1, std::max(0, lines() - 1)));
    markerAdd(line, m_errorMarker);
    long lineStart = SendScintilla(SCI_POSITIONFROMLINE, static_cast<unsigned long>(line));
    long lineEnd = SendScintilla(SCI_GETLINEENDPOSITION, static_cast<unsigned long>(line));
    long pos = lineStart;
    if (error->column > 1) {
        pos = SendScintilla(SCI_POSITIONRELATIVE, static_cast<unsigned long>(lineStart),
                            error->column - 1);
        if (pos == 0 && lineStart != 0) {
            pos = lineEnd;
        }
        pos = std::clamp(pos, lineStart, lineEnd);
    }
    SendScintilla(SCI_GOTOPOS, static_cast<unsigned long>(pos));
    ensureLineVisible(line);
}

bool CDView::HasErrorMark() const {
    auto* self = const_cast<CDView*>(this);
    return self->SendScintilla(SCI_MARKERNEXT, 0L, 1L << m_errorMarker) >= 0;
}

void CDView::SetUpTypingCheck() {
    m_checkMarker = markerDefine(QsciScintilla::Circle);
    setMarkerBackgroundColor(QColor(235, 90, 0), m_checkMarker);
    setMarkerForegroundColor(QColor(150, 40, 0), m_checkMarker);
    setMarginMarkerMask(1, marginMarkerMask(1) | (1 << m_checkMarker));
    m_checkIndicator = indicatorDefine(SquigglePixmapIndicator);
    setIndicatorForegroundColor(QColor(220, 0, 0), m_checkIndicator);
    m_checkTimer = new QTimer(this);
    m_checkTimer->setSingleShot(true);
    m_checkTimer->setInterval(kTypingCheckDelayMs);
    connect(m_checkTimer, &QTimer::timeout, this, &CDView::StartTypingCheck);
    m_checker = std::make_unique<WellFormedChecker>(
        [this](std::uint64_t ticket, const WellFormedResult& result) {
            {
                std::lock_guard lock(m_checkedMutex);
                m_checked.emplace(ticket, result);
            }
            QMetaObject::invokeMethod(this, "TakeTypingCheck", Qt::QueuedConnection);
        });
    connect(this, &QsciScintilla::textChanged, this, &CDView::OnTextChangedForCheck);
    m_checkEnabled = true;
}

void CDView::EnableTypingCheck(bool on) {
    m_checkEnabled = on;
    if (on) {
        m_checkTimer->start();
        return;
    }
    m_checkTimer->stop();
    m_checker->Cancel();
    m_checkRunning = false;
    ClearTypingCheck();
}

int CDView::TypingErrorLine() const {
    auto* self = const_cast<CDView*>(this);
    return int(self->SendScintilla(SCI_MARKERNEXT, 0L, 1L << m_checkMarker));
}

bool CDView::TypingCheckPending() const {
    return m_checkTimer->isActive() || m_checkRunning;
}

void CDView::OnTextChangedForCheck() {
    ++m_textGeneration;
    if (m_checkRunning) {
        m_checker->Cancel();  // its text is gone
        m_checkRunning = false;
    }
    if (m_updating) {
        // A file or a tree command's result: the finding was about other text.
        m_checkTimer->stop();
        ClearTypingCheck();
        return;
    }
    if (!m_checkEnabled) {
        return;
    }
    if (std::size_t(length()) > kTypingCheckMaxBytes) {
        ClearTypingCheck();  // too long to be checked as it is typed
        return;
    }
    m_checkTimer->start();
}

void CDView::StartTypingCheck() {
    if (!m_checkEnabled) {
        return;
    }
    if (std::size_t(length()) > kTypingCheckMaxBytes) {
        ClearTypingCheck();
        return;
    }
    m_checkRunning = true;
    std::string text = m_checker->TakeBuffer();
    CopyTextInto(text);
    m_checker->Start(std::move(text), m_textGeneration);
}

void CDView::TakeTypingCheck() {
    std::optional<std::pair<std::uint64_t, WellFormedResult>> checked;
    {
        std::lock_guard lock(m_checkedMutex);
        checked.swap(m_checked);
    }
    if (checked) {
        ShowTypingCheck(checked->first, checked->second);
    }
}

void CDView::ShowTypingCheck(std::uint64_t ticket, const WellFormedResult& result) {
    if (ticket != m_textGeneration || !m_checkEnabled) {
        return;  // the text changed since the check began
    }
    m_checkRunning = false;
    if (result.status != WellFormedResult::Status::Error) {
        ClearTypingCheck();
        return;
    }
    RemoveTypingMarks();
    QString reason = QString::fromStdString(result.reason);
    QString message = reason;
    if (result.line > 0) {
        MarkTypingError(result.line, result.column);
        message = result.column > 0 ? QStringLiteral("Line %1, column %2: %3")
                                          .arg(result.line)
                                          .arg(result.column)
                                          .arg(reason)
                                    : QStringLiteral("Line %1: %2").arg(result.line).arg(reason);
    }
    m_checkMarked = true;
    emit wellFormednessChanged(message);
}

void CDView::ClearTypingCheck() {
    // Only when something is shown: clearing looks at every line.
    if (m_checkMarked) {
        RemoveTypingMarks();
        m_checkMarked = false;
        emit wellFormednessChanged(QString());
    }
}

void CDView::RemoveTypingMarks() {
    markerDeleteAll(m_checkMarker);
    SendScintilla(SCI_SETINDICATORCURRENT, static_cast<unsigned long>(m_checkIndicator));
    SendScintilla(SCI_INDICATORCLEARRANGE, 0UL, SendScintilla(SCI_GETLENGTH));
}

void CDView::MarkTypingError(long line, long column) {
    const int at = int(std::min<long>(line - 1, std::max(0, lines() - 1)));
    markerAdd(at, m_checkMarker);
    const long lineStart = SendScintilla(SCI_POSITIONFROMLINE, static_cast<unsigned long>(at));
    const long lineEnd = SendScintilla(SCI_GETLINEENDPOSITION, static_cast<unsigned long>(at));
    long pos = lineStart;
    if (column > 1) {
        pos =
            SendScintilla(SCI_POSITIONRELATIVE, static_cast<unsigned long>(lineStart), column - 1);
        if (pos == 0 && lineStart != 0) {
            pos = lineEnd;  // past the text's end
        }
        pos = std::clamp(pos, lineStart, lineEnd);
    }
    // The column points just after the offending token: underline that token,
    // back to a blank, to just after a '>' before it, or to its '<' or '&'.
    long from = pos;
    while (from > lineStart) {
        const char c = char(SendScintilla(SCI_GETCHARAT, static_cast<unsigned long>(from - 1)));
        if (c == ' ' || c == '\t' || (c == '>' && from != pos)) {
            break;
        }
        --from;
        if (c == '<' || c == '&') {
            break;
        }
        if (pos - from >= kMaxSquiggle) {
            from = SendScintilla(SCI_POSITIONBEFORE, static_cast<unsigned long>(pos));
            break;
        }
    }
    long to = pos;
    if (from == to && to < lineEnd) {
        to = SendScintilla(SCI_POSITIONAFTER, static_cast<unsigned long>(to));
    }
    if (to > from) {
        SendScintilla(SCI_SETINDICATORCURRENT, static_cast<unsigned long>(m_checkIndicator));
        SendScintilla(SCI_INDICATORFILLRANGE, static_cast<unsigned long>(from), to - from);
    }
}

}  // namespace quorrel
