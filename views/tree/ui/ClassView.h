// The tree pane: the document's DOM as tree items, the current item, the
// context menus and the fourteen tree commands.
#pragma once

#include <functional>
#include <optional>
#include <vector>

#include "doc/core/Doc.h"
#include "edit/core/TreeCommands.h"
#include "framework/ui/CommandTarget.h"
#include "views/tree/core/TreeItems.h"
#include "views/tree/core/TreeRows.h"
#include "views/tree/ui/RowTreeView.h"

class QMenu;

namespace quorrel {

class CBackgroundWork;
struct XPathQuery;
class CDView;
class TreeModel;

class CClassView : public RowTreeView, public CDocView, public CommandTarget {
    Q_OBJECT
public:
    CClassView(CDoc& doc, QWidget* parent);
    ~CClassView() override;

    // The document's broadcast: with a sender the text is parsed again.
    void OnUpdate(CDocView* sender) override;
    // activate: this pane became active; fromOtherKind: the previous one was not a tree view.
    void OnActivateView(bool activate, bool fromOtherKind);

    const CTreeItems& Items() const { return m_items; }
    // Items built (and expanded) elsewhere from the DOM the document is about
    // to take, with their rows; the next update without a sender shows them
    // instead of building its own.
    void UseBuiltItems(CTreeItems items, CTreeRows rows);
    // Shows no items until the next update (a file is being opened).
    void ShowNoItems() { ShowItems(CTreeItems()); }
    TreeModel* Model() const { return m_model; }

    // The current item: what the tree commands act on.
    const CurrentItem& Current() const { return m_current; }
    // Records the item (and its label and images) as the current item.
    void SetCurrentItem(const CTreeItem* item);
    // Right click at a screen position: records the item there and opens its menu.
    void OnContextMenu(const QPoint& globalPos);

    // Runs a tree command from its dialog.
    void OnTreeCommand(TreeCommand command);
    // A tree command on every node the query finds, as one command (see
    // MatchCommands); firstMatch: the first node's tree item ("0.2.1"), where
    // the caret goes after.
    void OnMatchCommand(const XPathQuery& query, TreeCommand command, const CommandInputs& inputs,
                        const std::string& firstMatch);
    // Xml > Format Document (indent: the step, or empty for the document's
    // own), as one command: the tree rebuilt, one step of Undo.
    void OnFormatDocument(const std::string& indent);

    // Where long work runs, and the source pane it hands its text to (the frame sets them).
    CBackgroundWork* m_work = nullptr;
    CDView* m_sourceView = nullptr;

    // How menus and dialogs are shown; the tests replace them.
    std::function<QAction*(int command)> m_actionOf;
    std::function<QAction*(QMenu& menu, const QPoint& at)> m_execMenu;
    std::function<int(QDialog& dialog)> m_execDialog;
    // Adds to an item's context menu what others offer for it (Copy XPath).
    std::function<void(QMenu& menu, const CTreeItem* item)> m_extendMenu;

    // Whether the items' places in the text hold: no edit since they were built.
    bool InStepWithText() const;
    // Selects the innermost item at a byte offset of the text, revealing it,
    // without taking the focus or recording it as the current item; returns it.
    const CTreeItem* SelectItemAtOffset(std::size_t offset);

signals:
    void activated();
    // The user selected an item (click, keys), not the program.
    void itemChosen(const CTreeItem* item);
    // Fresh items are shown.
    void itemsShown();
    // A tree command is done: the item of the node it changed.
    void changedNodeShown(const CTreeItem* item);
    // A parse ended; error is null when it succeeded.
    void parsed(const quorrel::ParseError* error);

protected:
    void focusInEvent(QFocusEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void selectionChanged(const QItemSelection& selected,
                          const QItemSelection& deselected) override;

public:
    // Replaces the shown items with fresh ones (rows: theirs, when known
    // already), keeping the current item where it can.
    void ShowItems(CTreeItems fresh, std::optional<CTreeRows> rows = std::nullopt);

private:
    struct ParsedApart;   // a large text's parse, as the worker leaves it
    struct ChangedApart;  // a document change, likewise
    // A change of the whole document as a tree command makes it: computed
    // (apart on a large document) from the DOM, put in place, shown, the
    // caret at changedAt's node; undoing its text puts the caret at undoOffset.
    using DocumentChange =
        std::function<TreeCommandResult(std::unique_ptr<XmlDocument> dom, ResultFor wanted)>;
    void RunDocumentChange(const QString& what, DocumentChange compute,
                           const std::vector<int>& changedAt, std::size_t undoOffset);
    void ShowChangedApart(ChangedApart changed, const std::vector<int>& changedAt,
                          std::size_t undoOffset);
    void Refresh(bool reparse);
    void ShowParsedApart(ParsedApart parsed, bool pending);
    // The parse's outcome, to the source pane.
    void EmitParsed();
    // After a command's items are shown: the node it changed, then the parse's outcome.
    void ShowCommandDone(const std::vector<int>& changedAt);
    // Whether the document is large enough to be worked on apart.
    bool WorkApart() const;
    // Long work runs: the document is the worker's until it has ended.
    bool WorkUnderWay() const;
    void RegisterCommands();
    // Shift+F10 or the Menu key: the current item's menu, at the item.
    void OnKeyboardContextMenu();
    std::vector<int> PositionOf(const CTreeItem* item) const;
    const CTreeItem* ItemAt(const std::vector<int>& position) const;

    CDoc& m_doc;
    CTreeItems m_items;
    std::optional<CTreeItems> m_builtItems;  // see UseBuiltItems()
    std::optional<CTreeRows> m_builtRows;
    TreeModel* m_model;
    CurrentItem m_current;
    bool m_recording = true;          // selection changes record the current item
    std::uint64_t m_builtAtEdit = 0;  // the document's edit count when the items were shown
    bool m_menuKeyHandled = false;    // the platform made the Menu key a context-menu event
};

}  // namespace quorrel
