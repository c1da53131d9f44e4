#include "framework/ui/UserInterface.h"

#include <QFileDialog>
#include <QMessageBox>

namespace quorrel {

namespace {

const QString kXmlFilter = QStringLiteral("Xml Documents (*.xml)");

}  // namespace

void DialogUserInterface::ShowMessage(const std::string& text) {
    QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(kAppTitle),
                    QString::fromStdString(text), QMessageBox::Ok, m_parent);
    box.exec();
}

SaveAnswer DialogUserInterface::AskSaveChanges(const QString& documentName) {
    QMessageBox box(QMessageBox::Warning, QString::fromLatin1(kAppTitle),
                    QStringLiteral("Save changes to %1?").arg(documentName),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, m_parent);
    switch (box.exec()) {
        case QMessageBox::Yes:
            return SaveAnswer::Save;
        case QMessageBox::No:
            return SaveAnswer::Discard;
        default:
            return SaveAnswer::Cancel;
    }
}

QString DialogUserInterface::AskOpenFileName() {
    return QFileDialog::getOpenFileName(m_parent, QStringLiteral("Open"), QString(), kXmlFilter);
}

QString DialogUserInterface::AskSaveFileName(const QString& suggested) {
    QFileDialog dialog(m_parent, QStringLiteral("Save As"), suggested, kXmlFilter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("xml"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().front();
}

bool DialogUserInterface::AskYesNo(const QString& text, Answer byDefault) {
    QMessageBox box(QMessageBox::Question, QString::fromLatin1(kAppTitle), text,
                    QMessageBox::Yes | QMessageBox::No, m_parent);
    box.setDefaultButton(byDefault == Answer::Yes ? QMessageBox::Yes : QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

}  // namespace quorrel
