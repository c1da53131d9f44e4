// Find and Replace for the source pane: match case, whole word, direction,
// replace and replace all.
#pragma once

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace quorrel {

class CDView;

class FindDialog : public QDialog {
    Q_OBJECT
public:
    explicit FindDialog(CDView* view);

    void showFind(const QString& initial);
    void showReplace(const QString& initial);
    QString findText() const;
    // Finds the next match from the caret; false (and a message) when there is none.
    bool findNext();
    void replaceOne();
    int replaceAll();

private:
    void show(bool replace, const QString& initial);

    CDView* m_view;
    QLineEdit* m_what;
    QLineEdit* m_with;
    QCheckBox* m_matchCase;
    QCheckBox* m_wholeWord;
    QRadioButton* m_up;
    QRadioButton* m_down;
    QPushButton* m_replace;
    QPushButton* m_replaceAll;
    QWidget* m_replaceRow;
};

}  // namespace quorrel
