// "Attribute/Element": for every result column, A (attribute) or E (element).
#pragma once

#include <QDialog>
#include <string>
#include <vector>

class QPushButton;

namespace quorrel {

class CEditListCtrl;

class CAttrElemDlg : public QDialog {
    Q_OBJECT
public:
    enum { IDD = 141 };

    // columnNames: the document's column name list. The dialog takes the
    // names out of it when it opens and puts the choices into it on OK.
    explicit CAttrElemDlg(std::vector<std::string>& columnNames, QWidget* parent = nullptr);

    CEditListCtrl* m_listCtrl;

    // Fills the list, every column "E", and empties the column name list.
    void OnInitDialog();
    // The choices, first row first, into the column name list.
    void OnOK();

    QPushButton* OkButton() const { return m_ok; }
    QPushButton* CancelButton() const { return m_cancel; }

public slots:
    void accept() override { OnOK(); }

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::vector<std::string>& m_columnNames;
    QPushButton* m_ok;
    QPushButton* m_cancel;
    bool m_bInitialized = false;
};

}  // namespace quorrel
