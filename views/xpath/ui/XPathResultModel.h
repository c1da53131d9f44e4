// The rows of an XPath node-set for a table view: read from the result by
// index as the view paints them, so a million rows cost no widget each.
#pragma once

#include <QAbstractTableModel>
#include <memory>

#include "doc/core/XPath.h"

namespace quorrel {

class XPathResultModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Kind, ItemPath, Place, Text, kColumns };

    using QAbstractTableModel::QAbstractTableModel;

    // The rows of result (none for a scalar or no result).
    void SetResult(std::shared_ptr<const XPathResult> result);
    const XPathResult* Result() const { return m_result.get(); }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // A node's first characters on one line: line ends and tabs shown as blanks.
    static QString OneLine(std::string_view text);

private:
    std::shared_ptr<const XPathResult> m_result;
};

}  // namespace quorrel
