// The active pane, and the panes following each other: a tree item shown
// in the text and its path in the message pane, the caret shown in the tree.
#include "app/ui/MainFrame.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QPointer>
#include <QScreen>
#include <QSettings>
#include <QShortcut>
#include <QShowEvent>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QWindow>

#include <memory>
#include <optional>

#include "app/ui/FrameApp.h"
#include "doc/core/Doc.h"
#include "doc/ui/DocCommands.h"
#include "framework/ui/Artwork.h"
#include "framework/ui/BackgroundWork.h"
#include "framework/ui/Commands.h"
#include "framework/ui/UserInterface.h"
#include "views/source/ui/DView.h"
#include "views/tree/core/ItemPath.h"
#include "views/tree/ui/ClassView.h"
#include "views/xpath/ui/XPathPanel.h"

namespace quorrel {

void CMainFrame::SetActivePane(QWidget* view) {
    if (view == nullptr) {
        return;
    }
    view->setFocus(Qt::OtherFocusReason);
    if (m_active != view) {
        OnFocusChanged(nullptr, view);
    }
}

void CMainFrame::OnFocusChanged(QWidget*, QWidget* now) {
    QWidget* view = nullptr;
    for (QWidget* w = now; w != nullptr; w = w->parentWidget()) {
        if (w == m_source || w == m_tree) {
            view = w;
            break;
        }
    }
    if (view == nullptr || view == m_active) {
        return;
    }
    QWidget* previous = m_active;
    m_active = view;
    if (IsBusy()) {
        // The document is about to be replaced, or work on it is under way and
        // brings the panes up to date when it ends: nothing to parse or copy.
        return;
    }
    m_doc.SyncText();
    if (view == m_tree) {
        m_tree->OnActivateView(true, previous != m_tree);
    } else {
        m_source->OnActivateView(true);
    }
    UpdateCommandUI();
}

void CMainFrame::NextPane() {
    SetActivePane(m_active == m_source ? static_cast<QWidget*>(m_tree) : m_source);
}

void CMainFrame::ShowItemInText(const CTreeItem* item) {
    if (m_following || item == nullptr || item->textOffset() == CTreeItem::kNoOffset ||
        !m_tree->InStepWithText()) {
        return;
    }
    const bool following = std::exchange(m_following, true);
    m_source->ShowOffset(item->textOffset());
    m_caretSeen = m_source->CaretOffset();  // reported later, as the pane paints
    m_following = following;
    ShowItemPath(item);  // the caret's item now
}

void CMainFrame::ShowItemPath(const CTreeItem* item) {
    m_itemPath = QString::fromStdString(ShownItemPath(item));
    if (m_workUnderWay.isEmpty()) {
        statusBar()->showMessage(m_itemPath);
    }
}

void CMainFrame::ShowCaretInTree() {
    const long caret = m_source->CaretOffset();
    if (m_following || caret == std::exchange(m_caretSeen, caret)) {
        return;  // the pane reports positions when it paints, moved or not
    }
    if (!m_tree->InStepWithText()) {
        ClearItemPath();  // typed: the path shown is no longer the caret's
        return;
    }
    const bool following = std::exchange(m_following, true);
    const CTreeItem* item = m_tree->SelectItemAtOffset(std::size_t(caret));
    m_following = following;
    if (item != nullptr) {
        ShowItemPath(item);
    } else {
        ClearItemPath();  // before or after the document element
    }
}

void CMainFrame::ClearItemPath() {
    if (!m_itemPath.isEmpty() && statusBar()->currentMessage() == m_itemPath) {
        statusBar()->showMessage(IdleMessage());
    }
    m_itemPath.clear();
}

}  // namespace quorrel
