#include "views/xpath/ui/XPathResultModel.h"

#include <limits>

namespace quorrel {

void XPathResultModel::SetResult(std::shared_ptr<const XPathResult> result) {
    beginResetModel();
    m_result = std::move(result);
    endResetModel();
}

int XPathResultModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid() || !m_result || !m_result->isNodeSet()) {
        return 0;
    }
    // A view counts rows in int; a larger set shows its first rows.
    return int(std::min<std::size_t>(m_result->size(), std::numeric_limits<int>::max()));
}

int XPathResultModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumns;
}

QString XPathResultModel::OneLine(std::string_view text) {
    QString line = QString::fromUtf8(text.data(), qsizetype(text.size()));
    for (QChar& c : line) {
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QLatin1Char('\t')) {
            c = QLatin1Char(' ');
        }
    }
    return line;
}

QVariant XPathResultModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) {
        return {};
    }
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole) {
        return {};
    }
    const XPathRow row = m_result->row(std::size_t(index.row()));
    switch (index.column()) {
        case Kind: {
            std::string_view kind = XPathNodeKindName(row.kind);
            return QString::fromUtf8(kind.data(), qsizetype(kind.size()));
        }
        case ItemPath:
            // A node the tree shows no item for (a processing instruction)
            // has no item path; its XPath tells where it is.
            if (role == Qt::ToolTipRole) {
                return QString::fromUtf8(row.xpath.data(), qsizetype(row.xpath.size()));
            }
            return QString::fromUtf8(row.itemPath.data(), qsizetype(row.itemPath.size()));
        case Place:
            if (row.line == 0) {
                return QString();
            }
            return QStringLiteral("%1:%2").arg(row.line).arg(row.column);
        case Text:
            return OneLine(row.text);
        default:
            return {};
    }
}

QVariant XPathResultModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    switch (section) {
        case Kind:
            return QStringLiteral("Kind");
        case ItemPath:
            return QStringLiteral("Item path");
        case Place:
            return QStringLiteral("Line:column");
        case Text:
            return QStringLiteral("Text");
        default:
            return {};
    }
}

}  // namespace quorrel
