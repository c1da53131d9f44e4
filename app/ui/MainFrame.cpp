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
#include "app/ui/SplitterKeys.h"
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

QRect CMainFrame::InitialGeometry(const QSize& screen) {
    int w = screen.width(), h = screen.height();
    return QRect(w / 14, h / 14, (w * 6) / 7, (h * 6) / 7);
}

CMainFrame::CMainFrame(CFrameApp& app, CDoc& doc, UserInterface& ui)
    : m_app(app), m_doc(doc), m_ui(ui) {
    setObjectName(QStringLiteral("mainFrame"));
    setWindowIcon(AppIcon());
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        setGeometry(InitialGeometry(screen->size()));
    }

    m_splitter = new QSplitter(Qt::Horizontal, this);
    m_splitter->setObjectName(QStringLiteral("splitter"));
    m_splitter->setChildrenCollapsible(false);
    m_source = new CDView(doc, m_splitter);  // first, so it is the document's first view
    m_tree = new CClassView(doc, m_splitter);
    doc.AddView(m_source);
    doc.AddView(m_tree);
    int half = std::max(1, width() / 2);
    m_splitter->setSizes({half, half});
    setCentralWidget(m_splitter);
    m_work = std::make_unique<CBackgroundWork>(*this);
    m_docCommands = new DocCommands(doc, ui, *this);
    m_docCommands->m_onSaved = [this](const QString& path) { m_app.AddRecentFile(path); };
    m_docCommands->m_reload = [this](const QString& path) {
        m_app.OpenDocumentFileInBackground(path);
    };

    m_xpath = new CXPathPanel(*this, doc, ui, m_app.Settings());
    addDockWidget(Qt::BottomDockWidgetArea, m_xpath);
    m_tree->m_extendMenu = [this](QMenu& menu, const CTreeItem* item) {
        m_xpath->AddCopyActions(menu, item);
    };

    CreateActions();
    CreateMenus();
    CreateToolBar();
    CreateStatusBar();
    CreateAccelerators();
    RegisterCommands();

    m_tree->m_actionOf = [this](int id) { return Action(id); };
    m_tree->m_work = m_work.get();
    m_tree->m_sourceView = m_source;
    m_source->m_printer = [this]() -> QsciPrinter& { return m_app.Printer(); };
    connect(m_tree, &CClassView::parsed, this,
            [this](const ParseError* error) { m_source->ShowParseError(error); });
    connect(m_source, &CDView::wellFormednessChanged, this, &CMainFrame::ShowWellFormedness);
    // The two panes follow each other while the tree is the text's.
    connect(m_tree, &CClassView::itemChosen, this, &CMainFrame::ShowItemInText);
    connect(m_source, &QsciScintilla::cursorPositionChanged, this, &CMainFrame::ShowCaretInTree);
    // Where the caret stands when the items come is no move of the user's.
    connect(m_tree, &CClassView::itemsShown, this,
            [this] { m_caretSeen = m_source->CaretOffset(); });
    // After a tree command the text shows the node it changed, not line 1.
    connect(m_tree, &CClassView::changedNodeShown, this, &CMainFrame::ShowItemInText);
    connect(qApp, &QApplication::focusChanged, this, &CMainFrame::OnFocusChanged);
    connect(m_source, &QsciScintilla::selectionChanged, this, &CMainFrame::UpdateCommandUI);
    connect(m_source, &QsciScintilla::textChanged, this, &CMainFrame::UpdateCommandUI);
    // Menus are brought up to date as they open; the toolbar while idle.
    auto* idle = new QTimer(this);
    idle->setInterval(250);
    connect(idle, &QTimer::timeout, this, &CMainFrame::UpdateCommandUI);
    idle->start();

    m_active = m_source;
    QByteArray state = m_app.Settings().value(QStringLiteral("Bar State")).toByteArray();
    if (!state.isEmpty()) {
        restoreState(state);
    }
    statusBar()->setVisible(m_app.Settings().value(QStringLiteral("Status Bar"), true).toBool());
    UpdateTitle();
}

CMainFrame::~CMainFrame() {
    // Closing the widgets moves the focus and may signal; the slots must not
    // run on a frame that is half gone.
    disconnect(qApp, nullptr, this, nullptr);
    disconnect(m_source, nullptr, this, nullptr);
    m_doc.RemoveView(m_source);
    m_doc.RemoveView(m_tree);
    delete m_docCommands;
}

void CMainFrame::RegisterCommands() {
    On(
        ID_SWITCH_TO_SOURCE, [this] { SetActivePane(m_source); },
        [this] { return m_active != m_source; });
    On(
        ID_SWITCH_TO_TREE, [this] { SetActivePane(m_tree); },
        [this] { return m_active != m_tree; });
    On(ID_NEXT_PANE, [this] { NextPane(); });
    On(ID_PREV_PANE, [this] { NextPane(); });
    On(ID_WINDOW_SPLIT, [this] { SplitWithKeyboard(); });
    On(
        ID_VIEW_TOOLBAR, [this] { m_toolBar->setVisible(!m_toolBar->isVisible()); }, {},
        [this] { return m_toolBar->isVisible(); });
    On(
        ID_VIEW_STATUS_BAR, [this] { statusBar()->setVisible(!statusBar()->isVisible()); }, {},
        [this] { return statusBar()->isVisible(); });
    On(ID_HELP_TOPICS, [this] { m_app.OnHelpTopics(); });
    On(ID_FIND_XPATH, [this] { m_xpath->Open(); });
}

CommandTarget* CMainFrame::Route(int id) const {
    CommandTarget* view = nullptr;
    if (m_active == m_source) {
        view = m_source;
    } else if (m_active == m_tree) {
        view = m_tree;
    }
    CommandTarget* route[] = {view, m_docCommands, const_cast<CMainFrame*>(this), &m_app};
    for (CommandTarget* target : route) {
        if (target != nullptr && target->Handles(id)) {
            return target;
        }
    }
    return nullptr;
}

bool CMainFrame::IsCommandEnabled(int id) const {
    CommandTarget* target = Route(id);
    // While a URL is fetched or a file opened every command waits for it.
    return !IsBusy() && target != nullptr && target->IsEnabled(id);
}

bool CMainFrame::IsBusy() const {
    return m_docCommands->IsFetching() || m_app.IsOpening() || m_work->IsRunning();
}

void CMainFrame::OnCommand(int id) {
    if (IsBusy()) {
        return;
    }
    m_doc.SyncText();  // every command sees the text the user typed
    if (CommandTarget* target = Route(id)) {
        target->Run(id);
    }
    UpdateCommandUI();
}

QAction* CMainFrame::Action(int id) const {
    auto it = m_actions.find(id);
    return it == m_actions.end() ? nullptr : it->second;
}

void CMainFrame::UpdateCommandUI() {
    for (auto& [id, action] : m_actions) {
        CommandTarget* target = Route(id);
        action->setEnabled(!IsBusy() && target != nullptr && target->IsEnabled(id));
        if (action->isCheckable() && target != nullptr) {
            action->setChecked(target->IsChecked(id).value_or(false));
        }
    }
}

void CMainFrame::UpdateTitle() {
    setWindowTitle(m_docCommands->Title() + QStringLiteral(" - Quorrel"));
    m_docCommands->WatchFile();  // the title follows every change of the document's file
}

void CMainFrame::SetRecentFiles(const QStringList& files) {
    for (std::size_t i = 0; i < m_recentActions.size(); ++i) {
        QAction* action = m_recentActions[i];
        if (i < std::size_t(files.size())) {
            action->setText(QStringLiteral("&%1 %2").arg(i + 1).arg(files[int(i)]));
            action->setVisible(true);
        } else {
            action->setText(QStringLiteral("Recent File"));
            // With no recent file one disabled placeholder stands in the menu.
            action->setVisible(i == 0);
        }
    }
    UpdateCommandUI();
}

void CMainFrame::SplitWithKeyboard() {
    if (m_splitter->findChild<QObject*>(QLatin1String(SplitterKeys::kName),
                                        Qt::FindDirectChildrenOnly) != nullptr) {
        return;  // the bar is being moved already
    }
    new SplitterKeys(m_splitter, m_active, [this] { statusBar()->clearMessage(); });
    statusBar()->showMessage(
        QStringLiteral("Use the arrow keys to move the bar; Enter places it, Esc cancels."));
}

void CMainFrame::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (m_decorationWait != nullptr || event->spontaneous()) {
        return;
    }
    m_decorationWait = new QTimer(this);
    if (FitDecorationsIntoInitialGeometry()) {
        return;  // the window system knew them at once
    }
    // A window manager adds its frame after the window is mapped and tells
    // its size a little later; without one there is none and nothing to do.
    constexpr int kInterval = 20, kLongest = 2000;
    m_decorationWait->setInterval(kInterval);
    connect(m_decorationWait, &QTimer::timeout, this, [this, ticks = 0]() mutable {
        if (FitDecorationsIntoInitialGeometry() || ++ticks * kInterval >= kLongest) {
            m_decorationWait->stop();
        }
    });
    m_decorationWait->start();
}

bool CMainFrame::FitDecorationsIntoInitialGeometry() {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr || windowState() != Qt::WindowNoState) {
        return true;  // maximised or the like: the user's choice holds
    }
    QMargins decorations = windowHandle() ? windowHandle()->frameMargins() : QMargins();
    if (decorations.isNull()) {
        return false;
    }
    setGeometry(InitialGeometry(screen->size()).marginsRemoved(decorations));
    return true;
}

QString CMainFrame::IdleMessage() const {
    if (!m_workUnderWay.isEmpty()) {
        return m_workUnderWay;
    }
    return m_wellFormedness.isEmpty() ? QStringLiteral("Ready") : m_wellFormedness;
}

void CMainFrame::ShowWorkUnderWay(const QString& what) {
    m_workUnderWay = what;
    statusBar()->showMessage(IdleMessage());
}

bool CMainFrame::SetTextReadOnly(bool readOnly) {
    const bool before = m_source->isReadOnly();
    m_source->setReadOnly(readOnly);
    return before;
}

void CMainFrame::EndWorkUnderWay() {
    m_workUnderWay.clear();
    statusBar()->showMessage(IdleMessage());
}

void CMainFrame::ShowWellFormedness(const QString& message) {
    // A menu's prompt or an instruction being shown keeps its place.
    const QString shown = statusBar()->currentMessage();
    const bool idle =
        shown.isEmpty() || shown == IdleMessage() || (!m_itemPath.isEmpty() && shown == m_itemPath);
    m_wellFormedness = message;
    if (idle) {
        statusBar()->showMessage(IdleMessage());
    }
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    if (m_work->IsRunning()) {
        // A fetch is stopped first, other work waited for; the window closes
        // (asking to save as usual) once it has ended.
        m_docCommands->CancelUrlFetch();
        m_work->CloseWhenDone();
        event->ignore();
        return;
    }
    m_doc.SyncText();
    // A large document is saved apart: then the answer comes later, and the
    // window closes once the save has ended well.
    struct Answer {
        bool inside = true;  // still within SaveModified
        std::optional<bool> replaceable;
    };
    auto answer = std::make_shared<Answer>();
    m_docCommands->SaveModified([this, answer](bool replaceable) {
        if (answer->inside) {
            answer->replaceable = replaceable;
        } else if (replaceable) {
            QTimer::singleShot(0, this, [this] { close(); });
        }
    });
    answer->inside = false;
    if (!answer->replaceable.value_or(false)) {
        event->ignore();
        return;
    }
    m_app.Settings().setValue(QStringLiteral("Bar State"), saveState());
    m_app.Settings().setValue(QStringLiteral("Status Bar"), statusBar()->isVisible());
    event->accept();
}

}  // namespace quorrel
