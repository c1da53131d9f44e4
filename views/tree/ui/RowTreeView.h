// A tree drawn from a flat list of rows: each row's depth gives its
// indentation, and the view draws the branch arrow of an item that has
// children. Every operation costs the rows on screen, whatever the tree
// holds: no layout of the whole tree ever runs.
#pragma once

#include <QAbstractItemView>

namespace quorrel {

class TreeModel;

class RowTreeView : public QAbstractItemView {
    Q_OBJECT
public:
    explicit RowTreeView(QWidget* parent = nullptr);

    void setTreeModel(TreeModel* model);
    TreeModel* treeModel() const { return m_model; }
    int indentation() const { return m_indentation; }
    void setIndentation(int pixels) { m_indentation = pixels; }
    bool isExpanded(const QModelIndex& index) const;
    void setExpanded(const QModelIndex& index, bool expanded);
    int rowHeight() const;

    QRect visualRect(const QModelIndex& index) const override;
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
    QModelIndex indexAt(const QPoint& point) const override;
    // Where a row's branch arrow is drawn, in viewport coordinates.
    QRect branchRect(const QModelIndex& index) const;

protected:
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    int horizontalOffset() const override;
    int verticalOffset() const override;
    bool isIndexHidden(const QModelIndex& index) const override;
    void setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) override;
    QRegion visualRegionForSelection(const QItemSelection& selection) const override;
    void updateGeometries() override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void rowsInserted(const QModelIndex& parent, int start, int end) override;
    void rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    int FirstShownRow() const;
    int ContentLeft(const QModelIndex& index) const;
    QStyleOptionViewItem OptionFor(const QModelIndex& index) const;

    TreeModel* m_model = nullptr;
    int m_indentation = 20;
    mutable int m_rowHeight = 0;
    mutable int m_contentWidth = 0;  // the widest row drawn so far
};

}  // namespace quorrel
