#include "doc/ui/FormatDlg.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace quorrel {

namespace {

QString Describe(const std::string& indent) {
    if (indent == "\t") {
        return QStringLiteral("a tab");
    }
    return indent.size() == 1 ? QStringLiteral("1 blank")
                              : QStringLiteral("%1 blanks").arg(indent.size());
}

}  // namespace

CFormatDlg::CFormatDlg(const std::string& documentIndent, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Format Document"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(
        new QLabel(QStringLiteral("Indent every element of element content on a line of its own.\n"
                                  "Mixed content and xml:space=\"preserve\" stay as they are."),
                   this));
    m_own = new QRadioButton(
        QStringLiteral("As the document indents now (%1)").arg(Describe(documentIndent)), this);
    m_tabs = new QRadioButton(QStringLiteral("With &tabs"), this);
    m_blanks = new QRadioButton(QStringLiteral("With &blanks:"), this);
    m_count = new QSpinBox(this);
    m_count->setRange(0, 16);
    m_count->setValue(documentIndent == "\t" ? 4 : int(documentIndent.size()));
    m_own->setChecked(true);
    layout->addWidget(m_own);
    layout->addWidget(m_tabs);
    auto* blanks = new QHBoxLayout;
    blanks->addWidget(m_blanks);
    blanks->addWidget(m_count);
    blanks->addStretch();
    layout->addLayout(blanks);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_count, qOverload<int>(&QSpinBox::valueChanged), this,
            [this] { m_blanks->setChecked(true); });
    layout->addWidget(buttons);
}

std::string CFormatDlg::Indent() const {
    if (m_tabs->isChecked()) {
        return "\t";
    }
    if (m_blanks->isChecked()) {
        return std::string(std::size_t(m_count->value()), ' ');
    }
    return {};
}

}  // namespace quorrel
