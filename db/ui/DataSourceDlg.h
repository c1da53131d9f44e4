// "ODBC Data Source": where the data of Get Xml Data come from.
#pragma once

#include <QDialog>
#include <string>

class QLineEdit;
class QPushButton;

namespace quorrel {

class MessageSink;

class CDataSourceDlg : public QDialog {
    Q_OBJECT
public:
    enum { IDD = 142 };
    static constexpr int kMaxRowsLimit = 600;

    // sink: where a refused row limit is reported.
    explicit CDataSourceDlg(MessageSink& sink, QWidget* parent = nullptr);

    // Shown in the fields when the dialog opens; the new values after OK.
    std::string m_strDsn;
    int m_nMaxRows = 0;
    std::string m_strPassword;
    std::string m_strQuery;
    std::string m_strUser;

    // Fields to members (save) or members to fields; false when a field
    // is refused, which then has the focus.
    bool DoDataExchange(bool save);

    QLineEdit* DsnEdit() const { return m_dsn; }
    QLineEdit* UserEdit() const { return m_user; }
    QLineEdit* PasswordEdit() const { return m_password; }
    QLineEdit* QueryEdit() const { return m_query; }
    QLineEdit* MaxRowsEdit() const { return m_maxRows; }
    QPushButton* OkButton() const { return m_ok; }
    QPushButton* CancelButton() const { return m_cancel; }

public slots:
    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    MessageSink& m_sink;
    QLineEdit* m_dsn;
    QLineEdit* m_user;
    QLineEdit* m_password;
    QLineEdit* m_query;
    QLineEdit* m_maxRows;
    QPushButton* m_ok;
    QPushButton* m_cancel;
    bool m_bInitialized = false;
};

}  // namespace quorrel
