// The frame's menus, toolbar, status bar panes and accelerators.
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

}  // namespace quorrel
