// The OK and Cancel buttons of the data source dialogs: OK the default, both
// named as the dialogs' tests and scripts find them.
#pragma once

class QDialog;
class QPushButton;

namespace quorrel {

struct OkCancel {
    QPushButton* ok;
    QPushButton* cancel;
};

// Made as the dialog's children, OK accepting it and Cancel rejecting it.
OkCancel MakeOkCancel(QDialog* dialog);

}  // namespace quorrel
