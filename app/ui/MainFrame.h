// The main window: menus, toolbar, status bar, and the splitter with the
// source pane on the left and the tree pane on the right.
#pragma once

#include <QMainWindow>
#include <QString>
#include <map>
#include <memory>

#include "framework/ui/CommandTarget.h"
#include "views/window/ui/DocWindow.h"

class QAction;
class QLabel;
class QMenu;
class QSplitter;
class QTimer;
class QToolBar;

namespace quorrel {

class CBackgroundWork;
class CClassView;
class CDView;
class CDoc;
class CTreeItem;
class CFrameApp;
class CXPathPanel;
class DocCommands;
class UserInterface;

class CMainFrame : public QMainWindow, public CommandTarget, public CDocWindow {
    Q_OBJECT
public:
    CMainFrame(CFrameApp& app, CDoc& doc, UserInterface& ui);
    ~CMainFrame() override;

    CDView* SourceView() const override { return m_source; }
    CClassView* TreeView() const override { return m_tree; }
    DocCommands& Document() const { return *m_docCommands; }
    QSplitter* Splitter() const { return m_splitter; }
    QToolBar* ToolBar() const { return m_toolBar; }
    QLabel* ProgressPane() const { return m_progressPane; }
    CXPathPanel* XPathPanel() const { return m_xpath; }

    // The view whose pane is active: the source view or the tree view.
    QWidget* ActiveView() const override { return m_active; }
    void SetActivePane(QWidget* view) override;

    // Runs a command through the route (active view, document, frame, application).
    void OnCommand(int id);
    bool IsCommandEnabled(int id) const;
    // A URL is being fetched, a file opened or long work done: every command waits.
    bool IsBusy() const override;
    // Where long document work runs off the window's thread.
    CBackgroundWork& Work() const override { return *m_work; }
    // The message pane says what runs ("Saving…") until it has ended.
    void ShowWorkUnderWay(const QString& what) override;
    void EndWorkUnderWay() override;
    QMainWindow& HostWindow() override { return *this; }
    bool SetTextReadOnly(bool readOnly) override;
    QAction* Action(int id) const;
    // Enables, disables and checks every menu item and toolbar button.
    void UpdateCommandUI() override;

    // "name - Quorrel".
    void UpdateTitle() override;
    void SetRecentFiles(const QStringList& files);

    // Frame geometry: six sevenths of the screen, centred with equal margins.
    static QRect InitialGeometry(const QSize& screen);

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    CommandTarget* Route(int id) const;
    void CreateActions();
    void CreateMenus();
    void CreateToolBar();
    void CreateStatusBar();
    void CreateAccelerators();
    void RegisterCommands();
    void OnFocusChanged(QWidget* old, QWidget* now);
    void NextPane();
    void SplitWithKeyboard();
    // The initial geometry is the frame's, decorations included: once the
    // window system tells how large they are, the client area makes room for
    // them. False while their size is not known yet.
    bool FitDecorationsIntoInitialGeometry();
    // The source pane's typing check: its finding stays in the message pane
    // whenever nothing else is shown there.
    void ShowWellFormedness(const QString& message);
    // The caret goes to the chosen item; the tree selects the item at the caret.
    void ShowItemInText(const CTreeItem* item);
    void ShowCaretInTree();
    // The item's path in the message pane, as the tree commands build it.
    void ShowItemPath(const CTreeItem* item);
    // The message pane no longer shows an item path (if it did).
    void ClearItemPath();
    QString IdleMessage() const;

    CFrameApp& m_app;
    CDoc& m_doc;
    UserInterface& m_ui;
    QSplitter* m_splitter = nullptr;
    CDView* m_source = nullptr;
    CClassView* m_tree = nullptr;
    QWidget* m_active = nullptr;
    DocCommands* m_docCommands = nullptr;
    CXPathPanel* m_xpath = nullptr;  // Xml > Find by XPath
    std::unique_ptr<CBackgroundWork> m_work;
    QToolBar* m_toolBar = nullptr;
    QLabel* m_progressPane = nullptr;
    QMenu* m_recentMenuAnchor = nullptr;
    QString m_wellFormedness;  // the typing check's finding, empty when none
    bool m_following = false;  // one pane is following the other
    long m_caretSeen = 0;      // where the source caret was last followed from, or put
    QString m_itemPath;        // the path the message pane shows for the caret, if any
    QString m_workUnderWay;    // what long work runs, while it does
    std::map<int, QAction*> m_actions;
    std::vector<QAction*> m_recentActions;
    QTimer* m_decorationWait =
        nullptr;  // made on the first show; runs until the decorations are known
};

}  // namespace quorrel
