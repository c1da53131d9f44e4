#include "framework/ui/ProgressBar.h"

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QMainWindow>
#include <QProgressBar>
#include <QSizeGrip>
#include <QStatusBar>

#include <algorithm>
#include <vector>

namespace quorrel {

namespace {

// Marks our own bars, so they never count as panes.
constexpr const char* kBarProperty = "quorrelProgressBar";

// The status bar's pane widgets, left to right.
std::vector<QWidget*> PaneWidgets(QStatusBar* bar) {
    std::vector<QWidget*> panes;
    for (QWidget* child : bar->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child->isWindow() || child->isHidden() || qobject_cast<QSizeGrip*>(child) != nullptr ||
            child->property(kBarProperty).toBool()) {
            continue;
        }
        panes.push_back(child);
    }
    std::sort(panes.begin(), panes.end(), [](QWidget* a, QWidget* b) { return a->x() < b->x(); });
    return panes;
}

QWidget* PaneWidget(QStatusBar* bar, int pane) {
    if (bar == nullptr || pane < 1) {
        return nullptr;
    }
    std::vector<QWidget*> panes = PaneWidgets(bar);
    return std::size_t(pane) <= panes.size() ? panes[std::size_t(pane) - 1] : nullptr;
}

}  // namespace

CProgressBar::CProgressBar(QMainWindow* frame) : m_frame(frame) {}

CProgressBar::~CProgressBar() {
    Clear();
    delete m_bar.data();
}

QStatusBar* CProgressBar::GetStatusBar() const {
    QMainWindow* frame = m_frame.data();
    if (frame == nullptr) {
        frame = qobject_cast<QMainWindow*>(QApplication::activeWindow());
    }
    if (frame == nullptr) {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (auto* window = qobject_cast<QMainWindow*>(top);
                window != nullptr && window->isVisible()) {
                frame = window;
                break;
            }
        }
    }
    // Never statusBar(): it would make one.
    return frame != nullptr ? frame->findChild<QStatusBar*>(QString(), Qt::FindDirectChildrenOnly)
                            : nullptr;
}

QRect CProgressBar::PaneRect(QStatusBar* bar, int pane) {
    if (bar == nullptr || pane < 0) {
        return {};
    }
    std::vector<QWidget*> panes = PaneWidgets(bar);
    if (pane > 0) {
        return std::size_t(pane) <= panes.size() ? panes[std::size_t(pane) - 1]->geometry()
                                                 : QRect();
    }
    // The message area: from the left up to the first pane widget.
    QRect contents = bar->contentsRect();
    if (panes.empty()) {
        return contents;
    }
    QRect first = panes.front()->geometry();
    return QRect(QPoint(contents.left(), first.top()), QPoint(first.left() - 3, first.bottom()));
}

QRect CProgressBar::Layout(const QRect& pane, bool hasMessage, int messageWidth, int blankWidth,
                           int size) {
    // Edges as left/top inclusive, right/bottom exclusive.
    int left = pane.x(), top = pane.y();
    int right = pane.x() + pane.width(), bottom = pane.y() + pane.height();
    if (hasMessage) {
        left += messageWidth + 4 * blankWidth;
    }
    right -= ((100 - size) * (right - left)) / 100;
    right = std::max(right, left);
    int d = (bottom - top) / 10;
    top += d;
    bottom -= d;
    return QRect(left, top, right - left, std::max(0, bottom - top));
}

bool CProgressBar::Create(const QString& message, int size, int maximum, bool smooth, int pane) {
    QStatusBar* statusBar = GetStatusBar();
    QRect paneRect = PaneRect(statusBar, pane);
    if (statusBar == nullptr || !paneRect.isValid()) {
        return false;  // no window, or no such pane
    }
    if (m_bar) {
        Clear();
        delete m_bar.data();
    }
    m_statusBar = statusBar;
    auto* bar = new QProgressBar(statusBar);
    bar->setObjectName(QStringLiteral("progressBar"));
    bar->setProperty(kBarProperty, true);
    bar->setTextVisible(false);
    bar->setGeometry(paneRect);
    bar->raise();  // over the pane's own widget
    bar->show();
    m_bar = bar;
    m_bSmooth = smooth;
    SetRange(0, maximum, 1);
    SetStep(1);
    m_bar->setValue(0);
    m_strMessage = message;
    m_nSize = size;
    m_nPane = pane;
    m_rectLast = QRect();
    m_strPrevText = PaneText();
    // The bar follows its pane when the status bar is laid out again.
    statusBar->installEventFilter(this);
    if (QWidget* widget = PaneWidget(statusBar, std::max(1, pane))) {
        widget->installEventFilter(this);
    }
    Resize();
    return true;
}

bool CProgressBar::SetRange(int lower, int upper, int step) {
    if (!m_bar) {
        return false;
    }
    m_bar->setRange(lower, upper);
    m_nStep = step;
    return true;
}

int CProgressBar::SetPos(int pos) {
    if (!m_bar) {
        return 0;
    }
    if (m_bar->isHidden()) {
        m_bar->show();
        Resize();
    }
    int previous = m_bar->value();
    m_bar->setValue(pos);
    return previous;
}

int CProgressBar::SetStep(int step) {
    if (!m_bar) {
        return 0;
    }
    if (m_bar->isHidden()) {
        m_bar->show();
        Resize();
    }
    int previous = m_nStep;
    m_nStep = step;
    return previous;
}

bool CProgressBar::Clear() {
    if (!m_bar) {
        return false;
    }
    m_bar->hide();
    SetPaneText(m_nPane != 0 ? m_strPrevText : QStringLiteral("Ready"));
    if (m_statusBar) {
        m_statusBar->repaint();
    }
    return true;
}

bool CProgressBar::Resize() {
    if (!m_bar || !m_statusBar || m_bResizing) {
        return false;
    }
    m_bResizing = true;
    if (m_bar->isVisible()) {
        SetPaneText(m_strMessage);
        m_statusBar->repaint();
    }
    QFontMetrics metrics = m_statusBar->fontMetrics();
    QRect rect = Layout(PaneRect(m_statusBar, m_nPane), !m_strMessage.isEmpty(),
                        metrics.horizontalAdvance(m_strMessage),
                        metrics.horizontalAdvance(QLatin1Char(' ')), m_nSize);
    if (rect != m_rectLast) {
        m_bar->setGeometry(rect);
        m_rectLast = rect;
    }
    m_bResizing = false;
    return true;
}

QString CProgressBar::PaneText() const {
    if (!m_statusBar) {
        return {};
    }
    if (m_nPane == 0) {
        return m_statusBar->currentMessage();
    }
    auto* label = qobject_cast<QLabel*>(PaneWidget(m_statusBar, m_nPane));
    return label != nullptr ? label->text() : QString();
}

void CProgressBar::SetPaneText(const QString& text) {
    if (!m_statusBar) {
        return;
    }
    if (m_nPane == 0) {
        if (m_statusBar->currentMessage() != text) {
            m_statusBar->showMessage(text);
        }
        return;
    }
    if (auto* label = qobject_cast<QLabel*>(PaneWidget(m_statusBar, m_nPane));
        label != nullptr && label->text() != text) {
        label->setText(text);
    }
}

bool CProgressBar::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::Resize:
        case QEvent::Move:
            if (m_bar && !m_bar->isHidden()) {
                Resize();
            }
            break;
        default:
            break;
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace quorrel
