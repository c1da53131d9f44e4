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

namespace {

// The Split command: arrow keys move the splitter bar until Enter places it
// or Esc puts it back. Any other key ends the mode as Esc does and nothing
// more: it is neither typed nor a shortcut. A mouse click ends the mode and
// then goes where it was meant to.
class SplitterKeys : public QObject {
public:
    static constexpr const char* kName = "splitterKeys";  // while the mode lasts

    SplitterKeys(QSplitter* splitter, QWidget* restoreFocus, std::function<void()> ended)
        : QObject(splitter),
          m_splitter(splitter),
          m_restore(restoreFocus),
          m_start(splitter->sizes()),
          m_ended(std::move(ended)) {
        setObjectName(kName);
        qApp->installEventFilter(this);
        m_splitter->setCursor(Qt::SplitHCursor);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        switch (event->type()) {
            case QEvent::KeyPress:
                return OnKey(static_cast<QKeyEvent*>(event));
            case QEvent::ShortcutOverride:
                // Taken, so that no shortcut runs: the key arrives as a key
                // press, which ends the mode.
                if (!IsModeKey(static_cast<QKeyEvent*>(event)->key())) {
                    event->accept();
                    return true;
                }
                return false;
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonDblClick:
                Cancel();
                return false;
            default:
                return false;
        }
    }

private:
    static bool IsModeKey(int key) {
        switch (key) {
            case Qt::Key_Left:
            case Qt::Key_Right:
            case Qt::Key_Escape:
            case Qt::Key_Return:
            case Qt::Key_Enter:
            case Qt::Key_Shift:
            case Qt::Key_Control:
            case Qt::Key_Alt:
            case Qt::Key_AltGr:
            case Qt::Key_Meta:
                return true;
            default:
                return false;
        }
    }

    bool OnKey(QKeyEvent* key) {
        QList<int> sizes = m_splitter->sizes();
        int step = (key->modifiers() & Qt::ControlModifier) ? 1 : 10;
        switch (key->key()) {
            case Qt::Key_Left:
                m_splitter->setSizes({std::max(0, sizes[0] - step), sizes[1] + step});
                return true;
            case Qt::Key_Right:
                m_splitter->setSizes({sizes[0] + step, std::max(0, sizes[1] - step)});
                return true;
            case Qt::Key_Escape:
                Cancel();
                return true;
            case Qt::Key_Return:
            case Qt::Key_Enter:
                Finish();
                return true;
            case Qt::Key_Shift:
            case Qt::Key_Control:
            case Qt::Key_Alt:
            case Qt::Key_AltGr:
            case Qt::Key_Meta:
                return false;  // held for a finer step, or on the way to another key
            default:
                Cancel();
                return true;
        }
    }

    void Cancel() {
        m_splitter->setSizes(m_start);
        Finish();
    }

    void Finish() {
        setObjectName(QString());
        qApp->removeEventFilter(this);
        m_splitter->unsetCursor();
        if (m_restore) {
            m_restore->setFocus();
        }
        m_ended();
        deleteLater();
    }

    QSplitter* m_splitter;
    QPointer<QWidget> m_restore;
    QList<int> m_start;
    std::function<void()> m_ended;
};

// A toolbar button whose command has no tooltip text shows none: Qt would
// show the menu text instead.
class NoTooltip : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject*, QEvent* event) override { return event->type() == QEvent::ToolTip; }
};

struct Accelerator {
    QKeySequence keys;
    int command;
};

}  // namespace

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

void CMainFrame::CreateActions() {
    for (const CommandText& command : AllCommands()) {
        if (command.id == ID_NEXT_PANE || command.id == ID_PREV_PANE ||
            command.id == ID_FILE_MRU_FILE1) {
            continue;
        }
        auto* action = new QAction(QString::fromUtf8(command.menuText), this);
        action->setObjectName(QStringLiteral("command%1").arg(command.id));
        action->setStatusTip(PromptOf(command));
        QString tooltip = TooltipOf(command);
        if (!tooltip.isEmpty()) {
            action->setToolTip(tooltip);
        }
        action->setData(command.id);
        connect(action, &QAction::triggered, this, [this, id = command.id] { OnCommand(id); });
        m_actions[command.id] = action;
    }
    for (int i = 0; i < 4; ++i) {
        auto* action = new QAction(QStringLiteral("Recent File"), this);
        action->setObjectName(QStringLiteral("command%1").arg(ID_FILE_MRU_FILE1 + i));
        action->setStatusTip(QStringLiteral("Open this document"));
        connect(action, &QAction::triggered, this, [this, i] { OnCommand(ID_FILE_MRU_FILE1 + i); });
        m_actions[ID_FILE_MRU_FILE1 + i] = action;
        m_recentActions.push_back(action);
    }
    m_actions[ID_VIEW_TOOLBAR]->setCheckable(true);
    m_actions[ID_VIEW_STATUS_BAR]->setCheckable(true);
}

void CMainFrame::CreateMenus() {
    auto add = [this](QMenu* menu, int id) { menu->addAction(m_actions.at(id)); };
    auto watch = [this](QMenu* menu) {
        connect(menu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandUI);
    };

    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    for (int id : {ID_FILE_NEW, ID_FILE_OPEN, ID_OPEN_URL}) {
        add(file, id);
    }
    file->addSeparator();
    add(file, ID_FILE_SAVE);
    add(file, ID_FILE_SAVE_AS);
    file->addSeparator();
    for (int id : {ID_FILE_PRINT, ID_FILE_PRINT_PREVIEW, ID_FILE_PRINT_SETUP}) {
        add(file, id);
    }
    file->addSeparator();
    for (QAction* recent : m_recentActions) {
        file->addAction(recent);
    }
    file->addSeparator();
    add(file, ID_APP_EXIT);
    watch(file);

    QMenu* edit = menuBar()->addMenu(QStringLiteral("&Edit"));
    add(edit, ID_EDIT_UNDO);
    edit->addSeparator();
    for (int id : {ID_EDIT_CUT, ID_EDIT_COPY, ID_EDIT_PASTE, ID_EDIT_SELECT_ALL}) {
        add(edit, id);
    }
    edit->addSeparator();
    for (int id : {ID_EDIT_FIND, ID_EDIT_REPEAT, ID_EDIT_REPLACE}) {
        add(edit, id);
    }
    watch(edit);

    QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
    add(view, ID_VIEW_TOOLBAR);
    add(view, ID_VIEW_STATUS_BAR);
    QMenu* switchView = view->addMenu(QStringLiteral("S&witch View"));
    add(switchView, ID_SWITCH_TO_SOURCE);
    add(switchView, ID_SWITCH_TO_TREE);
    add(view, ID_WINDOW_SPLIT);
    watch(view);
    watch(switchView);

    QMenu* xml = menuBar()->addMenu(QStringLiteral("&Xml"));
    QAction* openFromUrl = new QAction(QStringLiteral("&Open (From URL)... "), this);
    openFromUrl->setStatusTip(m_actions.at(ID_OPEN_URL)->statusTip());
    openFromUrl->setObjectName(QStringLiteral("command%1xml").arg(ID_OPEN_URL));
    connect(openFromUrl, &QAction::triggered, this, [this] { OnCommand(ID_OPEN_URL); });
    connect(m_actions.at(ID_OPEN_URL), &QAction::enabledChanged, openFromUrl, &QAction::setEnabled);
    openFromUrl->setEnabled(m_actions.at(ID_OPEN_URL)->isEnabled());
    xml->addAction(openFromUrl);
    QMenu* validate = xml->addMenu(QStringLiteral("&Validate?"));
    add(validate, ID_VALIDATE_YES);
    add(validate, ID_VALIDATE_NO);
    add(xml, ID_PARSE);
    add(xml, ID_FORMAT_DOCUMENT);
    add(xml, ID_FIND_XPATH);
    watch(xml);
    watch(validate);

    QMenu* data = menuBar()->addMenu(QStringLiteral("&Data Source"));
    add(data, ID_GET_XML_DATA);
    watch(data);

    QMenu* tree = menuBar()->addMenu(QStringLiteral("&Tree Node"));
    QMenu* element = tree->addMenu(QStringLiteral("Element Node"));
    for (int id : {ID_ADD_ATTRIBUTE, ID_ADD_CHILD_ELEMENT, ID_ADD_TEXT_NODE, ID_RENAME_ELEMENT,
                   ID_DELETE_ELEMENT_AND_CHILDREN, ID_DELETE_ELEMENT_ONLY, ID_ELEMENT_TO_ATTRIBUTE,
                   ID_DUPLICATE_ELEMENT_SUBTREE}) {
        add(element, id);
    }
    QMenu* attribute = tree->addMenu(QStringLiteral("Attribute Node"));
    for (int id : {ID_CHANGE_ATTRIBUTE_NAME, ID_CHANGE_ATTRIBUTE_VALUE, ID_ATTRIBUTE_TO_ELEMENT,
                   ID_DELETE_ATTRIBUTE}) {
        add(attribute, id);
    }
    QMenu* text = tree->addMenu(QStringLiteral("Text Node"));
    add(text, ID_DELETE_TEXT_NODE);
    add(text, ID_CHANGE_TEXT_VALUE);
    for (QMenu* m : {tree, element, attribute, text}) {
        watch(m);
    }

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    add(help, ID_HELP_TOPICS);
    add(help, ID_APP_ABOUT);
    watch(help);
}

void CMainFrame::CreateToolBar() {
    m_toolBar = addToolBar(QStringLiteral("Toolbar"));
    m_toolBar->setObjectName(QStringLiteral("toolBar"));
    m_toolBar->setIconSize(QSize(16, 15));
    m_toolBar->setAllowedAreas(Qt::AllToolBarAreas);
    const int layout[] = {ID_FILE_NEW,
                          ID_FILE_OPEN,
                          ID_FILE_SAVE,
                          0,
                          ID_EDIT_CUT,
                          ID_EDIT_COPY,
                          ID_EDIT_PASTE,
                          ID_FILE_PRINT,
                          0,
                          ID_SWITCH_TO_SOURCE,
                          ID_SWITCH_TO_TREE,
                          0,
                          ID_OPEN_URL,
                          ID_VALIDATE_NO,
                          ID_PARSE,
                          ID_FIND_XPATH,
                          0,
                          ID_GET_XML_DATA,
                          0,
                          ID_HELP_TOPICS};
    for (int id : layout) {
        if (id == 0) {
            m_toolBar->addSeparator();
            continue;
        }
        QAction* action = m_actions.at(id);
        action->setIcon(ToolbarIcon(id));
        m_toolBar->addAction(action);
        if (const CommandText* command = FindCommand(id);
            command && TooltipOf(*command).isEmpty()) {
            QWidget* button = m_toolBar->widgetForAction(action);
            button->installEventFilter(new NoTooltip(button));
        }
    }
    connect(m_toolBar, &QToolBar::visibilityChanged, this, &CMainFrame::UpdateCommandUI);
}

void CMainFrame::CreateStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("statusBar"));
    // The pane the progress indicator will take: as wide as 46 blanks.
    m_progressPane = new QLabel(QString(46, QLatin1Char(' ')), bar);
    m_progressPane->setObjectName(QStringLiteral("progressPane"));
    m_progressPane->setMinimumWidth(
        m_progressPane->fontMetrics().horizontalAdvance(QString(46, QLatin1Char(' '))));
    bar->addPermanentWidget(m_progressPane);
    bar->showMessage(QStringLiteral("Ready"));
    connect(bar, &QStatusBar::messageChanged, bar, [this, bar](const QString& text) {
        if (text.isEmpty()) {
            bar->showMessage(IdleMessage());
        }
    });
}

void CMainFrame::CreateAccelerators() {
    const Accelerator accelerators[] = {
        {QKeySequence(Qt::CTRL | Qt::Key_N), ID_FILE_NEW},
        {QKeySequence(Qt::CTRL | Qt::Key_O), ID_FILE_OPEN},
        {QKeySequence(Qt::CTRL | Qt::Key_S), ID_FILE_SAVE},
        {QKeySequence(Qt::CTRL | Qt::Key_P), ID_FILE_PRINT},
        {QKeySequence(Qt::CTRL | Qt::Key_Z), ID_EDIT_UNDO},
        {QKeySequence(Qt::CTRL | Qt::Key_X), ID_EDIT_CUT},
        {QKeySequence(Qt::CTRL | Qt::Key_C), ID_EDIT_COPY},
        {QKeySequence(Qt::CTRL | Qt::Key_V), ID_EDIT_PASTE},
        {QKeySequence(Qt::ALT | Qt::Key_Backspace), ID_EDIT_UNDO},
        {QKeySequence(Qt::SHIFT | Qt::Key_Delete), ID_EDIT_CUT},
        {QKeySequence(Qt::CTRL | Qt::Key_Insert), ID_EDIT_COPY},
        {QKeySequence(Qt::SHIFT | Qt::Key_Insert), ID_EDIT_PASTE},
        {QKeySequence(Qt::Key_F6), ID_NEXT_PANE},
        {QKeySequence(Qt::SHIFT | Qt::Key_F6), ID_PREV_PANE},
        // The keys the menus show beside these commands.
        {QKeySequence(Qt::CTRL | Qt::Key_U), ID_OPEN_URL},
        {QKeySequence(Qt::CTRL | Qt::Key_F), ID_EDIT_FIND},
        {QKeySequence(Qt::Key_F3), ID_EDIT_REPEAT},
        {QKeySequence(Qt::CTRL | Qt::Key_H), ID_EDIT_REPLACE},
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_X), ID_FIND_XPATH},
    };
    for (const Accelerator& a : accelerators) {
        auto* shortcut = new QShortcut(a.keys, this);
        shortcut->setObjectName(QStringLiteral("accelerator%1").arg(a.command));
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, [this, id = a.command] {
            UpdateCommandUI();
            if (IsCommandEnabled(id)) {
                OnCommand(id);
            }
        });
    }
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
