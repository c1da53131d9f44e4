#include "db/ui/AttrElemDlg.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>
#include <tuple>

#include "db/ui/EditListCtrl.h"
#include "db/ui/OkCancel.h"

namespace quorrel {

CAttrElemDlg::CAttrElemDlg(std::vector<std::string>& columnNames, QWidget* parent)
    : QDialog(parent), m_columnNames(columnNames) {
    setObjectName(QStringLiteral("dialog%1").arg(IDD));
    setWindowTitle(QStringLiteral("Attribute/Element"));
    setModal(true);

    m_listCtrl = new CEditListCtrl(this);
    m_listCtrl->setObjectName(QStringLiteral("list1001"));
    m_listCtrl->setMinimumSize(45 + 138 + 24, 180);
    const OkCancel okCancel = MakeOkCancel(this);
    m_ok = okCancel.ok;
    m_cancel = okCancel.cancel;

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(
        QStringLiteral("Edit the A/E Column and specify Xml Attribute or Element"), this));
    layout->addWidget(new QLabel(QStringLiteral("Enter A for Attribute and E for Element"), this));
    auto* row = new QHBoxLayout;
    row->addWidget(m_listCtrl, 1);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);
    buttons->addStretch();
    row->addLayout(buttons);
    layout->addLayout(row, 1);
}

void CAttrElemDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!m_bInitialized && !event->spontaneous()) {
        m_bInitialized = true;
        OnInitDialog();
        m_listCtrl->setFocus(Qt::OtherFocusReason);
        if (m_listCtrl->GetItemCount() > 0) {
            m_listCtrl->setCurrentItem(m_listCtrl->topLevelItem(0));
        }
    }
}

void CAttrElemDlg::OnInitDialog() {
    m_listCtrl->InsertColumn(0, QStringLiteral("A/E"), 45);
    m_listCtrl->InsertColumn(1, QStringLiteral("Column Name"), 138);
    // Inserting at the top from the last name back keeps the columns' order.
    for (auto name = m_columnNames.rbegin(); name != m_columnNames.rend(); ++name) {
        m_listCtrl->InsertItem(0, QStringLiteral("E"));
        m_listCtrl->SetItemText(0, 1, QString::fromStdString(*name));
    }
    m_columnNames.clear();
}

void CAttrElemDlg::OnOK() {
    for (int item = 0; item < m_listCtrl->GetItemCount(); ++item) {
        m_columnNames.push_back(m_listCtrl->GetItemText(item, 0).toStdString());
    }
    m_listCtrl->DeleteAllItems();
    QDialog::accept();
}

}  // namespace quorrel
