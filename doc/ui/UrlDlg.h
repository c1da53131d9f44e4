// Dialog 140, "URL": asks for the address of the document Open from URL fetches.
#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;
class QShowEvent;

namespace quorrel {

class CUrlDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr int kMaxUrlLength = 120;

    explicit CUrlDlg(QWidget* parent);

    QLineEdit* UrlField() const { return m_field; }
    // OK takes the field into m_strUrl.
    void accept() override;

    // Put into the field when the dialog opens; the field's text after OK.
    QString m_strUrl;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QLineEdit* m_field;
};

}  // namespace quorrel
