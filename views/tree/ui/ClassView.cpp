// The tree pane: its items shown and kept in step with the text, the current
// item, the keys and the context menus. The tree commands it runs are in
// ClassViewCommands.cpp.
#include "views/tree/ui/ClassView.h"

#include <QContextMenuEvent>
#include <QDialog>
#include <QKeyEvent>
#include <QMenu>
#include <QStyledItemDelegate>
#include <utility>

#include "doc/core/Disposal.h"
#include "framework/ui/BackgroundWork.h"
#include "framework/ui/Commands.h"
#include "views/tree/ui/TreeModel.h"

namespace quorrel {

namespace {

// Element and attribute items are blue, white while selected in the focused tree.
class ItemColours : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        const CTreeItem* item = TreeModel::ItemOf(index);
        if (item == nullptr) {
            return;
        }
        int kind = item->selectedImage();
        if (kind != IMG_ROOT && kind != IMG_ELEMENT_LEAF && kind != IMG_ATTRIBUTE &&
            kind != IMG_ELEMENT_PARENT_OPEN) {
            return;
        }
        bool selectedWithFocus =
            (option->state & QStyle::State_Selected) && (option->state & QStyle::State_HasFocus);
        QColor colour = selectedWithFocus ? QColor(255, 255, 255) : QColor(0, 0, 255);
        option->palette.setColor(QPalette::Text, colour);
        option->palette.setColor(QPalette::HighlightedText, colour);
    }
};

// Leaf and parent elements are one kind: adding a child element changes the image, not the node.
int KindOf(int selectedImage) {
    return selectedImage == IMG_ELEMENT_LEAF ? IMG_ELEMENT_PARENT_OPEN : selectedImage;
}

struct ContextMenu {
    const char* title;
    std::vector<int> commands;
};

// Menus 143, 144 and 145: by the item's kind; none for the root, comments and CDATA.
const ContextMenu* ContextMenuFor(int selectedImage) {
    static const ContextMenu element{
        "Element Node",
        {ID_ADD_ATTRIBUTE, ID_ADD_CHILD_ELEMENT, ID_ADD_TEXT_NODE, ID_RENAME_ELEMENT,
         ID_DELETE_ELEMENT_AND_CHILDREN, ID_DELETE_ELEMENT_ONLY, ID_ELEMENT_TO_ATTRIBUTE,
         ID_DUPLICATE_ELEMENT_SUBTREE}};
    static const ContextMenu attribute{"Attribute Node",
                                       {ID_CHANGE_ATTRIBUTE_NAME, ID_CHANGE_ATTRIBUTE_VALUE,
                                        ID_ATTRIBUTE_TO_ELEMENT, ID_DELETE_ATTRIBUTE}};
    static const ContextMenu text{"Text Node", {ID_DELETE_TEXT_NODE, ID_CHANGE_TEXT_VALUE}};
    switch (selectedImage) {
        case IMG_ELEMENT_LEAF:
        case IMG_ELEMENT_PARENT_OPEN:
            return &element;
        case IMG_ATTRIBUTE:
            return &attribute;
        case IMG_TEXT:
            return &text;
        default:
            return nullptr;
    }
}

}  // namespace

CClassView::CClassView(CDoc& doc, QWidget* parent)
    : RowTreeView(parent), m_doc(doc), m_model(new TreeModel(m_items, this)) {
    setObjectName(QStringLiteral("treeView"));
    setIndentation(25);
    setDragEnabled(false);
    setEditTriggers(NoEditTriggers);
    setSelectionMode(SingleSelection);
    setTextElideMode(Qt::ElideNone);
    setItemDelegate(new ItemColours(this));
    setTreeModel(m_model);
    m_execMenu = [](QMenu& menu, const QPoint& at) { return menu.exec(at); };
    m_execDialog = [](QDialog& dialog) { return dialog.exec(); };
    RegisterCommands();
}

CClassView::~CClassView() = default;

std::vector<int> CClassView::PositionOf(const CTreeItem* item) const {
    std::vector<int> position;
    for (const CTreeItem* i = item; i != nullptr; i = i->parent()) {
        position.insert(position.begin(), i->row());
    }
    return position;
}

const CTreeItem* CClassView::ItemAt(const std::vector<int>& position) const {
    std::span<const CTreeItem> level = m_items.TopItems();
    const CTreeItem* item = nullptr;
    for (int row : position) {
        if (row < 0 || std::size_t(row) >= level.size()) {
            return nullptr;
        }
        item = &level[std::size_t(row)];
        level = item->children();
    }
    return item;
}

// About 1 MB of items.
constexpr std::size_t kDisposeItemsApartFrom = 32 * 1024;

void CClassView::ShowItems(CTreeItems fresh, std::optional<CTreeRows> rows) {
    // The current item is found again at its position, if the same kind of
    // item with the same label stands there; otherwise there is none.
    std::vector<int> position = PositionOf(m_current.hSelItem);
    std::string label = m_current.strSelItem;
    int kind = KindOf(m_current.nSelSelectedImage);

    m_recording = false;
    if (!rows) {
        rows = CTreeRows::Of(fresh);
    }
    CTreeItems old = std::exchange(m_items, std::move(fresh));
    m_builtAtEdit = m_doc.TextEdits();
    m_model->Reset(std::move(*rows));
    // The rows no longer point into the old items; a large tree's take
    // tens of milliseconds to free.
    if (old.Count() >= kDisposeItemsApartFrom) {
        DisposeOfValue(std::move(old));
    }

    const CTreeItem* again = position.empty() ? nullptr : ItemAt(position);
    if (again != nullptr && again->label() == label && KindOf(again->selectedImage()) == kind) {
        QModelIndex index = m_model->Reveal(again);
        setCurrentIndex(index);
        scrollTo(index);
        SetCurrentItem(again);
    } else {
        m_current = CurrentItem();
    }
    m_recording = true;
    emit itemsShown();
}

bool CClassView::WorkApart() const {
    const std::optional<std::string_view> pending = m_doc.PendingText();
    std::size_t size = pending ? pending->size() : m_doc.Text().size();
    return m_work != nullptr && size >= CBackgroundWork::kApartFrom;
}

bool CClassView::WorkUnderWay() const {
    return m_work != nullptr && m_work->IsRunning();
}

struct CClassView::ParsedApart {
    std::string text;  // the view's text, when the document's was pending
    std::unique_ptr<XmlDocument> dom;
    CTreeItems items;
    std::optional<CTreeRows> rows;
};

void CClassView::Refresh(bool reparse) {
    if (WorkUnderWay()) {
        return;  // the document is the worker's; the text cannot change meanwhile
    }
    // Built apart and swapped in, so a message shown while parsing finds the
    // view with its old, whole items.
    CTreeItems fresh;
    std::optional<CTreeRows> rows;
    if (reparse && WorkApart()) {
        // The text the view holds is read as it stands (it is read-only meanwhile).
        const std::optional<std::string_view> view = m_doc.PendingText();
        const bool pending = view.has_value();
        std::string_view shown = view.value_or(std::string_view());
        const CDoc& doc = m_doc;
        m_work->Start(
            QStringLiteral("Parsing…"),
            [this, &doc, pending, shown]() -> CBackgroundWork::Continuation {
                auto out = std::make_shared<ParsedApart>();
                if (pending) {
                    out->text.assign(shown);
                }
                ParsedTree parsed =
                    ParseForTree(doc, pending ? std::string_view(out->text) : doc.Text());
                out->dom = std::move(parsed.dom);
                out->items = std::move(parsed.items);
                out->rows = CTreeRows::Of(out->items);
                return [this, out, pending] { ShowParsedApart(std::move(*out), pending); };
            },
            [this](const std::string& error) {
                m_doc.Messages().ShowMessage("The document could not be parsed:\n" + error);
            });
        return;
    }
    if (reparse) {
        ReparseAndBuildTree(m_doc, fresh);
        ExpandBranches(fresh, fresh.GetRootItem());
    } else if (m_builtItems) {
        fresh = std::move(*m_builtItems);
        rows = std::move(m_builtRows);
    } else {
        BuildTreeFromDom(m_doc, fresh);
        ExpandBranches(fresh, fresh.GetRootItem());
    }
    m_builtItems.reset();
    m_builtRows.reset();
    ShowItems(std::move(fresh), std::move(rows));
    if (reparse) {
        EmitParsed();
    }
}

void CClassView::ShowParsedApart(ParsedApart parsed, bool pending) {
    if (pending) {
        m_doc.SyncText(std::move(parsed.text));
    }
    m_doc.InstallParsed(std::move(parsed.dom));
    m_builtItems.reset();
    m_builtRows.reset();
    ShowItems(std::move(parsed.items), std::move(parsed.rows));
    EmitParsed();
}

void CClassView::EmitParsed() {
    const ParseError* error = m_doc.HasDom() ? &m_doc.Dom().parseError() : nullptr;
    emit parsed(error && error->line > 0 ? error : nullptr);
}

void CClassView::UseBuiltItems(CTreeItems items, CTreeRows rows) {
    m_builtItems = std::move(items);
    m_builtRows = std::move(rows);
}

void CClassView::OnUpdate(CDocView* sender) {
    Refresh(sender != nullptr);
}

void CClassView::OnActivateView(bool activate, bool fromOtherKind) {
    if (activate && fromOtherKind && m_doc.IsTextChanged() && !WorkUnderWay()) {
        Refresh(true);
        m_doc.ClearTextChanged();
    }
}

void CClassView::SetCurrentItem(const CTreeItem* item) {
    if (item == nullptr) {
        return;
    }
    m_current = CurrentItemOf(item);
}

void CClassView::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    RowTreeView::currentChanged(current, previous);
    if (m_recording && current.isValid()) {
        SetCurrentItem(TreeModel::ItemOf(current));
        emit itemChosen(TreeModel::ItemOf(current));
    }
}

bool CClassView::InStepWithText() const {
    return !m_items.IsEmpty() && m_builtAtEdit == m_doc.TextEdits() && !m_doc.IsTextPending();
}

const CTreeItem* CClassView::SelectItemAtOffset(std::size_t offset) {
    const CTreeItem* item = ItemAtOffset(m_items, m_doc.Text(), offset);
    if (item == nullptr) {
        return nullptr;
    }
    QModelIndex index = m_model->Reveal(item);
    const bool recording = std::exchange(m_recording, false);
    setCurrentIndex(index);
    m_recording = recording;
    scrollTo(index);
    return item;
}

void CClassView::selectionChanged(const QItemSelection& selected,
                                  const QItemSelection& deselected) {
    RowTreeView::selectionChanged(selected, deselected);
    // Selecting the item that is current already (one Qt made current on
    // focus) changes no current index, but it is a choice all the same.
    QModelIndex current = currentIndex();
    if (m_recording && current.isValid() && selected.contains(current)) {
        SetCurrentItem(TreeModel::ItemOf(current));
    }
}

void CClassView::focusInEvent(QFocusEvent* event) {
    // With no current index, Qt makes the first item current when the tree
    // gets the focus by other means than the mouse. Coming back from a menu
    // or a dialog that would move the focus rectangle to the root; and an
    // item made current that way is not one the user chose, so it is never
    // recorded (it would take the place of a right-clicked item).
    Qt::FocusReason reason = event->reason();
    bool returning = reason == Qt::PopupFocusReason || reason == Qt::ActiveWindowFocusReason;
    QFocusEvent asIfClicked(QEvent::FocusIn, Qt::MouseFocusReason);
    bool recording = std::exchange(m_recording, false);
    RowTreeView::focusInEvent(returning && !currentIndex().isValid() ? &asIfClicked : event);
    m_recording = recording;
    emit activated();
}

void CClassView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) {
        // A right click makes the item current without moving the highlight.
        setFocus(Qt::MouseFocusReason);
        event->accept();
        return;
    }
    RowTreeView::mousePressEvent(event);
}

void CClassView::keyPressEvent(QKeyEvent* event) {
    bool menuKey = event->key() == Qt::Key_Menu && event->modifiers() == Qt::NoModifier;
    bool shiftF10 = event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier;
    if (menuKey && std::exchange(m_menuKeyHandled, false)) {
        event->accept();  // its menu has been shown already
        return;
    }
    m_menuKeyHandled = false;
    if (menuKey || shiftF10) {
        OnKeyboardContextMenu();
        event->accept();
        return;
    }
    RowTreeView::keyPressEvent(event);
}

void CClassView::contextMenuEvent(QContextMenuEvent* event) {
    if (event->reason() == QContextMenuEvent::Keyboard) {
        // X turns the Menu key into this event before the key press arrives;
        // the menu belongs to the current item, wherever the pointer is.
        m_menuKeyHandled = true;
        OnKeyboardContextMenu();
    } else {
        OnContextMenu(event->globalPos());
    }
    event->accept();
}

bool CClassView::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        return true;  // the tree has no tooltips
    }
    return RowTreeView::viewportEvent(event);
}

void CClassView::OnKeyboardContextMenu() {
    QModelIndex index = currentIndex();
    if (!index.isValid() && m_current.hSelItem != nullptr) {
        index = m_model->Reveal(m_current.hSelItem);  // right-clicked, not highlighted
    }
    if (!index.isValid()) {
        return;
    }
    scrollTo(index);
    // Over the start of the label, as if the item had been right-clicked there.
    QRect rect = visualRect(index);
    QPoint at(rect.left() + std::min(rect.width() / 2, 2 * rect.height()), rect.center().y());
    OnContextMenu(viewport()->mapToGlobal(at));
}

void CClassView::OnContextMenu(const QPoint& globalPos) {
    QModelIndex index = indexAt(viewport()->mapFromGlobal(globalPos));
    const CTreeItem* item = TreeModel::ItemOf(index);
    if (item == nullptr) {
        return;
    }
    SetCurrentItem(item);
    const ContextMenu* chosen = ContextMenuFor(item->selectedImage());
    if (chosen == nullptr || !m_actionOf) {
        return;  // the root, comments and CDATA have no menu
    }
    QMenu menu(QString::fromUtf8(chosen->title), this);
    menu.setObjectName(QStringLiteral("contextMenu"));
    for (int id : chosen->commands) {
        if (QAction* action = m_actionOf(id)) {
            action->setEnabled(IsEnabled(id));
            menu.addAction(action);
        }
    }
    if (m_extendMenu) {
        m_extendMenu(menu, item);
    }
    m_execMenu(menu, globalPos + QPoint(0, 10));
}

}  // namespace quorrel
