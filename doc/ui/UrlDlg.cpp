#include "doc/ui/UrlDlg.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

namespace quorrel {

CUrlDlg::CUrlDlg(QWidget* parent) : QDialog(parent), m_field(new QLineEdit(this)) {
    setObjectName(QStringLiteral("urlDialog"));
    setWindowTitle(QStringLiteral("URL"));
    auto* prompt = new QLabel(QStringLiteral("Enter the URL of the Xml Document :"), this);
    m_field->setObjectName(QStringLiteral("urlField"));
    m_field->setMaxLength(kMaxUrlLength);
    // Wide enough for a usual address; longer ones scroll in the field.
    m_field->setMinimumWidth(m_field->fontMetrics().horizontalAdvance(QLatin1Char('x')) * 60);
    prompt->setBuddy(m_field);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &CUrlDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(prompt);
    layout->addWidget(m_field);
    layout->addWidget(buttons);
}

void CUrlDlg::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        m_field->setText(m_strUrl);
        m_field->selectAll();
        m_field->setFocus();
    }
    QDialog::showEvent(event);
}

void CUrlDlg::accept() {
    m_strUrl = m_field->text();
    QDialog::accept();
}

}  // namespace quorrel
