#include "views/tree/ui/ClassView.h"

#include <QStyledItemDelegate>

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
        int kind = item->selectedImage;
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

}  // namespace

CClassView::CClassView(CDoc& doc, QWidget* parent)
    : QTreeView(parent), m_doc(doc), m_model(new TreeModel(m_items, this)) {
    setObjectName(QStringLiteral("treeView"));
    setHeaderHidden(true);
    setIndentation(25);
    setRootIsDecorated(true);
    setUniformRowHeights(true);
    setDragEnabled(false);
    setEditTriggers(NoEditTriggers);
    setSelectionMode(SingleSelection);
    setTextElideMode(Qt::ElideNone);
    setItemDelegate(new ItemColours(this));
    setModel(m_model);
}

CClassView::~CClassView() = default;

void CClassView::ShowItems() {
    m_model->EndRebuild();
    // Expanding before the first layout after the reset only records the
    // indexes; expanding afterwards would lay out the tree once per item.
    std::vector<const CTreeItem*> pending;
    for (const auto& top : m_items.TopItems()) {
        pending.push_back(top.get());
    }
    while (!pending.empty()) {
        const CTreeItem* item = pending.back();
        pending.pop_back();
        if (!item->expanded) {
            continue;
        }
        setExpanded(m_model->IndexOf(item), true);
        for (const auto& child : item->children) {
            pending.push_back(child.get());
        }
    }
}

void CClassView::Refresh(bool reparse) {
    m_model->BeginRebuild();
    m_items.DeleteAllItems();
    if (reparse) {
        ReparseAndBuildTree(m_doc, m_items);
    } else {
        BuildTreeFromDom(m_doc, m_items);
    }
    ExpandBranches(m_items.GetRootItem());
    ShowItems();
    if (reparse) {
        const ParseError* error = m_doc.m_pDomDoc ? &m_doc.m_pDomDoc->parseError() : nullptr;
        emit parsed(error && error->line > 0 ? error : nullptr);
    }
}

void CClassView::OnUpdate(CDocView* sender) { Refresh(sender != nullptr); }

void CClassView::OnActivateView(bool activate, bool fromOtherKind) {
    if (activate && fromOtherKind && m_doc.m_bTextChanged) {
        Refresh(true);
        m_doc.m_bTextChanged = false;
    }
}

void CClassView::focusInEvent(QFocusEvent* event) {
    QTreeView::focusInEvent(event);
    emit activated();
}

}  // namespace quorrel
