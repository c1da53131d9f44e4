// The panel's widgets: the expression row, the state row with the busy bar,
// and the result list beside the prefix table.
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QTableView>
#include <QTableWidget>
#include <QVBoxLayout>

#include "views/xpath/ui/XPathPanel.h"
#include "views/xpath/ui/XPathResultModel.h"

namespace quorrel {

QWidget* CXPathPanel::Build() {
    auto* body = new QWidget(this);
    auto* layout = new QVBoxLayout(body);
    layout->setContentsMargins(4, 2, 4, 4);

    auto* row = new QHBoxLayout;
    auto* label = new QLabel(QStringLiteral("&XPath:"), body);
    m_expression = new QComboBox(body);
    m_expression->setObjectName(QStringLiteral("xpathExpression"));
    m_expression->setEditable(true);
    m_expression->setInsertPolicy(QComboBox::NoInsert);
    m_expression->setMaxCount(kHistory);
    m_expression->setCompleter(nullptr);  // an inline completion would change what Enter evaluates
    m_expression->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    label->setBuddy(m_expression);
    auto* evaluate = new QPushButton(QStringLiteral("&Evaluate"), body);
    evaluate->setObjectName(QStringLiteral("xpathEvaluate"));
    evaluate->setAutoDefault(false);
    m_run = new QPushButton(QStringLiteral("&Run a command on the matches..."), body);
    m_run->setObjectName(QStringLiteral("xpathRunCommand"));
    m_run->setAutoDefault(false);
    row->addWidget(label);
    row->addWidget(m_expression, 1);
    row->addWidget(evaluate);
    row->addWidget(m_run);
    layout->addLayout(row);

    auto* state = new QHBoxLayout;
    m_count = new QLabel(body);
    m_count->setObjectName(QStringLiteral("xpathCount"));
    m_count->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_status = new QLabel(body);
    m_status->setObjectName(QStringLiteral("xpathStatus"));
    m_status->setWordWrap(true);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_busy = new QProgressBar(body);
    m_busy->setObjectName(QStringLiteral("xpathBusy"));
    m_busy->setRange(0, 0);
    m_busy->setMaximumWidth(160);
    m_busy->hide();
    m_cancelButton = new QPushButton(QStringLiteral("Cancel"), body);
    m_cancelButton->setObjectName(QStringLiteral("xpathCancel"));
    m_cancelButton->setAutoDefault(false);
    m_cancelButton->hide();
    state->addWidget(m_count);
    state->addWidget(m_status, 1);
    state->addWidget(m_busy);
    state->addWidget(m_cancelButton);
    layout->addLayout(state);

    auto* split = new QSplitter(Qt::Horizontal, body);
    m_model = new XPathResultModel(this);
    m_results = new QTableView(split);
    m_results->setObjectName(QStringLiteral("xpathResults"));
    m_results->setModel(m_model);
    m_results->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_results->setSelectionMode(QAbstractItemView::SingleSelection);
    m_results->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_results->setWordWrap(false);
    m_results->setContextMenuPolicy(Qt::CustomContextMenu);
    m_results->verticalHeader()->hide();
    // Fixed heights: the view never measures a million rows.
    m_results->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_results->verticalHeader()->setDefaultSectionSize(m_results->fontMetrics().height() + 4);
    m_results->horizontalHeader()->setStretchLastSection(true);
    m_results->setColumnWidth(XPathResultModel::Kind, 140);
    m_results->setColumnWidth(XPathResultModel::ItemPath, 320);
    m_results->setColumnWidth(XPathResultModel::Place, 90);

    m_prefixes = new QTableWidget(0, 2, split);
    m_prefixes->setObjectName(QStringLiteral("xpathPrefixes"));
    m_prefixes->setHorizontalHeaderLabels({QStringLiteral("Prefix"), QStringLiteral("Namespace")});
    m_prefixes->verticalHeader()->hide();
    m_prefixes->horizontalHeader()->setStretchLastSection(true);
    m_prefixes->setColumnWidth(0, 70);
    FillPrefixes({});
    split->addWidget(m_results);
    split->addWidget(m_prefixes);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 1);
    layout->addWidget(split, 1);

    connect(evaluate, &QPushButton::clicked, this, &CXPathPanel::Evaluate);
    connect(m_run, &QPushButton::clicked, this, &CXPathPanel::OnRunCommand);
    connect(m_cancelButton, &QPushButton::clicked, this, [this] {
        if (m_cancel) {
            m_cancel->cancel();
        }
    });
    connect(m_results->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (!m_choosing && current.isValid()) {
                    Choose(current.row());
                }
            });
    connect(m_results, &QTableView::clicked, this,
            [this](const QModelIndex& index) { Choose(index.row()); });
    connect(m_results, &QWidget::customContextMenuRequested, this, &CXPathPanel::ShowResultMenu);
    // The last row is always empty, for a prefix to add.
    connect(m_prefixes, &QTableWidget::itemChanged, this, [this] {
        const int last = m_prefixes->rowCount() - 1;
        for (int c = 0; c < 2 && last >= 0; ++c) {
            const QTableWidgetItem* cell = m_prefixes->item(last, c);
            if (cell != nullptr && !cell->text().trimmed().isEmpty()) {
                QSignalBlocker block(m_prefixes);
                m_prefixes->insertRow(last + 1);
                return;
            }
        }
    });
    return body;
}

}  // namespace quorrel
