#include "db/ui/DataSourceDlg.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>

#include "db/ui/OkCancel.h"
#include "doc/core/MessageSink.h"

namespace quorrel {

namespace {

QLineEdit* NewEdit(QWidget* parent, int id, int maxLength) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QStringLiteral("edit%1").arg(id));
    edit->setMaxLength(maxLength);
    return edit;
}

}  // namespace

CDataSourceDlg::CDataSourceDlg(MessageSink& sink, QWidget* parent) : QDialog(parent), m_sink(sink) {
    setObjectName(QStringLiteral("dialog%1").arg(IDD));
    setWindowTitle(QStringLiteral("ODBC Data Source"));
    setModal(true);

    m_dsn = NewEdit(this, 1002, 20);
    m_user = NewEdit(this, 1003, 20);
    m_password = NewEdit(this, 1004, 20);
    m_password->setEchoMode(QLineEdit::Password);
    m_query = NewEdit(this, 1005, 300);
    m_query->setMinimumWidth(m_query->fontMetrics().horizontalAdvance(QLatin1Char('x')) * 60);
    m_maxRows = NewEdit(this, 1006, 11);
    m_maxRows->setFixedWidth(m_maxRows->fontMetrics().horizontalAdvance(QStringLiteral("000000")) +
                             12);
    const OkCancel okCancel = MakeOkCancel(this);
    m_ok = okCancel.ok;
    m_cancel = okCancel.cancel;

    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel(QStringLiteral("DSN (Data Source):"), this), 0, 0);
    grid->addWidget(new QLabel(QStringLiteral("User:"), this), 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Password:"), this), 0, 2);
    grid->addWidget(m_dsn, 1, 0);
    grid->addWidget(m_user, 1, 1);
    grid->addWidget(m_password, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("SQL Query:"), this), 2, 0, 1, 3);
    grid->addWidget(m_query, 3, 0, 1, 3);
    auto* rows = new QHBoxLayout;
    rows->addWidget(new QLabel(QStringLiteral("Max # of Rows:"), this));
    rows->addWidget(m_maxRows);
    rows->addStretch();
    grid->addLayout(rows, 4, 0, 1, 3);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_ok);
    buttons->addStretch();
    buttons->addWidget(m_cancel);
    grid->addLayout(buttons, 5, 0, 1, 3);

    // The keyboard order of the resource: the statement first.
    setTabOrder(m_query, m_ok);
    setTabOrder(m_ok, m_cancel);
    setTabOrder(m_cancel, m_dsn);
    setTabOrder(m_dsn, m_user);
    setTabOrder(m_user, m_password);
    setTabOrder(m_password, m_maxRows);
}

void CDataSourceDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!m_bInitialized && !event->spontaneous()) {
        m_bInitialized = true;
        DoDataExchange(false);
        m_query->setFocus(Qt::OtherFocusReason);
    }
}

bool CDataSourceDlg::DoDataExchange(bool save) {
    if (!save) {
        m_dsn->setText(QString::fromStdString(m_strDsn));
        m_maxRows->setText(QString::number(m_nMaxRows));
        m_password->setText(QString::fromStdString(m_strPassword));
        m_query->setText(QString::fromStdString(m_strQuery));
        m_query->setCursorPosition(0);
        m_user->setText(QString::fromStdString(m_strUser));
        return true;
    }
    // Read in the resource's order; only the row limit can be refused.
    std::string dsn = m_dsn->text().toStdString();
    bool isNumber = false;
    int maxRows = m_maxRows->text().trimmed().toInt(&isNumber);
    if (!isNumber || maxRows < 0 || maxRows > kMaxRowsLimit) {
        m_sink.ShowMessage(isNumber ? "Please enter an integer between 0 and " +
                                          std::to_string(kMaxRowsLimit) + "."
                                    : std::string("Please enter an integer."));
        m_maxRows->setFocus(Qt::OtherFocusReason);
        m_maxRows->selectAll();
        return false;
    }
    m_strDsn = std::move(dsn);
    m_nMaxRows = maxRows;
    m_strPassword = m_password->text().toStdString();
    m_strQuery = m_query->text().toStdString();
    m_strUser = m_user->text().toStdString();
    return true;
}

void CDataSourceDlg::accept() {
    if (DoDataExchange(true)) {
        QDialog::accept();
    }
}

}  // namespace quorrel
