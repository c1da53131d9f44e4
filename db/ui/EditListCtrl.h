// A report-style list whose item labels (column 0) the user edits in place:
// an edit is taken exactly as typed, Escape leaves the label as it was.
#pragma once

#include <QTreeWidget>

namespace quorrel {

class CEditListCtrl : public QTreeWidget {
    Q_OBJECT
public:
    explicit CEditListCtrl(QWidget* parent = nullptr);

    // Like the list-view calls: a column with its heading and width, an item
    // with its label at a position, and the text of one of its columns.
    void InsertColumn(int column, const QString& heading, int width);
    void InsertItem(int position, const QString& label);
    void SetItemText(int item, int column, const QString& text);
    QString GetItemText(int item, int column) const;
    int GetItemCount() const { return topLevelItemCount(); }
    void DeleteAllItems() { clear(); }

protected:
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
};

}  // namespace quorrel
