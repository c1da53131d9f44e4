#include "views/tree/ui/RowTreeView.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

#include "views/tree/ui/TreeModel.h"

namespace quorrel {

RowTreeView::RowTreeView(QWidget* parent) : QAbstractItemView(parent) {
    setVerticalScrollMode(ScrollPerItem);
    setHorizontalScrollMode(ScrollPerPixel);
    setIconSize(QSize(16, 16));
}

void RowTreeView::setTreeModel(TreeModel* model) {
    m_model = model;
    setModel(model);
    auto refit = [this] {
        updateGeometries();
        viewport()->update();
    };
    connect(model, &QAbstractItemModel::rowsRemoved, this, refit);
    connect(model, &QAbstractItemModel::modelReset, this, [this, refit] {
        m_contentWidth = 0;
        verticalScrollBar()->setValue(0);
        horizontalScrollBar()->setValue(0);
        refit();
    });
}

int RowTreeView::rowHeight() const {
    if (m_rowHeight == 0) {
        int height = std::max(iconSize().height(), fontMetrics().height()) + 4;
        if (m_model != nullptr && m_model->rowCount() > 0) {
            QModelIndex first = m_model->index(0);
            QStyleOptionViewItem option = OptionFor(first);
            // As the delegate sizes a row, like QTreeView with uniform row heights.
            height = itemDelegate()->sizeHint(option, first).height();
            m_rowHeight = height;  // settled once there is a row to measure
        }
        return height;
    }
    return m_rowHeight;
}

bool RowTreeView::isExpanded(const QModelIndex& index) const {
    const CTreeItem* item = TreeModel::ItemOf(index);
    return item != nullptr && item->expanded();
}

void RowTreeView::setExpanded(const QModelIndex& index, bool expanded) {
    if (m_model != nullptr && index.isValid()) {
        m_model->SetExpanded(index, expanded);
    }
}

int RowTreeView::FirstShownRow() const {
    return verticalScrollBar()->value();
}

int RowTreeView::ContentLeft(const QModelIndex& index) const {
    // Every row, the top item's too, has a branch column before its content.
    return (m_model->DepthOf(index) + 1) * m_indentation;
}

QRect RowTreeView::visualRect(const QModelIndex& index) const {
    if (m_model == nullptr || !index.isValid()) {
        return {};
    }
    int left = ContentLeft(index) - horizontalOffset();
    int top = (index.row() - FirstShownRow()) * rowHeight();
    QStyleOptionViewItem option = OptionFor(index);
    int width = itemDelegate()->sizeHint(option, index).width();
    return QRect(left, top, std::max(width, viewport()->width() - left), rowHeight());
}

QRect RowTreeView::branchRect(const QModelIndex& index) const {
    if (m_model == nullptr || !index.isValid()) {
        return {};
    }
    int left = m_model->DepthOf(index) * m_indentation - horizontalOffset();
    return QRect(left, (index.row() - FirstShownRow()) * rowHeight(), m_indentation, rowHeight());
}

QModelIndex RowTreeView::indexAt(const QPoint& point) const {
    if (m_model == nullptr || point.y() < 0) {
        return {};
    }
    int row = FirstShownRow() + point.y() / rowHeight();
    return m_model->index(row);
}

void RowTreeView::scrollTo(const QModelIndex& index, ScrollHint hint) {
    if (!index.isValid()) {
        return;
    }
    int shown = std::max(1, viewport()->height() / rowHeight());
    int first = FirstShownRow();
    int row = index.row();
    switch (hint) {
        case PositionAtTop:
            first = row;
            break;
        case PositionAtBottom:
            first = row - shown + 1;
            break;
        case PositionAtCenter:
            first = row - shown / 2;
            break;
        case EnsureVisible:
            if (row < first) {
                first = row;
            } else if (row >= first + shown) {
                first = row - shown + 1;
            }
            break;
    }
    verticalScrollBar()->setValue(first);
    // The label's start in view too, as far as the row allows.
    int left = ContentLeft(index);
    QScrollBar* h = horizontalScrollBar();
    if (left < h->value() || left >= h->value() + viewport()->width()) {
        h->setValue(std::max(0, left - m_indentation));
    }
}

QModelIndex RowTreeView::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers) {
    if (m_model == nullptr || m_model->rowCount() == 0) {
        return {};
    }
    int last = m_model->rowCount() - 1;
    int row = currentIndex().isValid() ? currentIndex().row() : -1;
    int page = std::max(1, viewport()->height() / rowHeight() - 1);
    switch (cursorAction) {
        case MoveUp:
        case MovePrevious:
            row = row < 0 ? 0 : row - 1;
            break;
        case MoveDown:
        case MoveNext:
            row = row + 1;
            break;
        case MovePageUp:
            row -= page;
            break;
        case MovePageDown:
            row = row < 0 ? page : row + page;
            break;
        case MoveHome:
            row = 0;
            break;
        case MoveEnd:
            row = last;
            break;
        case MoveLeft:
        case MoveRight:
            return currentIndex();
    }
    return m_model->index(std::clamp(row, 0, last));
}

int RowTreeView::horizontalOffset() const {
    return horizontalScrollBar()->value();
}

int RowTreeView::verticalOffset() const {
    return verticalScrollBar()->value() * rowHeight();
}

bool RowTreeView::isIndexHidden(const QModelIndex&) const {
    return false;
}

void RowTreeView::setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) {
    if (m_model == nullptr) {
        return;
    }
    QRect r = rect.normalized();
    QModelIndex top = indexAt(QPoint(0, std::max(0, r.top())));
    QModelIndex bottom = indexAt(QPoint(0, r.bottom()));
    if (!bottom.isValid()) {
        bottom = m_model->index(m_model->rowCount() - 1);
    }
    if (!top.isValid()) {
        selectionModel()->select(QItemSelection(), command);
        return;
    }
    selectionModel()->select(QItemSelection(top, bottom), command);
}

QRegion RowTreeView::visualRegionForSelection(const QItemSelection& selection) const {
    QRegion region;
    int first = FirstShownRow();
    int last = first + viewport()->height() / rowHeight() + 1;
    for (const QItemSelectionRange& range : selection) {
        for (int row = std::max(range.top(), first); row <= std::min(range.bottom(), last); ++row) {
            region += visualRect(m_model->index(row));
        }
    }
    return region;
}

void RowTreeView::updateGeometries() {
    int rows = m_model != nullptr ? m_model->rowCount() : 0;
    int shown = std::max(1, viewport()->height() / rowHeight());
    verticalScrollBar()->setRange(0, std::max(0, rows - shown));
    verticalScrollBar()->setPageStep(shown);
    verticalScrollBar()->setSingleStep(1);
    horizontalScrollBar()->setRange(0, std::max(0, m_contentWidth - viewport()->width()));
    horizontalScrollBar()->setPageStep(viewport()->width());
    horizontalScrollBar()->setSingleStep(m_indentation);
    QAbstractItemView::updateGeometries();
}

QStyleOptionViewItem RowTreeView::OptionFor(const QModelIndex& index) const {
    QStyleOptionViewItem option;
    const_cast<RowTreeView*>(this)->initViewItemOption(&option);
    option.showDecorationSelected = false;
    if (selectionModel() != nullptr && selectionModel()->isSelected(index)) {
        option.state |= QStyle::State_Selected;
    }
    if (index == currentIndex() && hasFocus()) {
        option.state |= QStyle::State_HasFocus;
    }
    return option;
}

void RowTreeView::paintEvent(QPaintEvent*) {
    if (m_model == nullptr) {
        return;
    }
    QPainter painter(viewport());
    const int height = rowHeight();
    const int first = FirstShownRow();
    const int last = std::min(m_model->rowCount() - 1, first + viewport()->height() / height + 1);
    int widest = m_contentWidth;
    for (int row = first; row <= last; ++row) {
        QModelIndex index = m_model->index(row);
        const CTreeItem* item = TreeModel::ItemOf(index);
        QStyleOptionViewItem option = OptionFor(index);
        QSize hint = itemDelegate()->sizeHint(option, index);
        int left = ContentLeft(index);
        option.rect =
            QRect(left - horizontalOffset(), (row - first) * height, hint.width(), height);
        widest = std::max(widest, left + hint.width());
        itemDelegate()->paint(&painter, option, index);
        if (item->hasChildren()) {
            QStyleOption branch;
            branch.initFrom(this);
            branch.rect = branchRect(index);
            branch.state = QStyle::State_Item | QStyle::State_Children;
            if (item->expanded()) {
                branch.state |= QStyle::State_Open;
            }
            style()->drawPrimitive(QStyle::PE_IndicatorBranch, &branch, &painter, this);
        }
    }
    if (widest != m_contentWidth) {
        m_contentWidth = widest;
        updateGeometries();
    }
}

void RowTreeView::mousePressEvent(QMouseEvent* event) {
    QModelIndex index = indexAt(event->position().toPoint());
    const CTreeItem* item = TreeModel::ItemOf(index);
    if (event->button() == Qt::LeftButton && item != nullptr && item->hasChildren() &&
        branchRect(index).contains(event->position().toPoint())) {
        setExpanded(index, !item->expanded());  // the arrow opens or closes, selecting nothing
        event->accept();
        return;
    }
    QAbstractItemView::mousePressEvent(event);
}

void RowTreeView::mouseDoubleClickEvent(QMouseEvent* event) {
    QModelIndex index = indexAt(event->position().toPoint());
    const CTreeItem* item = TreeModel::ItemOf(index);
    if (event->button() == Qt::LeftButton && item != nullptr && item->hasChildren() &&
        !branchRect(index).contains(event->position().toPoint())) {
        setExpanded(index, !item->expanded());
    }
    QAbstractItemView::mouseDoubleClickEvent(event);
}

void RowTreeView::keyPressEvent(QKeyEvent* event) {
    QModelIndex current = currentIndex();
    const CTreeItem* item = TreeModel::ItemOf(current);
    if (item != nullptr && event->modifiers() == Qt::NoModifier) {
        switch (event->key()) {
            case Qt::Key_Left:
                if (item->expanded() && item->hasChildren()) {
                    setExpanded(current, false);
                } else if (item->parent() != nullptr) {
                    setCurrentIndex(m_model->IndexOf(item->parent()));
                }
                return;
            case Qt::Key_Right:
                if (item->hasChildren() && !item->expanded()) {
                    setExpanded(current, true);
                } else if (item->hasChildren()) {
                    setCurrentIndex(m_model->index(current.row() + 1));
                }
                return;
            case Qt::Key_Plus:
                setExpanded(current, true);
                return;
            case Qt::Key_Minus:
                setExpanded(current, false);
                return;
            default:
                break;
        }
    }
    QAbstractItemView::keyPressEvent(event);
}

void RowTreeView::rowsInserted(const QModelIndex& parent, int start, int end) {
    QAbstractItemView::rowsInserted(parent, start, end);
    updateGeometries();
    viewport()->update();
}

void RowTreeView::rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end) {
    QAbstractItemView::rowsAboutToBeRemoved(parent, start, end);
    viewport()->update();
}

void RowTreeView::scrollContentsBy(int, int) {
    viewport()->update();
}

}  // namespace quorrel
