#include "views/source/ui/FindDialog.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "views/source/ui/DView.h"

namespace quorrel {

FindDialog::FindDialog(CDView* view) : QDialog(view), m_view(view) {
    setObjectName(QStringLiteral("findDialog"));
    m_what = new QLineEdit(this);
    m_what->setObjectName(QStringLiteral("findWhat"));
    m_with = new QLineEdit(this);
    m_with->setObjectName(QStringLiteral("replaceWith"));
    m_matchCase = new QCheckBox(QStringLiteral("Match &case"), this);
    m_wholeWord = new QCheckBox(QStringLiteral("Match &whole word only"), this);
    auto* direction = new QGroupBox(QStringLiteral("Direction"), this);
    m_up = new QRadioButton(QStringLiteral("&Up"), direction);
    m_down = new QRadioButton(QStringLiteral("&Down"), direction);
    m_down->setChecked(true);
    auto* directionLayout = new QHBoxLayout(direction);
    directionLayout->addWidget(m_up);
    directionLayout->addWidget(m_down);

    auto* next = new QPushButton(QStringLiteral("&Find Next"), this);
    next->setDefault(true);
    m_replace = new QPushButton(QStringLiteral("&Replace"), this);
    m_replaceAll = new QPushButton(QStringLiteral("Replace &All"), this);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);

    auto* fields = new QGridLayout;
    fields->addWidget(new QLabel(QStringLiteral("Fi&nd what:"), this), 0, 0);
    fields->addWidget(m_what, 0, 1);
    m_replaceRow = new QLabel(QStringLiteral("Re&place with:"), this);
    fields->addWidget(m_replaceRow, 1, 0);
    fields->addWidget(m_with, 1, 1);
    fields->addWidget(m_matchCase, 2, 0, 1, 2);
    fields->addWidget(m_wholeWord, 3, 0, 1, 2);
    fields->addWidget(direction, 4, 0, 1, 2);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(next);
    buttons->addWidget(m_replace);
    buttons->addWidget(m_replaceAll);
    buttons->addWidget(cancel);
    buttons->addStretch();
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(fields);
    layout->addLayout(buttons);

    connect(next, &QPushButton::clicked, this, &FindDialog::findNext);
    connect(m_replace, &QPushButton::clicked, this, &FindDialog::replaceOne);
    connect(m_replaceAll, &QPushButton::clicked, this, &FindDialog::replaceAll);
    connect(cancel, &QPushButton::clicked, this, &QDialog::hide);
}

QString FindDialog::findText() const {
    return m_what->text();
}

void FindDialog::show(bool replace, const QString& initial) {
    setWindowTitle(replace ? QStringLiteral("Replace") : QStringLiteral("Find"));
    if (!initial.isEmpty() && !initial.contains(QLatin1Char('\n'))) {
        m_what->setText(initial);
    }
    m_with->setVisible(replace);
    m_replaceRow->setVisible(replace);
    m_replace->setVisible(replace);
    m_replaceAll->setVisible(replace);
    QDialog::show();
    raise();
    activateWindow();
    m_what->setFocus();
    m_what->selectAll();
}

void FindDialog::showFind(const QString& initial) {
    show(false, initial);
}

void FindDialog::showReplace(const QString& initial) {
    show(true, initial);
}

bool FindDialog::findNext() {
    if (m_what->text().isEmpty()) {
        return false;
    }
    bool forward = m_down->isChecked();
    int line = 0, index = 0;
    m_view->getCursorPosition(&line, &index);
    if (!forward && m_view->hasSelectedText()) {
        int lineFrom, indexFrom, lineTo, indexTo;
        m_view->getSelection(&lineFrom, &indexFrom, &lineTo, &indexTo);
        line = lineFrom;
        index = indexFrom;
    }
    bool found = m_view->findFirst(m_what->text(), false, m_matchCase->isChecked(),
                                   m_wholeWord->isChecked(), false, forward, line, index);
    if (!found) {
        m_view->ShowNotFound(m_what->text());
    }
    return found;
}

void FindDialog::replaceOne() {
    if (m_view->hasSelectedText() &&
        QString::compare(m_view->selectedText(), m_what->text(),
                         m_matchCase->isChecked() ? Qt::CaseSensitive : Qt::CaseInsensitive) == 0) {
        m_view->replaceSelectedText(m_with->text());
    }
    findNext();
}

int FindDialog::replaceAll() {
    if (m_what->text().isEmpty()) {
        return 0;
    }
    int count = 0;
    m_view->beginUndoAction();
    bool found = m_view->findFirst(m_what->text(), false, m_matchCase->isChecked(),
                                   m_wholeWord->isChecked(), false, true, 0, 0);
    while (found) {
        m_view->replace(m_with->text());
        ++count;
        found = m_view->findNext();
    }
    m_view->endUndoAction();
    return count;
}

}  // namespace quorrel
