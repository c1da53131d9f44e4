// Xml > Format Document: asks which indentation step to lay the document out with.
#pragma once

#include <QDialog>
#include <string>

class QRadioButton;
class QSpinBox;

namespace quorrel {

class CFormatDlg : public QDialog {
    Q_OBJECT
public:
    // documentIndent: the step the document indents with now.
    CFormatDlg(const std::string& documentIndent, QWidget* parent);

    QRadioButton* OwnChoice() const { return m_own; }
    QRadioButton* TabChoice() const { return m_tabs; }
    QRadioButton* BlanksChoice() const { return m_blanks; }
    QSpinBox* BlanksField() const { return m_count; }
    // The step chosen: empty for the document's own.
    std::string Indent() const;

private:
    QRadioButton* m_own;
    QRadioButton* m_tabs;
    QRadioButton* m_blanks;
    QSpinBox* m_count;
};

}  // namespace quorrel
