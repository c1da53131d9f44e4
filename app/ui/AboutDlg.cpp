#include "app/ui/AboutDlg.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "framework/ui/Artwork.h"

namespace quorrel {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("aboutDialog"));
    setWindowTitle(QStringLiteral("About Quorrel"));
    QFont font(QStringLiteral("Comic Sans MS"));
    font.setPointSize(8);
    setFont(font);
    auto* icon = new QLabel(this);
    icon->setPixmap(AppPixmap(32));
    auto* text = new QLabel(QStringLiteral("Quorrel Version 1.0"), this);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* row = new QHBoxLayout;
    row->addWidget(icon);
    row->addWidget(text, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(buttons);
}

}  // namespace quorrel
