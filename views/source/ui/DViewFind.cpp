// The source pane's find, replace and print.
#include <Qsci/qsciprinter.h>

#include <QPrintDialog>
#include <QPrintPreviewDialog>

#include "views/source/ui/DView.h"
#include "views/source/ui/FindDialog.h"

namespace quorrel {

void CDView::Print() {
    if (!m_printer) {
        return;
    }
    QsciPrinter& printer = m_printer();
    QPrintDialog dialog(&printer, this);
    if (dialog.exec() == QDialog::Accepted) {
        printer.printRange(this);
    }
}

void CDView::PrintPreview() {
    if (!m_printer) {
        return;
    }
    QPrintPreviewDialog preview(&m_printer(), this);
    connect(&preview, &QPrintPreviewDialog::paintRequested, this,
            [this](QPrinter* p) { static_cast<QsciPrinter*>(p)->printRange(this); });
    preview.exec();
}

void CDView::ShowNotFound(const QString& text) {
    m_doc.Messages().ShowMessage("Cannot find the string '" + text.toStdString() + "'.");
}

void CDView::Find(bool askFirst) {
    if (m_find == nullptr) {
        m_find = new FindDialog(this);
    }
    if (askFirst || m_find->findText().isEmpty()) {
        m_find->showFind(selectedText());
        return;
    }
    m_find->findNext();
}

void CDView::Replace() {
    if (m_find == nullptr) {
        m_find = new FindDialog(this);
    }
    m_find->showReplace(selectedText());
}

}  // namespace quorrel
