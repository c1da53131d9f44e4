#include "db/ui/EditListCtrl.h"

#include <QHeaderView>
#include <algorithm>

namespace quorrel {

CEditListCtrl::CEditListCtrl(QWidget* parent) : QTreeWidget(parent) {
    setColumnCount(0);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    // A click on the selected item's label, or F2, edits the label.
    setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);
}

void CEditListCtrl::InsertColumn(int column, const QString& heading, int width) {
    if (columnCount() <= column) {
        setColumnCount(column + 1);
    }
    QTreeWidgetItem* head = headerItem();
    head->setText(column, heading);
    head->setTextAlignment(column, Qt::AlignLeft | Qt::AlignVCenter);
    setColumnWidth(column, width);
}

void CEditListCtrl::InsertItem(int position, const QString& label) {
    auto* item = new QTreeWidgetItem;
    item->setText(0, label);
    item->setFlags(item->flags() | Qt::ItemIsEditable);
    insertTopLevelItem(std::clamp(position, 0, topLevelItemCount()), item);
}

void CEditListCtrl::SetItemText(int item, int column, const QString& text) {
    if (QTreeWidgetItem* i = topLevelItem(item)) {
        i->setText(column, text);
    }
}

QString CEditListCtrl::GetItemText(int item, int column) const {
    QTreeWidgetItem* i = topLevelItem(item);
    return i ? i->text(column) : QString();
}

bool CEditListCtrl::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) {
    // Only the label is editable; F2 edits the current item's label from any column.
    if (index.column() != 0 && trigger != EditKeyPressed) {
        return false;
    }
    return QTreeWidget::edit(index.siblingAtColumn(0), trigger, event);
}

}  // namespace quorrel
