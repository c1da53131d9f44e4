// The fourteen modal dialogs of the tree commands. They differ only in their
// texts and in which of the three inputs they carry, so one class lays them
// out from a table; each has its own named subclass.
#pragma once

#include <QDialog>

#include "edit/core/TreeCommands.h"

class QCheckBox;
class QLineEdit;

namespace quorrel {

struct TreeCommandDialogText {
    TreeCommand command;
    int resource;  // the dialog's number
    const char* title;
    const char* description;
    const char* namePrompt;  // field 1007, or null
    int nameLimit;
    const char* valuePrompt;  // field 1011, or null
    int valueLimit;
    const char* checkLabel;  // check box 1009, or null
};

const TreeCommandDialogText& DialogTextOf(TreeCommand command);

class CTreeCommandDlg : public QDialog {
    Q_OBJECT
public:
    CTreeCommandDlg(const TreeCommandDialogText& text, QWidget* parent);

    // The inputs as the dialog holds them (not cancelled).
    CommandInputs Inputs() const;
    QLineEdit* NameField() const { return m_name; }
    QLineEdit* ValueField() const { return m_value; }
    QCheckBox* AllOccurrences() const { return m_all; }

private:
    QLineEdit* m_name = nullptr;
    QLineEdit* m_value = nullptr;
    QCheckBox* m_all = nullptr;
};

// The dialog for a command, created for one run.
std::unique_ptr<CTreeCommandDlg> CreateTreeCommandDialog(TreeCommand command, QWidget* parent);

}  // namespace quorrel
